#include "fuzz_inputs.h"

#include <cstdlib>
#include <string>
#include <string_view>

#include "formats/rom_info.h"
#include "package/package_source.h"
#include "pkgbuild/package_builder.h"
#include "platform/clock.h"
#include "platform/log.h"

namespace hxfuzz {
namespace {

HostInputs makeInputs() {
  static const pkgbuild::BuiltPackage built = pkgbuild::build(pkgbuild::tinyRecipe(512));
  HostInputs in;
  hx::MemoryPackageSource source(built.bytes);
  if (!hx::loadPackageFrom(source, "fuzz package", in.package)) std::abort();
  in.package.fsImageCount = hx::kFsImageAddresses;
  hx::prepareAgentImages(in.package, in.images);
  const uint16_t areas = hx::romInfoAreaCount(in.images.romInfo);
  if (areas == 0) std::abort();
  const std::optional<hx::RomInfoArea> fs = hx::romInfoArea(in.images.romInfo, areas - 1u);
  if (!fs) std::abort();
  in.fsAreaStart = fs->start;
  in.fsAreaLength = fs->length;
  return in;
}

}  // namespace

const HostInputs& hostInputs() {
  static const HostInputs inputs = makeInputs();
  return inputs;
}

void fastClock() {
  hx::setTimeScale(1e-6);
  hx::setLogSink([](unsigned, int, std::string_view) {});
}

hx::SessionReport& quietReport() {
  class Quiet final : public hx::SessionReport {
   public:
    void event(hx::EventKind, int, const char*) override {}
    void logText(std::string_view) override {}
    void noteWhy(std::string) override {}
  };
  thread_local Quiet quiet;
  return quiet;
}

}  // namespace hxfuzz
