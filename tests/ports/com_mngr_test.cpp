// The port manager as a session uses it: is the phone's port there?
#include <gtest/gtest.h>
#include <termios.h>

#include "ports_dir.h"
#include "pty_pair.h"
#include "ports/com_mngr.h"
#include "link/serial_link.h"

namespace {

TEST(ComMngr, OpenComPortTellsWhetherThePortExists) {
  hxtest::PortsDir ports;
  hxtest::PtyPair pty;
  hx::CComMngr mngr;

  EXPECT_EQ(mngr.OpenComPort(40), 0);  // absent
  EXPECT_EQ(mngr.IsOpen(), 0);
  mngr.Close();  // nothing to close

  ports.plug(40, pty.slavePath());
  EXPECT_EQ(mngr.IsPortPresent(40), 1);
  EXPECT_EQ(mngr.IsPortAbsent(40), 0);
  EXPECT_EQ(mngr.OpenComPort(40), 1);
  EXPECT_EQ(mngr.IsOpen(), 1);
  EXPECT_EQ(mngr.OpenComPort(41), 1);  // already open: nothing changes
  EXPECT_EQ(mngr.portNumber(), 40);
  EXPECT_EQ(mngr.Open(), 0);

  // Held by the manager, the port cannot be opened as a protocol link.
  std::string why;
  EXPECT_EQ(hx::openSerialLink(40, 19200, &why), nullptr);
  mngr.Close();
  EXPECT_EQ(mngr.IsOpen(), 0);
  EXPECT_NE(hx::openSerialLink(40, 19200, &why), nullptr) << why;
  EXPECT_EQ(mngr.Reserved(12345), 1);
}

TEST(ComMngr, ReadReturnsOnlyWhatIsQueuedAndNoticesAHangUp) {
  hxtest::PortsDir ports;
  hxtest::PtyPair pty;
  ports.plug(40, pty.slavePath());
  hx::CComMngr mngr;
  ASSERT_EQ(mngr.OpenComPort(40), 1);
  uint8_t buf[100];
  EXPECT_EQ(mngr.Read(buf, sizeof buf), 0);
  pty.send({1, 2, 3, 4, 5});
  int got = 0;
  for (int i = 0; i < 200 && got == 0; ++i) {
    got = mngr.Read(buf, sizeof buf);
    if (got == 0) usleep(5000);
  }
  EXPECT_EQ(got, 5);
  pty.hangUp();
  EXPECT_EQ(mngr.Read(buf, sizeof buf), 0);
  EXPECT_EQ(mngr.IsOpen(), 0);  // the device has gone: the manager closed it
}

TEST(ComMngr, SetLineStateSetsSpeedAndFrameAndSetDtrSends) {
  hxtest::PortsDir ports;
  hxtest::PtyPair pty;
  ports.plug(40, pty.slavePath());
  hx::CComMngr mngr;
  ASSERT_EQ(mngr.OpenComPort(40), 1);
  termios tio{};  // a pty's master reports its slave's settings
  ASSERT_EQ(tcgetattr(pty.master(), &tio), 0);
  EXPECT_EQ(cfgetospeed(&tio), B19200);  // what Open sets: 19200 8N1
  EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));

  // A pty keeps 8 data bits without parity whatever is asked: speed and stop
  // bits show the frame was written.
  ASSERT_NE(mngr.SetLineState(115200, 8, hx::kNoParity, hx::kTwoStopBits, 0), 0);
  ASSERT_EQ(tcgetattr(pty.master(), &tio), 0);
  EXPECT_EQ(cfgetospeed(&tio), B115200);
  EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8 | CSTOPB));
  EXPECT_NE(mngr.SetLineState(115200, 7, hx::kEvenParity, hx::kOneStopBit, 0), 0);
  EXPECT_EQ(tio.c_cc[VSTART], 0x11);
  EXPECT_EQ(tio.c_cc[VSTOP], 0x13);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), 0u);

  // Frames a tty cannot carry are refused and change nothing.
  EXPECT_EQ(mngr.SetLineState(19200, 8, hx::kNoParity, hx::kOneAndHalfStopBits, 0), 0);
  EXPECT_EQ(mngr.SetLineState(19200, 9, hx::kNoParity, hx::kOneStopBit, 0), 0);
  EXPECT_EQ(mngr.SetLineState(19200, 8, 5, hx::kOneStopBit, 0), 0);
  ASSERT_EQ(tcgetattr(pty.master(), &tio), 0);
  EXPECT_EQ(cfgetospeed(&tio), B115200);

  // A tty has no DTR handshake mode; a pty has no modem lines, which is no error.
  EXPECT_EQ(mngr.SetDtr(1), 0);
  EXPECT_EQ(mngr.SetDtr(0), 0);
  mngr.Close();
  EXPECT_EQ(mngr.SetLineState(19200, 8, hx::kNoParity, hx::kOneStopBit, 0), 0);  // closed
}

}  // namespace
