// The subcommands of the talrec command. Each takes the arguments after its name and returns
// the process's exit status.
#pragma once

int RunConvert(int argc, char** argv);
