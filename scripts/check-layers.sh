#!/usr/bin/env bash
# Checks the layering rules on the tracked sources and names every include that breaks one:
# - a file under framework/ includes only framework/ itself, platform/'s public headers
#   (platform/NAME.h, not the modules' folders) and the standard library, so that the framework
#   could be compiled against a real Windows SDK;
# - outside platform/, wmaudsdk/ and tests/ nothing includes ALSA, FFmpeg or Asio/Beast.
# Exit 1 when anything breaks a rule.
#   scripts/check-layers.sh
set -euo pipefail
cd "$(dirname "$0")/.."

# The C library's standard headers (the C++ ones have no extension).
c_headers="assert.h complex.h ctype.h errno.h fenv.h float.h inttypes.h iso646.h limits.h
locale.h math.h setjmp.h signal.h stdalign.h stdarg.h stdatomic.h stdbool.h stddef.h stdint.h
stdio.h stdlib.h stdnoreturn.h string.h tgmath.h threads.h time.h uchar.h wchar.h wctype.h"

git ls-files -- '*.h' '*.hpp' '*.cpp' '*.cc' '*.c' |
  xargs -d '\n' grep -HnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' |
  awk -v c_headers="$c_headers" '
    BEGIN {
      n = split(c_headers, list, /[[:space:]]+/)
      for (i = 1; i <= n; ++i) c_std[list[i]] = 1
      bad = 0
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

      if (file ~ /^framework\//) {
        ok = 0
        if (!angle && name ~ /^framework\//) ok = 1
        else if (!angle && name ~ /^platform\/[^\/]+\.h$/) ok = 1
        else if (angle && name ~ /^[a-z_]+$/) ok = 1       # <string>, <cstdio>, <string_view>
        else if (angle && (name in c_std)) ok = 1
        if (!ok) {
          printf "%s:%s: the framework includes %s%s%s, outside platform/*.h, framework/ and the standard library\n",
                 file, line, angle ? "<" : "\"", name, angle ? ">" : "\""
          bad = 1
        }
      }
      if (file !~ /^(platform|wmaudsdk|tests)\//) {
        if (name ~ /^(alsa\/|asoundlib\.h)/ ||
            name ~ /^lib(avcodec|avformat|avutil|avdevice|avfilter|swresample|swscale|postproc)\// ||
            name ~ /^(boost\/asio|boost\/beast|asio)([\/.]|$)/) {
          printf "%s:%s: %s includes %s, which only platform/ may use\n", file, line, file, name
          bad = 1
        }
      }
    }
    END { exit bad }
  ' && echo "check-layers: the layering rules hold"
