#pragma once
// Whether one FS image of the package is written, skipped or refused, decided
// from the image alone before anything of it is sent. The package verdict,
// the FS writer and the host's tools all take this one decision:
//
//   - an image whose info block holds an FsHeader of version 5.2.0, and that
//     is whole, is written;
//   - an image of another version is skipped whatever its other fields say;
//   - an image whose FsHeader cannot be found, or that would be written but
//     is malformed, is refused with the reason.
//
// What depends on the NAND the image goes to (the first FS block, see
// fsImageProblemForBase) is left to the caller: the verdict checks it against
// the package's ROM information, the FS writer against the phone's.
#include <optional>
#include <string>

#include "formats/fs_header.h"
#include "formats/fs_image_header.h"
#include "formats/image_buffer.h"
#include "formats/page_split.h"

namespace hx {

enum class FsImageFate {
  kWritten,  // FsHeader version 5.2.0, and whole
  kSkipped,  // an FsHeader of another version
  kRefused,  // see FsImageAdmission::reason
};

// Where a refused image fails, in the order the checks are made.
enum class FsImageFault {
  kNone,
  kNoBytes,      // the record holds no bytes
  kUnreadable,   // its header fields: shorter than the header, unusable geometry, info block past its end
  kNoFsHeader,   // no page of its info block is marked
  kMalformed,    // would be written, but its header does not fit its bytes (see parseFsImageHeader)
  kUnwritable,   // would be written, but the block writes cannot send its geometry, a block is named
                 // twice in its mapping table, or read-back cannot address its blocks or its info area
};

struct FsImageAdmission {
  FsImageFate fate = FsImageFate::kRefused;
  FsImageFault fault = FsImageFault::kNone;
  std::string reason;                   // why it is refused; empty otherwise
  std::optional<FsImageHeader> header;  // once its fields are read; its mapping table loaded when written
  std::optional<PageSplit> info;        // its info block, page data and spare bytes apart
  std::optional<FsHeader> fsHeader;     // the FsHeader found in its info block
};

FsImageAdmission admitFsImage(const ImageBuffer& record);

}  // namespace hx
