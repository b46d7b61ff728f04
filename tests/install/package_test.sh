#!/usr/bin/env bash
# Makes the Debian package from the build tree, as `make package` does, and checks its files
# (all of them, and nothing more), its dependencies, the dialout note and lintian's verdict.
# Usage: package_test.sh BUILD_DIR
set -euo pipefail
fail() { echo "FAIL: $*" >&2; exit 1; }
command -v lintian >/dev/null || fail "lintian is not installed (tools/install-deps.sh does it)"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/kv-package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cpack --config "$1/CPackConfig.cmake" -B "$scratch" >"$scratch/cpack.log" 2>&1 ||
  fail "cpack: $(tail -5 "$scratch/cpack.log")"
deb=$(echo "$scratch"/kvuflash_*.deb)
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"

expected=(./usr/bin/{kvuflash,kvuflash-cli,rq410-sim}
  ./usr/share/applications/kvuflash.desktop ./usr/share/bash-completion/completions/kvuflash-cli
  ./usr/share/doc/kvuflash/{changelog.gz,copyright}
  ./usr/share/icons/hicolor/{32x32,48x48,64x64,128x128,256x256}/apps/kvuflash.png
  ./usr/share/kvuflash/help/topic{1,3,4,5,9}.html
  ./usr/share/kvuflash/samples/{demo-image.bin,demo-large.hex,demo-small.hex}
  ./usr/share/man/man1/{kvuflash,kvuflash-cli,rq410-sim}.1.gz)
diff -u <(printf '%s\n' "${expected[@]}" | sort) \
  <(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sort) ||
  fail "the package's files differ from the list"

depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6; do
  [[ ", $depends," == *", $library "* ]] || fail "Depends lacks $library: $depends"
done
dpkg-deb -f "$deb" Description | grep -q 'usermod -aG dialout' || fail "no dialout note"

lintian --tag-display-limit 0 "$deb" 2>&1 | tee "$scratch/lintian.txt"
! grep -qE '^[EW]: ' "$scratch/lintian.txt" || fail "lintian reports errors or warnings"
echo "package checked"
