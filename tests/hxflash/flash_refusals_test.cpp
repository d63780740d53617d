// What `hxflash flash` refuses before any session starts, and its arguments:
// one sentence, exit status 2, and not a byte sent to the phone that waits
// on another port.
#include <gmock/gmock.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#include "pkgbuild/package_mutations.h"
#include "pty_pair.h"
#include "station.h"

namespace {

using hxtest::Station;
using testing::HasSubstr;
using testing::Not;

constexpr uint32_t kUnusedUid = 65534;

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

struct RefusalCase {
  const char* name;
  // Prepares the station (COM41 holds a phone) and gives the arguments after
  // "flash".
  std::function<std::vector<std::string>(Station&)> setUp;
  const char* why;  // what the sentence must say
};

const RefusalCase kRefusals[] = {
    {"EmptyPackage",
     [](Station& s) {
       writeBytes(s.dir() + "/empty.bin", {});
       return std::vector<std::string>{s.dir() + "/empty.bin", "-p", "41"};
     },
     "the module would refuse the package"},
    {"TruncatedPackage",
     [](Station& s) {
       pkgbuild::BuiltPackage cut = s.package();
       pkgbuild::truncatePackage(cut, cut.bytes.size() - 100);
       writeBytes(s.dir() + "/cut.bin", cut.bytes);
       return std::vector<std::string>{s.dir() + "/cut.bin", "-p", "41"};
     },
     "past the end of the file"},
    {"RandomBytes",
     [](Station& s) {
       std::mt19937 random(7);
       std::vector<uint8_t> bytes(256 * 1024);
       std::generate(bytes.begin(), bytes.end(), [&] { return static_cast<uint8_t>(random()); });
       writeBytes(s.dir() + "/random.bin", bytes);
       return std::vector<std::string>{s.dir() + "/random.bin", "-p", "41"};
     },
     "the module would refuse the package"},
    {"PackageWithoutRomInformation",
     [](Station& s) {
       pkgbuild::PackageRecipe recipe = pkgbuild::tinyRecipe(2048);
       recipe.romInfo.present = false;
       pkgbuild::writePackage(s.dir() + "/norominfo.bin", recipe);
       return std::vector<std::string>{s.dir() + "/norominfo.bin", "-p", "41"};
     },
     "ROM information"},
    {"PortsDirectoryWritableByOthers",
     [](Station& s) {
       ::chmod(s.ports().path().c_str(), 0777);
       return std::vector<std::string>{s.packagePath(), "-p", "41"};
     },
     "writable by others"},
    {"PortsDirectoryOfAnotherUser",
     [](Station& s) {
       if (::geteuid() == 0) {
         if (::chown(s.ports().path().c_str(), kUnusedUid, kUnusedUid) != 0) ADD_FAILURE() << "chown";
       } else {
         ::setenv("HXFLASH_PORTS_DIR", "/", 1);  // root's
       }
       return std::vector<std::string>{s.packagePath(), "-p", "41"};
     },
     "not owned by this user"},
    {"EntryNamingARegularFile",
     [](Station& s) {
       s.ports().plug(42, s.packagePath());
       return std::vector<std::string>{s.packagePath(), "-p", "41", "-p", "42"};
     },
     "is a regular file, not a serial port's character device"},
    {"DeviceThatIsADirectory",
     [](Station& s) { return std::vector<std::string>{s.packagePath(), "-p", "41", "-p", "42=" + s.dir()}; },
     "is a directory, not a serial port's character device"},
    {"CharacterDeviceThatIsNoTerminal",
     [](Station& s) { return std::vector<std::string>{s.packagePath(), "-p", "41", "-p", "42=/dev/null"}; },
     "COM42: /dev/null is a character device but no serial port"},
    {"DeviceOverAnEntryThatNamesAnother",
     [](Station& s) {
       s.ports().plug(42, "/dev/tty");
       return std::vector<std::string>{s.packagePath(), "-p", "41", "-p", "42=/dev/zero"};
     },
     "names /dev/tty, not /dev/zero"},
    {"PortGivenTwice",
     [](Station& s) { return std::vector<std::string>{s.packagePath(), "-p", "41", "-p", "42", "-p", "41"}; },
     "COM41 is given more than once"},
    {"PortGivenTwiceOnceWithADevice",
     [](Station& s) { return std::vector<std::string>{s.packagePath(), "-p", "43=/dev/null", "-p", "41", "-p", "43"}; },
     "COM43 is given more than once"},
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class FlashRefusal : public testing::TestWithParam<RefusalCase> {};

TEST_P(FlashRefusal, IsOneSentenceAndExit2WithNothingSentToAnyPhone) {
  Station station;
  auto phone = station.phone(41);
  ASSERT_TRUE(phone->waitPlugged());
  std::vector<std::string> args = {"flash"};
  const std::vector<std::string> rest = GetParam().setUp(station);
  args.insert(args.end(), rest.begin(), rest.end());
  auto run = station.hxflash(args);
  EXPECT_EQ(run->finish(), 2);
  const std::string err = run->err();
  EXPECT_THAT(err, HasSubstr(GetParam().why));
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_EQ(run->out(), "") << "no session started: nothing waits, nothing is reported";

  phone->unplug();
  const auto record = phone->record();
  EXPECT_EQ(record["outcome"], "stopped") << record.dump();
  EXPECT_EQ(record["bootrom"]["handshakes"], 0) << record.dump();
}

INSTANTIATE_TEST_SUITE_P(BeforeWaiting, FlashRefusal, testing::ValuesIn(kRefusals),
                         [](const auto& param) { return std::string(param.param.name); });

// Root may open any device: the run is made as an ordinary user then.
TEST(FlashRefusalOfADevice, ThisUserMayNotOpenIsRefusedSayingWhatToDo) {
  Station station;
  hxtest::PtyPair device;
  std::vector<std::string> argv;
  std::string advice = "udev rule";
  if (::geteuid() == 0) {
    if (::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "needs setpriv to run as an ordinary user";
    ASSERT_EQ(::chown(station.ports().path().c_str(), kUnusedUid, kUnusedUid), 0);
    // A device of a group the user is not in, which that group may open.
    if (const group* dialout = ::getgrnam("dialout")) {
      ASSERT_EQ(::chown(device.slavePath().c_str(), 0, dialout->gr_gid), 0);
      ASSERT_EQ(::chmod(device.slavePath().c_str(), 0660), 0);
      const passwd* user = ::getpwuid(kUnusedUid);
      advice = std::string("add ") + (user ? user->pw_name : std::to_string(kUnusedUid)) + " to the group dialout";
    }
    argv = {"/usr/bin/setpriv", "--reuid=" + std::to_string(kUnusedUid), "--regid=" + std::to_string(kUnusedUid),
            "--clear-groups"};
  } else {
    ASSERT_EQ(::chmod(device.slavePath().c_str(), 0), 0);
  }
  station.ports().plug(41, device.slavePath());
  argv.insert(argv.end(), {HXFLASH_PATH, "flash", station.packagePath(), "-p", "41"});
  auto run = station.run(argv);
  EXPECT_EQ(run->finish(), 2);
  EXPECT_THAT(run->err(), HasSubstr("may not open " + device.slavePath()));
  EXPECT_THAT(run->err(), HasSubstr(advice));
  EXPECT_EQ(run->out(), "");
  EXPECT_TRUE(device.receive(1, 200).empty()) << "nothing was sent";
}

struct ArgumentCase {
  const char* name;
  std::vector<std::string> args;
  int status;
  const char* says;
};

// "PKG" stands for the station's package.
const ArgumentCase kArguments[] = {
    {"Version", {"--version"}, 0, "hxflash 0."},
    {"VersionNamesTheCommit", {"--version"}, 0, " (commit "},
    {"HelpNamesTheExitStatuses", {"flash", "--help"}, 0, "2 refused before waiting, or bad arguments; 130 Ctrl-C left a phone unflashed"},
    {"UnknownCommandIsNamed", {"flsh", "PKG"}, 2, "unknown command 'flsh'"},
    {"NoPhonesPerPort", {"flash", "PKG", "-p", "41", "-n", "0"}, 2, "Value 0 not in range 1 to 100000"},
    {"ComPortOutOfRange", {"flash", "PKG", "-p", "300"}, 2, "expected a COM number 40..255"},
    {"ComPortByItsWindowsName", {"flash", "PKG", "-p", "COM41", "-p", "41"}, 2, "COM41 is given more than once"},
    {"TimeScaleOutOfRange", {"flash", "PKG", "-p", "41", "--time-scale", "2"}, 2, "not in range"},
    {"MissingPackage", {"flash", "/nonexistent/package.bin", "-p", "41"}, 2, "/nonexistent/package.bin"},
    {"NoPort", {"flash", "PKG"}, 2, "hxflash flash: --port is required"},
    {"MistypedOptionIsNamed", {"flash", "PKG", "--prot", "41"}, 2, "hxflash flash: unknown option --prot"},
    {"PhonesThatAreNoNumber", {"flash", "PKG", "-p", "41", "-n", "abc"}, 2, "hxflash flash: --phones: abc is not a number"},
};

void PrintTo(const ArgumentCase& c, std::ostream* os) { *os << c.name; }

class FlashArguments : public testing::TestWithParam<ArgumentCase> {};

TEST_P(FlashArguments, AreAnsweredInAFewWordsWithTheirStatus) {
  Station station;
  std::vector<std::string> args = GetParam().args;
  std::replace(args.begin(), args.end(), std::string("PKG"), station.packagePath());
  auto run = station.hxflash(args);
  EXPECT_EQ(run->finish(), GetParam().status);
  const std::string said = run->out() + run->err();
  EXPECT_THAT(said, HasSubstr(GetParam().says));
  if (GetParam().status != 0) {
    EXPECT_LT(said.size(), 400u) << said;
    EXPECT_TRUE(run->err().ends_with("\n")) << "the refusal ends its line: " << run->err();
  }
}

INSTANTIATE_TEST_SUITE_P(CommandLine, FlashArguments, testing::ValuesIn(kArguments),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(FlashModuleOption, ABareFileNameIsTheFileInTheCurrentDirectory) {
  Station station;
  // No module, named like the system's C library, which the library search
  // path would find and load.
  writeBytes(station.dir() + "/libc.so.6", {'n', 'o', 't'});
  auto run = station.run({"/bin/sh", "-c",
                          "cd '" + station.dir() + "' && exec '" + HXFLASH_PATH +
                              "' flash Firmware.bin -p 41 --module libc.so.6"});
  EXPECT_EQ(run->finish(), 2);
  EXPECT_THAT(run->err(), HasSubstr("./libc.so.6"));
  EXPECT_THAT(run->err(), Not(HasSubstr("lacks the export")));
}

TEST(PortsCommand, SaysWhatTheModuleCannotUseAndExits1) {
  Station station;
  station.ports().plug(41, station.packagePath());
  auto listing = station.hxflash({"ports"});
  EXPECT_EQ(listing->finish(), 1);
  EXPECT_THAT(listing->out(), HasSubstr("COM41"));
  EXPECT_THAT(listing->out(), HasSubstr("unusable: COM41: " + station.packagePath() + " is a regular file"));

  ::chmod(station.ports().path().c_str(), 0777);
  auto open = station.hxflash({"ports"});
  EXPECT_EQ(open->finish(), 1);
  EXPECT_THAT(open->out(), HasSubstr("writable by others"));
}

}  // namespace
