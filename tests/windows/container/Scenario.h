// A scenario: the steps the test container drives, one a line (or one a command-line
// argument). A step is words separated by blanks; a word in double quotes may hold blanks, and
// "" inside it stands for one quote; backslashes are plain characters (Windows paths).
//
//   call NAME [ARG...]      invoke a method; ARG is a number (VT_I4), s:TEXT (a string even
//                           if it looks like a number), i:N, or else a string
//   get NAME                read a property
//   put NAME VALUE          write a property
//   wait EVENT [ARG0] [timeout=MS]
//                           pump messages until EVENT arrives (with its first argument equal
//                           to ARG0 when given); events are taken in order of arrival, so two
//                           waits for the same event need two arrivals
//   count EVENT OP N        the number of EVENT arrivals so far; OP one of >= <= ==
//   pump MS                 pump messages for MS milliseconds
//   msgbox [TEXT]           a message box was answered since the last msgbox/nomsgbox step
//                           (and its text contains TEXT)
//   nomsgbox                no message box was answered since then
//   window | nowindow       the control has (has not) an in-place window
//   close                   IOleObject::Close through the site; the window must be gone
//   exists PATH | noexists PATH
//                           a file or folder is there (is not there)
//   wav PATH CHANNELS RATE BITS
//                           PATH is a PCM WAV file with a 44-byte header of that format whose
//                           RIFF and data sizes match the file's size; its result is the
//                           number of data bytes
//   read PATH               the file's contents as the result
//   size PATH               the file's size in bytes as the result
//   echo TEXT...            prints the words
//
// call, get, put, read, size and wav may end in "=> EXPECT": the result equals EXPECT; "=> ~TEXT"
// contains it; "=> *TEXT" ends with it; "=> !error" the call fails; "=> !ok" succeeds with any
// result. Without one, the step only has to succeed. "-> VAR" keeps the result; ${VAR} in a later
// word is replaced by it; the container's --set NAME=VALUE gives a variable before the first step.
#pragma once

#include <string>
#include <vector>

struct Step {
    std::string verb;
    std::vector<std::string> args;
    bool hasExpect = false;
    std::string expect;
    std::string store;   // the variable that keeps the result, or empty
    std::string source;  // the step as written, for the log
};

// Splits one step into words; false when a quote is not closed.
bool SplitWords(const std::string& text, std::vector<std::string>& words);

// Parses one step; false with a reason for a malformed one. Blank lines and lines starting
// with '#' give a step with an empty verb.
bool ParseStep(const std::string& text, Step& step, std::string& error);

// Whether a result satisfies an expectation as described above ("!error" never does: the
// caller handles failures).
bool Matches(const std::string& result, const std::string& expect);
