// The package path on Windows, run under Wine: PreviousLoad stores the path in
// lower case without touching the second byte of a double-byte character, and
// the package file is opened by its bytes in the Korean code page, as a wide
// file name of at most 259 characters, sharing everything with other openers.
#include <windows.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <string>

#include "check.h"
#include "package/package_records.h"
#include "package/package_source.h"
#include "pkgbuild/package_builder.h"
#include "plugin/interface_template.h"
#include "plugin/module_state.h"

// _setmbcp. Last: its macros _M1 and _M2 are names the C++ library uses.
#include <mbctype.h>

namespace {

using hxwin::g_failures;

constexpr UINT kKorean = 949;

std::string toCodePage(const std::wstring& wide, UINT codePage) {
  const int n = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                    nullptr);
  std::string bytes(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()), bytes.data(), n, nullptr, nullptr);
  return bytes;
}

std::wstring asciiLowered(std::wstring text) {
  for (wchar_t& c : text) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return text;
}

std::string storedPath(const char* path) {
  CHECK(PreviousLoad(path) == 1);
  return hx::packagePath();
}

bool writeFile(const std::wstring& path, const std::vector<uint8_t>& bytes) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                  written == bytes.size();
  CloseHandle(file);
  return ok;
}

// "갂" is 0x81 0x41 in code page 949: its second byte is the letter 'A'.
// Lower-cased byte by byte it would become 0x81 0x61, "갵", another file.
const std::wstring kTrailLetterSyllable = L"\uAC02";

void lowerCasesThePath() {
  _setmbcp(1252);
  CHECK(storedPath("C:\\Firmware\\Phone.BIN") == "c:\\firmware\\phone.bin");
  CHECK(storedPath("") == "");

  _setmbcp(kKorean);
  const std::wstring mixed = L"C:\\\uD38C\uC6E8\uC5B4\\Phone" + kTrailLetterSyllable + L".BIN";
  CHECK(storedPath(toCodePage(mixed, kKorean).c_str()) == toCodePage(asciiLowered(mixed), kKorean));
}

void opensByTheKoreanPath(const std::wstring& folder) {
  const std::wstring korean = folder + L"\\\uD38C\uC6E8\uC5B4";
  CHECK(CreateDirectoryW(korean.c_str(), nullptr));
  const std::wstring file = korean + L"\\Phone" + kTrailLetterSyllable + L".BIN";
  const pkgbuild::BuiltPackage package = pkgbuild::build(pkgbuild::tinyRecipe(512));
  CHECK(writeFile(file, package.bytes));

  // As a host passes it: code page 949 bytes in mixed case, lower-cased by
  // PreviousLoad and opened by the module's package load.
  _setmbcp(kKorean);
  const std::string path = storedPath(toCodePage(file, kKorean).c_str());
  hx::PackageRecords records;
  CHECK(hx::loadPackage(path, records));
  CHECK(records.loaded);
  const std::vector<uint8_t> bootloader = package.bootloader();
  CHECK(records.bootloader.length == bootloader.size() &&
        std::memcmp(records.bootloader.data, bootloader.data(), bootloader.size()) == 0);

  // Opening set the C runtime's locale to Korean, and left it so.
  const char* locale = std::setlocale(LC_ALL, nullptr);
  CHECK(locale && std::strstr(locale, "949"));

  // Another program holds the file open for writing: the module still opens
  // it, and while the module holds it, others may still write and delete.
  const HANDLE writer = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  CHECK(writer != INVALID_HANDLE_VALUE);
  std::string problem;
  auto source = hx::openPackageFile(path, problem);
  CHECK(source && source->size() == package.bytes.size());
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  const HANDLE other = CreateFileW(file.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  CHECK(other != INVALID_HANDLE_VALUE);
  if (other != INVALID_HANDLE_VALUE) CloseHandle(other);

  // Positioned reads inside the file; none that reaches past its end.
  uint8_t header[32] = {};
  CHECK(source && source->readAt(0, header, sizeof header) && std::memcmp(header, package.bytes.data(), 32) == 0);
  uint8_t tail[4] = {};
  CHECK(source && !source->readAt(package.bytes.size() - 2, tail, sizeof tail));
  source.reset();

  DeleteFileW(file.c_str());
  RemoveDirectoryW(korean.c_str());
}

std::string openFailure(const std::string& path) {
  std::string problem;
  auto source = hx::openPackageFile(path, problem);
  CHECK(source == nullptr);
  return problem;
}

void refusesPathsItCannotName(const std::wstring& folder) {
  // A path of 259 characters is a file name (that does not exist here); one
  // of 260 is not.
  const std::string base = toCodePage(folder, kKorean) + "\\";
  const std::string longest = base + std::string(259 - base.size(), 'a');
  CHECK(openFailure(longest).find("cannot open") != std::string::npos);
  CHECK(openFailure(longest + "a").find("259") != std::string::npos);
  // Two Korean characters are four bytes but two characters of the name.
  const std::string korean = toCodePage(std::wstring(259 - base.size(), L'\uAC02'), kKorean);
  CHECK(openFailure(base + korean).find("cannot open") != std::string::npos);

  // Bytes that are no text of code page 949: a lead byte at the end, a lead
  // byte with a second byte no character has.
  CHECK(openFailure(base + "phone\x81").find("949") != std::string::npos);
  CHECK(openFailure(base + "phone\x81\x20.bin").find("949") != std::string::npos);

  CHECK(openFailure("") != "");
  CHECK(!openFailure(toCodePage(folder, kKorean)).empty());  // a folder
}

std::wstring makeTestFolder() {
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
  std::wstring folder = std::wstring(temp, n) + L"hxflash-package-path-" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

}  // namespace

int main() {
  const std::wstring folder = makeTestFolder();
  lowerCasesThePath();
  opensByTheKoreanPath(folder);
  refusesPathsItCannotName(folder);
  RemoveDirectoryW(folder.c_str());
  if (g_failures) {
    std::fprintf(stderr, "%d checks failed\n", g_failures);
    return 1;
  }
  std::printf("package path: every check passed\n");
  return 0;
}
