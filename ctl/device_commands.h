// The commands that work on the sensor and the installation themselves
// rather than through the daemon: they must run when the daemon does not.
// Each parses its own arguments (argv[0] is the command's name) and returns
// the process's exit status.
#pragma once

int cmdCapture(int argc, char **argv);
int cmdDoctor(int argc, char **argv, int timeoutS);
