#!/usr/bin/env bash
# Installs the 32-bit Windows cross toolchain and Wine (skipping what is present), then
# cross-builds FFmpeg for the audio writer (below), configures build-win32/ from the top-level
# CMakeLists with cmake/toolchain-i686-w64-mingw32.cmake and builds the control module
# build-win32/TalRecorderForDvRecUp.ocx, the audio writer build-win32/wmaudsdk.dll and the talrec
# command build-win32/talrec.exe beside it, the installer build-win32/talrec-setup.exe, the test
# container build-win32/bin/talrec-container.exe and the test-built audio writer
# build-win32/bin/wmaudsdk.dll. Where the kernel cannot run
# 32-bit programs (below), the same again for x86_64 with cmake/toolchain-x86_64-w64-mingw32.cmake
# into build-win32/test-x86_64/: a build for the tests only, never shipped.
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
# added when missing), and for the x86_64 test build its 64-bit half and cross compiler;
# GStreamer's "good" plugins of the architecture Wine runs, which Wine's quartz needs to parse a
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

# Another apt or dpkg may hold the locks (a shared machine): wait for them rather than fail,
# up to apt_tries times.
apt_tries=30
apt_retry() {
  local attempt
  for attempt in $(seq 1 "$apt_tries"); do
    if $sudo_cmd "$@"; then return 0; fi
    echo "build-windows: '$*' failed (attempt $attempt), retrying in 10 s" >&2
    sleep 10
  done
  return 1
}

# The lists of one of the machine's archives may not download (a mirror in the middle of a
# sync): apt-get update then fails but keeps the others, and the install goes on with them.
apt_update() {
  apt_tries=3 apt_retry apt-get update -qq ||
    echo "build-windows: going on with the package lists apt has" >&2
}

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

# install_missing PACKAGE...: installs those not installed yet.
install_missing() {
  local p missing=()
  for p in "$@"; do
    installed "$p" || missing+=("$p")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  echo "build-windows: installing ${missing[*]}"
  apt_update
  apt_retry env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    -o DPkg::Lock::Timeout=300 "${missing[@]}"
}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "build-windows: adding the i386 architecture"
  apt_retry dpkg --add-architecture i386
fi
install_missing "${packages[@]}"

# Whether this kernel runs 32-bit programs, and so 32-bit Wine (some virtual machines cannot):
# the 32-bit dynamic loader, which wine32 brings, starts only where it can. Where it cannot,
# the same sources are also built for x86_64 into DIR/test-x86_64/, a test build that is never
# shipped, and scripts/test-windows.sh runs its checks on that build under wine64 (with the
# 64-bit GStreamer plugins its quartz needs). DIR/test-target names the build the tests run.
if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  test_target=i686-w64-mingw32
else
  test_target=x86_64-w64-mingw32
  echo "build-windows: this kernel does not run 32-bit programs: an x86_64 test build too"
  # Arch-qualified: dpkg -s of the bare name is satisfied by the i386 plugins above.
  install_missing g++-mingw-w64-x86-64-posix wine64 \
    "gstreamer1.0-plugins-good:$(dpkg --print-architecture)"
fi

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

# The writer's FFmpeg: the wmav2 encoder, the ASF muxer (which in FFmpeg 5.1 links against the
# ASF demuxer's tag tables, so the demuxer comes too), the file protocol and swresample.
# The target comes with the cross prefix; configure tells 32 from 64 bits by the compiler.
ffmpeg_options=(
  --arch=x86 --target-os=mingw32
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
  apt_update
fi
# The version apt-get source fetches, from the name of its .dsc file.
ffmpeg_version=$(apt-get source --print-uris -qq ffmpeg | sed -n "s/.* ffmpeg_\([^ ]*\)\.dsc .*/\1/p")
[ -n "$ffmpeg_version" ] || { echo "build-windows: no source package of ffmpeg" >&2; exit 1; }
cache="${XDG_CACHE_HOME:-$HOME/.cache}/talrec/ffmpeg"
# One work folder at a fixed path, so that the compiler cache knows the files again; the
# source is fetched at most once a run, whichever targets need it. The builds of one machine
# share it: they take turns (the lock goes with the process, however it ends).
work="$cache/work"
mkdir -p "$cache"
exec 9>>"$cache/.lock"
flock 9
rm -rf "$work"

# ffmpeg_for TRIPLET: FFmpeg for that target, from the cache or built into it, in
# ffmpeg_prefix[TRIPLET].
declare -A ffmpeg_prefix
ffmpeg_for() {
  local triplet=$1 cc="$1-gcc-posix" key started
  local options=(--enable-cross-compile --cross-prefix="$triplet-" "${ffmpeg_options[@]}")
  key=$(printf '%s\n' "$ffmpeg_version" "$($cc -dumpversion)" "${options[@]}" | sha256sum | cut -c1-12)
  local prefix="$cache/$triplet-$ffmpeg_version-$key"
  ffmpeg_prefix[$triplet]=$prefix
  if [ -f "$prefix/.complete" ]; then
    echo "build-windows: FFmpeg $ffmpeg_version for $triplet from the cache ($prefix)"
    return
  fi
  started=$(date +%s)
  echo "build-windows: building FFmpeg $ffmpeg_version for $triplet"
  if [ ! -d "$work/src" ]; then
    mkdir -p "$work/src"
    # apt downloads as its own user when that user can write the folder.
    [ "$(id -u)" -ne 0 ] || chown _apt "$work/src"
    (cd "$work/src" && apt-get source -qq ffmpeg >/dev/null)
  fi
  command -v ccache >/dev/null && cc="ccache $cc"
  rm -rf "$prefix"
  mkdir -p "$work/$triplet"
  (cd "$work/$triplet" && "$work"/src/ffmpeg-*/configure --prefix="$prefix" --cc="$cc" \
     "${options[@]}" && make -j "$(nproc)" install) \
    >"$work/$triplet.log" 2>&1 ||
    { tail -n 30 "$work/$triplet.log" >&2; echo "build-windows: the FFmpeg build failed" >&2; exit 1; }
  touch "$prefix/.complete"
  echo "build-windows: FFmpeg built in $(($(date +%s) - started)) s"
}

targets=(i686-w64-mingw32)
[ "$test_target" = i686-w64-mingw32 ] || targets+=("$test_target")
for target in "${targets[@]}"; do ffmpeg_for "$target"; done
rm -rf "$work"
exec 9>&-

# build_tree TRIPLET DIR: the control, the writers, the installer and the test container for
# that target in DIR.
build_tree() {
  cmake -G Ninja -S "$top" -B "$2" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-$1.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DTALREC_WERROR=ON -DTALREC_FFMPEG_PREFIX="${ffmpeg_prefix[$1]}" \
    "${launcher[@]}" >/dev/null
  cmake --build "$2" -j "$(nproc)"
}

build_tree i686-w64-mingw32 "$build_dir"
if [ "$test_target" = x86_64-w64-mingw32 ]; then
  build_tree "$test_target" "$build_dir/test-x86_64"
else
  rm -rf "$build_dir/test-x86_64"
fi
echo "$test_target" >"$build_dir/test-target"
