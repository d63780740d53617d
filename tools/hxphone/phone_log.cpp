#include "hxphone/phone_log.h"

#include <cstdio>

namespace hxphone {

PhoneLog::PhoneLog(std::string name, Sink sink, bool verbose)
    : m_name(std::move(name)), m_sink(std::move(sink)), m_verbose(verbose) {}

void PhoneLog::info(const std::string& text) { emit(m_name + ": " + text); }

void PhoneLog::detail(const std::string& text) {
  if (m_verbose) emit(m_name + ": " + text);
}

void PhoneLog::error(const std::string& text) { emit(m_name + ": ERROR: " + text); }

void PhoneLog::emit(const std::string& line) {
  std::lock_guard lock(m_mutex);
  if (m_sink) {
    m_sink(line);
  } else {
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
  }
}

}  // namespace hxphone
