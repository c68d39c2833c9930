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
  qt6-base-dev fonts-dejavu-core libglib2.0-dev
  libsystemd-dev speech-dispatcher speech-dispatcher-espeak-ng espeak-ng
  dbus python3
  libssl-dev libcurl4-openssl-dev openssl curl clang lld llvm
  xvfb openbox xdotool x11-utils x11-apps desktop-file-utils
  at-spi2-core python3-pyatspi
  gdb binutils
  nodejs
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
  app=build/${PRESET:-default}/bin/Tickwell
  if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec "$app"
  fi
  # No desktop to show the window on: start a virtual X display with a window manager for it.
  display=""
  for n in $(seq 99 199); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }
  done
  echo "No DISPLAY or WAYLAND_DISPLAY set: starting Tickwell under Xvfb on display $display."
  Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  trap 'kill "$wm_pid" "$xvfb_pid" 2>/dev/null || true' EXIT
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done
  DISPLAY="$display" openbox >/dev/null 2>&1 &
  wm_pid=$!
  DISPLAY="$display" "$app"
fi
