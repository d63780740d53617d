// COM port names on POSIX: the ports directory and what it may contain.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "ports_dir.h"
#include "pty_pair.h"
#include "link/port_names.h"

namespace {

TEST(PortsDirectory, ChosenFromTheEnvironmentInOrder) {
  const char* saved = getenv("XDG_RUNTIME_DIR");
  const std::string savedXdg = saved ? saved : "";
  setenv("HXFLASH_PORTS_DIR", "/somewhere/ports", 1);
  setenv("XDG_RUNTIME_DIR", "/run/user/1000", 1);
  EXPECT_EQ(hx::portsDirectory(), "/somewhere/ports");
  unsetenv("HXFLASH_PORTS_DIR");
  EXPECT_EQ(hx::portsDirectory(), "/run/user/1000/hxflash/ports");
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(hx::portsDirectory(), "/tmp/hxflash-" + std::to_string(getuid()) + "/ports");
  if (saved) setenv("XDG_RUNTIME_DIR", savedXdg.c_str(), 1);
}

TEST(ComPortDevicePath, AcceptsOnlyTrustedEntriesNamingCharacterDevices) {
  hxtest::PortsDir ports;
  hxtest::PtyPair pty;
  const std::string plainFile = ports.path() + "/not-a-tty";
  std::ofstream(plainFile) << "x";

  ports.plug(40, pty.slavePath());
  ports.plug(41, plainFile);
  ports.plug(42, "/nonexistent/tty");

  std::string why;
  EXPECT_EQ(hx::comPortDevicePath(40, &why), ports.entry(40)) << why;
  EXPECT_EQ(hx::comPortDevicePath(41, &why), "");
  EXPECT_NE(why.find("not a character device"), std::string::npos) << why;
  EXPECT_EQ(hx::comPortDevicePath(42, &why), "");
  EXPECT_EQ(hx::comPortDevicePath(43, &why), "");  // no entry at all

  chmod(ports.path().c_str(), 0777);
  EXPECT_EQ(hx::comPortDevicePath(40, &why), "");
  EXPECT_NE(why.find("writable by others"), std::string::npos) << why;
  chmod(ports.path().c_str(), 0700);

  if (geteuid() == 0) {  // only root can hand the directory to another user
    ASSERT_EQ(chown(ports.path().c_str(), 12345, 12345), 0);
    EXPECT_EQ(hx::comPortDevicePath(40, &why), "");
    EXPECT_NE(why.find("not owned"), std::string::npos) << why;
    ASSERT_EQ(chown(ports.path().c_str(), 0, 0), 0);
  }
}

}  // namespace
