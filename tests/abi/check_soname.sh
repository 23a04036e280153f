#!/usr/bin/env bash
set -euo pipefail
lib=$1
soname=$(objdump -p "$lib" | awk '/SONAME/ {print $2}')
[ "$soname" = "libqvcliapi.so.1" ] || { echo "SONAME is '$soname'"; exit 1; }
echo "SONAME $soname"
