#include "platform/file_name_case.h"

namespace hx {

std::string caseFoldedPath(const std::string& path) { return path; }

}  // namespace hx
