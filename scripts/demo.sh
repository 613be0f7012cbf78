#!/usr/bin/env bash
# Sets up (packages, configure, build) and runs `talrec demo`: records three seconds, converts
# the take to WMA and plays it back.
#   scripts/demo.sh [--build-dir DIR]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build_dir="$top/build"
if [ "${1:-}" = "--build-dir" ] && [ $# -ge 2 ]; then build_dir=$2; fi
"$top/scripts/setup.sh" --build-dir "$build_dir"
exec "$build_dir/bin/talrec" demo
