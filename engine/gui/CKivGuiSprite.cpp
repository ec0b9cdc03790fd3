// The GUI's image: loading into a textured rectangle, placing, scaling, tinting and drawing.
#include "engine/gui/CKivGuiSprite.h"

#include <cmath>
#include <cstring>
#include <new>

#include "engine/CKivBase.h"
#include "engine/KivEngineLock.h"
#include "engine/gui/GuiScreen.h"
#include "engine/gui/GuiText.h"
#include "gfx/core/image.h"
#include "gfx/core/matrix.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "gfx/plugins/toolkit2d/toolkit2d.h"

namespace {

// Reads a texture that belongs to no dictionary: a dictionary made for this
// read is current while it runs, so neither a world's dictionary nor a
// same-named texture elsewhere is touched, and destroying some dictionary
// later never frees the image under the sprite's brush. The dictionary,
// path and mode are the process's: the caller holds the render lock, so no
// other thread's read meets them.
RwTexture *ReadOwnTexture(const char *file, const char *folder)
{
    RwTextureDictionary *scratch = RwTextureDictionaryCreate();
    if (!scratch)
        return nullptr;
    RwTextureDictionary *previous = RwTextureDictionaryGetCurrent();
    RwTextureDictionarySetCurrent(scratch);
    RwImageSetPath(folder);
    const int mode = CKivBase::GetTextureReadMode();
    CKivBase::SetTextureReadMode(1);
    RwTexture *texture = RwTextureRead(file, nullptr);
    CKivBase::SetTextureReadMode(mode);
    if (texture && RwTextureGetDictionary(texture))
        RwTextureDictionaryRemoveTexture(texture);
    RwTextureDictionarySetCurrent(previous);
    RwTextureDictionaryDestroy(scratch);
    return texture;
}

// A size the image scale divides into whole full-quality pixels.
float ScaledSize(int pixels, float s)
{
    return s * std::trunc(pixels / s);
}

} // namespace

CKivGuiSprite::~CKivGuiSprite()
{
    Release();
}

// Under the render lock, as a loading thread may be reading textures.
int CKivGuiSprite::Load(const char *file, const char *folder)
{
    EngineLock lock;
    Release();
    if (!file || !folder)
        return 0;
    GuiCopyWhole(m_path, sizeof(m_path), folder);
    const size_t used = std::strlen(m_path);
    GuiCopyWhole(m_path + used, static_cast<int>(sizeof(m_path) - used), file);
    RwTexture *texture = ReadOwnTexture(file, folder);
    if (!texture || !Build(texture)) {
        if (texture)
            RwTextureDestroy(texture);
        Release();
        return 0;
    }
    // The shape keeps the brush and the brush the texture.
    RwTextureDestroy(texture);
    SetScale();
    return 1;
}

CKivGuiSprite *CKivGuiSprite::CreateLoaded(const char *file, const char *folder)
{
    CKivGuiSprite *sprite = new (std::nothrow) CKivGuiSprite;
    if (sprite && !sprite->Load(file, folder)) {
        delete sprite;
        sprite = nullptr;
    }
    return sprite;
}

bool CKivGuiSprite::Build(RwTexture *texture)
{
    const RwRaster *raster = RwTextureGetRaster(texture);
    if (!raster)
        return false;
    const float s = GuiImageScale();
    m_width = ScaledSize(raster->width, s);
    m_height = ScaledSize(raster->height, s);

    m_shape = Rw2dShapeCreate();
    Rw2dBrush *brush = Rw2dBrushCreate();
    Rw2dPath *path = Rw2dPathCreate();
    // Corners bottom-left, bottom-right, top-right, top-left: the image's
    // top texel row along the rectangle's top edge.
    const RwV2d uv[4] = {{0, 1}, {1, 1}, {1, 0}, {0, 0}};
    bool ok = m_shape && brush && path && Rw2dBrushSetUV(brush, &uv[0], &uv[1], &uv[2], &uv[3]) &&
              Rw2dBrushSetTexture(brush, texture) && Rw2dPathRect(path, 0, 0, m_width, m_height) &&
              Rw2dPathUnlock(path) && Rw2dShapeAddNode(m_shape, 1, path, brush);
    if (brush)
        Rw2dBrushDestroy(brush);
    // The shape owns the path once the node holds it.
    if (!ok) {
        if (path)
            Rw2dPathDestroy(path);
        return false;
    }
    Rw2dObjectSetIdentity(m_shape);
    Rw2dObjectTranslate(m_shape, 0, 0);
    Rw2dObjectRotate(m_shape, 0);
    Rw2dObjectScale(m_shape, 1, 1);
    return true;
}

void CKivGuiSprite::Release()
{
    if (m_shape)
        Rw2dShapeDestroy(m_shape);
    DestroyScene();
    m_shape = nullptr;
    m_path[0] = 0;
}

void CKivGuiSprite::Render()
{
    Rw2dObject *object = m_scene ? m_scene : m_shape;
    if (!object)
        return;
    if (m_dirty) {
        Rw2dObjectMarkMatrixChanged(object);
        m_dirty = 0;
    }
    if (m_scene)
        Rw2dSceneRender(m_scene);
    else
        Rw2dShapeRender(m_shape);
}

void CKivGuiSprite::SetMatrixPosition(Rw2dObject *object, float x, float y)
{
    RwMatrix *m = Rw2dObjectGetMatrix(object);
    m->pos.x = x;
    m->pos.y = y;
    // An identity-flagged matrix (a scene just given a child) would keep its position out of products.
    RwMatrixMarkChanged(m);
    m_dirty = 1;
}

void CKivGuiSprite::SetPosition(const float *xy, int scaleFix)
{
    if (!m_shape || !xy)
        return;
    float y2 = GuiViewportHeight() - (m_height + xy[1]);
    if (scaleFix)
        y2 -= m_height / GuiImageScale() - m_height;
    SetMatrixPosition(m_shape, xy[0] - 0.5f, y2 - 0.5f);
}

void CKivGuiSprite::SetPositionInt(int x, int y, int scaleFix)
{
    const float xy[2] = {static_cast<float>(x), static_cast<float>(y)};
    SetPosition(xy, scaleFix);
}

void CKivGuiSprite::SetScale(const float *scale)
{
    if (!m_shape)
        return;
    const float s = GuiImageScale();
    RwMatrix *m = Rw2dObjectGetMatrix(m_shape);
    const RwV3d pos = m->pos;
    const RwV3d k = {(scale ? scale[0] : 1.0f) / s, (scale ? scale[1] : 1.0f) / s, 1};
    RwMatrixScale(m, &k, rwCOMBINEREPLACE);
    SetMatrixPosition(m_shape, pos.x, pos.y);
}

void CKivGuiSprite::SetScaleCentered(const float *scale)
{
    if (!m_shape || !scale)
        return;
    const float s = GuiImageScale();
    const float kx = scale[0] / s, ky = scale[1] / s;
    RwMatrix *m = Rw2dObjectGetMatrix(m_shape);
    const RwV3d pos = m->pos;
    const RwV3d k = {kx, ky, 1};
    RwMatrixScale(m, &k, rwCOMBINEREPLACE);
    SetMatrixPosition(m_shape, pos.x + (m_width / 2 - m_width * kx / 2), pos.y + (m_height / 2 - m_height * ky / 2));
}

void CKivGuiSprite::SetColor(float r, float g, float b)
{
    if (!m_shape)
        return;
    RwRGBAReal c = *Rw2dObjectGetColorMultiplier(m_shape);
    c.red = r;
    c.green = g;
    c.blue = b;
    Rw2dObjectSetColorMultiplier(m_shape, &c);
    m_dirty = 1;
}

void CKivGuiSprite::SetAlpha(float a)
{
    if (!m_shape)
        return;
    RwRGBAReal c = *Rw2dObjectGetColorMultiplier(m_shape);
    c.alpha = a > 0 ? (a < 1 ? a : 1) : 0;
    Rw2dObjectSetColorMultiplier(m_shape, &c);
    m_dirty = 1;
}

void CKivGuiSprite::SetVisible(int flag)
{
    if (m_shape)
        Rw2dObjectSetVisible(m_shape, flag == 1);
}

int CKivGuiSprite::CreateScene(const char *)
{
    DestroyScene();
    m_scene = Rw2dSceneCreate();
    if (!m_scene)
        return 0;
    m_childCount = 0;
    Rw2dObjectTranslate(m_scene, 0, 0);
    Rw2dObjectSetVisible(m_scene, 1);
    return 1;
}

void CKivGuiSprite::DestroyScene()
{
    if (m_scene)
        Rw2dSceneDestroy(m_scene);
    m_scene = nullptr;
    m_childCount = 0;
}

int CKivGuiSprite::AddChild(CKivGuiSprite *other)
{
    if (!m_scene || !other || other == this || !other->m_shape || !Rw2dSceneLock(m_scene))
        return 0;
    if (!Rw2dSceneAddChild(m_scene, other->m_shape)) {
        Rw2dSceneUnlock(m_scene);
        return 0;
    }
    // The scene owns the shape from here on, even while it stays locked.
    other->m_shape = nullptr;
    Rw2dSceneUnlock(m_scene);
    Rw2dObjectSetIdentity(m_scene);
    m_childCount++;
    return 1;
}

void CKivGuiSprite::SetScenePosition(float x, float y)
{
    if (!m_scene)
        return;
    SetMatrixPosition(m_scene, x - 0.5f, GuiViewportHeight() - (m_height + y));
    Rw2dCTMSetIdentity();
}
