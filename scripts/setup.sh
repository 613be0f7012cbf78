#!/usr/bin/env bash
# Installs the Debian packages that talrec's build and tests need (skipping those present),
# then configures and builds. Idempotent and non-interactive.
#   scripts/setup.sh [--build-dir DIR] [--sanitize address,undefined|thread] [--fuzz]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build_dir="$top/build"
sanitize=""
fuzz=OFF
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build_dir=$2; shift 2 ;;
    --sanitize) sanitize=$2; shift 2 ;;
    --fuzz) fuzz=ON; shift ;;
    *) echo "setup.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

packages=(
  g++ cmake ninja-build pkg-config git
  libboost-dev libasound2-dev libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
  nlohmann-json3-dev libgtest-dev libgmock-dev libbenchmark-dev
  ffmpeg sox alsa-utils locales
  clang libclang-rt-14-dev
  chromium nodejs npm
)
installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed" && return 0
  # Node.js from another source brings its own npm (and conflicts with Debian's).
  [ "$1" = npm ] && command -v npm >/dev/null 2>&1
}
missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake_args=(-G Ninja -S "$top" -B "$build_dir")
if [ -n "$sanitize" ]; then
  # Sanitizer builds run the tests; the benchmarks are left to the plain build.
  cmake_args+=(-DTALREC_SANITIZE="$sanitize" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALREC_BENCHMARKS=OFF)
fi
if [ "$fuzz" = ON ]; then
  cmake_args+=(-DTALREC_FUZZ=ON -DTALREC_TESTS=OFF -DTALREC_BENCHMARKS=OFF -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)
fi
# The browser test's one npm package (playwright-core, no browser download), as locked;
# again only when the lock file is newer than what was installed.
browser="$top/tests/browser"
if [ "$fuzz" = OFF ] && [ ! "$browser/node_modules/.package-lock.json" -nt "$browser/package-lock.json" ]; then
  (cd "$browser" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
fi

cmake "${cmake_args[@]}" >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
