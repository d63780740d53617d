#!/usr/bin/env bash
# An installation of the build (cmake --install, staged with DESTDIR in a
# temporary folder, as a package build stages it) holds the programs, the
# module with its agent-override folder beside it, and the udev rule: under a
# prefix of its own in <prefix>/share/hxflash, under the system's prefix in
# /etc/udev/rules.d. The installed hxflash runs its demo with the installed
# module and virtual phone, not the build tree's.
# Arguments: the cmake program, the build tree.
set -euo pipefail
cmake=$1 build=$2
stage=$(mktemp -d /tmp/hxflash-install-XXXXXX)
trap 'rm -rf "$stage"' EXIT
prefix=/opt/hxflash
fail() { echo "FAIL: $*" >&2; exit 1; }

DESTDIR=$stage "$cmake" --install "$build" --prefix "$prefix" >"$stage/install.log"
installed=$stage$prefix
rules_dir=$prefix/share/hxflash
[[ -f $stage$rules_dir/70-hxflash.rules ]] || fail "no udev rule in $stage$rules_dir"
[[ ! -e $stage/etc ]] || fail "an installation into its own prefix wrote outside it"
grep -q 'copy 70-hxflash.rules to /etc/udev/rules.d' "$stage/install.log" || fail "the install does not say where the rule goes"
grep -q 'ENV{ID_MM_DEVICE_IGNORE}="1"' "$stage$rules_dir/70-hxflash.rules" ||
  fail "the rule does not keep ModemManager away"
# Into the system's prefix the rule goes where udev reads rules.
DESTDIR=$stage/system "$cmake" --install "$build" --prefix /usr/local --component Unspecified >/dev/null
[[ -f $stage/system/etc/udev/rules.d/70-hxflash.rules ]] || fail "no udev rule in /etc/udev/rules.d for /usr/local"

# One phone with small pages. The demo's own time scale is kept: a smaller one
# shrinks the module's bounds on a phone's answers too, below what a virtual
# phone on a loaded machine (or under a sanitizer) always meets. For the same
# reason the demo runs at a higher priority where this user may raise it.
priority=()
if [[ $(id -u) = 0 ]] && command -v nice >/dev/null; then priority=(nice -n -10); fi
"${priority[@]}" "$installed/bin/hxflash" demo --phones 1 --page-size 512 --dir "$stage/demo" \
  >"$stage/demo.out" 2>&1 || { cat "$stage/demo.out"; fail "the installed hxflash demo failed"; }
cat "$stage/demo.out"
module=$(sed -n 's/^module    //p' "$stage/demo.out")
[[ $module = "$installed"/* ]] || fail "the demo loaded $module, not the installed module"
[[ -d $(dirname "$module")/HX9120 ]] || fail "no agent-override folder HX9120 beside $module"
grep -qx "hxphone   $installed/bin/hxphone" "$stage/demo.out" ||
  fail "the demo did not start the installed hxphone"
grep -q '^1 of 1 phones flashed and verified' "$stage/demo.out" || fail "the phone was not flashed and verified"
