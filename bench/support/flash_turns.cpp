#include "flash_turns.h"

#include <filesystem>
#include <stdexcept>

namespace hxbench {

TurnsFlash flashNotingTurns(const BenchPackage& package, const PhoneFlashSetup& setup, int flashNumber,
                            uint32_t comPort, const std::vector<std::string>& phoneArguments) {
  const std::string turnsPath = setup.workDir + "/flash-" + std::to_string(flashNumber) + ".turns";
  std::vector<std::string> arguments = {"--turns", turnsPath};
  arguments.insert(arguments.end(), phoneArguments.begin(), phoneArguments.end());
  std::vector<std::unique_ptr<FlashedPhone>> phones;
  phones.push_back(phoneOn(comPort, arguments));
  if (!flashPhones(package, setup, flashNumber, phones)) {
    const FlashedPhone& flash = *phones[0];
    throw std::runtime_error("flash " + std::to_string(flashNumber) + " failed (download " +
                             (flash.succeeded ? "succeeded" : "failed") + ", phone exit " +
                             std::to_string(flash.phoneStatus) + ", NAND not verified); files in " + setup.workDir);
  }
  hxphone::LinkTurnsRead read = hxphone::readLinkTurns(turnsPath);
  if (!read.error.empty()) throw std::runtime_error(read.error);
  std::error_code ec;
  if (!setup.keepFiles) std::filesystem::remove(turnsPath, ec);
  return {std::move(phones[0]), std::move(read.turns)};
}

SpanTurns turnsBetween(const std::vector<hxphone::LinkTurn>& turns, int64_t fromNs, int64_t toNs) {
  SpanTurns span;
  for (const hxphone::LinkTurn& turn : turns) {
    if (turn.startNs < fromNs || turn.startNs > toNs) continue;
    span.turns.push_back(turn);
    span.hostBytes += turn.hostBytes;
    span.phoneBytes += turn.phoneBytes;
    if (turn.phoneBytes > 0) ++span.answered;
  }
  return span;
}

int64_t steadyNs(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

}  // namespace hxbench
