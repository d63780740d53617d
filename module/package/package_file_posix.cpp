// The package file on POSIX: opened once, read with positioned reads.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "package/package_source.h"

namespace hx {

namespace {

class FilePackageSource final : public PackageSource {
 public:
  FilePackageSource(int fd, uint64_t size) : m_fd(fd), m_size(size) {}
  ~FilePackageSource() override { ::close(m_fd); }
  FilePackageSource(const FilePackageSource&) = delete;
  FilePackageSource& operator=(const FilePackageSource&) = delete;

  uint64_t size() const override { return m_size; }

  bool readAt(uint64_t offset, uint8_t* destination, size_t n) override {
    if (!contains(offset, n)) return false;
    while (n > 0) {
      const ssize_t got = ::pread(m_fd, destination, n, static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;  // error, or the file shrank under us
      destination += got;
      offset += static_cast<uint64_t>(got);
      n -= static_cast<size_t>(got);
    }
    return true;
  }

 private:
  int m_fd;
  uint64_t m_size;
};

}  // namespace

std::unique_ptr<PackageSource> openPackageFile(const std::string& path, std::string& problem) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    problem = std::string("cannot open the file: ") + std::strerror(errno);
    return nullptr;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    problem = "not a regular file";
    return nullptr;
  }
  return std::make_unique<FilePackageSource>(fd, static_cast<uint64_t>(info.st_size));
}

}  // namespace hx
