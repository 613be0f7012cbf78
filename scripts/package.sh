#!/usr/bin/env bash
# Builds the Debian package talrec_VERSION_ARCH.deb from a Release build: /usr/bin/talrec; the
# control module, its libraries and wmaudsdk.so in /usr/lib/talrec/ (found by the program's
# relative run path); the systemd user units in /usr/lib/systemd/user/; the browsers'
# native-messaging host manifests in their system folders and the extension in
# /usr/share/talrec/extension/; the manual page talrec(1)
# made from the commands' own help; the copyright and changelog; Depends from dpkg-shlibdeps.
#   scripts/package.sh [--build-dir DIR] [--version VERSION] [--output DIR]
# --build-dir: the Release build folder, made or reused (default build-release, as CI's);
# --version: the package's version (default the project's version in CMakeLists.txt);
# --output: where the .deb goes (default the source tree's top). Prints the package's path.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build_dir="$top/build-release"
version=""
output="$top"
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build_dir=$2; shift 2 ;;
    --version) version=$2; shift 2 ;;
    --output) output=$2; shift 2 ;;
    *) echo "package.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
[ -n "$version" ] ||
  version=$(sed -n 's/^project(talrec VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
[ -n "$version" ] || { echo "package.sh: no version in CMakeLists.txt" >&2; exit 1; }

# The product's packages and a Release build, then the package's layout: the libraries in
# lib/talrec, and each user's first command registers the control. Only the install rules and
# one source file differ from CI's Release build.
# shellcheck source=scripts/packages.sh
. "$top/scripts/packages.sh"
install_packages package dpkg-dev binutils
"$top/scripts/setup.sh" --product --build-dir "$build_dir" --build-type Release --werror
cmake -S "$top" -B "$build_dir" -DTALREC_TESTS=OFF -DTALREC_BENCHMARKS=OFF \
  -DTALREC_INSTALL_LIBDIR=lib/talrec -DTALREC_REGISTER_ON_FIRST_USE=ON >/dev/null
cmake --build "$build_dir" -j "$(nproc)" >/dev/null

arch=$(dpkg --print-architecture)
stage="$build_dir/deb/talrec"
rm -rf "$build_dir/deb"
mkdir -p "$stage/DEBIAN"
DESTDIR="$stage" cmake --install "$build_dir" --prefix /usr >/dev/null
lib="$stage/usr/lib/talrec"
for f in usr/bin/talrec usr/lib/talrec/TalRecorderForDvRecUp.ocx usr/lib/talrec/wmaudsdk.so \
         usr/lib/systemd/user/talrec.socket usr/lib/systemd/user/talrec.service; do
  [ -f "$stage/$f" ] || { echo "package.sh: the install made no /$f" >&2; exit 1; }
done
strip --strip-unneeded --remove-section=.comment --remove-section=.note "$stage/usr/bin/talrec" \
  "$lib"/*
chmod 0644 "$lib"/*

# The browsers' native-messaging host manifests, naming /usr/bin/talrec, in the folders each
# browser reads for all users; written by the program itself, in a scratch home so that the
# builder's own registry and browsers are left alone.
scratch_home="$build_dir/deb/home"
mkdir -p "$scratch_home"
for pair in chromium:etc/chromium/native-messaging-hosts chrome:etc/opt/chrome/native-messaging-hosts \
            firefox:usr/lib/mozilla/native-messaging-hosts; do
  mkdir -p "$stage/${pair#*:}"
  env -i HOME="$scratch_home" "$stage/usr/bin/talrec" install-browser-host --print \
    --browser "${pair%%:*}" --exec /usr/bin/talrec >"$stage/${pair#*:}/com.talrec.recorder.json" \
    2>/dev/null
  chmod 0644 "$stage/${pair#*:}/com.talrec.recorder.json"
done
[ -f "$stage/usr/share/talrec/extension/manifest.json" ] ||
  { echo "package.sh: the install made no browser extension" >&2; exit 1; }

# The date of the last commit, so that the same sources make the same package.
date=$(git -C "$top" log -1 --format=%cd --date=format:'%a, %d %b %Y %H:%M:%S %z' 2>/dev/null ||
       date -R)
doc="$stage/usr/share/doc/talrec"
man="$stage/usr/share/man/man1"
mkdir -p "$doc" "$man"
install -m 0644 "$top/packaging/deb/copyright" "$doc/copyright"
# Chrome's manifest folder lies in /etc/opt, which Debian keeps for add-on packages: said so to lintian.
mkdir -p "$stage/usr/share/lintian/overrides"
install -m 0644 "$top/packaging/deb/lintian-overrides" "$stage/usr/share/lintian/overrides/talrec"
maintainer=$(sed -n 's/^Maintainer: //p' "$top/packaging/deb/control.in")
printf 'talrec (%s) unstable; urgency=medium\n\n  * talrec %s.\n\n -- %s  %s\n' \
  "$version" "$version" "$maintainer" "$date" | gzip -9n >"$doc/changelog.gz"
"$top/scripts/manpage.sh" "$stage/usr/bin/talrec" "$version" "$(date -d "$date" +%Y-%m-%d)" |
  gzip -9n >"$man/talrec.1.gz"
chmod 0644 "$doc/changelog.gz" "$man/talrec.1.gz"
install -m 0755 "$top/packaging/deb/postinst" "$top/packaging/deb/postrm" "$stage/DEBIAN/"

# Depends: the shared libraries the binaries need, from their packages' symbols files; the
# libraries in lib/talrec are the package's own. deb-systemd-helper runs the maintainer scripts.
# dpkg-shlibdeps reads debian/control in its working folder, which may be empty.
mkdir -p "$build_dir/deb/debian"
touch "$build_dir/deb/debian/control"
# Its one complaint, that the private libraries' names carry no version, is left out.
shlibs=$(cd "$build_dir/deb" && dpkg-shlibdeps -O -l"$lib" "$stage/usr/bin/talrec" "$lib"/* \
           2> >(grep -v "can't extract name and version from library name" >&2) |
         sed -n 's/^shlibs:Depends=//p')
[ -n "$shlibs" ] || { echo "package.sh: dpkg-shlibdeps found no dependencies" >&2; exit 1; }
size=$(du -sk --exclude=DEBIAN "$stage" | cut -f1)
sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e "s/@SIZE@/$size/" \
  -e "s/@DEPENDS@/$shlibs, init-system-helpers (>= 1.58)/" \
  "$top/packaging/deb/control.in" >"$stage/DEBIAN/control"
(cd "$stage" && find usr -type f -print0 | sort -z | xargs -0 md5sum >DEBIAN/md5sums)
# Files the install puts under /etc are the administrator's to change: conffiles.
if [ -d "$stage/etc" ]; then
  (cd "$stage" && find etc -type f | sort | sed 's|^|/|' >DEBIAN/conffiles)
fi
find "$stage/DEBIAN" -type f ! -name "post*" -exec chmod 0644 {} +

mkdir -p "$output"
deb="$(cd "$output" && pwd)/talrec_${version}_${arch}.deb"
SOURCE_DATE_EPOCH=$(date -d "$date" +%s) dpkg-deb --root-owner-group -Zxz --build "$stage" \
  "$deb" >/dev/null
echo "$deb"
