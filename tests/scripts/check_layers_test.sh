#!/usr/bin/env bash
# Feeds scripts/check-layers.sh a small tree that keeps the rules, then that tree with one
# breaking include at a time: the first must pass, each of the others fail naming its file.
#   tests/scripts/check_layers_test.sh
set -euo pipefail
check=$(cd "$(dirname "$0")/../.." && pwd)/scripts/check-layers.sh
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
cd "$tree"
git init -q .

put() { mkdir -p "$(dirname "$1")"; printf '#include %s\n' "$2" >"$1"; git add "$1"; }
put framework/ok.cpp '"platform/windef.h"'
put framework/ok2.cpp '"platform/ext/comobject.h"'
put framework/ok3.cpp '<string>'
put control/ok.cpp '"audio/Wave.h"'
put host/ok.cpp '"platform/ext/loopserver.h"'
put host/ok2.cpp '"storage/DataFolder.h"'
put host/ok3.cpp '"control/StateStrings.h"'
put convert/ok.cpp '"wmaudsdk/wmaudsdk.h"'
put platform/kernel/ok.cpp '<boost/asio.hpp>'
put tests/ok.cpp '"control/TalRecorderCtrl.h"'
"$check" . >/dev/null || { echo "a tree that keeps the rules was refused"; exit 1; }

failures=0
while read -r file include; do
  put "$file" "$include"
  if out=$("$check" . 2>&1) || [[ $out != *"$file:1: "* ]]; then
    echo "not caught: $file including $include"; failures=$((failures + 1))
  fi
  git rm -q -f "$file"
done <<'CASES'
framework/bad.cpp "platform/ext/spool.h"
framework/bad.cpp <boost/shared_ptr.hpp>
audio/bad.cpp "control/TalRecorderCtrl.h"
audio/bad.cpp "host/Bridge.h"
platform/user/bad.cpp "framework/afx.h"
host/bad.cpp "control/Interfaces.h"
host/bad.cpp "platform/winmm/wave_stream.h"
storage/bad.cpp "convert/WavReader.h"
control/bad.cpp <alsa/asoundlib.h>
wmaudsdk/bad.cpp "convert/WavReader.h"
CASES
[ "$failures" -eq 0 ] && echo "check-layers caught every breaking include"
