// The pcl commands, callable from the tool's main and from tests.
#pragma once

// argv[0] is the program, argv[1] the command; returns the exit code.
int PclMain(int argc, char **argv);
