// The engine's reads and writes of user-data arrays: first strings that name things, the "render" and "KivClump" arrays.
#pragma once

#include "gfx/core/rwtypes.h"

struct RwAtomic;
struct RwFrame;
struct RwGeometry;
struct RwMaterial;
struct RwUserDataArray;
typedef RwAtomic *(*RwAtomicCallBackRender)(RwAtomic *atomic);

// The first string of the object's first array when that array holds strings;
// null when there is none (no arrays, another format, no elements, a null string).
const char *KivMaterialFirstString(const RwMaterial *material);
const char *KivGeometryFirstString(const RwGeometry *geometry);
const char *KivFrameFirstString(const RwFrame *frame);
// 1 for "_t", 2 for "_a" (second letter in either case), else 0.
int KivTransparentNameKind(const char *name);
// The first material's first string marks the geometry transparent.
int KivGeometryHasTransparentName(const RwGeometry *geometry);
// Bone shapes: a geometry named by a string beginning B, I, P in either case.
int KivIsBoneShape(const RwAtomic *atomic);

// The first integer array of that exact name with at least minElements.
RwUserDataArray *KivGeometryFindIntArray(const RwGeometry *geometry, const char *name, int minElements, int *index);
RwUserDataArray *KivFrameFindIntArray(const RwFrame *frame, const char *name, int minElements);
// Drops every "render" array a geometry carries (a model file may bring some).
void KivGeometryDropRenderArrays(RwGeometry *geometry);

// The "render" array keeps an index into this fixed table, never an address:
// 0 and unknown indices stand for the library default.
RwUInt32 KivRenderCallBackIndex(RwAtomicCallBackRender callback);
RwAtomicCallBackRender KivRenderCallBackFromIndex(RwUInt32 index);

// An atomic is switched while its callback is the deferring one and its
// geometry carries a "render" array. The saved callback, null when not switched.
RwAtomicCallBackRender AtomicGetSavedRenderCallBack(const RwAtomic *atomic);
// Removes the array unless another atomic shares the geometry (a clone).
void AtomicRemoveRenderArray(RwAtomic *atomic);
// A switched atomic takes its saved callback back.
void AtomicRestoreRenderCallBack(RwAtomic *atomic);
