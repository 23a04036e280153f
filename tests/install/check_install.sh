#!/usr/bin/env bash
# check_install.sh BUILD_DIR README SIM_EXE EXTRA_FLAGS
set -euo pipefail
build=$1 readme=$2 sim=$3 flags=$4

work=$(mktemp -d)
pid=""
cleanup() {
  if [ -n "$pid" ]; then kill -TERM "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

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
echo "README example built with pkg-config and find_package, and ran against quarvane-sim"
