// The render targets of one window: colour, depth and an optional camera-texture raster.
#include "engine/CKivViewport.h"

#include "gfx/core/raster.h"

namespace {

void DestroyRaster(RwRaster *&raster)
{
    if (raster)
        RwRasterDestroy(raster);
    raster = nullptr;
}

// A raster without pixels of its own over rect of parent.
RwRaster *SubRaster(RwRaster *parent, const RwRect *rect, RwInt32 type)
{
    RwRaster *sub = RwRasterCreate(0, 0, 0, type | rwRASTERDONTALLOCATE);
    if (sub && !RwRasterMakeSubRaster(sub, parent, rect)) {
        RwRasterDestroy(sub);
        return nullptr;
    }
    return sub;
}

} // namespace

CKivViewport::CKivViewport()
    : m_window(nullptr), m_raster(nullptr), m_zRaster(nullptr), m_textureRaster(nullptr), m_width(0),
      m_height(0), m_aspect(0.0f)
{
}

CKivViewport::~CKivViewport()
{
    Release();
}

void CKivViewport::Release()
{
    DestroyRaster(m_textureRaster);
    DestroyRaster(m_zRaster);
    DestroyRaster(m_raster);
}

void CKivViewport::SetSize(HWND window, int width, int height)
{
    m_window = window;
    m_width = width;
    m_height = height;
    m_aspect = width ? static_cast<float>(height) / static_cast<float>(width) : 0.0f;
}

// Colour raster of the type and, on request, a depth raster, both width x height.
int CKivViewport::CreateOwn(HWND window, int width, int height, int colourType, int depth)
{
    Release();
    SetSize(window, width, height);
    m_raster = RwRasterCreate(width, height, 0, colourType);
    if (!m_raster)
        return 0;
    if (depth) {
        m_zRaster = RwRasterCreate(width, height, 0, rwRASTERTYPEZBUFFER);
        if (!m_zRaster) {
            DestroyRaster(m_raster);
            return 0;
        }
    }
    return 1;
}

int CKivViewport::Create(HWND window, int width, int height, int depth, int cameraTexture)
{
    if (!CreateOwn(window, width, height, rwRASTERTYPECAMERA, depth))
        return 0;
    if (cameraTexture) {
        m_textureRaster = RwRasterCreate(width, height, 0, rwRASTERTYPECAMERATEXTURE);
        if (!m_textureRaster)
            return 0;
    }
    return 1;
}

int CKivViewport::CreateSubViewport(CKivViewport *parent, const RwRect *rect, int depth)
{
    Release();
    if (!parent || !rect || !parent->m_raster || (depth && !parent->m_zRaster))
        return 0;
    SetSize(parent->m_window, rect->w, rect->h);
    m_raster = SubRaster(parent->m_raster, rect, rwRASTERTYPECAMERA);
    if (!m_raster)
        return 0;
    if (depth) {
        m_zRaster = SubRaster(parent->m_zRaster, rect, rwRASTERTYPEZBUFFER);
        if (!m_zRaster) {
            DestroyRaster(m_raster);
            return 0;
        }
    }
    return 1;
}

int CKivViewport::MoveSubViewport(CKivViewport *parent, const RwRect *rect)
{
    if (!parent || !rect || !m_raster || !parent->m_raster)
        return 0;
    if (!RwRasterMakeSubRaster(m_raster, parent->m_raster, rect))
        return 0;
    if (m_zRaster && (!parent->m_zRaster || !RwRasterMakeSubRaster(m_zRaster, parent->m_zRaster, rect)))
        return 0;
    SetSize(parent->m_window, rect->w, rect->h);
    return 1;
}

int CKivViewport::CreateTextureViewport(HWND window, int width, int height, int depth)
{
    return CreateOwn(window, width, height, rwRASTERTYPECAMERATEXTURE, depth);
}
