// Basic types shared by every module of the graphics library.
#pragma once

#include <cstddef>
#include <cstdint>

typedef int8_t RwInt8;
typedef uint8_t RwUInt8;
typedef int16_t RwInt16;
typedef uint16_t RwUInt16;
typedef int32_t RwInt32;
typedef uint32_t RwUInt32;
typedef float RwReal;
typedef char RwChar;
typedef RwInt32 RwBool;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

struct RwV2d { RwReal x, y; };
struct RwV3d { RwReal x, y, z; };
struct RwRGBA { RwUInt8 red, green, blue, alpha; };
struct RwRGBAReal { RwReal red, green, blue, alpha; };
struct RwRect { RwInt32 x, y, w, h; };
struct RwSphere { RwV3d center; RwReal radius; };

static_assert(sizeof(RwV3d) == 12, "RwV3d is three reals");
static_assert(sizeof(RwRGBA) == 4, "RwRGBA is four bytes");

// Link of a circular doubly linked list; a list head is a link that points
// at itself when the list is empty.
struct RwLLLink {
    RwLLLink *next;
    RwLLLink *prev;
};
typedef RwLLLink RwLinkList;

inline void RwLinkListInitialize(RwLinkList *list) { list->next = list->prev = list; }
inline bool RwLinkListEmpty(const RwLinkList *list) { return list->next == list; }
// Inserts link right after the head (at the front of the list).
inline void RwLinkListAddLLLink(RwLinkList *list, RwLLLink *link)
{
    link->next = list->next;
    link->prev = list;
    list->next->prev = link;
    list->next = link;
}
// Inserts link right before the head (at the back of the list).
inline void RwLinkListAppendLLLink(RwLinkList *list, RwLLLink *link)
{
    link->prev = list->prev;
    link->next = list;
    list->prev->next = link;
    list->prev = link;
}
inline void RwLLLinkRemove(RwLLLink *link)
{
    link->prev->next = link->next;
    link->next->prev = link->prev;
}
#define rwLLLinkGetData(link, type, member) \
    (reinterpret_cast<type *>(reinterpret_cast<RwUInt8 *>(link) - offsetof(type, member)))

// Common header of library objects: type, sub-type, flags and private flags
// (one byte each) and a parent pointer (the frame for objects on a frame).
struct RwObject {
    RwUInt8 type;
    RwUInt8 subType;
    RwUInt8 flags;
    RwUInt8 privateFlags;
    void *parent;
};
static_assert(sizeof(RwObject) == 8, "object header is 8 bytes");

inline void rwObjectInitialize(void *object, RwUInt8 type, RwUInt8 subType)
{
    RwObject *o = static_cast<RwObject *>(object);
    o->type = type;
    o->subType = subType;
    o->flags = 0;
    o->privateFlags = 0;
    o->parent = nullptr;
}

// Rounds n up to a multiple of 4, as every registry and chunk layout does.
inline RwInt32 RwRoundUp4(RwInt32 n) { return (n + 3) & ~3; }
