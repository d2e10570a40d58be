#!/usr/bin/env bash
# Sets up a Debian 12 machine for Quarnel, builds it, and runs what was asked:
#   ./dev.sh run     build and start the editor (under Xvfb when there is no display)
#   ./dev.sh test    build and run the whole test suite; exits non-zero on any failure
#   ./dev.sh bench   build and run the benchmarks
# Debian packages that are missing are installed (as root, or through sudo); what is
# installed already is skipped.
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(build-essential cmake ninja-build pkg-config qt6-base-dev libgl-dev
          libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
          xvfb xauth python3)

install_missing() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

build() {  # build DIR [cmake options...]
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$(nproc)"
}

cmd=${1:-}
case "$cmd" in
  run)
    install_missing
    build build
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
      exec xvfb-run -a -s "-screen 0 1280x800x24" build/app/quarnel
    fi
    exec build/app/quarnel
    ;;
  test)
    install_missing
    build build
    (cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)")
    ;;
  bench)
    install_missing
    build build-bench -DCMAKE_BUILD_TYPE=Release -DQUARNEL_BUILD_TESTS=OFF -DQUARNEL_BUILD_APP=OFF
    build-bench/bench/quarnel_bench "${@:2}"
    ;;
  *)
    echo "usage: $0 run|test|bench" >&2
    exit 2
    ;;
esac
