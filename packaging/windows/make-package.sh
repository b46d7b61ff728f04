#!/bin/sh
# Makes the Windows packages from a cross build (make windows):
#   packaging/windows/make-package.sh BUILD_WIN
#     BUILD_WIN/kvuflash-VERSION-win64.zip   a portable copy, in a folder of its own
#     BUILD_WIN/kvuflash-VERSION-setup.exe   the installer (NSIS)
#   packaging/windows/make-package.sh --sign FILE   signs FILE in place (used for the uninstaller)
# With SIGN_CERT and SIGN_KEY (a certificate and its private key, PEM files) the programs, the
# uninstaller and the installer are signed with osslsigncode; without them all stay unsigned.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
name="Korvane Flash Device Upload"

sign() {
  osslsigncode sign -certs "$SIGN_CERT" -key "$SIGN_KEY" -h sha256 -n "$name" \
    -in "$1" -out "$1.signed" >/dev/null
  mv "$1.signed" "$1"
}

if [ "${1:-}" = "--sign" ]; then
  sign "$2"
  exit 0
fi
[ $# -eq 1 ] || { echo "usage: $0 BUILD_WIN | --sign FILE" >&2; exit 2; }
build=$(cd "$1" && pwd)
cli="$build/cli/kvuflash-cli.exe"
[ -f "$cli" ] || { echo "make-package: $cli is missing: run make windows first" >&2; exit 1; }

signing=no
if [ -n "${SIGN_CERT:-}" ] || [ -n "${SIGN_KEY:-}" ]; then
  for f in "${SIGN_CERT:-}" "${SIGN_KEY:-}"; do
    [ -f "$f" ] || { echo "make-package: SIGN_CERT and SIGN_KEY must both name files ('$f')" >&2; exit 2; }
  done
  export SIGN_CERT SIGN_KEY
  signing=yes
fi

# The version is the project's, as the cross build was configured with it.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "make-package: no project version in $build/CMakeCache.txt" >&2; exit 1; }
# The window, where the cross build has made one.
window="$build/win/kvuflash.exe"
[ -f "$window" ] || window=""

stage="$build/package/kvuflash-$version-win64"
rm -rf "$build/package"
mkdir -p "$stage/help" "$stage/samples" "$stage/licenses"
x86_64-w64-mingw32-strip --strip-debug -o "$stage/kvuflash-cli.exe" "$cli"
programs="kvuflash-cli.exe, the command line (run it from a Command Prompt)."
if [ -n "$window" ]; then
  x86_64-w64-mingw32-strip --strip-debug -o "$stage/kvuflash.exe" "$window"
  programs="kvuflash.exe, the window (the Start-menu entry; \"Software Upload\" for the first
upload), and $programs"
fi
cp "$root"/resources/help/*.html "$stage/help/"
cp "$root"/samples/* "$stage/samples/"
cp "$root/packaging/copyright" "$stage/licenses/kvuflash.txt"
cp /usr/share/doc/mingw-w64-x86-64-dev/copyright "$stage/licenses/mingw-w64-runtime.txt"
cp /usr/share/doc/gcc-mingw-w64-base/copyright "$stage/licenses/gcc-runtime-libraries.txt"
cp /usr/share/common-licenses/GPL-3 "$stage/licenses/GPL-3.txt"
if [ "$signing" = yes ]; then
  signed="The programs and the installer are signed."
else
  signed="The programs and the installer are not signed: Windows SmartScreen may warn before
the first start (More info, Run anyway)."
fi
awk -v version="$version" -v programs="$programs" -v signed="$signed" '
  { gsub(/@VERSION@/, version); gsub(/@PROGRAMS@/, programs); gsub(/@SIGNED@/, signed); print }
' "$here/README.txt.in" >"$stage/README.txt"
# Notepad's line ends.
for f in "$stage"/README.txt "$stage"/licenses/*.txt; do sed -i 's/\r*$/\r/' "$f"; done
if [ "$signing" = yes ]; then
  for f in "$stage"/*.exe; do sign "$f"; done
fi

zip="$build/kvuflash-$version-win64.zip"
rm -f "$zip"
(cd "$build/package" && zip -qrX "$zip" "kvuflash-$version-win64")

# The uninstaller removes what was installed, by name, and nothing else.
uninstall="$stage.uninstall.nsh"
(cd "$stage" && find . -type f | sed 's|^\./||; s|/|\\|g; s|.*|  Delete "$INSTDIR\\&"|'
 cd "$stage" && find . -mindepth 1 -depth -type d | sed 's|^\./||; s|/|\\|g; s|.*|  RMDir "$INSTDIR\\&"|') >"$uninstall"
setup="$build/kvuflash-$version-setup.exe"
set -- -V2 -DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$setup" \
  -DICON="$root/resources/windows/kvuflash.ico"
[ -z "$window" ] || set -- "$@" -DWINDOW
[ "$signing" = no ] || set -- "$@" -DSIGN_COMMAND="sh '$here/make-package.sh' --sign"
makensis "$@" "$here/kvuflash.nsi"
[ "$signing" = no ] || sign "$setup"
echo "make-package: $zip"
echo "make-package: $setup ($([ "$signing" = yes ] && echo signed || echo unsigned))"
