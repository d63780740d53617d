// The package file on Windows. The host passes the path as bytes of the Korean
// code page (949): before the file is opened the C runtime's locale is set to
// "Korean" (and left so), the path is converted to a wide file name in that
// code page, and the file is opened for reading with sharing that denies
// nothing to other openers, then read with positioned reads.
#include <windows.h>

#include <climits>
#include <clocale>
#include <string>

#include "package/package_source.h"

namespace hx {

namespace {

constexpr UINT kPackagePathCodePage = 949;
constexpr char kPackageLocale[] = "Korean";
// A file name of at most 259 wide characters and its terminating zero.
constexpr int kWidePathRoom = 260;

std::string windowsError(const char* what, DWORD code) {
  return std::string(what) + " (Windows error " + std::to_string(code) + ")";
}

class FilePackageSource final : public PackageSource {
 public:
  FilePackageSource(HANDLE file, uint64_t size) : m_file(file), m_size(size) {}
  ~FilePackageSource() override { CloseHandle(m_file); }
  FilePackageSource(const FilePackageSource&) = delete;
  FilePackageSource& operator=(const FilePackageSource&) = delete;

  uint64_t size() const override { return m_size; }

  // Each read names its offset (an OVERLAPPED on a synchronous handle), so no
  // file position is shared between reads.
  bool readAt(uint64_t offset, uint8_t* destination, size_t n) override {
    if (!contains(offset, n)) return false;
    while (n > 0) {
      const DWORD chunk = n > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n);
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>(offset);
      at.OffsetHigh = static_cast<DWORD>(offset >> 32);
      DWORD got = 0;
      if (!ReadFile(m_file, destination, chunk, &got, &at) || got == 0) return false;  // error, or the file shrank
      destination += got;
      offset += got;
      n -= got;
    }
    return true;
  }

 private:
  HANDLE m_file;
  uint64_t m_size;
};

// The wide file name of `path` in the package code page; empty, with the
// reason in `problem`, when the bytes are not text of that code page or need
// more room than a file name has.
std::wstring widePackagePath(const std::string& path, std::string& problem) {
  if (path.empty()) {
    problem = "no package path was given";
    return {};
  }
  if (path.size() > static_cast<size_t>(INT_MAX)) {
    problem = "the path is too long";
    return {};
  }
  const int length = static_cast<int>(path.size());
  const int needed = MultiByteToWideChar(kPackagePathCodePage, MB_ERR_INVALID_CHARS, path.data(), length, nullptr, 0);
  if (needed <= 0) {
    problem = windowsError("the path is not text of code page 949", GetLastError());
    return {};
  }
  if (needed > kWidePathRoom - 1) {
    problem = "the path is longer than " + std::to_string(kWidePathRoom - 1) + " characters";
    return {};
  }
  std::wstring wide(static_cast<size_t>(needed), L'\0');
  if (MultiByteToWideChar(kPackagePathCodePage, MB_ERR_INVALID_CHARS, path.data(), length, wide.data(), needed) !=
      needed) {
    problem = windowsError("the path is not text of code page 949", GetLastError());
    return {};
  }
  return wide;
}

}  // namespace

std::unique_ptr<PackageSource> openPackageFile(const std::string& path, std::string& problem) {
  // Not being able to set the locale does not stop the load: the conversion
  // below names its code page itself.
  std::setlocale(LC_ALL, kPackageLocale);
  const std::wstring wide = widePackagePath(path, problem);
  if (wide.empty()) return nullptr;

  const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    problem = windowsError("cannot open the file", GetLastError());
    return nullptr;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  LARGE_INTEGER size{};
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !GetFileSizeEx(file, &size) || size.QuadPart < 0) {
    CloseHandle(file);
    problem = "not a regular file";
    return nullptr;
  }
  return std::make_unique<FilePackageSource>(file, static_cast<uint64_t>(size.QuadPart));
}

}  // namespace hx
