// `hxflash inspect` run as a program on packages the builder writes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "pkgbuild/package_builder.h"
#include "pkgbuild/package_mutations.h"

namespace {

struct InspectRun {
  int exitCode = -1;
  std::string output;
};

InspectRun runInspect(const std::string& arguments) {
  InspectRun run;
  const std::string command = std::string(HXFLASH_PATH) + " inspect " + arguments;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  size_t n = 0;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
  const int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

class InspectCommand : public testing::Test {
 protected:
  std::filesystem::path path = std::filesystem::temp_directory_path() /
                               ("hx-inspect-" + std::to_string(getpid()) + ".bin");
  void write(const pkgbuild::BuiltPackage& pkg) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(pkg.bytes.data()), static_cast<std::streamsize>(pkg.bytes.size()));
  }
  void TearDown() override { std::filesystem::remove(path); }
};

TEST_F(InspectCommand, JsonDescribesWhatTheBuilderWrote) {
  const auto pkg = pkgbuild::build(pkgbuild::tinyRecipe(512));
  write(pkg);
  const InspectRun run = runInspect(path.string() + " --json");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  const auto doc = nlohmann::json::parse(run.output);
  EXPECT_TRUE(doc["loaded"].get<bool>());
  EXPECT_TRUE(doc["verdict"]["downloadable"].get<bool>());
  EXPECT_EQ(doc["geometry"]["pageSize"].get<uint32_t>(), 512u);
  EXPECT_EQ(doc["entries"].size(), pkg.layout.entries.size());
  EXPECT_EQ(doc["fsImages"].size(), pkg.layout.fsImages.size());
  EXPECT_EQ(doc["romInfo"]["version"].get<uint32_t>(), pkg.layout.romInfoVersion);
  EXPECT_EQ(doc["romInfo"]["fsAreaStart"].get<uint64_t>(), pkg.layout.fsAreaStart);
  EXPECT_EQ(doc["bootloaderInfo"]["version"].get<uint32_t>(), 3u);
}

TEST_F(InspectCommand, ExplainsAPackageThatDoesNotLoad) {
  auto pkg = pkgbuild::build(pkgbuild::tinyRecipe(2048));
  pkgbuild::truncatePackage(pkg, pkg.bytes.size() - 100);
  write(pkg);
  const InspectRun human = runInspect(path.string());
  EXPECT_EQ(human.exitCode, 1);
  EXPECT_NE(human.output.find("not downloadable"), std::string::npos) << human.output;
  EXPECT_NE(human.output.find("past the end of the file"), std::string::npos) << human.output;
  EXPECT_NE(human.output.find("Entry table"), std::string::npos) << "the table is shown even so";
  const InspectRun json = runInspect(path.string() + " --json");
  const auto doc = nlohmann::json::parse(json.output);  // one document, no log lines mixed in
  EXPECT_FALSE(doc["loaded"].get<bool>());
}

}  // namespace
