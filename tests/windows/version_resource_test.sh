#!/usr/bin/env bash
# The version resource of each binary names the version and the commit the
# build was stamped with (its hx_build_version.h): what Windows shows under
# the file's Properties, Details.
#   version_resource_test.sh WINDRES HEADER BINARY...
set -euo pipefail
windres=$1 header=$2
shift 2
define() { sed -n "s/^#define $1 \"\\{0,1\\}\\([^\"]*\\)\"\\{0,1\\}\$/\\1/p" "$header"; }
version=$(define HX_BUILD_VERSION)
both=$(define HX_BUILD_VERSION_AND_COMMIT)
numbers="$(define HX_BUILD_VERSION_MAJOR), $(define HX_BUILD_VERSION_MINOR), $(define HX_BUILD_VERSION_PATCH), 0"
[[ -n $version && -n $both ]] || { echo "FAIL: $header defines no version" >&2; exit 1; }
for binary in "$@"; do
  rc=$("$windres" --input "$binary" --output-format rc)
  name=$(basename "$binary")
  for line in "FILEVERSION $numbers" "PRODUCTVERSION $numbers" "VALUE \"FileVersion\", \"$version\"" \
    "VALUE \"ProductVersion\", \"$both\"" "VALUE \"OriginalFilename\", \"$name\""; do
    grep -qF "$line" <<<"$rc" || { echo "FAIL: $name: no '$line' in its version resource:" >&2; echo "$rc" >&2; exit 1; }
  done
  echo "$name: $both"
done
