// The port manager as a session uses it: is the phone's port there?
#include <gtest/gtest.h>

#include "ports_dir.h"
#include "pty_pair.h"
#include "serial/com_mngr.h"
#include "serial/serial_link.h"

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

}  // namespace
