// The pcl commands, callable from the tool's main and from tests.
#pragma once

// argv[0] is the program, argv[1] the command; returns the exit code.
int PclMain(int argc, char **argv);
// What pcl's console control handler does on that event (CTRL_C_EVENT and
// the others): a test's stand-in for an interruption.
void PclConsoleEvent(unsigned long event);
