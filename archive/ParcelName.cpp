// Name comparison of the archive: ASCII letters folded, double-byte characters kept.
#include "ParcelName.h"

static bool IsLeadByte(unsigned char c)
{
    return c >= 0x81 && c <= 0xFE;
}

static unsigned char Fold(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// Walks both names in step while they agree; returns the index of the first
// difference. Agreement on a lead byte means both have a trail byte next.
static int Mismatch(const unsigned char *a, const unsigned char *b, bool *trail)
{
    int i = 0;
    bool inTrail = false;
    for (;;) {
        const unsigned char ca = inTrail ? a[i] : Fold(a[i]);
        const unsigned char cb = inTrail ? b[i] : Fold(b[i]);
        if (ca != cb || ca == 0)
            break;
        inTrail = !inTrail && IsLeadByte(a[i]);
        ++i;
    }
    *trail = inTrail;
    return i;
}

int ParcelNameCompare(const char *a, const char *b)
{
    const unsigned char *ua = reinterpret_cast<const unsigned char *>(a);
    const unsigned char *ub = reinterpret_cast<const unsigned char *>(b);
    bool trail;
    const int i = Mismatch(ua, ub, &trail);
    const int ca = trail ? ua[i] : Fold(ua[i]);
    const int cb = trail ? ub[i] : Fold(ub[i]);
    return ca - cb;
}

bool ParcelNameIsPrefix(const char *prefix, const char *name)
{
    bool trail;
    const int i = Mismatch(reinterpret_cast<const unsigned char *>(prefix),
                           reinterpret_cast<const unsigned char *>(name), &trail);
    return prefix[i] == 0;
}
