#include <mbstring.h>

#include <vector>

#include "platform/file_name_case.h"

namespace hx {

std::string caseFoldedPath(const std::string& path) {
  std::vector<unsigned char> text(path.begin(), path.end());
  text.push_back(0);
  _mbslwr(text.data());
  return std::string(reinterpret_cast<const char*>(text.data()));
}

}  // namespace hx
