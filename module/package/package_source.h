#pragma once
// Where the package bytes come from: the package file, or bytes in memory.
// Reads are positioned and checked: a read that does not lie wholly inside
// the source fails without reading anything.
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace hx {

class PackageSource {
 public:
  virtual ~PackageSource() = default;
  virtual uint64_t size() const = 0;
  // Reads `n` bytes at `offset` into `destination`; false when they do not all
  // lie inside the source or the read fails.
  virtual bool readAt(uint64_t offset, uint8_t* destination, size_t n) = 0;

  bool contains(uint64_t offset, uint64_t n) const { return offset <= size() && n <= size() - offset; }
};

// The package file at `path` (the path's bytes as given). Nothing, with the
// reason in `problem`, when it cannot be opened.
std::unique_ptr<PackageSource> openPackageFile(const std::string& path, std::string& problem);

class MemoryPackageSource final : public PackageSource {
 public:
  explicit MemoryPackageSource(std::span<const uint8_t> bytes) : m_bytes(bytes) {}
  uint64_t size() const override { return m_bytes.size(); }
  bool readAt(uint64_t offset, uint8_t* destination, size_t n) override;

 private:
  std::span<const uint8_t> m_bytes;
};

}  // namespace hx
