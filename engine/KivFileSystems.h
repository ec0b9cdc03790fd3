// The engine's file systems: the working directory ("unc") and one per drive letter from B:.
#pragma once

#include <cstddef>

// Room for a 259-character directory, its trailing backslash and the terminator.
enum { kKivWorkingDirSize = 262 };

// The working directory with exactly one trailing backslash; 0 when it cannot
// be read or is longer than 259 characters.
int KivGetWorkingDirectory(char *out, size_t outSize);

// Name of the default file system for a working directory: "unc" for a
// network path, else its drive letter when drives (bit 0 = A:) has a file
// system for it, "unc" otherwise (drive A: never gets one).
const char *KivDefaultFileSystemName(const char *workingDir, unsigned long drives, char letterName[2]);

// Creates and registers "unc" on root and "X" on "X:" for each drive of the
// mask from B:, then sets the default; 0 when one cannot be made.
int KivInstallFileSystems(const char *root, unsigned long drives);
