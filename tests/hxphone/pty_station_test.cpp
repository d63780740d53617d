// The phone behind a pty, as a host on POSIX sees it: the com<n> symlink in
// the ports directory, raw bytes without echo, and a hang-up when it unplugs.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "hxphone/phone_station.h"
#include "hxphone/pty_port.h"
#include "test_images.h"

namespace hxphone::test {
namespace {

namespace fs = std::filesystem;

class PtyStation : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() / ("hxphone-ports-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(m_dir);
  }
  void TearDown() override {
    if (m_station) m_station->stop();
    if (m_thread.joinable()) m_thread.join();
    fs::remove_all(m_dir);
  }
  void start(StationOptions options) {
    options.portsDir = (m_dir / "ports").string();
    options.port = 45;
    m_station = std::make_unique<PhoneStation>(options);
    m_thread = std::thread([this] { m_outcome = m_station->run(); });
  }
  // Opens com45 the way the module does, once it appears.
  int openPort() {
    fs::path link = m_dir / "ports" / "com45";
    for (int i = 0; i < 2000 && !fs::is_symlink(link); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
      termios t{};
      ::tcgetattr(fd, &t);
      ::cfmakeraw(&t);
      ::tcsetattr(fd, TCSANOW, &t);
    }
    return fd;
  }
  static std::optional<uint8_t> exchange(int fd, uint8_t b, bool* hungUp = nullptr) {
    if (::write(fd, &b, 1) != 1) return std::nullopt;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 2000) <= 0) return std::nullopt;
    uint8_t got = 0;
    ssize_t n = ::read(fd, &got, 1);
    if (n != 1) {
      if (hungUp) *hungUp = true;
      return std::nullopt;
    }
    return got;
  }
  fs::path m_dir;
  std::unique_ptr<PhoneStation> m_station;
  std::thread m_thread;
  Outcome m_outcome = Outcome::Stopped;
};

TEST_F(PtyStation, PlugsInAsComNInAPrivateDirectoryAndAnswersTheHandshake) {
  StationOptions options;
  options.phone = largePagePhone();
  start(options);
  int fd = openPort();
  ASSERT_GE(fd, 0);
  struct stat st {};
  ASSERT_EQ(::stat((m_dir / "ports").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_TRUE(fs::read_symlink(m_dir / "ports" / "com45").string().rfind("/dev/pts/", 0) == 0);
  for (uint8_t b : {0xA0, 0x0A, 0x50, 0x05}) EXPECT_EQ(exchange(fd, b), static_cast<uint8_t>(~b));
  ::close(fd);
}

TEST_F(PtyStation, UnplugIsAHangUpAndRemovesTheEntry) {
  StationOptions options;
  options.phone = largePagePhone();
  ASSERT_EQ(applyFault(options.phone.faults, "unplug-after-bytes=6"), "");
  start(options);
  int fd = openPort();
  ASSERT_GE(fd, 0);
  for (uint8_t b : {0xA0, 0x0A, 0x50, 0x05}) EXPECT_EQ(exchange(fd, b), static_cast<uint8_t>(~b));
  EXPECT_EQ(exchange(fd, 0xA1), 0xA1);
  bool hungUp = false;
  EXPECT_FALSE(exchange(fd, 0x80, &hungUp));  // the sixth byte: the phone is gone
  EXPECT_TRUE(hungUp);
  m_thread.join();
  EXPECT_EQ(m_outcome, Outcome::Unplugged);
  EXPECT_FALSE(fs::exists(fs::symlink_status(m_dir / "ports" / "com45")));
  ::close(fd);
}

TEST_F(PtyStation, PortsDirectoryFollowsTheEnvironment) {
  auto saved = [](const char* name) { const char* v = std::getenv(name); return v ? std::optional<std::string>(v) : std::nullopt; };
  auto ports = saved("HXFLASH_PORTS_DIR"), runtime = saved("XDG_RUNTIME_DIR");
  ::setenv("HXFLASH_PORTS_DIR", "/some/where", 1);
  EXPECT_EQ(portsDirectory(), "/some/where");
  ::unsetenv("HXFLASH_PORTS_DIR");
  ::setenv("XDG_RUNTIME_DIR", "/run/user/77", 1);
  EXPECT_EQ(portsDirectory(), "/run/user/77/hxflash/ports");
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(portsDirectory(), "/tmp/hxflash-" + std::to_string(::getuid()) + "/ports");
  if (ports) ::setenv("HXFLASH_PORTS_DIR", ports->c_str(), 1);
  if (runtime) ::setenv("XDG_RUNTIME_DIR", runtime->c_str(), 1);
}

}  // namespace
}  // namespace hxphone::test
