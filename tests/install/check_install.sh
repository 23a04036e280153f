#!/usr/bin/env bash
# check_install.sh BUILD_DIR README EXTRA_FLAGS
set -euo pipefail
build=$1 readme=$2 flags=$3
fail() { echo "$*"; exit 1; }

work=$(mktemp -d)
pid=""
cleanup() {
  if [ -n "$pid" ]; then kill -TERM "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# A prefix with a file of someone else's, which uninstall must leave alone.
prefix="$work/prefix"
mkdir -p "$prefix/bin" && touch "$prefix/bin/other"
cmake --install "$build" --prefix "$prefix" >/dev/null
sim="$prefix/bin/quarvane-sim" qvctl="$prefix/bin/qvctl"

# The installed tools run from the prefix alone: the library through the
# RUNPATH. The library's own RUNPATH is its folder only, where the
# network-boot module lies (a RUNPATH, never a DT_RPATH, so that
# LD_LIBRARY_PATH can name another module).
readelf -d "$qvctl" | grep -q 'RUNPATH.*\[\$ORIGIN/\.\./lib\]' || fail "qvctl has no RUNPATH to ../lib"
readelf -d "$prefix"/lib/libqvcliapi.so.1 | grep -q 'RUNPATH.*\[\$ORIGIN\]$' ||
  fail "the library's runtime path is not its own folder"
! readelf -d "$prefix"/lib/libqvcliapi.so.1 | grep -q '(RPATH)' || fail "the library has a DT_RPATH"
[ -e "$prefix"/lib/libpxecfg.so.1 ] || fail "the network-boot module is not installed"
[ "$(env -u LD_LIBRARY_PATH "$qvctl" message 0x6FFC0010)" = "Unable to find the specified disk." ] ||
  fail "the installed qvctl does not run"

# The first C block of the README, exactly as a reader copies it.
awk '/^```c$/ {on=1; next} /^```$/ {if (on) exit} on' "$readme" >"$work/typical_use.c"
[ -s "$work/typical_use.c" ] || { echo "no C example in $readme"; exit 1; }

pc_dir=$(dirname "$(find "$prefix" -name qvcliapi.pc | head -1)")
export PKG_CONFIG_PATH="$pc_dir"
libdir=$(pkg-config --variable=libdir qvcliapi)
# shellcheck disable=SC2086
cc -std=c11 -Wall -Wextra -Werror $flags "$work/typical_use.c" \
   $(pkg-config --cflags --libs qvcliapi) -Wl,-rpath,"$libdir" -o "$work/typical_use"

# The same program from CMake through the installed package.
mkdir -p "$work/consumer"
cp "$work/typical_use.c" "$work/consumer/"
cat >"$work/consumer/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(consumer C)
find_package(qvcliapi REQUIRED)
add_executable(typical_use typical_use.c)
target_compile_options(typical_use PRIVATE $flags)
target_link_options(typical_use PRIVATE $flags)
target_link_libraries(typical_use qvcliapi::qvcliapi)
CMAKE
cmake -S "$work/consumer" -B "$work/consumer/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/consumer/build" >/dev/null

# Run it against the stand-in service with its sample inventory.
"$sim" --port 0 >"$work/sim.out" 2>"$work/sim.err" </dev/null &
pid=$!
port=""
for _ in $(seq 100); do
  port=$(sed -n 's/^listening on .*:\([0-9][0-9]*\)$/\1/p' "$work/sim.out")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "quarvane-sim did not start"; cat "$work/sim.err"; exit 1; }
"$work/typical_use" "$port" >"$work/out.txt"
grep -q '^Disk 0' "$work/out.txt" || { echo "no disk listed:"; cat "$work/out.txt"; exit 1; }
"$work/consumer/build/typical_use" "$port" >/dev/null
[ "$("$sim" --version)" = "quarvane-sim $(pkg-config --modversion qvcliapi)" ] || fail "quarvane-sim --version"

# The manual pages render without a warning, with every section.
for tool in qvctl quarvane-sim quarvane-exporter; do
  page="$prefix/share/man/man1/$tool.1"
  text=$(groff -man -Tutf8 -P-cbou -ww "$page" 2>"$work/groff.err") && [ ! -s "$work/groff.err" ] ||
    fail "$page: $(cat "$work/groff.err")"
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" ENVIRONMENT FILES; do
    grep -q "^$section\$" <<<"$text" || fail "$page has no $section"
  done
done
grep -q '^COMMANDS$' <<<"$(groff -man -Tutf8 -P-cbou "$prefix/share/man/man1/qvctl.1")" || fail "qvctl.1 lists no commands"

# The completion scripts, sourced as bash-completion does, complete what the
# tools take: commands, a subcommand's options, an option's choices.
completes() {  # SCRIPT WORD... : what bash offers for the last word
  bash -c 'source "$1"; shift; fn=$(complete -p "$1" | sed "s/.*-F \([^ ]*\) .*/\1/")
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); "$fn"; printf "%s\n" "${COMPREPLY[@]}"' _ "$@"
}
comp="$prefix/share/bash-completion/completions"
[ "$(completes "$comp/qvctl" qvctl mir)" = mirror ] || fail "qvctl mir<TAB>"
[ "$(completes "$comp/qvctl" qvctl --port 1 mirror sync --wa)" = --wait ] || fail "qvctl mirror sync --wa<TAB>"
choices=$(completes "$comp/qvctl" qvctl disks --kind '')
[ -n "$choices" ] && ! grep -q -- '^-' <<<"$choices" || fail "qvctl disks --kind <TAB>: $choices"
[ "$(completes "$comp/quarvane-sim" quarvane-sim --state-f)" = --state-file ] || fail "quarvane-sim --state-f<TAB>"

# Uninstalled, nothing is left but the file that was there before.
make -s -C "$(dirname "$readme")" uninstall BUILD_DIR="$build" >/dev/null
[ "$(cd "$prefix" && find . | sort | tr '\n' ' ')" = ". ./bin ./bin/other " ] ||
  fail "left after uninstall: $(find "$prefix")"
echo "installed tools, manual pages and completion work; uninstall leaves the prefix as it was;" \
  "the README example built with pkg-config and find_package and ran against quarvane-sim"
