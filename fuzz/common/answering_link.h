#pragma once
// A link whose phone answers with the fuzz input, byte after byte, and has
// gone (every read fails) once the input is used up. What the host writes is
// taken and dropped.
#include <algorithm>
#include <cstring>
#include <span>

#include "link/link.h"

namespace hxfuzz {

class AnsweringLink final : public hx::Link {
 public:
  explicit AnsweringLink(std::span<const uint8_t> answers) : m_answers(answers) {}

  int write(const uint8_t*, size_t) override { return hx::kLinkOk; }

  int read(uint8_t* dest, size_t n, size_t* got) override {
    *got = std::min(n, m_answers.size());
    if (*got > 0) std::memcpy(dest, m_answers.data(), *got);
    m_answers = m_answers.subspan(*got);
    return *got == n ? hx::kLinkOk : hx::kLinkFailed;
  }

  int setTimeouts(uint32_t, uint32_t) override { return hx::kLinkOk; }

 private:
  std::span<const uint8_t> m_answers;
};

}  // namespace hxfuzz
