// The line that ends a failed download says what the link saw: each cause as
// the protocol steps meet it on a scripted link, then put into words.
#include "download/failure_sentence.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "download/nfb_writer.h"
#include "event_recorder.h"
#include "protocol/agent_commands.h"
#include "protocol/agent_wire.h"
#include "scripted_link.h"

namespace hx::test {
namespace {

const std::vector<uint8_t> kImage(5000, 0x42);  // two NFB chunks

int writeNfb(ScriptedLink& link) {
  return writeNfbImages(link, {kImage.data(), static_cast<uint32_t>(kImage.size()), 0}, {kImage.data(), 1, 0x4000},
                        quiet());
}

// A read-back of one 2048-byte chunk whose sum never matches.
int readBackWithBadSums(ScriptedLink& link) {
  link.replyBytes(cat({{0x5A}, be32(2048), be32(64), be32(2048), be32(2048)}));
  for (int i = 0; i < 11; ++i) {
    link.replyBytes(std::vector<uint8_t>(2048, 0x01));
    link.replyU16(0xBEEF);
  }
  std::vector<uint8_t> dest(2048);
  return readBack(link, 0, 0x1000, kReadBackDataOnly, dest.data(), dest.size());
}

TEST(FailureCause, EachCauseIsNotedWhereTheLinkMeetsItAndPutIntoWords) {
  FastClock fast;
  struct Case {
    const char* name;
    std::function<void(ScriptedLink&)> script;
    std::function<int(ScriptedLink&)> step;
    int code;
    std::string sentence;  // what the link saw; a prefix for the silence, whose length is measured
  } cases[] = {
      {"hang-up", [](ScriptedLink& l) {
         l.reply({0x5A, 0x5A});
         l.readError();
       }, writeNfb, kNfbWriteFailed,
       "the port went away (hang-up)"},
      {"silence", [](ScriptedLink& l) { l.reply({0x5A, 0x5A}); }, writeNfb, kNfbWriteFailed,
       "the phone fell silent: nothing came for "},
      {"wrong answer", [](ScriptedLink& l) { l.reply({0x5A, 0x5A, 0x00}); }, writeNfb, kNfbWriteFailed,
       "the phone answered 0x00 where 0x69 was expected"},
      {"wrong status", [](ScriptedLink& l) { l.replyBytes(cat({{0xA5}, be32(3042)})); },
       [](ScriptedLink& l) {
         std::vector<uint8_t> data(64 * 2048), spare(64 * 64);
         return writeBlock(l, 7, {2048, 64, 64, data.data(), spare.data()}, 0, quiet());
       },
       kBlockCommandFailed, "the phone answered status 3042 where status 3041 was expected"},
      {"sums", [](ScriptedLink&) {}, readBackWithBadSums, kReadBackFailed,
       "the sums of a transfer kept failing (11 times)"},
      {"an answer after a wrong one", [](ScriptedLink& l) { l.reply({0x00, 0x5A}); },
       [](ScriptedLink& l) {
         const bool wrong = !expectByteWaiting(l, 0x5A);
         return wrong && readAcknowledgement(l) ? 0 : 1;
       },
       0, ""},
  };
  for (const Case& c : cases) {
    ScriptedLink link;
    c.script(link);
    EXPECT_EQ(c.step(link), c.code) << c.name;
    const std::string sentence = linkCauseSentence(link.cause());
    EXPECT_EQ(sentence.substr(0, c.sentence.size()), c.sentence) << c.name << ": " << sentence;
    if (c.sentence.empty()) {
      EXPECT_EQ(sentence, "") << c.name;
    }
  }
}

TEST(FailureSentence, NamesTheStepTheCodeWithItsSentenceTheStepsWordsAndTheLinksCause) {
  const FailureFacts unplugged{
      .code = 4008, .step = "Send ROM Image", .link = LinkCause::deviceFailed("the port went away (hang-up)")};
  EXPECT_EQ(failureSentence("download failed", unplugged),
            "download failed in \"Send ROM Image\" (4008: a data transfer to the download agent failed): the port went "
            "away (hang-up)");
  const FailureFacts worn{.code = 3051, .step = "Start Write FS Image", .why = "no spare of region 0 is left"};
  EXPECT_EQ(failureSentence("download failed", worn),
            "download failed in \"Start Write FS Image\" (3051: no spare block of the needed region is left): no spare "
            "of region 0 is left");
  const FailureFacts both{.code = 4008, .why = "the write of data block 3 failed", .link = LinkCause::silent(60000)};
  EXPECT_EQ(failureSentence("download failed", both),
            "download failed (4008: a data transfer to the download agent failed): the write of data block 3 failed; "
            "the phone fell silent: nothing came for 60.0 s");
}

}  // namespace
}  // namespace hx::test
