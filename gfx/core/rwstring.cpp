// The string-function table and the library's own string helpers.
#include "rwstring.h"

#include <cstdio>
#include <cstring>

#include "engine.h"

// Game text is code-page 949: a byte of 0x81 or above starts a two-byte
// character whose second byte may look like an ASCII letter. Case folding
// leaves such pairs alone.
static bool IsLeadByte(unsigned char c)
{
    return c >= 0x81 && c != 0xFF;
}

static unsigned char FoldLower(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

static int Sprintf(RwChar *buffer, const RwChar *format, ...)
{
    va_list args;
    va_start(args, format);
    int n = vsprintf(buffer, format, args);
    va_end(args);
    return n;
}

static int Vsprintf(RwChar *buffer, const RwChar *format, va_list args)
{
    return vsprintf(buffer, format, args);
}

static int Sscanf(const RwChar *buffer, const RwChar *format, ...)
{
    va_list args;
    va_start(args, format);
    int n = vsscanf(buffer, format, args);
    va_end(args);
    return n;
}

static RwChar *Strcpy(RwChar *dst, const RwChar *src)
{
    return strcpy(dst, src);
}

static RwChar *Strncpy(RwChar *dst, const RwChar *src, size_t n)
{
    return strncpy(dst, src, n);
}

static RwChar *Strcat(RwChar *dst, const RwChar *src)
{
    return strcat(dst, src);
}

static RwChar *Strncat(RwChar *dst, const RwChar *src, size_t n)
{
    return strncat(dst, src, n);
}

static RwChar *Strstr(const RwChar *s, const RwChar *sub)
{
    return const_cast<RwChar *>(strstr(s, sub));
}

static int Strcmp(const RwChar *a, const RwChar *b)
{
    return strcmp(a, b);
}

static int Strncmp(const RwChar *a, const RwChar *b, size_t n)
{
    return strncmp(a, b, n);
}

static size_t Strlen(const RwChar *s)
{
    return strlen(s);
}

static RwChar *Strtok(RwChar *s, const RwChar *delim)
{
    return strtok(s, delim);
}

RwBool RwStringOpen(void)
{
    RwStringFunctions &f = RwEngineInstance->stringFuncs;
    f.vecSprintf = Sprintf;
    f.vecVsprintf = Vsprintf;
    f.vecStrcpy = Strcpy;
    f.vecStrncpy = Strncpy;
    f.vecStrcat = Strcat;
    f.vecStrncat = Strncat;
    f.vecStrrchr = RwStringFindLastChar;
    f.vecStrchr = RwStringFindChar;
    f.vecStrstr = Strstr;
    f.vecStrcmp = Strcmp;
    f.vecStrncmp = Strncmp;
    f.vecStricmp = RwStringCompareNoCase;
    f.vecStrlen = Strlen;
    f.vecStrUpr = RwStringToUpper;
    f.vecStrLwr = RwStringToLower;
    f.vecStrtok = Strtok;
    f.vecSscanf = Sscanf;
    return TRUE;
}

int RwStringCompareNoCase(const RwChar *a, const RwChar *b)
{
    if (!a || !b) {
        return 0;
    }
    const unsigned char *pa = reinterpret_cast<const unsigned char *>(a);
    const unsigned char *pb = reinterpret_cast<const unsigned char *>(b);
    bool trail = false;  // the bytes compared now are second bytes of a pair
    for (;;) {
        unsigned char ca = trail ? *pa : FoldLower(*pa);
        unsigned char cb = trail ? *pb : FoldLower(*pb);
        if (ca != cb) {
            return static_cast<int>(ca) - static_cast<int>(cb);
        }
        if (ca == 0) {
            return 0;
        }
        trail = !trail && IsLeadByte(ca);
        ++pa;
        ++pb;
    }
}

static RwChar *MapCase(RwChar *s, unsigned char from, unsigned char to)
{
    if (!s) {
        return s;
    }
    unsigned char *p = reinterpret_cast<unsigned char *>(s);
    while (*p) {
        if (IsLeadByte(*p) && p[1]) {
            p += 2;
            continue;
        }
        if (*p >= from && *p <= from + 25) {
            *p = static_cast<unsigned char>(*p - from + to);
        }
        ++p;
    }
    return s;
}

RwChar *RwStringToUpper(RwChar *s)
{
    return MapCase(s, 'a', 'A');
}

RwChar *RwStringToLower(RwChar *s)
{
    return MapCase(s, 'A', 'a');
}

RwChar *RwStringFindChar(const RwChar *s, int c)
{
    if (!s) {
        return nullptr;
    }
    const RwChar ch = static_cast<RwChar>(c);
    for (;; ++s) {
        if (*s == ch) {
            return const_cast<RwChar *>(s);
        }
        if (*s == 0) {
            return nullptr;
        }
    }
}

RwChar *RwStringFindLastChar(const RwChar *s, int c)
{
    if (!s) {
        return nullptr;
    }
    const RwChar ch = static_cast<RwChar>(c);
    const RwChar *found = nullptr;
    for (;; ++s) {
        if (*s == ch) {
            found = s;
        }
        if (*s == 0) {
            return const_cast<RwChar *>(found);
        }
    }
}

// Bytes of s (len bytes) that fit in room without splitting a two-byte character.
static size_t CutPoint(const RwChar *s, size_t len, size_t room)
{
    if (len <= room) {
        return len;
    }
    const unsigned char *p = reinterpret_cast<const unsigned char *>(s);
    size_t i = 0;
    while (i < room) {
        size_t step = (IsLeadByte(p[i]) && i + 1 < len) ? 2 : 1;
        if (i + step > room) {
            break;
        }
        i += step;
    }
    return i;
}

RwBool RwStringCopyBounded(RwChar *dst, size_t dstSize, const RwChar *src)
{
    if (!dst || dstSize == 0) {
        return FALSE;
    }
    dst[0] = 0;
    return RwStringAppendBounded(dst, dstSize, src);
}

RwBool RwStringAppendBounded(RwChar *dst, size_t dstSize, const RwChar *src)
{
    if (!dst || dstSize == 0) {
        return FALSE;
    }
    size_t used = strnlen(dst, dstSize);
    if (used == dstSize) {
        // Not terminated inside the buffer: terminate and report the loss.
        dst[dstSize - 1] = 0;
        return FALSE;
    }
    if (!src) {
        return TRUE;
    }
    size_t room = dstSize - 1 - used;
    size_t len = strlen(src);
    size_t n = CutPoint(src, len, room);
    memcpy(dst + used, src, n);
    dst[used + n] = 0;
    return len <= room;
}

RwBool RwStringPrintBounded(RwChar *dst, size_t dstSize, const RwChar *format, ...)
{
    if (!dst || dstSize == 0) {
        return FALSE;
    }
    if (!format) {
        dst[0] = 0;
        return FALSE;
    }
    va_list args;
    va_start(args, format);
    int n = vsnprintf(dst, dstSize, format, args);
    va_end(args);
    dst[dstSize - 1] = 0;
    if (n >= 0 && static_cast<size_t>(n) < dstSize) {
        return TRUE;
    }
    size_t kept = strlen(dst);
    dst[CutPoint(dst, kept + 1, kept)] = 0;
    return FALSE;
}
