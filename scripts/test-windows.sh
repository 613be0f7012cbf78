#!/usr/bin/env bash
# Tests the Windows build under Wine, headless, in a private Wine prefix under the build folder.
# First it checks the shipped i686 files without running them (machine, exports, imports, the
# type library's kind, the installer's and talrec.exe's version). What runs under Wine runs on
# the shipped i686 build under 32-bit Wine where the kernel runs 32-bit programs, and otherwise
# on the x86_64 test build (DIR/test-x86_64, which scripts/build-windows.sh makes there) under
# wine64; the first line says which. Either runs in a prefix of its own architecture, so the
# writer's system folder is system32 and the programs folder "Program Files"; the type library
# is registered under "win32" or "win64". With that build it registers the control with
# regsvr32 and checks its registry entries, runs the JScript files with cscript and the
# container scenarios with the test container, has Debian's Chromium drive `talrec.exe serve`
# through the bridge's demo page (tests/browser/demo_test.mjs with TALREC_WINE=1: record, list,
# play, convert with the build's writer, download, delete; it needs tests/browser/node_modules,
# a copy of the Linux build's), unregisters and checks that the entries are gone, then stops the
# prefix's wineserver. Exit 1 on any failure.
#   scripts/test-windows.sh [--build-dir DIR] [--ocx FILE] [--progid PROGID]
#                           [--script FILE.js|FILE.vbs]... [--scenario FILE]... [--locale NAME]
# Defaults: build-win32/, the tested build's TalRecorderForDvRecUp.ocx, the control's ProgID,
# every tests/windows/scripts/*.js and *.vbs and tests/windows/scenarios/*.scenario, the locale
# ko_KR.UTF-8. JScript files run behind tests/windows/harness.js; VBScript files report by
# themselves.
#
# The system folder of the prefix holds no wmaudsdk.dll, so conversions fail as they must
# without the audio writer; a scenario whose first lines say "# needs: wmaudsdk.dll" runs with
# the test-built one (the tested build's bin/wmaudsdk.dll) copied there, and removed afterwards.
#
# Then the tested build's installer, talrec-setup.exe, in a prefix of its own: "/S" installs and
# registers the control and puts talrec.exe beside it; the container records a take
# (tests/windows/install/convert.scenario) and a JScript converts it and a tone with the
# installed writer (convert.js); ffprobe reads each WMA as wmav2, 22050 Hz, stereo, as long as
# its WAV; the Linux writer's conversion of the tone (talrec convert of the Linux build,
# --linux-build DIR, default build/) decodes to the same level within 1 dB; the installed talrec.exe converts the tone too and its "host" passes the
# Linux host's scenario; the uninstaller's "/S" leaves no file or key the install added; and a
# wmaudsdk.dll that was in the system folder before an install and uninstall stays as it was.
#
# Wine takes its ANSI code page from the Unix locale: under ko_KR.UTF-8 it is 949, as on the
# Korean Windows the control's texts are written for (under "C" it is 1252, and Korean text
# through an ANSI call such as MessageBoxA comes out as "???"). The locale is compiled with
# localedef into the build folder (LOCPATH), so nothing is installed system-wide; --locale C
# leaves it out.
# The prefix is made anew each run: the null graphics driver (no display), and a private HOME
# whose ~/.asoundrc makes ALSA's default PCM the "null" device, so that Wine offers one wave
# input and one wave output. Scenarios get ${work}, a fresh scratch folder (Windows path).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build_dir="$top/build-win32"
ocx=""
progid="TALRECORDERFORDV.TalRecorderForDvCtrl.1"
scripts=()
scenarios=()
locale_name=ko_KR.UTF-8
linux_build="$top/build"
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build_dir=$(realpath -m "$2"); shift 2 ;;
    --ocx) ocx=$(realpath -m "$2"); shift 2 ;;
    --progid) progid=$2; shift 2 ;;
    --script) scripts+=("$(realpath -m "$2")"); shift 2 ;;
    --scenario) scenarios+=("$(realpath -m "$2")"); shift 2 ;;
    --locale) locale_name=$2; shift 2 ;;
    --linux-build) linux_build=$(realpath -m "$2"); shift 2 ;;
    *) echo "test-windows.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
# The build that runs under Wine, as scripts/build-windows.sh chose it for this kernel.
case "$(cat "$build_dir/test-target" 2>/dev/null || true)" in
  i686-w64-mingw32)
    test_dir=$build_dir wine=wine typelib_kind=win32
    export WINEARCH=win32
    echo "test-windows: the checks run on the shipped i686 build under 32-bit Wine" ;;
  x86_64-w64-mingw32)
    test_dir=$build_dir/test-x86_64 wine=/usr/lib/wine/wine64 typelib_kind=win64
    export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
    echo "test-windows: this kernel does not run 32-bit programs: the checks run on the x86_64" \
      "test build ($test_dir) under wine64, the shipped i686 build gets the static checks" ;;
  *) echo "test-windows: $build_dir is not built; build it with scripts/build-windows.sh" >&2
     exit 1 ;;
esac
[ -n "$ocx" ] || ocx="$test_dir/TalRecorderForDvRecUp.ocx"
if [ ${#scripts[@]} -eq 0 ]; then
  for f in "$top"/tests/windows/scripts/*.js "$top"/tests/windows/scripts/*.vbs; do
    [ -e "$f" ] && scripts+=("$f")
  done
fi
if [ ${#scenarios[@]} -eq 0 ]; then
  for f in "$top"/tests/windows/scenarios/*.scenario; do [ -e "$f" ] && scenarios+=("$f"); done
fi
container="$test_dir/bin/talrec-container.exe"
test_writer="$test_dir/bin/wmaudsdk.dll"
setup="$test_dir/talrec-setup.exe"

started=$(date +%s)
passed=0
failed=0
check() {  # check NAME COMMAND...: one pass or failure of the stage itself
  local name=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
    echo "ok - $name"
  else
    failed=$((failed + 1))
    echo "FAIL - $name"
  fi
}

talrec="$test_dir/talrec.exe"
for f in "$ocx" "$container" "$test_writer" "$setup" "$talrec" "$build_dir/TalRecorderForDvRecUp.ocx" \
  "$build_dir/wmaudsdk.dll" "$build_dir/talrec-setup.exe" "$build_dir/talrec.exe"; do
  if [ ! -f "$f" ]; then
    echo "test-windows: $f is missing; build it with scripts/build-windows.sh" >&2
    exit 1
  fi
done
# Static checks of the shipped i686 build, which need no Wine: 32-bit modules with the published
# exports undecorated, importing system DLLs only; the OCX carrying a "win32" type library (its
# header's syskind, the low bits of the dword after the two locales); the installer carrying the
# project's version.
version=$(sed -n 's/^project(talrec VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
pe_is() {  # pe_is FILE FORMAT EXPORTS: the file format, exactly those exports, system imports
  i686-w64-mingw32-objdump -p "$1" | awk -v format="$2" -v want="$3" '
    /file format/ { got_format = $NF }
    /^\[Ordinal\/Name Pointer\] Table/ { names = 1; next }
    names && NF == 0 { names = 0 }
    names { exports = exports (exports == "" ? "" : " ") $NF }
    /DLL Name:/ { dll = tolower($3); sub(/\.dll$/, "", dll)
      if (dll !~ /^(advapi32|bcrypt|comctl32|gdi32|kernel32|msvcrt|mswsock|ole32|oleaut32|shell32|user32|winmm|ws2_32)$/)
        foreign = foreign " " $3 }
    END { printf "  %s; exports %s;%s\n", got_format, exports, foreign == "" ? " system imports" : " imports" foreign
          exit !(got_format == format && exports == want && foreign == "") }'
}
resources() { i686-w64-mingw32-windres -J coff -O rc -i "$1" 2>/dev/null; }
typelib_kind_of() {  # typelib_kind_of FILE: the system kind of its type library resource
  local dword
  dword=$(resources "$1" | awk '/^1 "TYPELIB"/ { lib = 1 }
    lib && /0x5446534dL/ { gsub(/[ L]/, ""); split($0, header, ","); print header[6]; exit }')
  [ -z "$dword" ] || echo $((dword & 15))
}
check "the shipped OCX is an i386 module with the four exports" pe_is "$build_dir/TalRecorderForDvRecUp.ocx" \
  pei-i386 "DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer"
check "the shipped wmaudsdk.dll is an i386 module with its export" pe_is "$build_dir/wmaudsdk.dll" \
  pei-i386 WMAudioCreateWriter
check "the shipped installer is an i386 program" pe_is "$build_dir/talrec-setup.exe" pei-i386 ""
check "the shipped talrec.exe is an i386 program" pe_is "$build_dir/talrec.exe" pei-i386 ""
check "the shipped OCX carries a type library of kind win32" \
  [ "$(typelib_kind_of "$build_dir/TalRecorderForDvRecUp.ocx")" = 1 ]
for f in talrec-setup.exe talrec.exe; do
  check "the shipped $f carries version $version" \
    grep -q "VALUE \"ProductVersion\", \"$version\"" <(resources "$build_dir/$f")
done

command -v "$wine" >/dev/null || { echo "test-windows: $wine is not installed" >&2; exit 1; }
"$wine" --version >/dev/null 2>&1 || {
  echo "test-windows: $wine cannot start (does this kernel run 32-bit programs?)" >&2; exit 1; }

wine_dir="$build_dir/wine"
rm -rf "$wine_dir"
mkdir -p "$wine_dir/home" "$wine_dir/work" "$wine_dir/scripts"
export WINEPREFIX="$wine_dir/prefix" HOME="$wine_dir/home"
# No debug channels; no Mono or Gecko installers (there is no network and no one to answer).
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
printf 'pcm.!default {\n    type null\n}\n' >"$HOME/.asoundrc"
unset LC_ALL
if [ "$locale_name" = C ]; then
  export LANG=C
else
  mkdir -p "$wine_dir/locales"
  localedef -i "${locale_name%%.*}" -f "${locale_name#*.}" "$wine_dir/locales/$locale_name" ||
    { echo "test-windows: cannot compile the locale $locale_name (package locales)" >&2; exit 1; }
  export LOCPATH="$wine_dir/locales" LANG="$locale_name"
fi

# Every Wine command is bounded, so that a dialog nobody answers cannot hang the run.
w() { timeout 300 "$wine" "$@"; }
winepath() { "$wine" winepath "$@"; }
# Wine's reg prints CRLF lines.
reg_value() {
  { w reg query "$1" /v "$2" 2>/dev/null || true; } | tr -d '\r' | awk -v n="$2" '$1 == n {print $3}'
}
reg_default() {
  { w reg query "$1" /ve 2>/dev/null || true; } | tr -d '\r' |
    awk '/REG_SZ/ {sub(/.*REG_SZ[ \t]+/, ""); print}'
}
reg_has() { w reg query "$1" >/dev/null 2>&1; }
reg_gone() { ! reg_has "$1"; }

# The prefix's wineserver (and so every Wine process of this run) ends with the script.
trap 'wineserver -k 2>/dev/null || true' EXIT
fresh_prefix() {  # fresh_prefix DIR: a new prefix there is the current one (the last one's
  # server ends by itself)
  export WINEPREFIX=$1
  local t0=$SECONDS
  w wineboot --init >/dev/null 2>&1
  w reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
  wineserver -k || true  # the next command starts a server that reads the null driver
  echo "test-windows: Wine prefix ready in $((SECONDS - t0)) s"
}
fresh_prefix "$wine_dir/prefix"

# A run's output is checked for its closing "N passed, N failed" line: Wine's cscript exits 0
# on a script error (and on a missing script), so the exit status alone proves nothing. A run
# that passed no check at all counts as failed.
closing_line_clean() {  # closing_line_clean LOG STATUS
  local line
  line=$(tr -d '\r' <"$1" | grep -E '^[0-9]+ passed, [0-9]+ failed$' | tail -n 1 || true)
  [ -n "$line" ] && [ "$2" -eq 0 ] && [[ "$line" == *" 0 failed" ]] && [[ "$line" != "0 passed"* ]]
}

ocx_win=$(winepath -w "$ocx" 2>/dev/null)
status=0
w regsvr32 /s "$ocx_win" || status=$?
check "regsvr32 /s registers the control (exit $status)" [ "$status" -eq 0 ]
clsid=$(reg_default "HKCR\\$progid\\CLSID")
check "the ProgID $progid names a CLSID ($clsid)" [ -n "$clsid" ]
independent=${progid%.*}
check "the version-independent ProgID's CurVer is $progid" \
  [ "$(reg_default "HKCR\\$independent\\CurVer")" = "$progid" ]
libid=""
if [ -n "$clsid" ]; then
  key="HKCR\\CLSID\\$clsid"
  check "InprocServer32 is the module" [ "$(reg_default "$key\\InprocServer32")" = "$ocx_win" ]
  check "ThreadingModel is Apartment" [ "$(reg_value "$key\\InprocServer32" ThreadingModel)" = Apartment ]
  check "MiscStatus\\1 is 131473" [ "$(reg_default "$key\\MiscStatus\\1")" = 131473 ]
  check "ToolboxBitmap32 is the module's bitmap 1" \
    [ "$(reg_default "$key\\ToolboxBitmap32")" = "$ocx_win, 1" ]
  check "the class is a control" reg_has "$key\\Control"
  check "implemented category safe for scripting" \
    reg_has "$key\\Implemented Categories\\{7DD95801-9882-11CF-9FA9-00AA006C42C4}"
  check "implemented category safe for initializing" \
    reg_has "$key\\Implemented Categories\\{7DD95802-9882-11CF-9FA9-00AA006C42C4}"
  libid=$(reg_default "$key\\TypeLib")
  check "the class names its type library ($libid)" [ -n "$libid" ]
  if [ -n "$libid" ]; then
    check "the type library is registered for the module under 1.0\\409\\$typelib_kind" \
      [ "$(reg_default "HKCR\\TypeLib\\$libid\\1.0\\409\\$typelib_kind")" = "$ocx_win" ]
  fi
fi

run_script() {  # run_script FILE: cscript runs it (JScript behind the harness)
  local script=$1 name joined status=0
  name=$(basename "$script")
  joined="$wine_dir/scripts/$name"
  case "$name" in
    *.js) cat "$top/tests/windows/harness.js" "$script" >"$joined" ;;
    *) cp "$script" "$joined" ;;
  esac
  echo "== cscript $name"
  (cd "$wine_dir/scripts" && w cscript //nologo "$name" "$progid") >"$joined.log" 2>/dev/null || status=$?
  tr -d '\r' <"$joined.log"
  check "cscript $name (exit $status)" closing_line_clean "$joined.log" "$status"
}
run_scenario() {  # run_scenario FILE: the test container runs it
  local name status=0
  name=$(basename "$1")
  echo "== talrec-container $name"
  w "$container" --scenario "$(winepath -w "$1" 2>/dev/null)" --set "work=$work_win" \
    "$progid" >"$wine_dir/$name.log" 2>/dev/null || status=$?
  tr -d '\r' <"$wine_dir/$name.log"
  check "container $name (exit $status)" closing_line_clean "$wine_dir/$name.log" "$status"
}

[ ${#scripts[@]} -gt 0 ] || echo "test-windows: no JScript files"
for script in "${scripts[@]}"; do run_script "$script"; done

work_win=$(winepath -w "$wine_dir/work" 2>/dev/null)
[ ${#scenarios[@]} -gt 0 ] || echo "test-windows: no container scenarios"
system_writer="$WINEPREFIX/drive_c/windows/system32/wmaudsdk.dll"
for scenario in "${scenarios[@]}"; do
  rm -f "$system_writer"
  if head -n 5 "$scenario" | grep -q '^# needs: wmaudsdk.dll'; then
    cp "$test_writer" "$system_writer"
  fi
  run_scenario "$scenario"
  rm -f "$system_writer"
done

# The browser bridge: talrec.exe serve under Wine, its sockets on Winsock, driven by the Linux
# Chromium through its own demo page as on Linux; SIGINT, which Wine turns into Ctrl+C, stops it
# with exit 0.
data=$(find "$WINEPREFIX/drive_c/users" -type d -path '*/LocalLow/quorvex' | head -n 1)
[ -n "$data" ] || data="$WINEPREFIX/drive_c/users/${USER:-$(id -un)}/AppData/LocalLow/quorvex"
cp "$test_dir/wmaudsdk.dll" "$system_writer"
echo "== talrec.exe serve: the demo page in Chromium"
check "talrec.exe serve passes the demo page in Chromium" \
  env TALREC_COMMAND="[\"$wine\", \"$talrec\"]" TALREC_DATA_FOLDER="$data" TALREC_WINE=1 \
  TALREC_STATE_FOLDER="${data%/LocalLow/quorvex}/Local/talrec" \
  TALREC_TEST_OUT="$wine_dir/browser" timeout 300 node "$top/tests/browser/demo_test.mjs"
rm -f "$system_writer"

# talrec.exe's own registration, through the module's exports and the system's categories.
check "talrec.exe unregister removes the ProgID" \
  eval 'w "$talrec" unregister "$ocx_win" >/dev/null && reg_gone "HKCR\\$progid"'
check "talrec.exe register finds the control marked safe" \
  eval 'w "$talrec" register "$ocx_win" >/dev/null && reg_has "HKCR\\$progid"'

status=0
w regsvr32 /s /u "$ocx_win" || status=$?
check "regsvr32 /s /u unregisters the control (exit $status)" [ "$status" -eq 0 ]
check "the ProgID is gone" reg_gone "HKCR\\$progid"
check "the version-independent ProgID is gone" reg_gone "HKCR\\$independent"
if [ -n "$clsid" ]; then
  check "the CLSID is gone" reg_gone "HKCR\\CLSID\\$clsid"
fi
if [ -n "$libid" ]; then
  check "the type library's registration is gone" reg_gone "HKCR\\TypeLib\\$libid"
fi

# The installer, in a prefix of its own.
# Every key the install may add, each with "yes" or "no": there or not.
key_states() {
  local key
  for key in "HKCR\\CLSID\\$clsid" "HKCR\\$progid" "HKCR\\$independent" "HKCR\\TypeLib\\$libid" \
    'HKCR\Component Categories\{7DD95801-9882-11CF-9FA9-00AA006C42C4}' \
    'HKCR\Component Categories\{7DD95802-9882-11CF-9FA9-00AA006C42C4}' "$uninstall_key"; do
    if reg_has "$key"; then echo "yes $key"; else echo "no $key"; fi
  done
}
# wma_like WMA WAV: wmav2, 22050 Hz, 2 channels, the WAV's duration within 0.1 s.
wma_like() {
  local got want=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "$2")
  got=$(ffprobe -v error -show_entries stream=codec_name,sample_rate,channels:format=duration \
    -of csv=p=0 "$1" | paste -sd,)
  awk -F, -v w="$want" '{ print "  " $0 " (WAV " w " s)"
    exit !($1 == "wmav2" && $2 == 22050 && $3 == 2 && ($4 - w) ^ 2 < 0.01) }' <<<"$got"
}
mean_volume() {  # mean_volume FILE: its mean level in dB; nothing when it cannot be read
  { ffmpeg -nostdin -i "$1" -af volumedetect -f null - 2>&1 || true; } | sed -n 's/.*mean_volume: \(.*\) dB/\1/p'
}
fresh_prefix "$wine_dir/installed"
system="$WINEPREFIX/drive_c/windows/system32"
installed="$WINEPREFIX/drive_c/Program Files/talrec"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\talrec'
before=$(key_states)
check "talrec-setup.exe /S" w "$(winepath -w "$setup")" /S
check "the control is installed under Program Files" [ -f "$installed/TalRecorderForDvRecUp.ocx" ]
check "the build's talrec.exe is installed beside it" cmp -s "$installed/talrec.exe" "$test_dir/talrec.exe"
check "the build's writer is in the system folder" cmp -s "$system/wmaudsdk.dll" "$test_dir/wmaudsdk.dll"
check "Add/Remove Programs lists version $version" [ "$(reg_value "$uninstall_key" DisplayVersion)" = "$version" ]

run_scenario "$top/tests/windows/install/convert.scenario"
data=$(find "$WINEPREFIX/drive_c/users" -type d -path '*/LocalLow/quorvex' | head -n 1)
ffmpeg -nostdin -v error -f lavfi -i sine=frequency=440:duration=2.5:sample_rate=22050 -ac 2 \
  -c:a pcm_s16le "$data/tone.wav"
run_script "$top/tests/windows/install/convert.js"
for pair in take.wma:take.wav take-js.wma:take.wav tone.wma:tone.wav; do
  check "ffprobe reads ${pair%%:*} as its WAV in wmav2" wma_like "$data/${pair%%:*}" "$data/${pair#*:}"
done
check "the installed talrec.exe convert writes the tone as WMA" \
  eval 'w "$installed/talrec.exe" convert "$(winepath -w "$data/tone.wav")" "$(winepath -w "$data/tone-cli.wma")" &&
    wma_like "$data/tone-cli.wma" "$data/tone.wav"'
export TALREC_REGISTRY="$wine_dir/linux-registry"
"$linux_build/bin/talrec" register >/dev/null &&
  "$linux_build/bin/talrec" convert "$data/tone.wav" "$wine_dir/tone-linux.wma" || true
windows_level=$(mean_volume "$data/tone.wma")
linux_level=$(mean_volume "$wine_dir/tone-linux.wma")
check "the tone's level from Windows ($windows_level dB) is Linux's ($linux_level dB) within 1 dB" \
  awk -v a="$windows_level" -v b="$linux_level" 'BEGIN { exit !(a != "" && b != "" && (a - b) ^ 2 <= 1) }'

# The Linux host's scenario (tests/host/scenarios/), run by its test against the installed
# talrec.exe host; last, as it empties the data folder. The test splits its command at spaces
# and starts it without a PATH search, so the installed program's path ("Program Files") goes
# through a script.
installed_talrec="$wine_dir/installed-talrec"
printf '#!/bin/bash\nexec %q %q "$@"\n' "$wine" "$(winepath -w "$installed/talrec.exe")" \
  >"$installed_talrec"
chmod +x "$installed_talrec"
echo "== the installed talrec.exe host: the host scenario"
check "the installed talrec.exe host passes the host scenario" \
  env TALREC_SCENARIO_HOST="$installed_talrec host" \
  "$linux_build/bin/host_e2e_test" --gtest_filter='*RecordPausePlayConvertDeleteScenario'
check "uninstall.exe /S" w "$(winepath -w "$installed/uninstall.exe")" /S
wineserver -w  # the uninstaller goes on in a copy of itself
check "the installed files (the OCX, talrec.exe, the writer) are gone" \
  test ! -e "$installed" -a ! -e "$system/wmaudsdk.dll"
check "every key the install added is gone, every other as it was" diff <(echo "$before") <(key_states)

cp "$test_writer" "$system/wmaudsdk.dll"
w "$(winepath -w "$setup")" /S && w "$(winepath -w "$installed/uninstall.exe")" /S && wineserver -w
check "a wmaudsdk.dll there before the install stays as it was" cmp -s "$system/wmaudsdk.dll" "$test_writer"

echo "test-windows: took $(($(date +%s) - started)) s"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
