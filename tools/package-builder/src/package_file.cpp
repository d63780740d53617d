// Writing a package with its description, and reading a description back.
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "pkgbuild/package_builder.h"

namespace pkgbuild {
namespace {

void writeFile(const std::string& path, const char* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot create " + path);
  out.write(data, static_cast<std::streamsize>(size));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace

std::string descPathFor(const std::string& packagePath) { return packagePath + ".desc.json"; }

BuiltPackage writePackage(const std::string& path, const PackageRecipe& recipe) {
  BuiltPackage pkg = build(recipe);
  writeFile(path, reinterpret_cast<const char*>(pkg.bytes.data()), pkg.bytes.size());
  const std::string desc = toJson(recipe).dump(2) + "\n";
  writeFile(descPathFor(path), desc.data(), desc.size());
  return pkg;
}

PackageRecipe readRecipe(const std::string& descPath) {
  std::ifstream in(descPath, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + descPath);
  try {
    return fromJson(nlohmann::json::parse(in));
  } catch (const nlohmann::json::exception& e) {
    throw std::runtime_error(descPath + ": " + e.what());
  }
}

}  // namespace pkgbuild
