#include "package/fs_image_admission.h"

#include <span>

#include "formats/fs_image_checks.h"

namespace hx {
namespace {

bool refuse(FsImageAdmission& a, FsImageFault fault, std::string reason) {
  a.fate = FsImageFate::kRefused;
  a.fault = fault;
  a.reason = std::move(reason);
  return false;
}

// The header fields, the info block and its FsHeader: only what finding the
// FsHeader needs is checked here.
bool locateFsHeader(std::span<const uint8_t> image, FsImageAdmission& a) {
  FsImageHeader header;
  std::string problem;
  if (!readFsImageFields(image, header, &problem)) return refuse(a, FsImageFault::kUnreadable, problem);
  a.info = splitRawBlock(fsInfoBlock(image, header), header.geometry);
  if (a.info) a.fsHeader = findFsHeader(*a.info, header.geometry);
  a.header = std::move(header);
  if (!a.fsHeader) return refuse(a, FsImageFault::kNoFsHeader, "its info block holds no FsHeader");
  return true;
}

// An image that is written must be whole: mapping words, data blocks, erase
// range and region counters inside it, a geometry the block writes can send
// and read-back can address, each data block named once, and an info area
// that read-back can address.
bool checkWhole(std::span<const uint8_t> image, FsImageAdmission& a) {
  std::string problem;
  if (!parseFsImageHeader(image, *a.header, &problem)) return refuse(a, FsImageFault::kMalformed, problem);
  if (problem = fsGeometryProblem(*a.header); !problem.empty()) return refuse(a, FsImageFault::kUnwritable, problem);
  if (problem = fsMappingTableProblem(*a.header); !problem.empty())
    return refuse(a, FsImageFault::kUnwritable, problem);
  if (problem = fsInfoAreaProblem(*a.fsHeader); !problem.empty())
    return refuse(a, FsImageFault::kUnwritable, problem);
  return true;
}

}  // namespace

FsImageAdmission admitFsImage(const ImageBuffer& record) {
  FsImageAdmission a;
  if (record.data == nullptr) {
    refuse(a, FsImageFault::kNoBytes, "no image bytes");
    return a;
  }
  const std::span<const uint8_t> image(record.data, record.length);
  if (!locateFsHeader(image, a)) return a;
  if (!isFsVersion520(*a.fsHeader)) {
    a.fate = FsImageFate::kSkipped;
    return a;
  }
  if (checkWhole(image, a)) a.fate = FsImageFate::kWritten;
  return a;
}

}  // namespace hx
