#!/usr/bin/env bash
# Sets up (packages, configure, build) and runs every test. It builds in the same folder with
# the same flags as scripts/demo.sh, so after the demo only the tests' own sources compile;
# --werror (CI's build stages) makes warnings errors.
#   scripts/test.sh [--build-dir DIR] [--build-type TYPE] [--sanitize address,undefined|thread]
#                   [--werror] [ctest arguments...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build_dir="$top/build"
setup_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build_dir=$2; setup_args+=(--build-dir "$2"); shift 2 ;;
    --build-type) setup_args+=(--build-type "$2"); shift 2 ;;
    --sanitize) setup_args+=(--sanitize "$2"); shift 2 ;;
    --werror) setup_args+=(--werror); shift ;;
    *) break ;;
  esac
done
"$top/scripts/setup.sh" "${setup_args[@]}"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
ctest --test-dir "$build_dir" --output-on-failure -j "$(nproc)" --timeout 600 "$@"
