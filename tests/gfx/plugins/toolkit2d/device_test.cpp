// The 2D toolkit drawn on the Direct3D 9 device, pixels read back.
#include <string>

#include "gfx/core/camera.h"
#include "gfx/core/filesys.h"
#include "gfx/core/frame.h"
#include "gfx/core/image.h"
#include "gfx/core/pngformat.h"
#include "gfx/core/raster.h"
#include "gfx/core/win32filesys.h"
#include "gfx/d3d9/d3d9im2d.h"
#include "gfx/d3d9/d3d9renderstate.h"
#include "gfx/d3d9/d3d9state.h"
#include "gfx/d3d9/d3d9testcamera.h"
#include "gfx/plugins/toolkit2d/font2d.h"

namespace {

class Toolkit2dDevice : public CameraDevice {
protected:
    static void SetUpTestSuite()
    {
        CameraDevice::SetUpTestSuite();
        ASSERT_TRUE(Rw2dOpen(camera));
        ASSERT_TRUE(Rw2dDeviceSetMetric(0, 0, 1024, 768));
        ASSERT_TRUE(RwFileSystemManagerOpen(0));
        RwFileSystem *fs = RwWin32FileSystemCreate(8, "", "work");
        ASSERT_NE(fs, nullptr);
        RwFileSystemRegister(fs);
        RwFileSystemSetDefault(fs);
        RwImageRegisterFormat("png", RwImageReadPng, RwImageWritePng);
    }
    static void TearDownTestSuite()
    {
        RwFileSystemManagerClose();
        Rw2dClose();
        CameraDevice::TearDownTestSuite();
    }

    // Clears to black, runs `draw` inside one camera update.
    template <typename F>
    void Frame(F draw)
    {
        ASSERT_TRUE(Begin());
        draw();
        End();
        EXPECT_EQ(Rw2dCTMGetDepth(), 0);
    }
    // The pixel of 2D point (x, y): y counts up from the bottom row.
    DWORD At(int x, int y) { return ReadPixel(x, 767 - y); }
};

void PutFile(const char *path, const std::string &text)
{
    HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD wrote = 0;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr);
    CloseHandle(h);
}

Rw2dBrush *Solid(RwUInt8 r, RwUInt8 g, RwUInt8 b)
{
    Rw2dBrush *brush = Rw2dBrushCreate();
    const RwRGBA c = {r, g, b, 255};
    Rw2dBrushSetRGBA(brush, &c, &c, &c, &c);
    return brush;
}

Rw2dObject *RectShape(float x, float y, float w, float h, Rw2dBrush *brush)
{
    Rw2dObject *shape = Rw2dShapeCreate();
    Rw2dShapeAddNode(shape, 1, Rw2dPathUnlock(Rw2dPathRect(Rw2dPathCreate(), x, y, w, h)), brush);
    return shape;
}

TEST_F(Toolkit2dDevice, ScreenEntryPointsRefuseWhatTheyCannotDraw)
{
    struct {
        float x, y, z, rhw;
        DWORD colour;
        float u, v;
    } quad[3] = {{10, 10, 0.5f, 1, 0xFFFFFFFF, 0, 0}, {30, 10, 0.5f, 1, 0xFFFFFFFF, 0, 0},
                 {10, 30, 0.5f, 1, 0xFFFFFFFF, 0, 0}};
    RwUInt16 indices[3] = {0, 1, 3};
    Frame([&] {
        EXPECT_FALSE(RwD3D9Im2DRenderIndexedPrimitive(3, quad, 3, indices, 3)) << "index past the vertices";
        EXPECT_FALSE(RwD3D9Im2DRenderPrimitive(9, quad, 3)) << "no such primitive";
        EXPECT_FALSE(RwD3D9Im2DRenderTriangle(quad, 3, 0, 1, 5));
        EXPECT_TRUE(RwD3D9Im2DRenderTriangle(quad, 3, 0, 1, 2));
    });
    EXPECT_TRUE(NearColour(ReadPixel(14, 14), 0xFFFFFF));
    EXPECT_TRUE(NearColour(ReadPixel(28, 28), 0));
}

TEST_F(Toolkit2dDevice, FilledRectangleCoversItsPixelsWithTheFourCornerGradient)
{
    Rw2dBrush *brush = Rw2dBrushCreate();
    const RwRGBA red = {255, 0, 0, 255}, green = {0, 255, 0, 255}, blue = {0, 0, 255, 255},
                 white = {255, 255, 255, 255};
    Rw2dBrushSetRGBA(brush, &red, &green, &blue, &white);
    Rw2dObject *shape = RectShape(300, 300, 200, 200, brush);
    Frame([&] { Rw2dShapeRender(shape); });
    const struct {
        int x, y;
        DWORD colour;
    } probes[] = {{302, 302, 0xFF0000}, {497, 302, 0x00FF00}, {497, 497, 0x0000FF}, {302, 497, 0xFFFFFF},
                  {297, 400, 0},        {503, 400, 0},        {400, 297, 0},        {400, 503, 0}};
    for (const auto &p : probes)
        EXPECT_TRUE(NearColour(At(p.x, p.y), p.colour, 8)) << p.x << "," << p.y << " " << std::hex << At(p.x, p.y);
    Rw2dBrushDestroy(brush);
    Rw2dObjectDestroy(shape);
}

TEST_F(Toolkit2dDevice, StrokeIsTwiceTheHalfWidth)
{
    Rw2dBrush *brush = Solid(255, 255, 0);
    Rw2dBrushSetWidth(brush, 5);
    Rw2dPath *path = Rw2dPathCreate();
    Rw2dPathMoveto(path, 100, 400);
    Rw2dPathLineto(path, 300, 400);
    Rw2dPathUnlock(path);
    Frame([&] { Rw2dPathStroke(path, brush); });
    for (int dy : {-3, 0, 3})
        EXPECT_TRUE(NearColour(At(200, 400 + dy), 0xFFFF00)) << dy;
    for (int dy : {-8, 8})
        EXPECT_TRUE(NearColour(At(200, 400 + dy), 0)) << dy;
    EXPECT_TRUE(NearColour(At(96, 400), 0));
    Rw2dPathDestroy(path);
    Rw2dBrushDestroy(brush);
}

TEST_F(Toolkit2dDevice, PathCrossingTheNearPlaneIsClipped)
{
    // A transformation that tilts the layer: depth 3 - x / 250 runs from 2.6 at
    // x = 100 through the near plane (0.5) at x = 625 to behind the camera at
    // x = 900. A point of depth z shows at 512 + (x - 512) / z.
    RwMatrix tilt;
    RwMatrixSetIdentity(&tilt);
    tilt.right.z = -1.0f / 250.0f;
    tilt.pos.z = 2.0f;
    RwMatrixMarkChanged(&tilt);
    Rw2dBrush *brush = Solid(255, 0, 0);
    Rw2dPath *path = Rw2dPathUnlock(Rw2dPathRect(Rw2dPathCreate(), 100, 300, 800, 200));
    DWORD clipping = FALSE;
    D3DMATRIX world = {};
    RwMatrix deviceToWorld;
    Frame([&] {
        ASSERT_TRUE(Rw2dCTMPushSet(&tilt));
        RwD3D9SetRenderState(D3DRS_CLIPPING, FALSE);
        Rw2dPathFill(path, brush);
        RwD3D9GetRenderState(D3DRS_CLIPPING, &clipping);
        RwD3D9GetTransform(D3DTS_WORLD, &world);
        RwMatrixCopy(&deviceToWorld, Rw2dDeviceGetTransform());
        Rw2dCTMPop();
    });
    // This platform also clips screen-space vertices by their depth, so the
    // pixels alone do not tell: the layer went through the 3D transform with
    // clipping on.
    EXPECT_TRUE(clipping);
    EXPECT_FLOAT_EQ(deviceToWorld.right.z, world._13);
    EXPECT_FLOAT_EQ(deviceToWorld.pos.x, world._41);
    EXPECT_FLOAT_EQ(deviceToWorld.pos.z, world._43);
    // Drawn from x = 100 (pixel 354) up to the near plane (pixel 738); nothing
    // of the part behind it, nor of what lies behind the camera.
    for (int x : {400, 500, 600, 700})
        EXPECT_TRUE(NearColour(At(x, 384), 0xFF0000)) << x << " " << std::hex << At(x, 384);
    for (int x : {20, 200, 340, 760, 850, 1000})
        EXPECT_TRUE(NearColour(At(x, 384), 0)) << x << " " << std::hex << At(x, 384);
    for (int y : {100, 180, 600, 700})
        EXPECT_TRUE(NearColour(At(200, y), 0)) << y << " " << std::hex << At(200, y);
    Rw2dPathDestroy(path);
    Rw2dBrushDestroy(brush);
}

TEST_F(Toolkit2dDevice, OutlineHangulGlyphIsStroked)
{
    CreateDirectoryA("outline", nullptr);
    PutFile("outline\\hangul.met", "METRICS3\nhangul\n \xED\x95\x9C\nbegin\nmoveto 0.2 0\nlineto 0.2 1\n"
                                     "moveto 0.7 0\nlineto 0.7 1\nmoveto 1 0\nend\n");
    ASSERT_TRUE(Rw2dFontSetPath("nothere\\;outline\\"));
    Rw2dFont *font = Rw2dFontRead("hangul");
    ASSERT_NE(font, nullptr);
    Rw2dBrush *brush = Solid(255, 255, 255);
    Rw2dBrushSetWidth(brush, 0.02f);
    const RwUInt16 string[] = {0xD55C, 0xD55C, 0};
    Frame([&] {
        RwV2d anchor = {100, 100};
        Rw2dFontShow(font, reinterpret_cast<const RwChar *>(string), 200, &anchor, brush);
    });
    // Strokes at x = 0.2 and 0.7 of 200 pixels, 8 pixels wide; the second glyph one advance on.
    for (int x : {140, 240, 340, 440})
        EXPECT_TRUE(NearColour(At(x, 200), 0xFFFFFF)) << x << " " << std::hex << At(x, 200);
    for (int x : {120, 190, 290, 390, 490})
        EXPECT_TRUE(NearColour(At(x, 200), 0)) << x;
    EXPECT_TRUE(NearColour(At(140, 310), 0)) << "above the glyph";
    Rw2dBrushDestroy(brush);
    Rw2dFontDestroy(font);
}

TEST_F(Toolkit2dDevice, BitmapTextShowsItsTexelsAtThePenPositions)
{
    CreateDirectoryA("bitmap", nullptr);
    // A (red) is pixels 0-9 by 0-19, B (green) 10-29 by 0-19 of a 32x32 image.
    RwImage *image = RwImageCreate(32, 32, 32);
    ASSERT_NE(RwImageAllocatePixels(image), nullptr);
    for (int y = 0; y < 32; y++)
        for (int x = 0; x < 32; x++) {
            RwRGBA *p = reinterpret_cast<RwRGBA *>(image->cpPixels + y * image->stride) + x;
            *p = {static_cast<RwUInt8>(x < 10 ? 255 : 0), static_cast<RwUInt8>(x >= 10 && x < 30 ? 255 : 0), 0, 255};
        }
    ASSERT_NE(RwImageWritePng(image, "bitmap\\glyphs.png"), nullptr);
    RwImageDestroy(image);
    PutFile("bitmap\\ab.met", "METRICS1\nglyphs\n4\n65 0 0 10 20\n66 10 0 30 20\n");
    ASSERT_TRUE(Rw2dFontSetPath("bitmap\\"));
    Rw2dFont *font = Rw2dFontRead("ab");
    ASSERT_NE(font, nullptr);
    Rw2dBrush *brush = Solid(255, 255, 255);
    Frame([&] {
        RwV2d anchor = {600, 300};
        Rw2dFontShow(font, "AB", 40, &anchor, brush);
        RwD3D9RenderStateSetHandler(rwRENDERSTATETEXTURERASTER, nullptr);
    });
    // Glyph bottom 0.2 x 40 below the pen; A is 20 pixels wide, B 40.
    EXPECT_TRUE(NearColour(At(610, 310), 0xFF0000)) << std::hex << At(610, 310);
    EXPECT_TRUE(NearColour(At(640, 310), 0x00FF00)) << std::hex << At(640, 310);
    EXPECT_TRUE(NearColour(At(665, 310), 0)) << "past the pen";
    EXPECT_TRUE(NearColour(At(610, 336), 0)) << "above the glyphs";
    Rw2dBrushDestroy(brush);
    Rw2dFontDestroy(font);
}

} // namespace
