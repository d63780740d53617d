#include "syscall_trace.h"

#include <cctype>
#include <charconv>
#include <fstream>
#include <map>
#include <stdexcept>

namespace hxbench {
namespace {

constexpr std::string_view kUnfinished = "<unfinished ...>";
constexpr std::string_view kResumedStart = "<... ";
constexpr std::string_view kResumedEnd = " resumed>";

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

// Splits "a, "x,y"..., [b, c], d" at its top-level commas: commas inside
// quoted strings (with their escapes) and brackets do not count. `close` is set
// to the position of the ')' that ends the list; npos when it is missing.
std::vector<std::string> splitArguments(std::string_view text, size_t* close) {
  std::vector<std::string> arguments;
  int depth = 0;
  bool quoted = false;
  size_t begin = 0;
  *close = std::string_view::npos;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '\\') ++i;
      else if (c == '"') quoted = false;
      continue;
    }
    if (c == '"') {
      quoted = true;
    } else if (c == '(' || c == '[' || c == '{') {
      ++depth;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    } else if (c == ')') {
      if (depth == 0) {
        *close = i;
        break;
      }
      --depth;
    } else if (c == ',' && depth == 0) {
      arguments.emplace_back(trimmed(text.substr(begin, i - begin)));
      begin = i + 1;
    }
  }
  const size_t end = *close == std::string_view::npos ? text.size() : *close;
  const std::string_view last = trimmed(text.substr(begin, end - begin));
  if (!last.empty() || !arguments.empty()) arguments.emplace_back(last);
  return arguments;
}

// "5</dev/pts/3>" gives "/dev/pts/3".
std::string pathBeside(const std::string& argument) {
  const size_t open = argument.find('<');
  if (open == std::string::npos || open == 0 || argument.back() != '>') return {};
  for (size_t i = 0; i < open; ++i)
    if (!std::isdigit(static_cast<unsigned char>(argument[i]))) return {};
  return argument.substr(open + 1, argument.size() - open - 2);
}

// " = 17", " = -1 EAGAIN (Resource temporarily unavailable)", " = 0x7f00", " = ?".
bool parseResult(std::string_view text, TracedCall& call) {
  text = trimmed(text);
  if (!text.starts_with("=")) return false;
  text = trimmed(text.substr(1));
  if (text.starts_with("?")) return true;
  int base = 10;
  if (text.starts_with("0x")) {
    text.remove_prefix(2);
    base = 16;
  }
  int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (ec != std::errc()) return false;
  call.result = value;
  const std::string_view rest = trimmed(text.substr(static_cast<size_t>(end - text.data())));
  if (value < 0 && !rest.empty() && std::isupper(static_cast<unsigned char>(rest.front())))
    call.error = std::string(rest.substr(0, rest.find(' ')));
  return true;
}

// The thread id that begins every line of `strace -f -o`; the rest of the line in `rest`.
std::optional<long> leadingTid(const std::string& line, std::string_view* rest) {
  long tid = 0;
  const auto [end, ec] = std::from_chars(line.data(), line.data() + line.size(), tid);
  if (ec != std::errc() || end == line.data()) return std::nullopt;
  *rest = trimmed(std::string_view(line).substr(static_cast<size_t>(end - line.data())));
  return tid;
}

}  // namespace

std::optional<TracedCall> parseCallLine(long tid, const std::string& text) {
  const size_t open = text.find('(');
  if (open == std::string::npos || open == 0) return std::nullopt;
  TracedCall call;
  call.tid = tid;
  call.name = text.substr(0, open);
  for (char c : call.name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return std::nullopt;
  size_t close = 0;
  const std::string_view afterOpen = std::string_view(text).substr(open + 1);
  call.arguments = splitArguments(afterOpen, &close);
  if (close == std::string_view::npos || !parseResult(afterOpen.substr(close + 1), call)) return std::nullopt;
  if (!call.arguments.empty()) call.firstPath = pathBeside(call.arguments.front());
  return call;
}

std::vector<TracedCall> traceCalls(const std::vector<std::string>& lines) {
  // A call's first half waits here for its thread's "resumed" line, keeping
  // its place among the calls.
  struct Unfinished {
    size_t index;
    std::string text;
  };
  std::map<long, Unfinished> unfinished;
  std::vector<std::optional<TracedCall>> calls;
  for (const std::string& line : lines) {
    std::string_view rest;
    const std::optional<long> tid = leadingTid(line, &rest);
    if (!tid) continue;
    if (rest.starts_with(kResumedStart)) {
      const size_t nameEnd = rest.find(kResumedEnd);
      const auto first = unfinished.find(*tid);
      if (nameEnd == std::string_view::npos || first == unfinished.end()) continue;
      const std::string joined = first->second.text + std::string(rest.substr(nameEnd + kResumedEnd.size()));
      calls[first->second.index] = parseCallLine(*tid, joined);
      unfinished.erase(first);
    } else if (rest.ends_with(kUnfinished)) {
      unfinished[*tid] = {calls.size(), std::string(rest.substr(0, rest.size() - kUnfinished.size()))};
      calls.emplace_back();
    } else {
      calls.push_back(parseCallLine(*tid, std::string(rest)));
    }
  }
  std::vector<TracedCall> result;
  result.reserve(calls.size());
  for (std::optional<TracedCall>& call : calls)
    if (call) result.push_back(std::move(*call));
  return result;
}

std::vector<TracedCall> readTrace(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read the trace " + path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(std::move(line));
  return traceCalls(lines);
}

}  // namespace hxbench
