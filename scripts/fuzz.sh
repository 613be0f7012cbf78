#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer + UndefinedBehaviorSanitizer) and
# runs every one, build-fuzz/bin/fuzz_<name>, for the given time on a scratch copy of its seed
# corpus tests/fuzz/corpus/<name> (with tests/fuzz/<name>.dict as its dictionary if there is
# one). Fails when a target finds anything; the input that broke it is kept in
# build-fuzz/fuzz-findings/<name>/.
#   scripts/fuzz.sh [--seconds N] [--build-dir DIR]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build_dir="$top/build-fuzz"
seconds=60
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --build-dir) build_dir=$2; shift 2 ;;
    *) echo "fuzz.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

# The whole tree is built instrumented, so that the sanitizers see into the code under test.
"$top/scripts/setup.sh" --build-dir "$build_dir" --fuzz --sanitize address,undefined --werror

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

shopt -s nullglob
targets=("$build_dir"/bin/fuzz_*)
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no fuzz targets in $build_dir/bin" >&2
  exit 1
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0
for target in "${targets[@]}"; do
  name=$(basename "$target")
  name=${name#fuzz_}
  corpus="$scratch/$name"
  mkdir -p "$corpus"
  if [ -d "$top/tests/fuzz/corpus/$name" ]; then
    cp -R "$top/tests/fuzz/corpus/$name/." "$corpus/"
  fi
  findings="$build_dir/fuzz-findings/$name"
  mkdir -p "$findings"
  args=(-max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$findings/")
  [ -f "$top/tests/fuzz/$name.dict" ] && args+=(-dict="$top/tests/fuzz/$name.dict")
  log="$scratch/$name.log"
  echo "== fuzz_$name for ${seconds}s =="
  set +e
  "$target" "${args[@]}" "$corpus" >"$log" 2>&1
  status=$?
  set -e
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  echo "fuzz_$name: ${executions:-unknown} executions, exit status $status"
  if [ "$status" -ne 0 ]; then
    tail -n 60 "$log"
    echo "fuzz_$name: FINDING, input kept in $findings/" >&2
    failed=1
  fi
done
exit "$failed"
