#!/usr/bin/env bash
# Installs into a scratch prefix, moves the tree to another path, and runs it there with the
# source and build trees hidden (empty folders mounted over them in a private namespace), so
# that all the programs use must come from the installed tree.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR VERSION
set -euo pipefail
fail() { echo "FAIL: $*" >&2; exit 1; }

# What bash offers after the words of a command line, sorted, on one line.
complete_line() {
  bash --norc -c 'source /usr/share/bash-completion/bash_completion; source "$1"
    read -ra COMP_WORDS <<<"$2"; [[ $2 == *" " ]] && COMP_WORDS+=("")
    COMP_LINE=$2 COMP_POINT=${#2} COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _kvuflash_cli kvuflash-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf "%s\n" "${COMPREPLY[@]}" | sort | paste -sd" "' _ "$1" "$2"
}

installed_checks() {
  local prefix=$1 version=$2 bin=$1/bin data=$1/share/kvuflash
  export HOME=$PWD/home XDG_DATA_HOME=$PWD/home/data XDG_CONFIG_HOME=$PWD/home/config
  mkdir -p "$HOME" work
  for program in kvuflash-cli rq410-sim; do
    [ "$("$bin/$program" --version)" = "$program $version" ] || fail "$program --version"
  done
  "$bin/kvuflash-cli" help >help.txt
  grep -qxF "Sample firmware files: $data/samples/" help.txt ||
    fail "kvuflash-cli help does not name the installed samples"
  cp "$data"/samples/{demo-small.hex,demo-image.bin} work/
  "$bin/kvuflash-cli" convert work/demo-image.bin >/dev/null && [ -s work/demo-image.KVU ] ||
    fail "convert of a sample"

  "$bin/rq410-sim" --link "$PWD/tty" --erase-ms 200 --reboot-ms 300 >sim.log 2>&1 &
  local sim=$! status=0
  for _ in $(seq 100); do [ -e tty ] && break; sleep 0.1; done
  KVUFLASH_PORTS="2=$PWD/tty" "$bin/kvuflash-cli" upload --port 2 work/demo-small.hex \
    >upload.txt 2>&1 || status=$?
  kill "$sim" && wait "$sim" || true
  [ "$status" = 0 ] || fail "upload exit status $status: $(tail -5 upload.txt)"
  # The port remembered (2, not the first) went to the user's folder, nothing into the tree.
  [ -e "$XDG_DATA_HOME/kvuflash/commsUP.txt" ] || fail "commsUP.txt not in \$XDG_DATA_HOME"
  [ -z "$(ls "$bin" | grep -vxE 'kvuflash|kvuflash-cli|rq410-sim')" ] || fail "bin/: $(ls "$bin")"

  if [ -x "$bin/kvuflash" ]; then
    [ "$("$bin/kvuflash" --version)" = "kvuflash $version" ] || fail "kvuflash --version"
    local page
    page=$(QT_QPA_PLATFORM=offscreen "$bin/kvuflash" --help-source 3 2>/dev/null) ||
      fail "the window's help page is empty"
    [ "$page" = "file://$data/help/topic3.html" ] || fail "the window's help came from $page"
  fi

  touch work/notes.txt work/notes.H86
  local script=$prefix/share/bash-completion/completions/kvuflash-cli expect got
  for expect in "kvuflash-cli |check-port convert doctor factory help info ports upload verify" \
    "kvuflash-cli --port |1 2 3 4 5 6 7 8 9" \
    "kvuflash-cli --baud 57600 upload --baud |38400 57600" \
    "kvuflash-cli upload --c|--capture" \
    "kvuflash-cli factory --y|--yes" \
    "kvuflash-cli upload --a|--accept-bad-checksums" \
    "kvuflash-cli convert --a|--accept-bad-checksums" \
    "kvuflash-cli upload work/demo-sm|work/demo-small.BIN work/demo-small.KVU work/demo-small.hex" \
    "kvuflash-cli convert work/n|work/notes.H86"; do
    got=$(complete_line "$script" "${expect%%|*}")
    [ "$got" = "${expect#*|}" ] || fail "completing '${expect%%|*}' gave '$got'"
  done
  echo "installed tree checked"
}

if [ "${1:-}" = --installed ]; then
  cd "$2"
  installed_checks "$3" "$4"
  exit 0
fi

build=$(cd "$1" && pwd) source=$(cd "$2" && pwd) version=$3
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kv-install.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cmake --install "$build" --prefix "$scratch/staged" --strip >/dev/null
mv "$scratch/staged" "$scratch/moved"
for exe in "$scratch"/moved/bin/*; do
  ! grep -qaF -e "$source" -e "$build" "$exe" || fail "$exe names the source or build tree"
done
cp "$0" "$scratch/install_test.sh"
set -- "$scratch/install_test.sh" --installed "$scratch" "$scratch/moved" "$version"
if unshare --mount true 2>/dev/null; then
  # The build tree first: it may lie inside the source tree.
  unshare --mount bash -c 'mount -t tmpfs none "$1" && mount -t tmpfs none "$2" && shift 2 &&
    exec bash "$@"' _ "$build" "$source" "$@"
else
  echo "source and build trees left in reach: no mount namespace for this user"
  bash "$@"
fi
