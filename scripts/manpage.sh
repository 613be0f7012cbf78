#!/usr/bin/env bash
# Writes the manual page talrec(1) on standard output from the program's own help: the command
# list of `talrec --help` and each command's `talrec COMMAND --help`, so the page says what the
# program says and cannot drift from it. (help2man reads one --help and a --version; talrec has
# a help per command and no --version.)
#   scripts/manpage.sh TALREC VERSION DATE
set -euo pipefail
talrec=$1
version=$2
date=$3

# Text for roff: backslashes and hyphens as escapes, no line taken for a request.
roff() {
  sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"
}

cat <<EOF
.TH TALREC 1 "$date" "talrec $version" "User Commands"
.SH NAME
talrec \\- record, play and convert speech with the TalRecorderForDvRecUp control
.SH SYNOPSIS
.B talrec
.I COMMAND
.RI [ ARGS ]
.SH DESCRIPTION
.B talrec
hosts the recorder control TalRecorderForDvRecUp: it records speech from the sound input into
WAV files, plays sound files, converts WAV to WMA, and lets a web page drive the control
through a local bridge.
Every command answers
.BR \\-\\-help .
Failures are one line on standard error with a non\\-zero exit status: 1 a file, device or
call failed, 2 wrong arguments, 3 the control is not registered or cannot be created.
.SH COMMANDS
EOF
# The command list: "  NAME SYNOPSIS   summary" lines after "commands:"; a long synopsis puts
# its summary on the next line, indented further, which is skipped.
commands=$("$talrec" --help | sed -n '/^commands:/,/^$/s/^  \([a-z][a-z-]*\)\( .*\)\{0,1\}$/\1/p')
[ -n "$commands" ] || { echo "manpage.sh: $talrec --help lists no commands" >&2; exit 1; }
for command in $commands; do
  help=$("$talrec" "$command" --help)
  usage=$(head -n 1 <<<"$help" | sed 's/^usage: talrec //')
  printf '.SS "%s"\n.nf\n' "$(roff <<<"$usage" | sed 's/"/\\(dq/g')"
  tail -n +2 <<<"$help" | sed 's/^  //' | roff
  printf '.fi\n'
done
cat <<'EOF'
.SH FILES
.TP
.I ~/.config/talrec/registry
the user's registry, which holds the control's registration; the first command of a user
whose registry lacks it registers the installed control and says so
.TP
.I ~/.local/share/quorvex/
the data folder, where recordings and conversions are written
.TP
.I /usr/lib/talrec/
the control module, its libraries and the audio\-writer component
.TP
.I /usr/lib/systemd/user/talrec.socket
the user unit that starts
.B talrec serve
when a page first connects
.SH SEE ALSO
.BR systemctl (1)
EOF
