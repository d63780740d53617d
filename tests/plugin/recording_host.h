#pragma once
// A host callback that records every report it receives.
#include <mutex>
#include <string>
#include <vector>

#include "plugin/interface_template.h"

namespace hxtest {

struct Report {
  int code;
  int value;
  std::string text;
  bool operator==(const Report&) const = default;
};

class RecordingHost final : public CHostCallback {
 public:
  int Reserved0() override { return 0; }
  int Notify(int code, int value, const char* text) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_reports.push_back({code, value, text});
    return 1;
  }
  int NotifyAlt(int code, int value, const char* text) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_alt.push_back({code, value, text});
    return 1;
  }
  std::vector<Report> reports() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_reports;
  }
  std::vector<Report> altReports() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_alt;
  }

 private:
  mutable std::mutex m_mutex;
  std::vector<Report> m_reports;
  std::vector<Report> m_alt;
};

}  // namespace hxtest
