#!/usr/bin/env bash
# Sets up a Debian 12 machine for Quarnel, builds it, and runs what was asked:
#   ./dev.sh run     build and start the editor (under Xvfb when there is no display)
#   ./dev.sh test    build and run the whole test suite, then again under AddressSanitizer and
#                    UndefinedBehaviorSanitizer (clang), then each fuzz target, built with that
#                    suite, for a short while from its seed corpus; exits non-zero on any failure
#   ./dev.sh fuzz [seconds]   run each fuzz target for longer (default 300 s each), one after
#                    the other, keeping what they learn in build-fuzz/corpus/
#   ./dev.sh bench   build and run the benchmarks
#   ./dev.sh package build the Debian package quarnel_VERSION_ARCH.deb (Release) in
#                    build-package/, to install with apt install ./build-package/quarnel_*.deb,
#                    and check it with lintian; exits non-zero on any error or warning
# Debian packages that are missing are installed (as root, or through sudo); what is
# installed already is skipped.
set -euo pipefail
cd "$(dirname "$0")"

# The build renders the bitmap icons with rsvg-convert (librsvg2-bin); the tests validate the
# AppStream metadata with appstreamcli.
PACKAGES=(build-essential cmake ninja-build pkg-config qt6-base-dev libgl-dev
          libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
          xvfb xauth python3 libpng-dev zlib1g-dev libstb-dev
          desktop-file-utils shared-mime-info libglib2.0-bin librsvg2-bin appstream)
# The VQ benchmark quantises pictures made from these packaged game textures.
BENCH_PACKAGES=(colobot-common-textures)
# CPack finds the package's library dependencies with dpkg-shlibdeps, and its binaries with file;
# lintian checks the package as Debian would.
PACKAGE_PACKAGES=(dpkg-dev file lintian)

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

FUZZ_TARGETS=(fuzz_archive fuzz_bmp fuzz_codec fuzz_pack fuzz_palette fuzz_png)

build_fuzz() {
  CC=clang CXX=clang++ build build-fuzz -DQUARNEL_FUZZ=ON -DQUARNEL_BUILD_APP=OFF \
    -DQUARNEL_BUILD_BENCH=OFF -DQUARNEL_BUILD_TESTS=OFF -DQUARNEL_BUILD_CLI=OFF
}

# run_fuzz DIR TARGET SECONDS CORPUS: fuzzes with DIR's build of TARGET from CORPUS (which
# it may add to); inputs that fail are written to DIR/findings/. Non-zero when the target
# found something.
run_fuzz() {
  local dir=$1 target=$2 seconds=$3 corpus=$4
  mkdir -p "$dir/findings"
  echo "== $target for ${seconds}s"
  "$dir/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
    -print_final_stats=1 -artifact_prefix="$dir/findings/$target-" "$corpus" \
    2>"$dir/$target.log" || { tail -n 40 "$dir/$target.log"; return 1; }
  grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::peak_rss_mb)' \
    "$dir/$target.log" || true
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
    # The benchmarks are built by ./dev.sh bench; leaving them and debug information out
    # keeps the whole run within ten minutes on a two-core machine.
    build build -DQUARNEL_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Release
    (cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)")

    echo "== the same suite under AddressSanitizer and UndefinedBehaviorSanitizer"
    # Built by clang, which the fuzzers need, so one build serves both; a second compiler
    # also sees what the first lets pass. Unoptimised but for the core (CMakeLists.txt).
    CC=clang CXX=clang++ build build-sanitized -DQUARNEL_FUZZ=ON -DQUARNEL_BUILD_BENCH=OFF \
      -DCMAKE_BUILD_TYPE=Debug
    (cd build-sanitized && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)")

    # The fuzzers start from a scratch copy of the seeds, so the committed corpus stays put.
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    for t in "${FUZZ_TARGETS[@]}"; do
      mkdir -p "$scratch/$t"
      cp fuzz/corpus/"$t"/* "$scratch/$t"/
      run_fuzz build-sanitized "$t" "${FUZZ_SECONDS:-10}" "$scratch/$t"
    done
    ;;
  fuzz)
    install_missing
    build_fuzz
    for t in "${FUZZ_TARGETS[@]}"; do
      mkdir -p "build-fuzz/corpus/$t"
      cp -n fuzz/corpus/"$t"/* "build-fuzz/corpus/$t"/
      run_fuzz build-fuzz "$t" "${2:-300}" "build-fuzz/corpus/$t"
    done
    ;;
  bench)
    PACKAGES+=("${BENCH_PACKAGES[@]}")
    install_missing
    build build-bench -DCMAKE_BUILD_TYPE=Release -DQUARNEL_BUILD_TESTS=OFF
    # Every benchmark program runs, whatever the others' outcome; the status is the last
    # failure's. The view's runs offscreen, as the window's tests do.
    status=0
    build-bench/bench/quarnel_bench "${@:2}" || status=$?
    build-bench/bench/quarnel_formats_bench "${@:2}" || status=$?
    QT_QPA_PLATFORM=offscreen build-bench/bench/quarnel_view_bench "${@:2}" || status=$?
    exit "$status"
    ;;
  package)
    PACKAGES+=("${PACKAGE_PACKAGES[@]}")
    install_missing
    # Configured for /usr, where the package installs, so the editor's fallback to its
    # configured data folder names the same place. Built with the flags a Debian package
    # build uses, hardening included (fortified functions, stack protector, read-only
    # relocations bound at start), given on every run since CMake reads CXXFLAGS and
    # LDFLAGS from the environment only when a build folder is first made.
    export DEB_BUILD_MAINT_OPTIONS=hardening=+all
    build build-package -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
      -DQUARNEL_BUILD_TESTS=OFF -DQUARNEL_BUILD_BENCH=OFF \
      -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
      -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
    rm -f build-package/quarnel_*.deb
    (cd build-package && cpack -G DEB)
    deb=$(ls build-package/quarnel_*.deb)
    echo "== lintian $deb"
    lintian --fail-on error,warning "$deb"
    echo "Built $deb; install it (as root) with: apt install ./$deb"
    ;;
  *)
    echo "usage: $0 run|test|bench|fuzz [seconds]|package" >&2
    exit 2
    ;;
esac
