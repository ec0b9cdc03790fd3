// Name comparison of the archive: ASCII letters folded, double-byte characters kept.
#pragma once

// Case-insensitive order of two zero-terminated 8-bit names: A to Z fold to a
// to z, then unsigned byte order. The second byte of a code-page 949
// double-byte character (lead byte 0x81-0xFE) is compared unfolded, since it
// may fall in the letter range without being a letter.
int ParcelNameCompare(const char *a, const char *b);

// True when prefix is a case-insensitive leading part of name (same folding).
bool ParcelNameIsPrefix(const char *prefix, const char *name);
