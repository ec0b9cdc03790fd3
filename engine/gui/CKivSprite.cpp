// A named set of GUI sprites: loading, placing bottom-up, and drawing one through the owner's camera.
#include "engine/gui/CKivSprite.h"

#include <exception>

#include "engine/gui/CKivGuiSprite.h"
#include "engine/gui/GuiScreen.h"
#include "gfx/core/camera.h"

CKivSprite::~CKivSprite()
{
    DeleteAll();
}

CKivGuiSprite *CKivSprite::GetSprite(const char *key) const
{
    auto it = m_sprites.find(key ? key : "");
    return it == m_sprites.end() ? nullptr : it->second;
}

// The set's coordinates are bottom-up: turned top-down here, the sprite turns
// them back.
void CKivSprite::Place(CKivGuiSprite *sprite, float x, float y, int scaleFix)
{
    const float xy[2] = {x, GuiViewportHeight() - y - sprite->GetHeight()};
    sprite->SetPosition(xy, scaleFix);
}

int CKivSprite::AddSprite(const char *file, const char *folder, const char *key, float x, float y)
{
    if (!key || HasSprite(key))
        return 0;
    CKivGuiSprite *sprite = CKivGuiSprite::CreateLoaded(file, folder);
    if (!sprite)
        return 0;
    Place(sprite, x, y, 0);
    try {
        m_sprites.emplace(key, sprite);
    } catch (const std::exception &) {
        delete sprite;
        return 0;
    }
    return 1;
}

void CKivSprite::SetSpritePosition(const char *key, float x, float y, int scaleFix)
{
    if (CKivGuiSprite *sprite = GetSprite(key))
        Place(sprite, x, y, scaleFix);
}

void CKivSprite::SetSpriteScale(const char *key, float sx, float sy)
{
    const float scale[2] = {sx, sy};
    if (CKivGuiSprite *sprite = GetSprite(key))
        sprite->SetScale(scale);
}

void CKivSprite::SetSpriteScaleCentered(const char *key, float sx, float sy)
{
    const float scale[2] = {sx, sy};
    if (CKivGuiSprite *sprite = GetSprite(key))
        sprite->SetScaleCentered(scale);
}

void CKivSprite::SetSpriteVisible(const char *key, int flag)
{
    if (CKivGuiSprite *sprite = GetSprite(key))
        sprite->SetVisible(flag);
}

void CKivSprite::SetSpriteAlpha(const char *key, float alpha, int)
{
    if (CKivGuiSprite *sprite = GetSprite(key))
        sprite->SetAlpha(alpha);
}

void CKivSprite::SetSpriteColor(const char *key, float r, float g, float b, float a)
{
    if (CKivGuiSprite *sprite = GetSprite(key)) {
        sprite->SetColor(r, g, b);
        sprite->SetAlpha(a);
    }
}

float CKivSprite::GetSpriteWidth(const char *key) const
{
    CKivGuiSprite *sprite = GetSprite(key);
    return sprite ? sprite->GetWidth() : 0.0f;
}

float CKivSprite::GetSpriteHeight(const char *key) const
{
    CKivGuiSprite *sprite = GetSprite(key);
    return sprite ? sprite->GetHeight() : 0.0f;
}

int CKivSprite::HasSprite(const char *key) const
{
    return GetSprite(key) ? 1 : 0;
}

void CKivSprite::RenderSprite(const char *key)
{
    CKivGuiSprite *sprite = m_camera ? GetSprite(key) : nullptr;
    if (!sprite || !RwCameraBeginUpdate(m_camera))
        return;
    sprite->Render();
    RwCameraEndUpdate(m_camera);
}

int CKivSprite::SetCamera(RwCamera *camera)
{
    m_camera = camera;
    return 1;
}

void CKivSprite::RemoveSprite(const char *key)
{
    auto it = m_sprites.find(key ? key : "");
    if (it == m_sprites.end())
        return;
    delete it->second;
    m_sprites.erase(it);
}

void CKivSprite::DeleteAll()
{
    for (auto &entry : m_sprites)
        delete entry.second;
    m_sprites.clear();
}
