#pragma once
// What hxflash's exit status tells the caller.
namespace hxflash {

enum ExitStatus : int {
  kExitOk = 0,             // every phone flashed (other commands: done)
  kExitPhoneFailed = 1,    // a phone failed, or a second Ctrl-C cut its transfer short
  kExitRefused = 2,        // refused before waiting, or bad arguments
  kExitInterrupted = 130,  // Ctrl-C left a phone unflashed (not in station mode)
};

// The text --help shows.
inline constexpr const char* kExitStatusHelp =
    "Exit status: 0 every phone flashed (--loop: every phone that came); 1 a phone failed, or a second Ctrl-C "
    "cut its transfer short; 2 refused before waiting, or bad arguments; 130 Ctrl-C left a phone unflashed "
    "(not with --loop, which ends with Ctrl-C). A phone in its reset countdown counts as flashed.";

}  // namespace hxflash
