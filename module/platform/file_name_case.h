#pragma once
// How the system's file names treat case. Windows ignores it: a path is kept
// in lower case, lowered by the C runtime's multibyte-aware lower-casing in
// the process's multibyte code page, so that the second byte of a double-byte
// character is never taken for a letter. POSIX file names are case-sensitive:
// lower-casing would name another file, so a path is kept as given.
#include <string>

namespace hx {

std::string caseFoldedPath(const std::string& path);

}  // namespace hx
