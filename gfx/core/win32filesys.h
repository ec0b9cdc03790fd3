// The Win32 file system: the file-system manager's file functions over the Windows file calls.
#pragma once

#include "filesys.h"

// Makes (but does not register) a file system of slotCount open-file slots for
// the device prefix (a drive "X:" or a directory ending in a backslash).
// NULL when the name is taken or the common initialisation fails.
RwFileSystem *RwWin32FileSystemCreate(RwInt32 slotCount, const RwChar *devicePrefix, const RwChar *name);
