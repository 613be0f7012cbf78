# Sourced by the set-up scripts: install_packages NAME PACKAGE... installs the Debian packages
# that are missing, as root directly or else through sudo, without questions. sudo resets the
# environment, so DEBIAN_FRONTEND is handed to apt-get on its command line, where sudo keeps it.
# Another apt or dpkg may hold the locks (a shared machine): apt waits for them up to 5 minutes.

install_packages() {
  local who=$1
  shift
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
      missing+=("$p")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  echo "$who: installing ${missing[*]}"
  local as_root=()
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "$who: installing packages needs root, or sudo rights (sudo is not installed)" >&2
      return 1
    fi
    as_root=(sudo)
  fi
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq -o DPkg::Lock::Timeout=300
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
    --no-install-recommends -o DPkg::Lock::Timeout=300 "${missing[@]}"
}
