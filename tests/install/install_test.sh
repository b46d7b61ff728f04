#!/usr/bin/env bash
# Installs into a scratch prefix, moves the installed tree to another path, and runs the programs
# there with the source and build trees hidden (a private mount namespace lays empty folders over
# them), so that whatever they use must come from the installed tree: kvuflash-cli's help, a
# conversion of a sample and an upload against the installed rq410-sim, the window's help pages
# offscreen, and the shell completion.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR VERSION
set -euo pipefail

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The checks on an installed tree, at PREFIX; the scratch folder is the current one.
installed_checks() {
  local prefix=$1 version=$2 bin=$1/bin
  export HOME=$PWD/home XDG_DATA_HOME=$PWD/home/data XDG_CONFIG_HOME=$PWD/home/config
  mkdir -p "$HOME"

  [ "$("$bin/kvuflash-cli" --version)" = "kvuflash-cli $version" ] || fail "kvuflash-cli --version"
  [ "$("$bin/rq410-sim" --version)" = "rq410-sim $version" ] || fail "rq410-sim --version"
  "$bin/kvuflash-cli" help >help.txt
  grep -qxF "Sample firmware files: $prefix/share/kvuflash/samples/" help.txt ||
    fail "kvuflash-cli help does not name the installed samples: $(tail -1 help.txt)"

  mkdir work
  cp "$prefix"/share/kvuflash/samples/{demo-small.hex,demo-image.bin} work/
  "$bin/kvuflash-cli" convert work/demo-image.bin >convert.txt || fail "convert: $(cat convert.txt)"
  [ -s work/demo-image.KVU ] || fail "convert left no work/demo-image.KVU"

  "$bin/rq410-sim" --link "$PWD/ttyRQ410" --erase-ms 200 --reboot-ms 300 >sim.log 2>&1 &
  local sim=$!
  for _ in $(seq 100); do [ -e ttyRQ410 ] && break; sleep 0.1; done
  local status=0
  KVUFLASH_PORTS="2=$PWD/ttyRQ410" "$bin/kvuflash-cli" upload --port 2 work/demo-small.hex \
    >upload.txt 2>&1 || status=$?
  kill "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
  [ "$status" = 0 ] || fail "upload exit status $status: $(tail -5 upload.txt)"

  # The port remembered (2, not the first) went to the user's folder, nothing into the tree.
  [ -e "$XDG_DATA_HOME/kvuflash/commsUP.txt" ] || fail "no commsUP.txt in \$XDG_DATA_HOME/kvuflash"
  [ "$(ls "$bin")" = "$(printf 'kvuflash\nkvuflash-cli\nrq410-sim')" ] ||
    [ "$(ls "$bin")" = "$(printf 'kvuflash-cli\nrq410-sim')" ] || fail "bin/ holds: $(ls "$bin")"

  if [ -x "$bin/kvuflash" ]; then
    [ "$("$bin/kvuflash" --version)" = "kvuflash $version" ] || fail "kvuflash --version"
    local page
    page=$(QT_QPA_PLATFORM=offscreen "$bin/kvuflash" --help-source 3 2>/dev/null) ||
      fail "the window's help page is empty: $page"
    [ "$page" = "file://$prefix/share/kvuflash/help/topic3.html" ] ||
      fail "the window's help page came from $page"
  fi

  completion_checks "$prefix/share/bash-completion/completions/kvuflash-cli"
}

# What the shell offers after the words given, one per line, sorted.
complete_line() {
  bash --norc -c '
    source /usr/share/bash-completion/bash_completion
    source "$1"
    COMP_LINE=$2 COMP_POINT=${#2}
    read -ra COMP_WORDS <<<"$2"
    [[ $2 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _kvuflash_cli kvuflash-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf "%s\n" "${COMPREPLY[@]}" | sort' _ "$1" "$2"
}

completion_checks() {
  local script=$1
  if [ ! -e /usr/share/bash-completion/bash_completion ]; then
    echo "completion not checked: bash-completion is not installed"
    return
  fi
  touch work/notes.txt work/notes.H86
  local expect
  for expect in \
    "kvuflash-cli |check-port convert help ports upload" \
    "kvuflash-cli --port |1 2 3 4 5 6 7 8 9" \
    "kvuflash-cli --baud 57600 upload --baud |38400 57600" \
    "kvuflash-cli upload --c|--capture" \
    "kvuflash-cli upload work/demo-sm|work/demo-small.BIN work/demo-small.KVU work/demo-small.hex" \
    "kvuflash-cli convert work/n|work/notes.H86"; do
    local got
    got=$(complete_line "$script" "${expect%%|*}" | paste -sd' ')
    [ "$got" = "${expect#*|}" ] || fail "completing '${expect%%|*}' gave '$got'"
  done
}

if [ "${1:-}" = --installed ]; then
  cd "$2"
  installed_checks "$3" "$4"
  echo "installed tree checked"
  exit 0
fi

build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
version=$3
scratch=$(mktemp -d "${TMPDIR:-/tmp}/kv-install.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

cmake --install "$build" --prefix "$scratch/staged" --strip >/dev/null
mv "$scratch/staged" "$scratch/moved"
prefix=$scratch/moved
for exe in "$prefix"/bin/*; do
  if grep -qaF -e "$source" -e "$build" "$exe"; then
    fail "$exe names the source or build tree"
  fi
done

cp "$0" "$scratch/install_test.sh"
if unshare --mount true 2>/dev/null; then
  # The build tree first: it may lie inside the source tree.
  unshare --mount bash -c 'mount -t tmpfs none "$1" && mount -t tmpfs none "$2" &&
    exec bash "$3/install_test.sh" --installed "$3" "$4" "$5"' \
    _ "$build" "$source" "$scratch" "$prefix" "$version"
else
  echo "source and build trees left in reach: this user may not make a mount namespace"
  bash "$scratch/install_test.sh" --installed "$scratch" "$prefix" "$version"
fi
