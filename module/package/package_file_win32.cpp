// The package file on Windows: the path's bytes are the system code page's, as
// the host passes them; the file is read with positioned stream reads.
#include <fstream>

#include "package/package_source.h"

namespace hx {

namespace {

class FilePackageSource final : public PackageSource {
 public:
  FilePackageSource(std::ifstream file, uint64_t size) : m_file(std::move(file)), m_size(size) {}

  uint64_t size() const override { return m_size; }

  bool readAt(uint64_t offset, uint8_t* destination, size_t n) override {
    if (!contains(offset, n)) return false;
    m_file.clear();
    m_file.seekg(static_cast<std::streamoff>(offset));
    m_file.read(reinterpret_cast<char*>(destination), static_cast<std::streamsize>(n));
    return static_cast<size_t>(m_file.gcount()) == n;
  }

 private:
  std::ifstream m_file;
  uint64_t m_size;
};

}  // namespace

std::unique_ptr<PackageSource> openPackageFile(const std::string& path, std::string& problem) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    problem = "cannot open the file";
    return nullptr;
  }
  file.seekg(0, std::ios::end);
  const auto end = file.tellg();
  if (end < 0) {
    problem = "cannot determine the file's size";
    return nullptr;
  }
  return std::make_unique<FilePackageSource>(std::move(file), static_cast<uint64_t>(end));
}

}  // namespace hx
