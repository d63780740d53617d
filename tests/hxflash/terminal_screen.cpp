#include "terminal_screen.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <sstream>
#include <stdexcept>

namespace hxtest {
namespace {

constexpr char kEscape = '\x1b';

// The numbers of "n;m": absent ones as `fallback`.
std::vector<int> numbers(const std::string& parameters, size_t count, int fallback) {
  std::vector<int> values;
  std::stringstream in(parameters);
  std::string part;
  while (std::getline(in, part, ';')) values.push_back(part.empty() ? fallback : std::atoi(part.c_str()));
  while (values.size() < count) values.push_back(fallback);
  return values;
}

}  // namespace

TerminalScreen::TerminalScreen(int columns, int rows)
    : m_columns(columns), m_rows(rows), m_screen(static_cast<size_t>(rows), std::string(static_cast<size_t>(columns), ' ')) {
  m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) throw std::runtime_error("posix_openpt");
  char name[128];
  if (ptsname_r(m_master, name, sizeof name) != 0) throw std::runtime_error("ptsname_r");
  m_slavePath = name;
  winsize size{};
  size.ws_col = static_cast<unsigned short>(columns);
  size.ws_row = static_cast<unsigned short>(rows);
  ::ioctl(m_master, TIOCSWINSZ, &size);
  m_reader = std::thread([this] { read(); });
}

TerminalScreen::~TerminalScreen() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stop = true;
  }
  m_reader.join();
  ::close(m_master);
}

void TerminalScreen::read() {
  char buffer[4096];
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_stop) return;
    }
    pollfd p{m_master, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    const ssize_t got = ::read(m_master, buffer, sizeof buffer);
    if (got > 0) {
      feed(std::string(buffer, static_cast<size_t>(got)));
    } else if (got < 0 && errno != EINTR && errno != EAGAIN) {
      // EIO: no program has the slave open now; one may open it later.
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
}

std::vector<std::string> TerminalScreen::rows() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<std::string> out;
  for (const std::string& row : m_screen) out.push_back(row.substr(0, row.find_last_not_of(' ') + 1));
  while (!out.empty() && out.back().empty()) out.pop_back();
  return out;
}

std::string TerminalScreen::written() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_written;
}

bool TerminalScreen::waitFor(const std::string& text, std::chrono::milliseconds limit) const {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    for (const std::string& row : rows()) {
      if (row.find(text) != std::string::npos) return true;
    }
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void TerminalScreen::feed(const std::string& bytes) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_written += bytes;
  for (char c : bytes) {
    if (!m_pending.empty()) {
      m_pending += c;
      if (m_pending.size() == 2 && c != '[') {
        m_pending.clear();  // a two-character sequence: not one the view uses
      } else if (m_pending.size() > 2 && c >= 0x40 && c <= 0x7E) {
        const std::string parameters = m_pending.substr(2, m_pending.size() - 3);
        m_pending.clear();
        control(c, parameters);
      }
      continue;
    }
    if (c == kEscape) {
      m_pending = c;
    } else if (c == '\r') {
      m_column = 0;
    } else if (c == '\n') {
      lineFeed();
    } else if (c == '\b') {
      m_column = std::max(0, m_column - 1);
    } else if (static_cast<unsigned char>(c) >= 0x20) {
      put(c);
    }
  }
}

// Text wraps to the next row once a row is full.
void TerminalScreen::put(char c) {
  if (m_column >= m_columns) {
    m_column = 0;
    lineFeed();
  }
  m_screen[static_cast<size_t>(m_row)][static_cast<size_t>(m_column)] = c;
  ++m_column;
}

void TerminalScreen::lineFeed() {
  if (m_row + 1 < m_rows) {
    ++m_row;
    return;
  }
  m_screen.erase(m_screen.begin());
  m_screen.push_back(std::string(static_cast<size_t>(m_columns), ' '));
}

void TerminalScreen::control(char final, const std::string& parameters) {
  if (!parameters.empty() && parameters[0] == '?') return;  // private modes
  const std::vector<int> n = numbers(parameters, 2, -1);
  const int count = n[0] > 0 ? n[0] : 1;
  std::string& row = m_screen[static_cast<size_t>(m_row)];
  const size_t column = static_cast<size_t>(std::min(m_column, m_columns));
  switch (final) {
    case 'A': m_row = std::max(0, m_row - count); break;
    case 'B': m_row = std::min(m_rows - 1, m_row + count); break;
    case 'C': m_column = std::min(m_columns - 1, m_column + count); break;
    case 'D': m_column = std::max(0, m_column - count); break;
    case 'H':
    case 'f':
      m_row = std::clamp((n[0] > 0 ? n[0] : 1) - 1, 0, m_rows - 1);
      m_column = std::clamp((n[1] > 0 ? n[1] : 1) - 1, 0, m_columns - 1);
      break;
    case 'K':
      if (n[0] <= 0) row.replace(column, row.size() - column, row.size() - column, ' ');
      else if (n[0] == 1) row.replace(0, std::min(column + 1, row.size()), std::min(column + 1, row.size()), ' ');
      else row.assign(static_cast<size_t>(m_columns), ' ');
      break;
    case 'J':
      if (n[0] == 2 || n[0] == 3) {
        for (std::string& r : m_screen) r.assign(static_cast<size_t>(m_columns), ' ');
      } else if (n[0] <= 0) {
        row.replace(column, row.size() - column, row.size() - column, ' ');
        for (size_t r = static_cast<size_t>(m_row) + 1; r < m_screen.size(); ++r)
          m_screen[r].assign(static_cast<size_t>(m_columns), ' ');
      }
      break;
    default: break;  // colours and the like change nothing a test reads
  }
}

}  // namespace hxtest
