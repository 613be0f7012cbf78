#!/usr/bin/env bash
# Sets up (packages, configure, build) and runs `talrec demo`: records three seconds, converts
# the take to WMA and plays it back.
#   scripts/demo.sh [--build-dir DIR]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build_dir="$top/build"
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build_dir=$2; shift 2 ;;
    *) echo "demo.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
"$top/scripts/setup.sh" --build-dir "$build_dir" --product
exec "$build_dir/bin/talrec" demo
