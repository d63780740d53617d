#pragma once
// The words the program was started with, as the commands take them.
//
// On Windows the C runtime hands a program its words in the system's ANSI
// code page, where a letter beyond it (Hangul on a Western system, say) is
// lost, and the module opens the package path as Korean code-page text. So
// the words are taken from the wide command line: a word that names an
// existing file or folder by a path beyond plain ASCII is replaced by its
// short (8.3) path, which every narrow call opens, the module's included; a
// volume that keeps no short names makes such a path a refusal. Messages
// name a path as the user typed it (UTF-8 on the console).
//
// On POSIX the words are taken as they are.
#include <string>
#include <vector>

#include "system/refusal.h"

namespace hxflash {

struct ProgramWords {
  std::vector<std::string> words;  // argv[0] first
  Refusal refusal;                 // a path no narrow call can open, said as typed
};

ProgramWords programWords(int argc, char** argv);

// `text` with every word that stands for another (a short path) put back as
// the user typed it.
std::string asTyped(std::string text);

}  // namespace hxflash
