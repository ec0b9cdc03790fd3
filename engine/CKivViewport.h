// The render targets of one window: colour, depth and an optional camera-texture raster.
#pragma once

#include <windows.h>

struct RwRaster;
struct RwRect;

class CKivViewport
{
public:
    CKivViewport();
    virtual ~CKivViewport();
    CKivViewport(const CKivViewport &) = delete;
    CKivViewport &operator=(const CKivViewport &) = delete;

    // Rasters of width x height: colour always, depth and camera texture on
    // request; 0 when one fails (a failed depth raster takes the colour one with it).
    int Create(HWND window, int width, int height, int depth, int cameraTexture);
    // Colour (and depth) rasters that are windows into the parent's over rect.
    int CreateSubViewport(CKivViewport *parent, const RwRect *rect, int depth);
    int MoveSubViewport(CKivViewport *parent, const RwRect *rect);
    // A colour raster that is a camera texture of its own.
    int CreateTextureViewport(HWND window, int width, int height, int depth);

    int GetWidth() const { return m_width; }
    int GetHeight() const { return m_height; }
    float GetAspect() const { return m_aspect; }
    HWND GetWindow() const { return m_window; }
    RwRaster *GetRaster() const { return m_raster; }
    RwRaster *GetZRaster() const { return m_zRaster; }
    RwRaster *GetTextureRaster() const { return m_textureRaster; }

private:
    void Release();
    int CreateOwn(HWND window, int width, int height, int colourType, int depth);
    void SetSize(HWND window, int width, int height);

    HWND m_window;
    RwRaster *m_raster;          // camera raster (type 2)
    RwRaster *m_zRaster;         // depth raster (type 1) or null
    RwRaster *m_textureRaster;   // camera-texture raster (type 5) or null
    int m_width;
    int m_height;
    float m_aspect;              // height / width
};
