// Building an event project image from a text description (for the project generator).
#pragma once

#include "evsound/evsound.h"

// The description, one statement a line; '#' starts a comment:
//   group
//       starts the next group (groups are numbered from 0 in order)
//   event NAME DURATION_MS [loop] [user=BYTE] [wav=PATH]
//       adds the next event to the current group; BYTE is decimal or 0x hex;
//       PATH is relative to the media path
// On failure *errorLine is the 1-based line at fault (0: not a line's fault).
EvsResult EvsProjectBuild(const char *text, uint32_t length, void **image, uint32_t *size,
                          int32_t *errorLine);
void EvsProjectFreeImage(void *image);
