#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and runs with,
# asking apt only for those that are missing.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config python3 make
  libtirpc-dev rpcsvc-proto libarchive-dev
  libsystemd-dev libunwind-dev dbus python3-dbusmock
  libutfcpp-dev libcli11-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  groff-base
  libcpp-httplib-dev prometheus
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
