#!/usr/bin/env bash
# Builds the Debian package from a build tree, unpacks it into a scratch root
# and runs what it installed: vjxflash (usage, and -list on a simulated rack
# through the simulated access library) and tcftool.
# Usage: package_test.sh BUILD_DIR VJXSIM
set -euo pipefail
build=$1
vjxsim=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

cpack --config "$build/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log" 2>&1 || {
  cat "$work/cpack.log" >&2
  fail "cpack did not build the package"
}
deb=$(ls "$work"/pkg/*.deb)

# Debian's own package checks, where lintian is installed: no error. Its
# warnings are shown, not held against the package.
if command -v lintian >/dev/null; then
  lintian --tag-display-limit 0 "$deb" >"$work/lintian" 2>&1 || true
  if grep -q "^E: " "$work/lintian"; then
    cat "$work/lintian" >&2
    fail "lintian reports errors"
  fi
  grep "^W: " "$work/lintian" || true
fi

# Declared dependencies, and what is (and is not) in the package.
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libstdc++6; do
  grep -q "$lib" <<<"$depends" || fail "Depends does not name $lib: $depends"
done
dpkg-deb -c "$deb" >"$work/contents"
for path in ./usr/bin/vjxflash ./usr/bin/tcftool ./usr/share/man/man1/vjxflash.1.gz \
            ./usr/share/man/man1/tcftool.1.gz ./usr/share/doc/vjxflash/copyright \
            ./usr/share/doc/vjxflash/changelog.gz; do
  grep -q " $path\$" "$work/contents" || fail "$path is not in the package"
done
grep -Eq " \./usr/lib/.*libmerix32\.so\.5 -> libmerix32\.so\.5\.0\.0\$" "$work/contents" ||
  fail "the soname link libmerix32.so.5 is not in the package"
if grep -Eq "vjxsim|/sim/|gtest" "$work/contents"; then fail "the simulator or the tests are in the package"; fi

root="$work/root"
dpkg -x "$deb" "$root"
unset LD_LIBRARY_PATH

# vjxflash finds the packaged library on its own: usage text, status 1.
status=0
"$root/usr/bin/vjxflash" >"$work/usage" 2>&1 || status=$?
[ "$status" -eq 1 ] || fail "vjxflash without arguments exited $status"
grep -q "vjxflash -flash N FILENAME" "$work/usage" || fail "no usage text: $(cat "$work/usage")"

# -list on a simulated rack, the simulated library bound by vjxsim run.
"$vjxsim" new "$work/rack" --card 84,fw=9.14 >/dev/null
"$vjxsim" run "$work/rack" -- "$root/usr/bin/vjxflash" -list >"$work/list" 2>&1 ||
  fail "vjxflash -list on the simulated rack failed: $(cat "$work/list")"
grep -q "VJX PCIe K" "$work/list" || fail "the card is not listed: $(cat "$work/list")"

# tcftool builds a file that it then accepts.
"$root/usr/bin/tcftool" build -o "$work/k.tcf" --module 84 >/dev/null
"$root/usr/bin/tcftool" info "$work/k.tcf" | grep -q "Verdict:       accepted" || fail "tcftool info"

# The manual pages are readable.
zcat "$root/usr/share/man/man1/tcftool.1.gz" | grep -q "^\.TH TCFTOOL 1" || fail "tcftool.1"
echo "package $(basename "$deb") installs and runs"
