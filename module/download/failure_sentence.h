#pragma once
// The one place a session's failure is put into words: the line that ends a
// failed download (and a failed BootROM connection) says what the step
// decided and what the link saw, not only the code's sentence.
#include <string>
#include <string_view>

#include "link/link_cause.h"

namespace hx {

// What is known when a session's step has failed.
struct FailureFacts {
  int code = 0;
  std::string step;  // the last status the session reported; empty before any
  std::string why;   // the failing step's own words (a refusal's reason, the block whose write failed)
  LinkCause link;    // what the link saw last
};

// "<what> in "<step>" (<code>: <its sentence>): <why>; <the link's cause>",
// each part only where it is known.
std::string failureSentence(std::string_view what, const FailureFacts& facts);

// What the link saw, in words; empty when it saw nothing wrong.
std::string linkCauseSentence(const LinkCause& cause);

}  // namespace hx
