#!/usr/bin/env bash
# Makes the Debian package from the build tree (as `make package` does, into a scratch folder)
# and checks what it holds, what it depends on, that its description says how to reach the
# serial ports, and that lintian finds no error or warning in it.
# Usage: package_test.sh BUILD_DIR
set -euo pipefail

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

command -v lintian >/dev/null || fail "lintian is not installed (tools/install-deps.sh installs it)"
build=$(cd "$1" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kv-package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

cpack --config "$build/CPackConfig.cmake" -B "$scratch" >"$scratch/cpack.log" 2>&1 ||
  fail "cpack: $(tail -5 "$scratch/cpack.log")"
deb=$(echo "$scratch"/kvuflash_*.deb)
[ -f "$deb" ] || fail "no package made: $(tail -5 "$scratch/cpack.log")"
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"

# Every file, and nothing else (a stray test program or build file would show here).
dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sort >"$scratch/files"
sort >"$scratch/expected" <<'LIST'
./usr/bin/kvuflash
./usr/bin/kvuflash-cli
./usr/bin/rq410-sim
./usr/share/applications/kvuflash.desktop
./usr/share/bash-completion/completions/kvuflash-cli
./usr/share/doc/kvuflash/changelog.gz
./usr/share/doc/kvuflash/copyright
./usr/share/icons/hicolor/128x128/apps/kvuflash.png
./usr/share/icons/hicolor/256x256/apps/kvuflash.png
./usr/share/icons/hicolor/32x32/apps/kvuflash.png
./usr/share/icons/hicolor/48x48/apps/kvuflash.png
./usr/share/icons/hicolor/64x64/apps/kvuflash.png
./usr/share/kvuflash/help/topic1.html
./usr/share/kvuflash/help/topic3.html
./usr/share/kvuflash/help/topic4.html
./usr/share/kvuflash/help/topic5.html
./usr/share/kvuflash/help/topic9.html
./usr/share/kvuflash/samples/demo-image.bin
./usr/share/kvuflash/samples/demo-large.hex
./usr/share/kvuflash/samples/demo-small.hex
./usr/share/man/man1/kvuflash-cli.1.gz
./usr/share/man/man1/kvuflash.1.gz
./usr/share/man/man1/rq410-sim.1.gz
LIST
diff -u "$scratch/expected" "$scratch/files" || fail "the package's files differ from the list"

depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6; do
  [[ ", $depends," == *", $library "* ]] || fail "Depends lacks $library: $depends"
done
dpkg-deb -f "$deb" Description | grep -q 'usermod -aG dialout' ||
  fail "the description does not say how to join the dialout group"

lintian --tag-display-limit 0 "$deb" >"$scratch/lintian.txt" 2>&1 || true
cat "$scratch/lintian.txt"
if grep -qE '^[EW]: ' "$scratch/lintian.txt"; then
  fail "lintian reports errors or warnings"
fi
echo "package checked"
