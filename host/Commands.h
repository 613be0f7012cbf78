// The subcommands of the talrec command. Each takes the arguments after its name and returns
// the process's exit status.
#pragma once

int RunConvert(int argc, char** argv);
int RunDemo(int argc, char** argv);
int RunDevices(int argc, char** argv);
int RunPlay(int argc, char** argv);
int RunRecord(int argc, char** argv);
int RunHost(int argc, char** argv);
int RunRegister(int argc, char** argv);
int RunServe(int argc, char** argv);
int RunUnregister(int argc, char** argv);
