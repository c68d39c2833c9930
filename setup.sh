#!/usr/bin/env bash
# Set-up for a fresh Debian 12 machine.
#   ./setup.sh run    install what is needed, build, start the application
#   ./setup.sh test   install what is needed, build, run the whole test suite
set -euo pipefail
cd "$(dirname "$0")"

mode=${1:-}
case "$mode" in run|test) ;; *) echo "usage: $0 run|test" >&2; exit 2 ;; esac

packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev sqlite3 libplist-dev nlohmann-json3-dev libfmt-dev libicu-dev uuid-dev zlib1g-dev
  qt6-base-dev fonts-dejavu-core
  libsystemd-dev libspeechd-dev speech-dispatcher speech-dispatcher-espeak-ng espeak-ng
  dbus python3
  clang-format clang-tidy
)

install_packages() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

build() {
  cmake --preset "${PRESET:-default}" >/dev/null
  cmake --build --preset "${PRESET:-default}" -j "$(nproc)"
}

install_packages
build

if [ "$mode" = test ]; then
  ctest --preset "${PRESET:-default}"
else
  if [ -x build/default/bin/Tickwell ]; then
    exec build/default/bin/Tickwell
  fi
  echo "Built the platform libraries and libTickwell_macOS.so; the windowed application does not exist yet."
fi
