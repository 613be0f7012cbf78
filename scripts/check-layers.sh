#!/usr/bin/env bash
# Checks the layering rules on the tracked sources and names every include that breaks one.
# Layers include only downwards: host -> control -> audio, storage, convert, resources ->
# framework -> platform (the four in the middle do not include each other), with wmaudsdk/
# beside them on platform/ alone. Besides:
# - host/ reaches the control only through COM: it includes nothing of control/ but
#   control/StateStrings.h, the state strings as data;
# - above platform/ only its public headers are included: the SDK-named ones (platform/NAME.h,
#   and platform/wrl/client.h as the SDK names it)
#   and talrec's own services (platform/ext/NAME.h), never a module's folder;
# - framework/ includes only the SDK-named ones, so that it could be compiled against a real
#   Windows SDK, and the standard library; the one exception is platform/ext/comobject.h, the
#   helper every COM object in the tree is written with, itself written over the SDK's
#   declarations alone;
# - outside platform/, wmaudsdk/ and tests/ nothing includes ALSA, FFmpeg or Asio/Beast.
# tests/ may include anything. Exit 1 when anything breaks a rule.
#   scripts/check-layers.sh [TREE]     (TREE: a git work tree, by default this one)
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

# The C library's standard headers (the C++ ones have no extension).
c_headers="assert.h complex.h ctype.h errno.h fenv.h float.h inttypes.h iso646.h limits.h
locale.h math.h setjmp.h signal.h stdalign.h stdarg.h stdatomic.h stdbool.h stddef.h stdint.h
stdio.h stdlib.h stdnoreturn.h string.h tgmath.h threads.h time.h uchar.h wchar.h wctype.h"

# What each layer may include besides itself; a quoted include without a folder is the
# including file's own folder.
layers="platform:
framework:platform
audio:framework platform
storage:framework platform
convert:framework platform wmaudsdk
resources:framework platform
control:audio storage convert resources framework platform
host:audio storage convert resources framework platform
wmaudsdk:platform"

git ls-files -- '*.h' '*.hpp' '*.cpp' '*.cc' '*.c' |
  { xargs -d '\n' grep -HnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' || true; } |
  awk -v c_headers="$c_headers" -v layers="$layers" '
    BEGIN {
      n = split(c_headers, list, /[[:space:]]+/)
      for (i = 1; i <= n; ++i) c_std[list[i]] = 1
      n = split(layers, rows, "\n")
      for (i = 1; i <= n; ++i) {
        split(rows[i], cols, ":")
        below[cols[1]] = " " cols[1] " " cols[2] " "
      }
      bad = 0
    }
    function complain(why) {
      printf "%s:%s: includes %s%s%s: %s\n", file, line, angle ? "<" : "\"", name,
             angle ? ">" : "\"", why
      bad = 1
    }
    {
      # file:line:#include <name> or "name"
      split($0, part, ":")
      file = part[1]
      line = part[2]
      text = substr($0, length(file) + length(line) + 3)
      match(text, /[<"][^>"]+[>"]/)
      name = substr(text, RSTART + 1, RLENGTH - 2)
      angle = substr(text, RSTART, 1) == "<"
      layer = file; sub(/\/.*/, "", layer)
      target = name; sub(/\/.*/, "", target)
      if (layer == "tests" || !(layer in below)) next

      if (!angle && name ~ /\//) {
        if (layer == "host" && name == "control/StateStrings.h") {
          # the state strings, data the control and its containers share
        } else if (index(below[layer], " " target " ") == 0) {
          complain(layer "/ may include only" below[layer])
        } else if (layer != "platform" && target == "platform" &&
                   name !~ /^platform\/(ext\/|wrl\/)?[^\/]+\.h$/) {
          complain("a platform module'"'"'s own header; above platform/ only platform/NAME.h and platform/ext/NAME.h")
        } else if (layer == "framework" && name ~ /^platform\/ext\// &&
                   name != "platform/ext/comobject.h") {
          complain("talrec'"'"'s own service; the framework includes only the SDK-named platform/NAME.h")
        }
      }
      if (layer == "framework" && angle && name !~ /^[a-z_]+$/ && !(name in c_std)) {
        complain("the framework includes only the standard library besides the SDK")
      }
      if (layer != "platform" && layer != "wmaudsdk") {
        if (name ~ /^(alsa\/|asoundlib\.h)/ ||
            name ~ /^lib(avcodec|avformat|avutil|avdevice|avfilter|swresample|swscale|postproc)\// ||
            name ~ /^(boost\/asio|boost\/beast|asio)([\/.]|$)/) {
          complain("only platform/ may use ALSA, FFmpeg and Asio")
        }
      }
    }
    END { exit bad }
  ' && echo "check-layers: the layering rules hold"
