#!/usr/bin/env bash
# Tries the release artifacts of dist/ (scripts/package.sh) as a station gets
# them. It installs software, so it runs as root (CI runs it at the end of
# scripts/test.sh; elsewhere it asks sudo):
#   the Debian package: installed with apt-get; `hxflash demo` from PATH flashes
#     a virtual phone with the installed module and hxphone, and opens no file
#     of this checkout or its build trees; the man pages read clean with
#     `man -l`; lintian finds no error and no warning; the package is purged
#     and none of its files is left;
#   the Windows zip: unpacked into a temporary folder, its x64/hxflash.exe
#     flashes a virtual phone under Wine with the x64/ModelTemplate.dll beside
#     it, and the 32-bit C host of the Windows tests (build/mingw-x86, built
#     here if missing) drives every session slot of its x86/ModelTemplate.dll.
# The Windows part runs while the package is installed: its virtual phone and
# package builder are the installed hxphone and hxflash.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd -P)
cd "$root"
SUDO=""; [[ $(id -u) -ne 0 ]] && SUDO=sudo

shopt -s nullglob
debs=(dist/hxflash_*_amd64.deb)
zips=(dist/hxflash-*-windows.zip)
shopt -u nullglob
if ((${#debs[@]} != 1 || ${#zips[@]} != 1)); then
  echo "release_check.sh: dist/ must hold one .deb and one Windows zip: run scripts/package.sh first" >&2
  exit 2
fi
deb=$root/${debs[0]}
zip=$root/${zips[0]}
version=$(dpkg-deb --field "$deb" Version)
[[ $zip == */hxflash-$version-windows.zip ]] || { echo "release_check.sh: $zip is not of version $version" >&2; exit 2; }
if dpkg-query -W -f='${Status}' hxflash 2>/dev/null | grep -q 'installed'; then
  echo "release_check.sh: a package hxflash is installed already; this check installs and purges its own" >&2
  exit 2
fi

work=$(mktemp -d /tmp/hxflash-release-XXXXXX)
installed=0
phone_pid= host_pid=
cleanup() {
  [[ -n $phone_pid ]] && kill "$phone_pid" 2>/dev/null || true
  [[ -n $host_pid ]] && kill "$host_pid" 2>/dev/null || true
  if ((installed)); then $SUDO apt-get purge -y -q hxflash >/dev/null 2>&1 || true; fi
  for prefix in "$work/wine64" "$work/wine32"; do
    [[ -d $prefix ]] && WINEPREFIX=$prefix /usr/lib/wine/wineserver -k 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
step() { echo "=== release check: $*"; }

step "apt-get install $(basename "$deb")"
installed=1
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "$deb" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log"; fail "the package did not install"; }
dpkg-query -L hxflash | sort >"$work/files"
for path in /usr/bin/hxflash /usr/bin/hxphone /usr/lib/hxflash/libModelTemplate.so /usr/lib/hxflash/HX9120/README.txt \
  /usr/share/man/man1/hxflash.1.gz /usr/share/man/man1/hxphone.1.gz /usr/share/doc/hxflash/README.md \
  /usr/share/doc/hxflash/copyright /usr/share/doc/hxflash/changelog.gz \
  /usr/share/doc/hxflash/examples/70-hxflash.rules; do
  grep -qxF "$path" "$work/files" && [[ -e $path ]] || fail "the package did not install $path"
done
if grep -v '^/usr' "$work/files" | grep -v '^/\.$' | grep -q .; then
  fail "the package installs outside /usr: $(grep -v '^/usr' "$work/files" | grep -v '^/\.$' | tr '\n' ' ')"
fi

step "hxflash from PATH"
program=$(cd / && command -v hxflash) || fail "no hxflash on PATH"
[[ $program == /usr/bin/hxflash ]] || fail "hxflash on PATH is $program, not the package's /usr/bin/hxflash"
hxflash --version | tee "$work/version"
grep -qE "^hxflash $version \\(commit [^)]+\\)$" "$work/version" || fail "hxflash --version does not say $version and its commit"

# The demo runs in the temporary folder with no module named by the
# environment; under strace (when this machine lets it trace) every file it
# and its virtual phones open, run or look at is checked against this checkout.
step "hxflash demo with the installed module and hxphone"
demo=(hxflash demo --phones 1 --page-size 512 --dir "$work/demo")
# At a higher priority where this user may raise it, as the install test: the
# module's bounds on a phone's answers shrink with the demo's time scale.
if [[ $(id -u) = 0 ]]; then demo=(nice -n -10 "${demo[@]}"); fi
if strace -f --seccomp-bpf -e trace=none -o /dev/null true 2>/dev/null; then
  demo=(strace -f --seccomp-bpf -e trace=%file -o "$work/demo.trace" "${demo[@]}")
else
  echo "(strace cannot trace here: the files the demo opens are not checked, only the module and hxphone it names)"
fi
(cd "$work" && env -u HXFLASH_MODULE -u HXFLASH_PORTS_DIR "${demo[@]}") >"$work/demo.out" 2>&1 ||
  { cat "$work/demo.out"; fail "the installed hxflash demo failed"; }
cat "$work/demo.out"
grep -qx 'module    /usr/lib/hxflash/libModelTemplate.so' "$work/demo.out" || fail "the demo did not load the installed module"
grep -qx 'hxphone   /usr/bin/hxphone' "$work/demo.out" || fail "the demo did not start the installed hxphone"
grep -q '^1 of 1 phones flashed and verified' "$work/demo.out" || fail "the phone was not flashed and verified"
if [[ -f $work/demo.trace ]]; then
  grep -q 'execve("/usr/bin/hxphone"' "$work/demo.trace" || fail "the trace shows no start of /usr/bin/hxphone"
  if grep -F "\"$root/" "$work/demo.trace" >"$work/from-checkout"; then
    head -n 5 "$work/from-checkout" >&2
    fail "the installed demo used files of this checkout ($root)"
  fi
  echo "the demo used no file of $root"
fi

step "man -l"
for page in hxflash hxphone; do
  LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "/usr/share/man/man1/$page.1.gz" >"$work/$page.txt" \
    2>"$work/$page.warnings" || fail "man -l could not format $page.1"
  if [[ -s $work/$page.warnings ]]; then cat "$work/$page.warnings" >&2; fail "man finds faults in $page.1"; fi
  grep -q '^EXIT STATUS' "$work/$page.txt" || fail "$page.1 has no EXIT STATUS"
  echo "$page.1: $(wc -l <"$work/$page.txt") lines, no warnings"
done
for section in 'JSON REPORT' 'hxflash flash PACKAGE' 'hxflash ports' 'hxflash inspect' 'hxflash make-package' \
  'hxflash demo' '130'; do
  grep -qF "$section" "$work/hxflash.txt" || fail "hxflash.1 lacks '$section'"
done

step "lintian"
lintian --fail-on error,warning --display-info "$deb" || fail "lintian finds errors or warnings in $(basename "$deb")"

step "the Windows zip under Wine"
unzip -q "$zip" -d "$work/zip"
(cd "$work/zip" && find . -type f | sort) >"$work/zip-files"
printf '%s\n' ./LICENSE.txt ./README-windows.txt ./x64/ModelTemplate.dll ./x64/hxflash.exe ./x86/ModelTemplate.dll |
  diff - "$work/zip-files" || fail "the zip does not hold exactly the files above"
windows_path() { local p=$1; echo "Z:${p//\//\\}"; }
wine_run=$root/scripts/wine-run.sh
export WINEPREFIX=$work/wine64
"$wine_run" win64 --make-prefix
"$wine_run" win64 "$work/zip/x64/hxflash.exe" --version | tr -d '\r' | tee "$work/exe-version"
cmp -s "$work/version" "$work/exe-version" || fail "the zip's hxflash.exe is not of the package's version and commit"
# Both DLLs' version resources (Properties, Details) name the same.
stamp=$(sed -n 's/^hxflash //p' "$work/version")
for entry in x86_64-w64-mingw32-windres:x64/ModelTemplate.dll i686-w64-mingw32-windres:x86/ModelTemplate.dll; do
  resource=$("${entry%%:*}" --input "$work/zip/${entry#*:}" --output-format rc)
  grep -qF "VALUE \"ProductVersion\", \"$stamp\"" <<<"$resource" ||
    fail "the version resource of the zip's ${entry#*:} does not say $stamp"
done
echo "hxflash.exe and both DLLs: $stamp, as the package"

# One phone on COM48, plugged in once hxflash.exe waits for it.
hxflash make-package "$work/package.bin" --tiny >/dev/null
"$wine_run" win64 "$work/zip/x64/hxflash.exe" flash "$(windows_path "$work/package.bin")" --port COM48 \
  --time-scale 0.05 --log-dir "$(windows_path "$work/wine-logs")" >"$work/wine-host.log" 2>&1 &
host_pid=$!
for _ in $(seq 1200); do
  grep -qs 'waiting for the phone' "$work/wine-host.log" && break
  kill -0 "$host_pid" 2>/dev/null || break
  sleep 0.05
done
grep -qs 'waiting for the phone' "$work/wine-host.log" || { cat "$work/wine-host.log"; fail "hxflash.exe never waited for its phone"; }
HXFLASH_PORTS_DIR=$WINEPREFIX/dosdevices hxphone run --port 48 --plug-delay-ms 500 \
  --dump "$work/wine-nand.bin" >"$work/wine-phone.log" 2>&1 &
phone_pid=$!
# The flash and its reset countdown take seconds; a host still running after
# two minutes has hung, and is stopped rather than waited for.
for _ in $(seq 1200); do kill -0 "$host_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$host_pid" 2>/dev/null; then
  kill "$host_pid" 2>/dev/null || true
  cat "$work/wine-host.log"
  fail "hxflash.exe was still running two minutes after the phone was plugged in"
fi
status=0
wait "$host_pid" || status=$?
host_pid=
for _ in $(seq 100); do kill -0 "$phone_pid" 2>/dev/null || break; sleep 0.1; done
kill "$phone_pid" 2>/dev/null || true
wait "$phone_pid" 2>/dev/null || true
phone_pid=
tr -d '\r' <"$work/wine-host.log"
((status == 0)) || { cat "$work/wine-phone.log"; fail "hxflash.exe exited $status"; }
grep -q 'COM48 .*flashed' "$work/wine-host.log" || fail "hxflash.exe did not report the phone flashed"
hxphone verify --package "$work/package.bin" --dump "$work/wine-nand.bin" >"$work/verify.txt" ||
  { cat "$work/verify.txt"; fail "the phone flashed by the zip's hxflash.exe does not hold the package"; }
echo "the zip's hxflash.exe and x64 DLL flashed a phone: verified"

c_host=$root/build/mingw-x86/tests/windows/c_host_test.exe
if [[ ! -f $c_host ]]; then
  [[ -f build/mingw-x86/CMakeCache.txt ]] || cmake --preset mingw-x86 >/dev/null
  cmake --build --preset mingw-x86 --target c_host_test
fi
if [[ -x /usr/lib/wine/wine ]]; then
  export WINEPREFIX=$work/wine32
  "$wine_run" win32 --make-prefix
  "$wine_run" win32 "$c_host" "$(windows_path "$work/zip/x86/ModelTemplate.dll")" 2>&1 | tr -d '\r' |
    tee "$work/c-host.log"
  grep -qx 'C host: every slot behaved' "$work/c-host.log" || fail "the 32-bit C host failed with the zip's x86 DLL"
else
  echo "WARNING: 32-bit Wine is not installed (see install-deps.sh): the zip's x86 DLL was not loaded" >&2
fi

step "apt-get purge hxflash"
$SUDO apt-get purge -y -q hxflash >"$work/purge.log" 2>&1 || { cat "$work/purge.log"; fail "the package did not purge"; }
installed=0
if dpkg-query -W -f='${Status}' hxflash 2>/dev/null | grep -q 'installed'; then fail "dpkg still lists hxflash"; fi
left=()
while read -r path; do
  if [[ -d $path && ! -L $path ]]; then
    # Folders of the system stay; the package's own go.
    [[ $path == *hxflash* ]] && left+=("$path")
  elif [[ -e $path || -L $path ]]; then
    left+=("$path")
  fi
done <"$work/files"
((${#left[@]} == 0)) || fail "files of the package are left: ${left[*]}"
echo "purged: none of its $(wc -l <"$work/files") paths is left"
echo "release check: PASS ($(basename "$deb"), $(basename "$zip"))"
