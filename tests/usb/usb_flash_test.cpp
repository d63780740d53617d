// Phones flashed through the module over the real USB stack: each phone is
// an hxphone process whose USB side is a configfs gadget bound to one of
// dummy_hcd's controllers (a socket), and the station's port is the kernel's
// cdc-acm tty for it. Runs inside the USB test machine (scripts/usb-vm.sh);
// anywhere else every case says why it did not run.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "station.h"
#include "usb_machine.h"

namespace {

using hxtest::PhoneProcess;
using hxtest::flashArgs;
using hxtest::Station;
using testing::HasSubstr;

class UsbFlash : public testing::Test {
 protected:
  void SetUp() override {
    if (std::string why; !hxtest::inUsbMachine(&why)) GTEST_SKIP() << why;
  }

  // A phone on `socket` (a USB device controller) as COM `comPort`; its NAND
  // is dumped to dumpPath(comPort, n) when phone n unplugs.
  std::unique_ptr<PhoneProcess> phone(uint32_t comPort, const std::string& socket,
                                      std::vector<std::string> extra = {}, int plugDelayMs = 0) {
    extra.insert(extra.begin(), {"--usb", "--udc", socket, "--dump", dumpPath(comPort, "%n")});
    return m_station.phone(comPort, extra, plugDelayMs);
  }

  std::string dumpPath(uint32_t comPort, const std::string& n) const {
    return m_station.dir() + "/nand-com" + std::to_string(comPort) + "-" + n + ".bin";
  }

  // `hxphone verify`: the phone's NAND holds the package.
  void expectFlashed(uint32_t comPort, unsigned n = 1) {
    auto verify = m_station.run({HXPHONE_PATH, "verify", "--package", m_station.packagePath(), "--dump",
                                 dumpPath(comPort, std::to_string(n))});
    EXPECT_EQ(verify->finish(), 0) << "COM" << comPort << " phone " << n << ":\n" << verify->out() << verify->err();
  }

  Station m_station;
};

TEST_F(UsbFlash, OnePhoneOnCdcAcmIsFlashedAndHoldsThePackage) {
  auto run = m_station.hxflash(flashArgs(m_station, {"-p", "41"}));
  ASSERT_TRUE(run->waitForOut("waiting for the phone to be plugged in")) << run->err();
  auto phone = this->phone(41, hxtest::usbSocket(0));
  ASSERT_TRUE(phone->waitPlugged());
  EXPECT_THAT(hxtest::entryTarget(m_station.ports().entry(41)), testing::StartsWith("/dev/ttyACM"));
  EXPECT_EQ(run->finish(), 0) << run->out() << run->err();
  EXPECT_EQ(phone->finish(), 0);
  expectFlashed(41);
}

TEST_F(UsbFlash, FourPhonesOnFourSocketsAreFlashedAtOnce) {
  const std::vector<uint32_t> ports = {41, 42, 43, 44};
  auto run = m_station.hxflash(flashArgs(m_station, {"-p", "41", "-p", "42", "-p", "43", "-p", "44"}));
  ASSERT_TRUE(run->waitForOut("waiting for the phone to be plugged in")) << run->err();
  std::vector<std::unique_ptr<PhoneProcess>> phones;
  for (unsigned i = 0; i < ports.size(); ++i) phones.push_back(phone(ports[i], hxtest::usbSocket(1 + i)));
  EXPECT_EQ(run->finish(), 0) << run->out() << run->err();
  for (unsigned i = 0; i < ports.size(); ++i) {
    EXPECT_EQ(phones[i]->finish(), 0) << "COM" << ports[i];
    expectFlashed(ports[i]);
  }
}

// A phone pulled out (its gadget unbound) while the host talks to it: the
// host's tty hangs up, the download fails at once saying the port went away,
// and the next phone plugged into the same socket is flashed by the same run.
struct Pull {
  const char* name;
  const char* fault;
};

class UsbPull : public UsbFlash, public testing::WithParamInterface<Pull> {};

TEST_P(UsbPull, TheDownloadFailsSayingThePortWentAwayAndTheNextPhoneIsFlashed) {
  const std::string socket = hxtest::usbSocket(5);
  auto run = m_station.hxflash(flashArgs(m_station, {"-p", "45", "-n", "2"}));
  ASSERT_TRUE(run->waitForOut("waiting for the phone to be plugged in")) << run->err();
  auto pulled = phone(45, socket, {"--fault", GetParam().fault});
  EXPECT_EQ(pulled->finish(), 3) << "the phone ends unplugged by its fault";
  auto next = phone(45, socket);
  EXPECT_EQ(run->finish(), 1) << run->out() << run->err();
  EXPECT_EQ(next->finish(), 0);
  expectFlashed(45);
  EXPECT_THAT(run->out(), HasSubstr("COM45      2  1 flashed, 1 FAILED")) << run->out();
  EXPECT_THAT(run->out() + hxtest::logsOf(m_station.dir()), HasSubstr("the port went away"));
}

INSTANTIATE_TEST_SUITE_P(Pulled, UsbPull,
                         testing::Values(Pull{"InsideAWriteBlockTransfer", "unplug-in=write-block:3000"},
                                         Pull{"DuringTheBootRomHandshake", "unplug-in=handshake:2"}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(UsbFlash, APhonePluggedInBeforeTheRunIsToldAndFlashedOnceReplugged) {
  const std::string socket = hxtest::usbSocket(6);
  auto present = phone(46, socket);
  ASSERT_TRUE(present->waitPlugged());
  auto run = m_station.hxflash(flashArgs(m_station, {"-p", "46"}));
  ASSERT_TRUE(run->waitForOut("a phone is plugged in already: unplug it, then plug it in again")) << run->out();
  present->unplug();
  auto replugged = phone(46, socket);
  EXPECT_EQ(run->finish(), 0) << run->out() << run->err();
  EXPECT_EQ(present->record()["bootrom"]["handshakes"], 0) << "a phone present at the start is not flashed";
  EXPECT_EQ(replugged->finish(), 0);
  expectFlashed(46);
}

// What udev makes: the stable names and the group of the tty.
class UsbFlashWithUdev : public UsbFlash {
 protected:
  void SetUp() override {
    UsbFlash::SetUp();
    if (IsSkipped()) return;
    if (std::string why; !hxtest::udevRunning(&why)) GTEST_SKIP() << why;
  }
};

// A phone that resets and comes back on the same socket while its old tty is
// still held gets another ttyACM number; the station, told the socket's
// stable name as the README tells users to, flashes it all the same. The
// phone publishes its own entry under another COM number, unused here.
TEST_F(UsbFlashWithUdev, APhoneBackOnItsSocketUnderAnotherTtyIsFoundByItsStableName) {
  const std::string byPath = hxtest::usbSocketByPath(7);
  auto run = m_station.hxflash(flashArgs(m_station, {"-p", "47=" + byPath, "-n", "2"}));
  ASSERT_TRUE(run->waitForOut("waiting for the phone to be plugged in")) << run->err();
  // The second phone comes once the first one's reset countdown (4 s at the
  // module's clock 0.05) is over: one that came during it would be told as
  // plugged in already.
  auto phones = phone(247, hxtest::usbSocket(7), {"--after-reset", "fresh", "--phones", "2", "--replug-delay-ms", "12000"});
  ASSERT_TRUE(phones->waitPlugged());
  const hxtest::HeldTty held(byPath);  // the old tty, held as a program that never closes it would
  ASSERT_TRUE(held.isOpen()) << byPath;
  EXPECT_EQ(run->finish(), 0) << run->out() << run->err();
  EXPECT_EQ(phones->finish(), 0);
  expectFlashed(247, 1);
  expectFlashed(247, 2);
  const std::vector<std::string> ttys = hxtest::pluggedTtys(phones->out());
  ASSERT_EQ(ttys.size(), 2u) << phones->out();
  EXPECT_NE(ttys[0], ttys[1]) << "the phone came back while its old tty was held: it has another number";
  EXPECT_EQ(ttys[0], held.device());
}

// udev gives the tty to the group of its rule (dialout): a station user who
// is not root, in that group, flashes through the stable name, in a ports
// directory, log folder and history of its own.
TEST_F(UsbFlashWithUdev, AStationUserInTheRulesGroupWhoIsNotRootFlashes) {
  const group* dialout = ::getgrnam("dialout");
  if (!dialout || ::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "needs the group dialout and setpriv";
  const hxtest::UserFolder home(m_station.dir() + "/user", hxtest::kOrdinaryUid);
  const std::string byPath = hxtest::usbSocketByPath(0);
  auto run = m_station.run({"/usr/bin/setpriv", "--reuid=" + std::to_string(hxtest::kOrdinaryUid),
                            "--regid=" + std::to_string(hxtest::kOrdinaryUid),
                            "--groups=" + std::to_string(dialout->gr_gid), "--", "/usr/bin/env",
                            "HXFLASH_PORTS_DIR=" + home.path() + "/ports", "XDG_STATE_HOME=" + home.path() + "/state",
                            HXFLASH_PATH, "flash",
                            m_station.packagePath(), "-p", "48=" + byPath, "--log-dir", home.path() + "/logs",
                            hxtest::kScaledTime[0], hxtest::kScaledTime[1]});
  ASSERT_TRUE(run->waitForOut("waiting for the phone to be plugged in")) << run->out() << run->err();
  auto phone = this->phone(248, hxtest::usbSocket(0));
  EXPECT_EQ(run->finish(), 0) << run->out() << run->err();
  EXPECT_EQ(phone->finish(), 0);
  expectFlashed(248);
  EXPECT_TRUE(std::filesystem::exists(home.path() + "/state/hxflash/history.sqlite3"));
}

}  // namespace
