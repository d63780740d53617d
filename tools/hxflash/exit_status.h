#pragma once
// What hxflash's exit status tells the caller.
namespace hxflash {

enum ExitStatus : int {
  kExitOk = 0,             // every phone flashed (other commands: done)
  kExitPhoneFailed = 1,    // a phone failed, or was not flashed
  kExitRefused = 2,        // refused before waiting, or bad arguments
  kExitInterrupted = 130,  // stopped by Ctrl-C
};

// The text --help shows.
inline constexpr const char* kExitStatusHelp =
    "Exit status: 0 every phone flashed, 1 a phone failed, 2 refused before waiting or bad arguments, "
    "130 interrupted (Ctrl-C).";

}  // namespace hxflash
