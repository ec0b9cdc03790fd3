// The string-function table and the library's own string helpers.
#pragma once

#include <cstdarg>
#include "rwtypes.h"

struct RwStringFunctions {
    int (*vecSprintf)(RwChar *buffer, const RwChar *format, ...);
    int (*vecVsprintf)(RwChar *buffer, const RwChar *format, va_list argptr);
    RwChar *(*vecStrcpy)(RwChar *dst, const RwChar *src);
    RwChar *(*vecStrncpy)(RwChar *dst, const RwChar *src, size_t n);
    RwChar *(*vecStrcat)(RwChar *dst, const RwChar *src);
    RwChar *(*vecStrncat)(RwChar *dst, const RwChar *src, size_t n);
    RwChar *(*vecStrrchr)(const RwChar *s, int c);
    RwChar *(*vecStrchr)(const RwChar *s, int c);
    RwChar *(*vecStrstr)(const RwChar *s, const RwChar *sub);
    int (*vecStrcmp)(const RwChar *a, const RwChar *b);
    int (*vecStrncmp)(const RwChar *a, const RwChar *b, size_t n);
    int (*vecStricmp)(const RwChar *a, const RwChar *b);
    size_t (*vecStrlen)(const RwChar *s);
    RwChar *(*vecStrUpr)(RwChar *s);
    RwChar *(*vecStrLwr)(RwChar *s);
    RwChar *(*vecStrtok)(RwChar *s, const RwChar *delim);
    int (*vecSscanf)(const RwChar *buffer, const RwChar *format, ...);
};
static_assert(sizeof(RwStringFunctions) == 68, "17 string functions");

RwBool RwStringOpen(void);
int RwStringCompareNoCase(const RwChar *a, const RwChar *b);
RwChar *RwStringToUpper(RwChar *s);
RwChar *RwStringToLower(RwChar *s);
RwChar *RwStringFindChar(const RwChar *s, int c);
RwChar *RwStringFindLastChar(const RwChar *s, int c);

// Bounded helpers: always terminate dst (when dstSize > 0) and report whether
// the whole source fitted.
RwBool RwStringCopyBounded(RwChar *dst, size_t dstSize, const RwChar *src);
RwBool RwStringAppendBounded(RwChar *dst, size_t dstSize, const RwChar *src);
RwBool RwStringPrintBounded(RwChar *dst, size_t dstSize, const RwChar *format, ...);
