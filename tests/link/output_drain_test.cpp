// The drain after a write, on a queue that empties on a clock of the test's
// own: the drain must notice an empty queue within kDrainLag of the moment it
// empties, give up at its deadline, and not look at the queue more often than
// it needs to.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "link/output_drain.h"

namespace {

using hx::OutputQueue;
using std::chrono::microseconds;

// An output queue whose length is a function of the time since the write,
// and a phone that answers at a given time (never: -1). Pauses move the clock
// on by exactly their span, or to the answer; every look is recorded.
class FakeQueue final : public OutputQueue {
 public:
  explicit FakeQueue(std::function<long(long long us)> bytesAt, long long answerAtUs = -1)
      : m_bytesAt(std::move(bytesAt)), m_answerAtUs(answerAtUs) {}

  long queuedBytes() override {
    looks.push_back(elapsedUs());
    return m_bytesAt(elapsedUs());
  }
  Clock::time_point now() override { return m_now; }
  bool pause(microseconds span) override {
    EXPECT_GT(span.count(), 0) << "a pause of nothing would spin";
    if (m_answerAtUs >= 0 && m_answerAtUs <= elapsedUs() + span.count()) {
      m_now = m_start + microseconds(std::max(m_answerAtUs, elapsedUs()));
      return true;
    }
    m_now += span;
    return false;
  }

  long long elapsedUs() const { return std::chrono::duration_cast<microseconds>(m_now - m_start).count(); }

  std::vector<long long> looks;  // when the queue was looked at, in us since the write

 private:
  std::function<long(long long)> m_bytesAt;
  long long m_answerAtUs;
  Clock::time_point m_start{};
  Clock::time_point m_now{};
};

// A queue of `bytes` that leaves `perDrop` at a time, one drop every `dropUs`.
std::function<long(long long)> drops(long bytes, long perDrop, long long dropUs) {
  return [=](long long us) { return std::max(0L, bytes - static_cast<long>(us / dropUs) * perDrop); };
}

struct DrainCase {
  std::string name;
  std::function<long(long long)> queue;
  long long emptyAtUs;  // when the queue empties; -1 never
  size_t mostLooks;     // a ceiling on the looks, far above what the drain needs
};

TEST(OutputDrain, EndsSoonAfterTheQueueEmptiesHoweverItEmpties) {
  const std::vector<DrainCase> cases = {
      // A pty: empty at the first look, which comes after the watch for an
      // answer that does not come.
      {"already empty", [](long long) { return 0L; }, 0, 1},
      {"driver cannot tell", [](long long) { return -1L; }, 0, 1},
      // A UART: a byte at a time, 4 KiB in about 4 ms.
      {"steady", drops(4096, 1, 1), 4096, 40},
      // A USB full-speed port: 4098 bytes in transfers of 1280 every 1.2 ms,
      // the last one short.
      {"usb transfers", drops(4098, 1280, 1200), 4800, 60},
      // Nothing leaves for 3 ms, then everything at once.
      {"stalled, then all at once", [](long long us) { return us < 3000 ? 4096L : 0L; }, 3000, 40},
      // Fast, then a slow tail.
      {"slow tail",
       [](long long us) { return static_cast<long>(us < 1000 ? 4096 - 4 * us : std::max(0LL, 96 - (us - 1000) / 20)); },
       2920, 80},
  };
  for (const DrainCase& c : cases) {
    FakeQueue queue(c.queue);
    const auto deadline = queue.now() + std::chrono::milliseconds(4098 + 5000);
    EXPECT_EQ(hx::drainOutput(queue, deadline), hx::DrainEnd::Drained) << c.name;
    EXPECT_GE(queue.elapsedUs(), c.emptyAtUs) << c.name;
    EXPECT_LE(queue.elapsedUs(), c.emptyAtUs + hx::kDrainLag.count()) << c.name;
    EXPECT_LE(queue.looks.size(), c.mostLooks) << c.name;
  }
}

// The phone answers only once it has every byte: its answer ends the drain
// when it comes, without looking at the queue again, even one whose driver
// still counts bytes in flight.
TEST(OutputDrain, AnswerEndsTheDrainWhenItComes) {
  struct AnswerCase {
    std::string name;
    std::function<long(long long)> queue;
    long long answerAtUs;
    size_t looks;
  };
  const std::vector<AnswerCase> cases = {
      {"answer within the first watch", [](long long) { return 0L; }, 40, 0},
      {"answer while a USB port drains", drops(4098, 1280, 1200), 4700, 60},
      {"answer before the driver counts the queue empty", [](long long) { return 64L; }, 2500, 40},
  };
  for (const AnswerCase& c : cases) {
    FakeQueue queue(c.queue, c.answerAtUs);
    const auto deadline = queue.now() + std::chrono::milliseconds(4098 + 5000);
    EXPECT_EQ(hx::drainOutput(queue, deadline), hx::DrainEnd::Drained) << c.name;
    EXPECT_EQ(queue.elapsedUs(), c.answerAtUs) << c.name;
    EXPECT_LE(queue.looks.size(), c.looks) << c.name;
  }
}

TEST(OutputDrain, QueueThatNeverEmptiesEndsAtTheDeadlineNotLater) {
  for (const long long deadlineUs : {0LL, 150LL, 5'001'000LL}) {
    FakeQueue queue([](long long) { return 100L; });  // a port that takes no bytes
    const auto deadline = queue.now() + microseconds(deadlineUs);
    EXPECT_EQ(hx::drainOutput(queue, deadline), hx::DrainEnd::TimedOut) << deadlineUs;
    EXPECT_EQ(queue.elapsedUs(), deadlineUs);
  }
}

TEST(OutputDrain, QueueThatEmptiesAtTheDeadlineHasDrained) {
  FakeQueue queue(drops(4096, 4096, 2000));
  EXPECT_EQ(hx::drainOutput(queue, queue.now() + microseconds(2000)), hx::DrainEnd::Drained);
  EXPECT_EQ(queue.elapsedUs(), 2000);
}

}  // namespace

namespace {

// After a write the phone takes in silence, the drain looks at the queue first:
// an empty one ends it at once, without a watch that could only wait in vain.
TEST(OutputDrain, AfterASilentlyTakenWriteTheQueueIsLookedAtFirst) {
  FakeQueue queue([](long long) { return 0L; });
  const auto deadline = queue.now() + std::chrono::milliseconds(5001);
  EXPECT_EQ(hx::drainOutput(queue, deadline, hx::DrainStart::LookAtQueue), hx::DrainEnd::Drained);
  EXPECT_EQ(queue.elapsedUs(), 0);
  EXPECT_EQ(queue.looks.size(), 1u);
}

// What the link remembers of each size of write: the last word on each size
// counts, sizes not seen are taken as answered, and with eight sizes kept a
// new size pushes out the one that came first.
TEST(AnswerMemory, RemembersTheLastAnswerOfEachSize) {
  hx::AnswerMemory memory;
  EXPECT_TRUE(memory.expectsAnswer(1));
  memory.note(1, false);  // an acknowledgement taken in silence
  memory.note(2118, true);  // a packet answered
  EXPECT_FALSE(memory.expectsAnswer(1));
  EXPECT_TRUE(memory.expectsAnswer(2118));
  memory.note(1, true);  // a byte echoed back
  EXPECT_TRUE(memory.expectsAnswer(1));
  memory.note(4, false);
  for (size_t size = 100; size < 107; ++size) memory.note(size, true);
  EXPECT_FALSE(memory.expectsAnswer(4)) << "seven newer sizes still leave room for it";
  memory.note(200, true);
  EXPECT_TRUE(memory.expectsAnswer(4)) << "forgotten at the eighth newer size";
}

}  // namespace
