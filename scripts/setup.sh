#!/usr/bin/env bash
# Installs the Debian packages that talrec's build and tests need (skipping those present),
# then configures and builds. Idempotent and non-interactive. Run it as root or as a user with
# sudo rights: missing packages are installed with sudo.
#   scripts/setup.sh [--build-dir DIR] [--build-type TYPE] [--sanitize address,undefined|thread]
#                    [--werror] [--fuzz] [--product]
# --werror makes compiler warnings errors (TALREC_WERROR; kept in the build folder once set);
# --fuzz builds the libFuzzer targets with clang, and only then installs clang; --product
# installs only what the product needs and builds only the product (the talrec command, the
# control module and the audio-writer component), as scripts/demo.sh does: a later build of
# the tests in the same folder compiles only the tests' own sources.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build_dir="$top/build"
build_type=""
sanitize=""
werror=no
fuzz=no
product=no
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build_dir=$2; shift 2 ;;
    --build-type) build_type=$2; shift 2 ;;
    --sanitize) sanitize=$2; shift 2 ;;
    --werror) werror=yes; shift ;;
    --fuzz) fuzz=yes; shift ;;
    --product) product=yes; shift ;;
    *) echo "setup.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

# shellcheck source=scripts/packages.sh
. "$top/scripts/packages.sh"
packages=(
  g++ cmake ninja-build pkg-config git
  libboost-dev libasound2-dev libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
  nlohmann-json3-dev libgtest-dev libgmock-dev
)
if [ "$product" = no ]; then
  # What the tests run beside the product: reference tools, a browser and its driver's Node.js,
  # systemd's socket activation and unit checks, openssl for the browser test's certificate,
  # ss and pgrep for its look at talrec's sockets and processes, and the Debian package's
  # tools and checker.
  packages+=(ffmpeg sox alsa-utils locales chromium nodejs systemd openssl iproute2 procps
    dpkg-dev lintian)
  # Node.js from another source brings its own npm (and conflicts with Debian's).
  command -v npm >/dev/null 2>&1 || packages+=(npm)
fi
if [ "$fuzz" = yes ]; then
  packages+=(clang libclang-rt-14-dev)
fi
install_packages setup "${packages[@]}"

cmake_args=(-G Ninja -S "$top" -B "$build_dir")
if [ -n "$build_type" ]; then
  cmake_args+=(-DCMAKE_BUILD_TYPE="$build_type")
fi
if [ "$werror" = yes ]; then
  cmake_args+=(-DTALREC_WERROR=ON)
fi
if [ -n "$sanitize" ]; then
  # Sanitizer builds run the tests; the benchmarks are left to the plain build.
  cmake_args+=(-DTALREC_SANITIZE="$sanitize" -DTALREC_BENCHMARKS=OFF)
  [ -n "$build_type" ] || cmake_args+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
fi
if [ "$fuzz" = yes ]; then
  cmake_args+=(-DTALREC_FUZZ=ON -DTALREC_TESTS=OFF -DTALREC_BENCHMARKS=OFF
               -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)
fi
# The browser test's one npm package (playwright-core, no browser download), as locked;
# again only when the lock file is newer than what was installed.
browser="$top/tests/browser"
if [ "$fuzz" = no ] && [ "$product" = no ] && [ ! "$browser/node_modules/.package-lock.json" -nt "$browser/package-lock.json" ]; then
  (cd "$browser" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
fi

cmake "${cmake_args[@]}" >/dev/null
if [ "$product" = yes ]; then
  cmake --build "$build_dir" -j "$(nproc)" --target talrec
else
  cmake --build "$build_dir" -j "$(nproc)"
fi
