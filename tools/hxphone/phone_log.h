#pragma once
// The phone's log: one line per event, prefixed with the phone's name, to a
// sink that the owner chooses (standard error by default).
#include <functional>
#include <mutex>
#include <string>

namespace hxphone {

class PhoneLog {
 public:
  using Sink = std::function<void(const std::string& line)>;
  explicit PhoneLog(std::string name = "hxphone", Sink sink = {}, bool verbose = false);

  void info(const std::string& text);     // always written
  void detail(const std::string& text);   // written when verbose
  void error(const std::string& text);    // always written, marked as an error

 private:
  void emit(const std::string& line);
  std::string m_name;
  Sink m_sink;
  bool m_verbose;
  std::mutex m_mutex;
};

}  // namespace hxphone
