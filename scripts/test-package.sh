#!/usr/bin/env bash
# The Debian package on this machine, as root (CI's machine): built by scripts/package.sh twice
# (the project's version, then a higher one), checked by lintian, installed with dpkg -i and
# apt-get -f install, used as root and as a user it creates (with an empty environment), upgraded
# under that user's registration, removed and purged. Nothing of the package may remain under
# /usr, /etc, /lib or in the systemd helper's records; the user's recordings, registry and
# pairings must. The user and anything still installed are removed on every exit.
#   scripts/test-package.sh [--build-dir DIR]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
user=talrec-pkgtest
[ "$(id -u)" -eq 0 ] || { echo "test-package.sh: run it as root" >&2; exit 2; }
if dpkg-query -W -f='${Status}' talrec 2>/dev/null | grep -q installed || id "$user" >/dev/null 2>&1; then
  echo "test-package.sh: talrec is installed or the user $user exists; the test leaves both alone" >&2
  exit 1
fi
scratch=$(mktemp -d "${TMPDIR:-/tmp}/talrec-package-XXXXXX")
cleanup() {
  dpkg --purge talrec >/dev/null 2>&1 || true
  userdel -r "$user" >/dev/null 2>&1 || true
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "test-package.sh: $*" >&2; exit 1; }
leftovers() { find /usr /etc /lib /var/lib/systemd -path '*talrec*' 2>/dev/null | sort; }
# The user's command from /usr/bin, nothing in its environment but what runuser sets.
runuser=$(command -v runuser)
as_user() { env -i "$runuser" -u "$user" -- /usr/bin/talrec "$@"; }
install_deb() {
  dpkg -i "$1" >/dev/null 2>&1 || true  # missing dependencies are left to apt-get
  apt-get -o DPkg::Lock::Timeout=600 -f install -y -qq >/dev/null
  dpkg-query -W -f='${Status} ${Version}' talrec | grep -qx "install ok installed $2" ||
    fail "$1 did not install"
}

version=$(sed -n 's/^project(talrec VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
deb=$("$top/scripts/package.sh" "$@" --output "$scratch" | tail -n 1)
next=$("$top/scripts/package.sh" "$@" --output "$scratch" --version "$version+1" | tail -n 1)
said=$(lintian --fail-on error,warning "$deb" 2>&1) || fail "lintian: $said"
before=$(leftovers)

install_deb "$deb" "$version"
[ -L /etc/systemd/user/sockets.target.wants/talrec.socket ] || fail "talrec.socket is not enabled"
said=$(cd /usr/lib/systemd/user && XDG_RUNTIME_DIR="$scratch" systemd-analyze --user verify \
         talrec.socket talrec.service 2>&1) || fail "systemd-analyze: $said"
[ -z "$said" ] || fail "systemd-analyze: $said"
mkdir -p "$scratch/root"
env -i HOME="$scratch/root" /usr/bin/talrec demo >"$scratch/root.log" 2>&1 ||
  fail "talrec demo as root: $(cat "$scratch/root.log")"

useradd -m "$user"
home=$(getent passwd "$user" | cut -d: -f6)
# The first command registers the control, once; the next says nothing of it.
as_user pair --list >/dev/null 2>"$scratch/first.log" || fail "pair --list: $(cat "$scratch/first.log")"
grep -qF "first use: registered the control /usr/lib/talrec/TalRecorderForDvRecUp.ocx" \
  "$scratch/first.log" || fail "the first command did not register: $(cat "$scratch/first.log")"
[ -z "$(as_user pair --list 2>&1 >/dev/null)" ] || fail "the second command said more"

# Upgraded under the user's registration, which still loads: the demo registers nothing.
install_deb "$next" "$version+1"
as_user demo >"$scratch/user.log" 2>&1 || fail "talrec demo as $user: $(cat "$scratch/user.log")"
! grep -qi "regist" "$scratch/user.log" || fail "the upgrade lost the registration"
as_user pair --allow https://example.org >/dev/null 2>&1
# The browsers find the host: the system manifests, and the user's own from install-browser-host.
for m in /etc/chromium/native-messaging-hosts /etc/opt/chrome/native-messaging-hosts \
         /usr/lib/mozilla/native-messaging-hosts; do
  grep -qF '"path": "/usr/bin/talrec"' "$m/com.talrec.recorder.json" || fail "no host manifest in $m"
done
[ -f /usr/share/talrec/extension/manifest.json ] || fail "no extension in /usr/share/talrec"
as_user install-browser-host --browser chromium >/dev/null 2>"$scratch/browser.log" ||
  fail "install-browser-host: $(cat "$scratch/browser.log")"
grep -qF '"path": "/usr/bin/talrec"' "$home/.config/chromium/NativeMessagingHosts/com.talrec.recorder.json" ||
  fail "install-browser-host wrote no manifest for the user"
# As the browser starts it for the extension: a paired origin is served, another is refused.
native() {
  perl -e 'print pack("L", length $ARGV[0]), $ARGV[0]' "{\"talrec\":\"open\",\"origin\":\"$1\"}" |
    env -i "$runuser" -u "$user" -- /usr/bin/talrec \
      chrome-extension://nabnkdmdefeedmjlhnopnpkjibphleki/ 2>/dev/null | tail -c +5 | head -c 120
}
said=$(native https://example.org || true)
[[ $said == *'"talrec":"ready"'* ]] || fail "the native host did not serve a paired origin: $said"
said=$(native https://example.net || true)  # a refusal ends the host with status 1
[[ $said == *'"reason":"not-paired"'* ]] || fail "the native host served an unpaired origin: $said"

dpkg --remove talrec >/dev/null
[ ! -L /etc/systemd/user/sockets.target.wants/talrec.socket ] || fail "remove left talrec.socket enabled"
dpkg --purge talrec >/dev/null
[ "$(leftovers)" = "$before" ] || fail "the purge left: $(comm -13 <(echo "$before") <(leftovers))"
for f in .local/share/quorvex/demo.wav .local/share/quorvex/demo.wma .config/talrec/registry \
         .config/talrec/pairings.json; do
  [ -s "$home/$f" ] || fail "the purge took the user's $f"
done
echo "test-package.sh: $(basename "$deb") and $(basename "$next") installed, used, upgraded and purged"
