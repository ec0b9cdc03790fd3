// A small packed archive assembled by hand from the format tables, and where its fields lie.
#pragma once

#include "LeBytes.h"

// Offsets of fields in the hand-made archive below.
struct Layout {
    size_t storage, storageCount, regionIndex, folders, folderCount, firstFileCount, fileRegion;
};

// An archive written from the format tables: "hello" in "Data\a.txt" and
// "world!" in root entry "b.bin"; a free 3-byte hole between them.
inline Bytes HandMade(Layout *at)
{
    Bytes a;
    a.U32(1);
    a.U16(0x1101);
    a.U32s({6 + 4 + 5 + 3 + 6, 1});
    a.Raw("helloxyzworld!");
    at->storage = a.b.size();
    a.U16(0x1102);
    a.U32s({6 + 12 + 3 * 21 + 12 + 3 * 4 + 4, 2, 16});
    at->storageCount = a.b.size();
    a.U32(3);
    a.Record(4, 14, 5);
    a.Record(2, 19, 3);
    a.Record(4, 22, 6);
    a.U32s({3, 1, 0});
    at->regionIndex = a.b.size();
    a.U32s({0, 1, 2, 1});
    at->folders = a.b.size();
    a.U16(0x1103);
    a.U32s({6 + 8 + 2 * (268 + 4) + 2 * 280, 1});
    at->folderCount = a.b.size();
    a.U32(2);
    a.Name("");
    a.U32s({16, 0x11111111, 0x01D00000});
    at->firstFileCount = a.b.size();
    a.U32(1);
    a.Name("b.bin");
    a.U32s({0, 0, 0, 6, 0, 2});
    a.Name("Data\\");
    a.U32s({16, 0, 0, 1});
    a.Name("a.txt");
    a.U32s({0x20, 0, 0, 5, 0});
    at->fileRegion = a.b.size();
    a.U32(0);
    return a;
}
