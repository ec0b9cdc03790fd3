// User data: named integer, real and string arrays carried by geometry, world sectors, frames, cameras, lights, materials and textures.
#pragma once

#include "gfx/core/rwtypes.h"
#include "objectkinds.h"

struct RwFrame;
struct RwGeometry;
struct RwMaterial;
struct RwStream;

enum : RwUInt32 {
    rwID_USERDATAPLUGIN = 0x11F,
    rwUSERDATAHINT = 0x3011F,       // tables, data blocks and everything read
    rwUSERDATANAMEHINT = 0x30002,   // names and strings copied by the library
};

enum RwUserDataFormat : RwInt32 {
    rwUSERDATANA = 0,               // empty slot
    rwUSERDATAINT = 1,
    rwUSERDATAFLOAT = 2,
    rwUSERDATASTRING = 3,           // one owned string pointer per element
};

// Elements are 4-byte words whatever the format, string pointers included.
static_assert(sizeof(void *) == 4, "string elements are 32-bit pointers");

struct RwUserDataArray {
    RwChar *name;                   // owned, or NULL
    RwUserDataFormat format;
    RwInt32 numElements;
    void *data;                     // owned; NULL: the slot is free
};
static_assert(sizeof(RwUserDataArray) == 16, "user-data slot is four words");

struct RwUserDataExtension {
    RwInt32 numArrays;              // slots, free ones included; only grows
    RwUserDataArray *arrays;
};
static_assert(sizeof(RwUserDataExtension) == 8, "user-data extension is two words");

RwBool RwUserDataPluginAttach(void);

// The extension of an object of the given kind (NULL before the attach).
RwUserDataExtension *RwUserDataGetExtension(const void *object, RwPluginObjectKind kind);

// On any extension (NULL: the plug-in is not attached). Add: the slot index,
// or -1 (bad format, negative count, no memory). Remove and get-array ignore
// an index outside the slots.
RwInt32 RwUserDataExtensionAddArray(RwUserDataExtension *ext, const RwChar *name, RwUserDataFormat format,
                                    RwInt32 numElements);
void RwUserDataExtensionRemoveArray(RwUserDataExtension *ext, RwInt32 index);
RwInt32 RwUserDataExtensionGetArrayCount(const RwUserDataExtension *ext);
RwUserDataArray *RwUserDataExtensionGetArray(const RwUserDataExtension *ext, RwInt32 index);
// Frees every array; the extension is left empty.
void RwUserDataExtensionEmpty(RwUserDataExtension *ext);

RwInt32 RwUserDataGeometryAddArray(RwGeometry *geometry, const RwChar *name, RwUserDataFormat format,
                                   RwInt32 numElements);
RwInt32 RwUserDataFrameAddArray(RwFrame *frame, const RwChar *name, RwUserDataFormat format, RwInt32 numElements);
RwGeometry *RwUserDataGeometryRemoveArray(RwGeometry *geometry, RwInt32 index);
RwInt32 RwUserDataGeometryGetArrayCount(const RwGeometry *geometry);
RwInt32 RwUserDataFrameGetArrayCount(const RwFrame *frame);
RwInt32 RwUserDataMaterialGetArrayCount(const RwMaterial *material);
RwUserDataArray *RwUserDataGeometryGetArray(const RwGeometry *geometry, RwInt32 index);
RwUserDataArray *RwUserDataFrameGetArray(const RwFrame *frame, RwInt32 index);
RwUserDataArray *RwUserDataMaterialGetArray(const RwMaterial *material, RwInt32 index);

// Element access without checks: the caller keeps the index in range. A
// pointer stored into a string array becomes the array's.
inline RwChar *RwUserDataArrayGetName(const RwUserDataArray *a) { return a->name; }
inline RwUserDataFormat RwUserDataArrayGetFormat(const RwUserDataArray *a) { return a->format; }
inline RwInt32 RwUserDataArrayGetNumElements(const RwUserDataArray *a) { return a->numElements; }
inline RwUInt32 RwUserDataArrayGetElement(const RwUserDataArray *a, RwInt32 index)
{
    return static_cast<const RwUInt32 *>(a->data)[index];
}
void RwUserDataArraySetElement(RwUserDataArray *a, RwInt32 index, RwUInt32 value);

// The 0x11F block of one extension: payload bytes (0: no block), writer and
// reader. The reader stays inside length bytes and empties the extension first.
RwInt32 RwUserDataStreamGetSize(const RwUserDataExtension *ext);
RwStream *RwUserDataStreamWrite(RwStream *stream, const RwUserDataExtension *ext);
RwStream *RwUserDataStreamRead(RwStream *stream, RwInt32 length, RwUserDataExtension *ext);
