#pragma once
// A pseudo-terminal of a given size with a small terminal emulator behind its
// master side: a program writes to the slave as to a person's terminal, and
// the test reads the screen as that person would see it. Enough of VT100 for
// a view that redraws in place: printable text with line wrap, CR, LF (with
// scrolling), BS, cursor up/down/left/right and to a position, erase in line
// and in display; other control sequences (colours, modes) are left out.
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace hxtest {

class TerminalScreen {
 public:
  TerminalScreen(int columns, int rows);
  // Stops reading (the program writing to it has ended or will get EIO).
  ~TerminalScreen();
  TerminalScreen(const TerminalScreen&) = delete;
  TerminalScreen& operator=(const TerminalScreen&) = delete;

  // What a program opens as its terminal.
  const std::string& slavePath() const { return m_slavePath; }
  // The screen's rows as they stand, trailing blanks removed; the trailing
  // empty rows left out.
  std::vector<std::string> rows() const;
  // Everything the program wrote, as it came.
  std::string written() const;
  // Waits until `text` shows on the screen; false when it did not in `limit`.
  bool waitFor(const std::string& text, std::chrono::milliseconds limit) const;

  // Interprets `bytes` as the terminal would (what the reader does with the
  // master's bytes).
  void feed(const std::string& bytes);

 private:
  void read();
  void put(char c);
  void lineFeed();
  void control(char final, const std::string& parameters);

  int m_columns;
  int m_rows;
  int m_master = -1;
  std::string m_slavePath;
  mutable std::mutex m_mutex;
  std::vector<std::string> m_screen;
  int m_row = 0;
  int m_column = 0;
  std::string m_written;
  std::string m_pending;  // an escape sequence not yet complete
  bool m_stop = false;
  std::thread m_reader;
};

}  // namespace hxtest
