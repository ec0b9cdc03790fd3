// The checks a PNG file passes before FreeImage reads it, and the bytes it is handed.
#pragma once

#include <windows.h>

// What FreeImage is to read: the file without the metadata chunks the engine
// has no use for, its image data inflated once and kept in stored blocks.
struct KivPngScreened {
    BYTE *bytes;     // owned
    DWORD size;
    int greyKey;     // 8-bit transparent grey of a 1-, 2- or 4-bit grey file, else -1
};

// 1 with out filled when the file may be decoded: every chunk lies inside the
// file up to IEND, the image data is one run of chunks with sound CRCs, the
// rows could come out of it, and it inflates to exactly the rows' bytes
// (found without inflating past them). 0 otherwise, with nothing to release.
int KivPngScreen(const void *bytes, DWORD size, KivPngScreened *out);
void KivPngScreenRelease(KivPngScreened *screened);
