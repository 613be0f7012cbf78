#!/usr/bin/env bash
# Installs the 32-bit Windows cross toolchain and Wine (skipping what is present), then
# cross-builds FFmpeg for the audio writer (below), configures build-win32/ from the top-level
# CMakeLists with cmake/toolchain-i686-w64-mingw32.cmake and builds the control module
# build-win32/TalRecorderForDvRecUp.ocx, the audio writer build-win32/wmaudsdk.dll beside it, the
# installer build-win32/talrec-setup.exe, the test container build-win32/bin/talrec-container.exe
# and the test-built audio writer build-win32/bin/wmaudsdk.dll.
#   scripts/build-windows.sh [--build-dir DIR]
#
# FFmpeg is Debian's own source package of the version Debian ships (apt-get source, which checks
# it against the archive's signed index; a deb-src entry for the archive the machine already uses
# is added when there is none), configured with only what the writer needs, static, without
# assembler or autodetected libraries. Each build is kept by version and configuration in
# ${XDG_CACHE_HOME:-~/.cache}/talrec/ffmpeg/, outside the source tree, so a clean clone on the
# same machine reuses it.
#
# Packages: the cross compiler and widl; Wine with its 32-bit half (the i386 architecture is
# added when missing); GStreamer's 32-bit "good" plugins, which Wine's quartz needs to parse a
# WAV file for MCI "MPEGVideo" (without them MCI_OPEN fails with MCIERR_INTERNAL); the locale
# sources, from which scripts/test-windows.sh compiles the Korean locale Wine runs in; dpkg-dev,
# make and pkg-config for FFmpeg; NSIS for the installer; ffmpeg, whose ffprobe
# scripts/test-windows.sh reads the converted files with.
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
  dpkg-dev make pkg-config nsis ffmpeg
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
ffmpeg_cc=i686-w64-mingw32-gcc-posix
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  ffmpeg_cc="ccache $ffmpeg_cc"
fi

# The writer's FFmpeg: the wmav2 encoder, the ASF muxer (which in FFmpeg 5.1 links against the
# ASF demuxer's tag tables, so the demuxer comes too), the file protocol and swresample.
ffmpeg_options=(
  --enable-cross-compile --cross-prefix=i686-w64-mingw32- --arch=x86 --target-os=mingw32
  --enable-static --disable-shared --disable-asm --disable-autodetect --disable-everything
  --disable-programs --disable-doc --disable-debug --disable-network --disable-pthreads
  --disable-w32threads --disable-avdevice --disable-avfilter --disable-swscale --disable-postproc
  --enable-encoder=wmav2 --enable-muxer=asf --enable-demuxer=asf --enable-protocol=file
  --enable-swresample
)
if [ -z "$(apt-cache showsrc --only-source ffmpeg 2>/dev/null)" ]; then
  echo "build-windows: adding deb-src entries for the machine's Debian archive"
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      $sudo_cmd tee /etc/apt/sources.list.d/talrec-deb-src.sources >/dev/null
  else
    grep -h '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
      $sudo_cmd tee /etc/apt/sources.list.d/talrec-deb-src.list >/dev/null
  fi
  apt_retry apt-get update -qq
fi
# The version apt-get source fetches, from the name of its .dsc file.
ffmpeg_version=$(apt-get source --print-uris -qq ffmpeg | sed -n "s/.* ffmpeg_\([^ ]*\)\.dsc .*/\1/p")
[ -n "$ffmpeg_version" ] || { echo "build-windows: no source package of ffmpeg" >&2; exit 1; }
key=$(printf '%s\n' "$ffmpeg_version" "$(i686-w64-mingw32-gcc-posix -dumpversion)" \
  "${ffmpeg_options[@]}" | sha256sum | cut -c1-12)
cache="${XDG_CACHE_HOME:-$HOME/.cache}/talrec/ffmpeg"
ffmpeg_prefix="$cache/i686-w64-mingw32-$ffmpeg_version-$key"
if [ -f "$ffmpeg_prefix/.complete" ]; then
  echo "build-windows: FFmpeg $ffmpeg_version from the cache ($ffmpeg_prefix)"
else
  started=$(date +%s)
  echo "build-windows: building FFmpeg $ffmpeg_version for i686-w64-mingw32"
  # One work folder at a fixed path, so that the compiler cache knows the files again.
  work="$cache/work"
  rm -rf "$work" "$ffmpeg_prefix"
  mkdir -p "$work/build"
  # apt downloads as its own user when that user can write the folder.
  [ "$(id -u)" -ne 0 ] || chown _apt "$work"
  (cd "$work" && apt-get source -qq ffmpeg >/dev/null)
  (cd "$work/build" && "$work"/ffmpeg-*/configure --prefix="$ffmpeg_prefix" --cc="$ffmpeg_cc" \
     "${ffmpeg_options[@]}" && make -j "$(nproc)" install) >"$work/build.log" 2>&1 ||
    { tail -n 30 "$work/build.log" >&2; echo "build-windows: the FFmpeg build failed" >&2; exit 1; }
  touch "$ffmpeg_prefix/.complete"
  rm -rf "$work"
  echo "build-windows: FFmpeg built in $(($(date +%s) - started)) s"
fi

cmake -G Ninja -S "$top" -B "$build_dir" \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-i686-w64-mingw32.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DTALREC_WERROR=ON -DTALREC_FFMPEG_PREFIX="$ffmpeg_prefix" \
  "${launcher[@]}" >/dev/null
cmake --build "$build_dir" -j "$(nproc)"
