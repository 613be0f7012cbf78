#!/usr/bin/env bash
# Installs the 32-bit Windows cross toolchain and Wine (skipping what is present), then
# configures build-win32/ from the top-level CMakeLists with
# cmake/toolchain-i686-w64-mingw32.cmake and builds the control module
# build-win32/TalRecorderForDvRecUp.ocx, the test container build-win32/bin/talrec-container.exe
# and the test-built audio writer build-win32/bin/wmaudsdk.dll.
#   scripts/build-windows.sh [--build-dir DIR]
#
# Packages: the cross compiler and widl; Wine with its 32-bit half (the i386 architecture is
# added when missing); GStreamer's 32-bit "good" plugins, which Wine's quartz needs to parse a
# WAV file for MCI "MPEGVideo" (without them MCI_OPEN fails with MCIERR_INTERNAL); the locale
# sources, from which scripts/test-windows.sh compiles the Korean locale Wine runs in.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build_dir="$top/build-win32"
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build_dir=$(realpath -m "$2"); shift 2 ;;
    *) echo "build-windows.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

packages=(
  cmake ninja-build locales
  g++-mingw-w64-i686 mingw-w64-tools
  wine wine32:i386 gstreamer1.0-plugins-good:i386
)

sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"

# Another apt or dpkg may hold the locks (a shared machine): wait for them rather than fail.
apt_retry() {
  local attempt
  for attempt in $(seq 1 30); do
    if $sudo_cmd "$@"; then return 0; fi
    echo "build-windows: '$*' failed (attempt $attempt), retrying in 10 s" >&2
    sleep 10
  done
  return 1
}

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

need_update=no
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "build-windows: adding the i386 architecture"
  apt_retry dpkg --add-architecture i386
  need_update=yes
fi
missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "build-windows: installing ${missing[*]}"
  need_update=yes
fi
if [ "$need_update" = yes ]; then
  apt_retry apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
  apt_retry env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    -o DPkg::Lock::Timeout=300 "${missing[@]}"
fi

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -G Ninja -S "$top" -B "$build_dir" \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-i686-w64-mingw32.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DTALREC_WERROR=ON "${launcher[@]}" >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
