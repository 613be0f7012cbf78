#!/usr/bin/env bash
# Installs the build into a scratch prefix and runs the installed `talrec demo` on the virtual
# device, with nothing from the build folder on its way: no TALREC_SYSTEM_DIR, no library path,
# so the program must find the module in ../lib and the module the audio-writer component
# beside itself. Fails when a file is missing, a run path is absolute, the systemd user units
# do not start the installed program or systemd finds fault with them, or the demo fails.
#   install_test.sh CMAKE BUILD_DIR
set -euo pipefail
cmake=$1
build=$2
scratch=$(mktemp -d "${TMPDIR:-/tmp}/talrec-install-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
prefix="$scratch/prefix"

"$cmake" --install "$build" --prefix "$prefix" >/dev/null
status=0
for f in bin/talrec lib/TalRecorderForDvRecUp.ocx lib/libtalrec_platform.so \
         lib/libtalrec_convert.so lib/wmaudsdk.so; do
  if [ ! -f "$prefix/$f" ]; then
    echo "install_test: $f was not installed" >&2
    status=1
    continue
  fi
  # Run paths name only $ORIGIN-relative folders (an empty entry would be the current folder).
  paths=$(readelf -d "$prefix/$f" | sed -n 's/.*(R[UN]*PATH).*\[\(.*\)\]/\1/p')
  entries=()
  [ -z "$paths" ] || IFS=: read -ra entries <<<"$paths:"  # the colon keeps a trailing empty one
  for p in "${entries[@]}"; do
    case "$p" in
      '$ORIGIN' | '$ORIGIN/'*) ;;
      *) echo "install_test: $f has the run path '$p'" >&2; status=1 ;;
    esac
  done
done
[ "$status" -eq 0 ] || exit 1

units="$prefix/lib/systemd/user"
if ! said=$(cd "$units" && grep -qxF "ExecStart=$prefix/bin/talrec serve" talrec.service &&
            XDG_RUNTIME_DIR="$scratch" systemd-analyze --user verify talrec.socket \
              talrec.service 2>&1) || [ -n "$said" ]; then
  echo "install_test: the systemd units do not run $prefix/bin/talrec serve or fail verify: $said" >&2
  exit 1
fi

mkdir -p "$scratch/data"
log="$scratch/demo.log"
if ! env -u TALREC_SYSTEM_DIR -u LD_LIBRARY_PATH TALREC_REGISTRY="$scratch/registry" \
     XDG_DATA_HOME="$scratch/data" TALREC_WAVE_DEVICE=virtual \
     "$prefix/bin/talrec" demo </dev/null >"$log" 2>&1; then
  echo "install_test: the installed talrec demo failed:" >&2
  cat "$log" >&2
  exit 1
fi
for f in demo.wav demo.wma; do
  if [ ! -s "$scratch/data/quorvex/$f" ]; then
    echo "install_test: the demo wrote no $f" >&2
    cat "$log" >&2
    exit 1
  fi
done
if ! grep -qF "$prefix/lib/TalRecorderForDvRecUp.ocx" "$scratch/registry"; then
  echo "install_test: the registry does not name the installed module" >&2
  exit 1
fi
echo "install_test: installed into $prefix and ran talrec demo"
