// The protocol link over a real pseudo-terminal, with the test playing the
// phone on the master side.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include <termios.h>

#include "log_capture.h"
#include "ports_dir.h"
#include "pty_pair.h"
#include "link/link_ops.h"
#include "link/serial_link.h"

namespace {

constexpr uint32_t kCom = 41;

class SerialLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ports.plug(kCom, pty.slavePath());
    std::string why;
    link = hx::openSerialLink(kCom, 19200, &why);
    ASSERT_NE(link, nullptr) << why;
  }

  hxtest::PortsDir ports;
  hxtest::PtyPair pty;
  std::unique_ptr<hx::SerialPortLink> link;
};

TEST_F(SerialLinkTest, TypedWritesSendMostSignificantByteFirst) {
  EXPECT_EQ(hx::writeU8(*link, 0x1A5), 0);
  EXPECT_EQ(hx::writeU16(*link, 0x1234), 0);
  EXPECT_EQ(hx::writeU32(*link, 0x40001400), 0);
  const uint8_t raw[] = {0xDE, 0xAD};
  EXPECT_EQ(hx::writeBytes(*link, raw, sizeof raw), 0);
  EXPECT_EQ(pty.receive(9), (std::vector<uint8_t>{0xA5, 0x12, 0x34, 0x40, 0x00, 0x14, 0x00, 0xDE, 0xAD}));
}

TEST_F(SerialLinkTest, TypedReadsAssembleBigEndianValues) {
  pty.send({0x7F, 0xBE, 0xEF, 0x01, 0x02, 0x03, 0x04});
  uint8_t b = 0;
  uint16_t h = 0;
  uint32_t w = 0;
  ASSERT_EQ(hx::readU8(*link, &b), 0);
  ASSERT_EQ(hx::readU16(*link, &h), 0);
  ASSERT_EQ(hx::readU32(*link, &w), 0);
  EXPECT_EQ(b, 0x7F);
  EXPECT_EQ(h, 0xBEEF);
  EXPECT_EQ(w, 0x01020304u);
}

TEST_F(SerialLinkTest, ReadTimeOutsTellNothingFromPartial) {
  uint8_t b = 0x55;
  EXPECT_EQ(hx::readU8(*link, &b), 1);  // silence
  EXPECT_EQ(b, 0x55);                   // destination untouched
  pty.send({0x01});
  uint16_t h = 0x7777;
  EXPECT_EQ(hx::readU16(*link, &h), 3);  // one byte of two
  EXPECT_EQ(h, 0x7777);
  uint8_t buf[4];
  EXPECT_EQ(hx::readExact(*link, buf, 0), 1);
}

TEST_F(SerialLinkTest, ReadExactCollectsPiecesAcrossEmptyTimeOuts) {
  std::thread phone([this] {
    pty.send({1, 2, 3, 4});
    // Two of the link's 20 ms + n time-outs pass with nothing.
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    pty.send({5, 6, 7, 8, 9, 10});
  });
  uint8_t buf[10] = {};
  EXPECT_EQ(hx::readExact(*link, buf, sizeof buf), 0);
  phone.join();
  for (int i = 0; i < 10; ++i) EXPECT_EQ(buf[i], i + 1);
}

TEST_F(SerialLinkTest, PhoneThatHangsUpEndsReadsWithFailure) {
  hx::setLinkTimeouts(*link, 5000, 5000);  // a time-out would take seconds
  std::thread phone([this] {
    pty.send({0x11});
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    pty.hangUp();
  });
  uint8_t buf[4];
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(hx::readBytes(*link, buf, sizeof buf), 3);
  uint8_t b;
  EXPECT_EQ(hx::readU8(*link, &b), 3);
  EXPECT_EQ(hx::readExact(*link, buf, sizeof buf), 3);
  phone.join();
  // Generous: the three reads would take well over 15 s if a hang-up were a time-out.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST_F(SerialLinkTest, PortIsExclusiveWhileOpen) {
  std::string why;
  EXPECT_EQ(hx::openSerialLink(kCom, 19200, &why), nullptr);
  EXPECT_NE(why.find("in use"), std::string::npos) << why;
  link.reset();
  EXPECT_NE(hx::openSerialLink(kCom, 19200, &why), nullptr) << why;
}

TEST_F(SerialLinkTest, BytesThatArriveTogetherAreHandedOutInOrderAcrossReadsAndWrites) {
  // An answer byte, a block larger than any receive buffer, and a sum, sent at once.
  std::vector<uint8_t> sent{0x69};
  for (int i = 0; i < 6000; ++i) sent.push_back(static_cast<uint8_t>(i * 7 + 3));
  sent.insert(sent.end(), {0x12, 0x34});
  pty.send(sent);
  uint8_t first = 0;
  ASSERT_EQ(hx::readU8(*link, &first), 0);
  EXPECT_EQ(first, 0x69);
  ASSERT_EQ(hx::writeU8(*link, 0x5A), 0);  // a write between reads loses nothing received
  EXPECT_EQ(pty.receive(1), std::vector<uint8_t>{0x5A});
  std::vector<uint8_t> block(6000);
  ASSERT_EQ(hx::readExact(*link, block.data(), block.size()), 0);
  EXPECT_EQ(block, std::vector<uint8_t>(sent.begin() + 1, sent.end() - 2));
  uint16_t sum = 0;
  ASSERT_EQ(hx::readU16(*link, &sum), 0);
  EXPECT_EQ(sum, 0x1234);
  EXPECT_EQ(hx::readU8(*link, &first), 1);  // nothing more
}

TEST_F(SerialLinkTest, ChangeBaudRateLogsAndChangesOnlyTheSpeed) {
  hxtest::LogCapture log;
  ASSERT_EQ(link->changeBaudRate(115200), 0);
  EXPECT_EQ(log.text(), "[com] Changing baudrate of the communication port: baudrate=115200\n");
  termios tio{};  // a pty's master reports its slave's settings
  ASSERT_EQ(tcgetattr(pty.master(), &tio), 0);
  EXPECT_EQ(cfgetospeed(&tio), B115200);
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_cflag & PARENB, 0u);
  EXPECT_EQ(link->changeBaudRate(12345), 3);  // no such line speed
}

}  // namespace
