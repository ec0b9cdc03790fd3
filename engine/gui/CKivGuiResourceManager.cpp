// The named store of the GUI's fonts and sprites: registration, counts, device loss, release.
#include "engine/gui/CKivGuiResourceManager.h"

#include <exception>
#include <new>

#include "engine/gui/CKivGuiDxFont.h"
#include "engine/gui/CKivGuiSprite.h"

CKivGuiResourceManager::~CKivGuiResourceManager()
{
    ReleaseAll();
}

int CKivGuiResourceManager::AddFont(const char *idString, const char *face, const char *name, int height,
                                    int weight, const D3DXCOLOR &textColour, int outline,
                                    const D3DXCOLOR &outlineColour)
{
    if (!name || HasResource(name))
        return 0;
    CKivGuiDxFont *font = new (std::nothrow) CKivGuiDxFont;
    if (!font)
        return 0;
    if (!font->Create(idString, face, height, weight, textColour, outline, outlineColour) ||
        !AddResource(name, kFont, font)) {
        font->Release();
        delete font;
        return 0;
    }
    return 1;
}

// 0 when memory runs out: the object is not held, its maker keeps it.
int CKivGuiResourceManager::AddResource(const char *name, int type, void *object)
{
    if (!name || HasResource(name))
        return 1;
    try {
        m_resources.emplace(name, Record{name, type, 1, object});
    } catch (const std::exception &) {
        return 0;
    }
    return 1;
}

void *CKivGuiResourceManager::GetResource(const char *name, int *typeOut) const
{
    auto it = m_resources.find(name ? name : "");
    if (it == m_resources.end())
        return nullptr;
    if (typeOut)
        *typeOut = it->second.type;
    return it->second.object;
}

int CKivGuiResourceManager::HasResource(const char *name) const
{
    return name && m_resources.count(name) ? 1 : 0;
}

int CKivGuiResourceManager::AddRef(const char *name)
{
    auto it = m_resources.find(name ? name : "");
    return it == m_resources.end() ? 1 : ++it->second.count;
}

int CKivGuiResourceManager::ReleaseRef(const char *name)
{
    auto it = m_resources.find(name ? name : "");
    return it == m_resources.end() ? 0 : --it->second.count;
}

// Presence decides, not AddRef's answer: a count released to 0 answers 1 as
// an absent name does, and would load a second sprite over the first.
int CKivGuiResourceManager::AddImage(const char *file, const char *folder, const char *name)
{
    if (!name)
        return 0;
    if (HasResource(name)) {
        AddRef(name);
        return 0;
    }
    CKivGuiSprite *sprite = CKivGuiSprite::CreateLoaded(file, folder);
    if (sprite && !AddResource(name, kSprite, sprite)) {
        delete sprite;
        return 0;
    }
    return sprite ? 1 : 0;
}

int CKivGuiResourceManager::AddScene(const char *name)
{
    if (!name || HasResource(name))
        return 0;
    CKivGuiSprite *sprite = new (std::nothrow) CKivGuiSprite;
    if (!sprite)
        return 0;
    if (!sprite->CreateScene(name) || !AddResource(name, kSprite, sprite)) {
        delete sprite;
        return 0;
    }
    return 1;
}

int CKivGuiResourceManager::ReleaseAll()
{
    for (auto &entry : m_resources) {
        Record &r = entry.second;
        if (!r.object)
            continue;
        if (r.type == kFont) {
            CKivGuiDxFont *font = static_cast<CKivGuiDxFont *>(r.object);
            font->Release();
            delete font;
        } else if (r.type == kSprite) {
            CKivGuiSprite *sprite = static_cast<CKivGuiSprite *>(r.object);
            sprite->Release();
            delete sprite;
        }
        r.object = nullptr;
    }
    m_resources.clear();
    return 1;
}

int CKivGuiResourceManager::OnLostDevice()
{
    for (auto &entry : m_resources)
        if (entry.second.type == kFont && entry.second.object)
            static_cast<CKivGuiDxFont *>(entry.second.object)->OnLostDevice();
    return 1;
}

int CKivGuiResourceManager::OnResetDevice()
{
    for (auto &entry : m_resources)
        if (entry.second.type == kFont && entry.second.object)
            static_cast<CKivGuiDxFont *>(entry.second.object)->OnResetDevice();
    return 1;
}
