// An avatar item: its own atomics, the body parts it replaces and the slots it occupies.
#include "engine/CKivAvatarItem.h"

#include <algorithm>
#include <memory>
#include <new>

#include "engine/CKivAvatarAtomic.h"
#include "engine/CKivClump.h"
#include "engine/CKivToon.h"
#include "engine/KivEngineLock.h"
#include "engine/KivUserData.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "gfx/world/material.h"

CKivAvatarItem::CKivAvatarItem() : m_value(0), m_key(0), m_displayMode(0), m_flag(0), m_toon(nullptr) {}

CKivAvatarItem::~CKivAvatarItem()
{
    Clear();
}

void CKivAvatarItem::Clear()
{
    m_replacedParts.clear();
    m_slots.clear();
    for (CKivAvatarAtomic *atomic : m_atomics)
        delete atomic;
    m_atomics.clear();
}

// Memory running out takes back what this call added: the item stays as it was.
int CKivAvatarItem::AddClumpAtomics(CKivClump *clump)
{
    if (!clump)
        return 0;
    struct Adding {
        CKivAvatarItem *item;
        int whole;
    } adding = {this, 1};
    const size_t before = m_atomics.size();
    try {
        CKivAvatarAtomic::ForParts(
            clump->GetClump(),
            [](RwAtomic *part, const char *frameName, void *data) {
                Adding *a = static_cast<Adding *>(data);
                CKivAvatarItem *item = a->item;
                // Room and holder first: memory running out leaves no clone without an owner.
                std::unique_ptr<CKivAvatarAtomic> atomic;
                try {
                    item->m_atomics.reserve(item->m_atomics.size() + 1);
                    atomic.reset(new CKivAvatarAtomic);
                } catch (const std::bad_alloc &) {
                    a->whole = 0;
                    return;
                }
                if (!a->whole || !atomic->SetFrameName(frameName)) {
                    a->whole = 0;
                    return;
                }
                RwAtomic *copy = RwAtomicClone(part);
                if (!copy)
                    return;
                atomic->SetAtomic(copy);
                atomic->SetDisplayFlags(item->m_displayMode, item->m_flag);
                item->m_atomics.push_back(atomic.release());
            },
            &adding);
    } catch (const std::bad_alloc &) {
        adding.whole = 0;
    }
    if (!adding.whole) {
        for (size_t i = before; i < m_atomics.size(); i++)
            delete m_atomics[i];
        m_atomics.resize(before);
        return 0;
    }
    m_toon = clump->GetToon();
    return 1;
}

int CKivAvatarItem::AddReplacedPart(const char *name)
{
    try {
        m_replacedParts.push_back(name ? name : "");
    } catch (const std::bad_alloc &) {
        return 0;
    }
    return 1;
}

int CKivAvatarItem::AddSlot(int slot)
{
    try {
        m_slots.push_back(slot);
    } catch (const std::bad_alloc &) {
        return 0;
    }
    return 1;
}

int CKivAvatarItem::HasSlot(int slot) const
{
    return std::find(m_slots.begin(), m_slots.end(), slot) != m_slots.end();
}

int CKivAvatarItem::SharesSlot(const CKivAvatarItem *other) const
{
    for (int slot : m_slots) {
        if (other && other->HasSlot(slot))
            return 1;
    }
    return 0;
}

void CKivAvatarItem::ResetColor()
{
    EngineLock lock;
    for (CKivAvatarAtomic *atomic : m_atomics)
        CKivAvatarAtomic::Colour(atomic->GetAtomic(), CKivAvatarAtomic::DisplayAlpha(m_displayMode, m_flag, 1));
}

void CKivAvatarItem::SetColor(const RwRGBA *colour)
{
    EngineLock lock;
    for (CKivAvatarAtomic *atomic : m_atomics) {
        RwGeometry *geometry = atomic->GetAtomic() ? atomic->GetAtomic()->geometry : nullptr;
        if (!geometry || !colour)
            continue;
        CKivAvatarAtomic::Colour(atomic->GetAtomic(), colour->alpha);
        for (RwInt32 i = 0; i < geometry->matList.numMaterials; i++) {
            if (RwMaterial *material = geometry->matList.materials[i])
                material->color = *colour;
        }
    }
}

void CKivAvatarItem::SetupAlpha()
{
    for (CKivAvatarAtomic *atomic : m_atomics)
        CKivClump::SetupAlphaAtomic(atomic->GetAtomic());
}

void CKivAvatarItem::RestoreAlpha()
{
    for (CKivAvatarAtomic *atomic : m_atomics)
        CKivClump::RestoreAlphaAtomic(atomic->GetAtomic());
}

void CKivAvatarItem::SetToon(CKivToon *toon)
{
    if (toon || m_toon) {
        RestoreAlpha();
        for (CKivAvatarAtomic *atomic : m_atomics) {
            if (toon)
                toon->ApplyToAtomic(atomic->GetAtomic());
            else
                m_toon->RemoveFromAtomic(atomic->GetAtomic());
        }
        SetupAlpha();
    }
    m_toon = toon;
}
