#include "download/failure_sentence.h"

#include <cstdio>

#include "download/result_texts.h"

namespace hx {
namespace {

std::string duration(uint32_t ms) {
  char text[32];
  if (ms < 1000)
    std::snprintf(text, sizeof text, "%u ms", static_cast<unsigned>(ms));
  else
    std::snprintf(text, sizeof text, "%.1f s", ms / 1000.0);
  return text;
}

// A value as the phone sent it: bytes, words and long words in hexadecimal,
// statuses in decimal.
std::string value(LinkCause::Subject subject, uint32_t v) {
  char text[16];
  switch (subject) {
    case LinkCause::Subject::Byte: std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(v)); break;
    case LinkCause::Subject::Word:
    case LinkCause::Subject::Checksum: std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(v)); break;
    case LinkCause::Subject::Long: std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(v)); break;
    case LinkCause::Subject::Status: std::snprintf(text, sizeof text, "status %u", static_cast<unsigned>(v)); break;
  }
  return text;
}

std::string unexpectedAnswer(const LinkCause& c) {
  if (c.subject == LinkCause::Subject::Checksum)
    return "the phone's checksum " + value(c.subject, c.received) + " differs from the host's " +
           value(c.subject, c.expected);
  std::string text = "the phone answered " + value(c.subject, c.received);
  if (c.hasExpected) text += " where " + value(c.subject, c.expected) + " was expected";
  return text;
}

}  // namespace

std::string linkCauseSentence(const LinkCause& cause) {
  switch (cause.kind) {
    case LinkCause::Kind::None: return {};
    case LinkCause::Kind::DeviceFailed: return cause.detail;
    case LinkCause::Kind::PortStalled: return "the port took no bytes for " + duration(cause.waitedMs);
    case LinkCause::Kind::Silent: return "the phone fell silent: nothing came for " + duration(cause.waitedMs);
    case LinkCause::Kind::UnexpectedAnswer: return unexpectedAnswer(cause);
    case LinkCause::Kind::SumsKeptFailing:
      return "the sums of a transfer kept failing (" + std::to_string(cause.attempts) + " times)";
  }
  return {};
}

std::string failureSentence(std::string_view what, const FailureFacts& facts) {
  std::string text(what);
  if (!facts.step.empty()) text += " in \"" + facts.step + "\"";
  text += " (" + std::to_string(facts.code) + ": " + resultText(facts.code) + ")";
  const std::string linkCause = linkCauseSentence(facts.link);
  if (!facts.why.empty() || !linkCause.empty()) text += ": ";
  text += facts.why;
  if (!facts.why.empty() && !linkCause.empty()) text += "; ";
  text += linkCause;
  return text;
}

}  // namespace hx
