#pragma once
// One sentence for every result code a session's steps can end with: the
// BootROM connection and the download. Log lines and the tools print the
// code with its sentence, never a bare number.
namespace hx {

// The sentence for `code` (0 is success); an unknown code gets a sentence
// that says so.
const char* resultText(int code);

}  // namespace hx
