#!/usr/bin/env bash
# Checks that every tracked C++ source is formatted as .clang-format says (clang-format
# --dry-run -Werror) and names the files that are not; installs clang-format when it is
# missing. Exit 1 when a file needs formatting. To format a file: clang-format -i FILE.
#   scripts/check-format.sh
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
if ! command -v clang-format >/dev/null; then
  # shellcheck source=scripts/packages.sh
  . "$top/scripts/packages.sh"
  install_packages check-format clang-format
fi

mapfile -t files < <(git ls-files -- '*.h' '*.hpp' '*.cpp' '*.cc' '*.c')
unformatted=()
for f in "${files[@]}"; do
  clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || unformatted+=("$f")
done
if [ ${#unformatted[@]} -gt 0 ]; then
  printf '%s\n' "${unformatted[@]}"
  echo "check-format: ${#unformatted[@]} of ${#files[@]} files need clang-format" >&2
  exit 1
fi
echo "check-format: all ${#files[@]} files are formatted"
