// Plug-in registries: extension blocks appended to every object of a type.
#include "plugin.h"

#include <cstring>

#include "engine.h"
#include "memory.h"
#include "modules.h"

enum : RwInt32 {
    rwPLUGINENTRIESPERBLOCK = 64,
};

static RwFreeList entryFreeList;
static RwFreeList *entryList = nullptr;      // NULL while the registry module is closed
// Without free lists the entries cannot be walked through their pool, so the
// registries that received entries are remembered here.
static RwPluginRegistry **registries = nullptr;
static RwInt32 numRegistries = 0;

static void *DefaultConstruct(void *object, RwInt32 offset, RwInt32 size)
{
    return object;
}

static void *DefaultCopy(void *dst, const void *src, RwInt32 offset, RwInt32 size)
{
    return dst;
}

static void ResetRegistry(RwPluginRegistry *reg)
{
    reg->sizeOfStruct = reg->origSizeOfStruct;
    reg->firstRegEntry = nullptr;
    reg->lastRegEntry = nullptr;
}

static RwBool RememberRegistry(RwPluginRegistry *reg)
{
    for (RwInt32 i = 0; i < numRegistries; ++i) {
        if (registries[i] == reg) {
            return TRUE;
        }
    }
    void *grown = registries
                      ? RwRealloc(registries, sizeof(*registries) * (numRegistries + 1), rwMEMHINTDUR_GLOBAL)
                      : RwMalloc(sizeof(*registries), rwMEMHINTDUR_GLOBAL);
    if (!grown) {
        return FALSE;
    }
    registries = static_cast<RwPluginRegistry **>(grown);
    registries[numRegistries++] = reg;
    return TRUE;
}

RwPluginEntry *RwPluginRegistryFindEntry(const RwPluginRegistry *reg, RwUInt32 pluginID)
{
    if (!reg) {
        return nullptr;
    }
    for (RwPluginEntry *e = reg->firstRegEntry; e; e = e->nextRegEntry) {
        if (e->pluginID == pluginID) {
            return e;
        }
    }
    return nullptr;
}

RwInt32 RwPluginRegistryAddPlugin(RwPluginRegistry *reg, RwInt32 size, RwUInt32 pluginID,
                                  RwPluginObjectConstructor constructCB, RwPluginObjectDestructor destructCB,
                                  RwPluginObjectCopy copyCB)
{
    if (!entryList || !reg || size < 0) {
        return -1;
    }
    if (RwEngineGetOpenCount() != 0) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_PLUGININIT);
        return -1;
    }
    if (!constructCB) {
        constructCB = DefaultConstruct;
    }
    if (!destructCB) {
        destructCB = DefaultConstruct;
    }
    if (!copyCB) {
        copyCB = DefaultCopy;
    }
    if (RwPluginEntry *old = RwPluginRegistryFindEntry(reg, pluginID)) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_PLUGININIT);
        // The same registration made again keeps its block; anything else
        // would share another plug-in's data and is refused.
        if (old->size == size && old->constructCB == constructCB && old->destructCB == destructCB &&
            old->copyCB == copyCB) {
            return old->offset;
        }
        return -1;
    }
    RwInt32 grow = RwRoundUp4(size);
    if (size > 0x3FFFFFF0 || reg->sizeOfStruct > 0x7FFFFFFF - grow) {
        return -1;
    }
    if (reg->maxSizeOfStruct != 0 && reg->sizeOfStruct + grow > reg->maxSizeOfStruct) {
        return -1;
    }
    if (RwFreeListsDisabled() && !RememberRegistry(reg)) {
        return -1;
    }
    RwPluginEntry *e = static_cast<RwPluginEntry *>(RwFreeListAlloc(entryList, rwMEMHINTDUR_GLOBAL));
    if (!e) {
        return -1;
    }
    memset(e, 0, sizeof(*e));
    e->offset = reg->sizeOfStruct;
    e->size = size;
    e->pluginID = pluginID;
    e->constructCB = constructCB;
    e->destructCB = destructCB;
    e->copyCB = copyCB;
    e->parentRegistry = reg;
    e->prevRegEntry = reg->lastRegEntry;
    if (reg->lastRegEntry) {
        reg->lastRegEntry->nextRegEntry = e;
    } else {
        reg->firstRegEntry = e;
    }
    reg->lastRegEntry = e;
    reg->sizeOfStruct += grow;
    return e->offset;
}

RwInt32 RwPluginRegistryGetPluginOffset(const RwPluginRegistry *reg, RwUInt32 pluginID)
{
    const RwPluginEntry *e = RwPluginRegistryFindEntry(reg, pluginID);
    return e ? e->offset : -1;
}

const RwPluginRegistry *RwPluginRegistryInitObject(const RwPluginRegistry *reg, void *object)
{
    for (RwPluginEntry *e = reg->firstRegEntry; e; e = e->nextRegEntry) {
        if (!e->constructCB(object, e->offset, e->size)) {
            for (RwPluginEntry *u = e->prevRegEntry; u; u = u->prevRegEntry) {
                u->destructCB(object, u->offset, u->size);
            }
            return nullptr;
        }
    }
    return reg;
}

const RwPluginRegistry *RwPluginRegistryDeInitObject(const RwPluginRegistry *reg, void *object)
{
    for (RwPluginEntry *e = reg->lastRegEntry; e; e = e->prevRegEntry) {
        e->destructCB(object, e->offset, e->size);
    }
    return reg;
}

const RwPluginRegistry *RwPluginRegistryCopyObject(const RwPluginRegistry *reg, void *dst, const void *src)
{
    // A copy that fails leaves the destination partly copied: the caller
    // destroys it, so the copies after it need not run.
    for (RwPluginEntry *e = reg->firstRegEntry; e; e = e->nextRegEntry) {
        if (!e->copyCB(dst, src, e->offset, e->size)) {
            return nullptr;
        }
    }
    return reg;
}

RwBool RwPluginRegistryOpen(void)
{
    registries = nullptr;
    numRegistries = 0;
    entryList = RwFreeListCreateAndPreallocate(sizeof(RwPluginEntry), rwPLUGINENTRIESPERBLOCK, 4, 1,
                                               &entryFreeList, rwMEMHINTDUR_GLOBAL);
    return entryList != nullptr;
}

static void ReleaseEntry(void *entry, void *data)
{
    RwPluginEntry *e = static_cast<RwPluginEntry *>(entry);
    ResetRegistry(e->parentRegistry);
    RwFreeListFree(entryList, e);
}

RwBool RwPluginRegistryClose(void)
{
    if (!entryList) {
        return FALSE;
    }
    if (RwFreeListsDisabled()) {
        for (RwInt32 i = 0; i < numRegistries; ++i) {
            RwPluginEntry *e = registries[i]->firstRegEntry;
            while (e) {
                RwPluginEntry *next = e->nextRegEntry;
                RwFreeListFree(entryList, e);
                e = next;
            }
            ResetRegistry(registries[i]);
        }
        if (registries) {
            RwFree(registries);
        }
        registries = nullptr;
        numRegistries = 0;
    } else {
        RwFreeListForAllUsed(entryList, ReleaseEntry, nullptr);
    }
    RwFreeListDestroy(entryList);
    entryList = nullptr;
    return TRUE;
}
