#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// CommandLineToArgvW
#include <shellapi.h>

#include <fmt/format.h>

#include <utility>

#include "system/command_line.h"

namespace hxflash {
namespace {

// The words that stand for others, with the text the user typed for each
// (UTF-8). Filled once before any thread starts; only read afterwards.
std::vector<std::pair<std::string, std::string>>& typedWords() {
  static std::vector<std::pair<std::string, std::string>> words;
  return words;
}

std::string inCodePage(const std::wstring& wide, UINT codePage) {
  if (wide.empty()) return {};
  const int length = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(codePage, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(codePage, 0, wide.data(), length, text.data(), n, nullptr, nullptr);
  return text;
}

bool plainAscii(const std::wstring& text) {
  for (wchar_t c : text)
    if (c < 0x20 || c > 0x7e) return false;
  return true;
}

// The short (8.3) form of an existing path; empty when the system has none.
std::wstring shortPath(const std::wstring& path) {
  const DWORD room = GetShortPathNameW(path.c_str(), nullptr, 0);
  if (room == 0) return {};
  std::wstring result(room, L'\0');
  const DWORD got = GetShortPathNameW(path.c_str(), result.data(), room);
  if (got == 0 || got >= room) return {};
  result.resize(got);
  return result;
}

// One word beyond plain ASCII as the commands take it: a path of an existing
// file or folder (the whole word, or the value of "--option=PATH") in its
// short form; any other word in the ANSI code page, as the C runtime gives it.
std::string takeWord(const std::wstring& word, Refusal& refusal) {
  const size_t equals = word.find(L'=');
  const size_t start = word.starts_with(L"-") && equals != std::wstring::npos ? equals + 1 : 0;
  const std::wstring prefix = word.substr(0, start);
  const std::wstring path = word.substr(start);
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
    std::string ansi = inCodePage(word, CP_ACP);
    typedWords().emplace_back(ansi, inCodePage(word, CP_UTF8));
    return ansi;
  }
  const std::wstring shortForm = shortPath(path);
  if (shortForm.empty() || !plainAscii(shortForm)) {
    if (!refusal)
      refusal = fmt::format("{}: its path has letters beyond plain ASCII and its volume keeps no short (8.3) names, "
                            "so the module cannot open it; copy it to a folder whose path has only plain letters "
                            "and digits (such as C:\\packages) and name it there",
                            inCodePage(path, CP_UTF8));
    return inCodePage(word, CP_ACP);
  }
  const std::string shortText = inCodePage(shortForm, CP_ACP);
  typedWords().emplace_back(shortText, inCodePage(path, CP_UTF8));
  return inCodePage(prefix, CP_ACP) + shortText;
}

}  // namespace

ProgramWords programWords(int argc, char** argv) {
  // Messages name paths as typed, in UTF-8: the console shows them so.
  SetConsoleOutputCP(CP_UTF8);
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return ProgramWords{{argv, argv + argc}, std::nullopt};
  ProgramWords program;
  for (int i = 0; i < count; ++i) {
    const std::wstring word = wide[i];
    program.words.push_back(plainAscii(word) ? inCodePage(word, CP_ACP) : takeWord(word, program.refusal));
  }
  LocalFree(wide);
  return program;
}

std::string asTyped(std::string text) {
  for (const auto& [word, typed] : typedWords()) {
    if (word.empty()) continue;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + typed.size()))
      text.replace(at, word.size(), typed);
  }
  return text;
}

}  // namespace hxflash
