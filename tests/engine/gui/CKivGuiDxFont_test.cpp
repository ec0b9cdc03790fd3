// Tests of the GUI font and of text measuring on the real device: pixels by
// hue, the draw calls each colour and outline makes, the depth state through
// the driver's cache, device resets, Korean caret positions and word stops.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/gui/CKivGuiDxFont.h"
#include "engine/gui/CUniBuffer.h"
#include "gfx/core/engine.h"
#include "gfx/d3d9/d3d9device.h"
#include "gfx/d3d9/d3d9renderstate.h"
#include "gfx/d3d9/d3d9standard.h"
#include "gfx/d3d9/d3d9state.h"
#include "gfx/d3d9/d3d9window.h"

namespace {

const char Dotum[] = "\xB5\xB8\xBF\xF2";                              // the Korean face, code page 949
const char KoreanAnsi[] = "\xC7\xD1\xB1\xDB \xC5\xD7\xBD\xBA\xC6\xAE"; // six syllables and a space
const WCHAR KoreanWide[] = L"\xD55C\xAE00 \xD14C\xC2A4\xD2B8";

// Forwards to a real D3DX font, noting each draw with the depth test the
// device had at that moment, and each loss and reset.
class RecordingFont : public ID3DXFont {
public:
    struct Draw {
        RECT rect;
        D3DCOLOR colour;
        DWORD zEnable;
    };
    ID3DXFont *real = nullptr;
    IDirect3DDevice9 *device = nullptr;
    std::vector<Draw> draws;
    std::string events;

    void Wrap(GuiFontNode *node, IDirect3DDevice9 *d)
    {
        real = node->font;
        device = d;
        node->font = this;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID r, void **o) override { return real->QueryInterface(r, o); }
    ULONG STDMETHODCALLTYPE AddRef() override { return real->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return real->Release(); }
    HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9 **d) override { return real->GetDevice(d); }
    HRESULT STDMETHODCALLTYPE GetDescA(D3DXFONT_DESCA *d) override { return real->GetDescA(d); }
    HRESULT STDMETHODCALLTYPE GetDescW(D3DXFONT_DESCW *d) override { return real->GetDescW(d); }
    WINBOOL STDMETHODCALLTYPE GetTextMetricsA(TEXTMETRICA *m) override { return real->GetTextMetricsA(m); }
    WINBOOL STDMETHODCALLTYPE GetTextMetricsW(TEXTMETRICW *m) override { return real->GetTextMetricsW(m); }
    HDC STDMETHODCALLTYPE GetDC() override { return real->GetDC(); }
    HRESULT STDMETHODCALLTYPE GetGlyphData(UINT g, IDirect3DTexture9 **t, RECT *b, POINT *c) override
    {
        return real->GetGlyphData(g, t, b, c);
    }
    HRESULT STDMETHODCALLTYPE PreloadCharacters(UINT f, UINT l) override { return real->PreloadCharacters(f, l); }
    HRESULT STDMETHODCALLTYPE PreloadGlyphs(UINT f, UINT l) override { return real->PreloadGlyphs(f, l); }
    HRESULT STDMETHODCALLTYPE PreloadTextA(const char *s, INT n) override { return real->PreloadTextA(s, n); }
    HRESULT STDMETHODCALLTYPE PreloadTextW(const WCHAR *s, INT n) override { return real->PreloadTextW(s, n); }
    INT STDMETHODCALLTYPE DrawTextA(ID3DXSprite *s, const char *t, INT n, RECT *r, DWORD f, D3DCOLOR c) override
    {
        DWORD z = 0xDEAD;
        device->GetRenderState(D3DRS_ZENABLE, &z);
        draws.push_back({*r, c, z});
        return real->DrawTextA(s, t, n, r, f, c);
    }
    INT STDMETHODCALLTYPE DrawTextW(ID3DXSprite *s, const WCHAR *t, INT n, RECT *r, DWORD f, D3DCOLOR c) override
    {
        return real->DrawTextW(s, t, n, r, f, c);
    }
    HRESULT STDMETHODCALLTYPE OnLostDevice() override
    {
        events += device->TestCooperativeLevel() == D3DERR_DEVICENOTRESET ? "lost-before-reset " : "lost ";
        return real->OnLostDevice();
    }
    HRESULT STDMETHODCALLTYPE OnResetDevice() override
    {
        events += device->TestCooperativeLevel() == D3D_OK ? "reset-after-reset " : "reset ";
        return real->OnResetDevice();
    }
};

// Lit pixels of one dominant channel (0 blue, 1 green, 2 red) and their box.
struct Box {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1, count = 0;
};

class GuiFont : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (RwEngineGetStatus() == rwENGINESTATUSIDLE) {
            ASSERT_TRUE(RwEngineInit(nullptr, 0, 0x400000));
        }
        window = KivTestCreateWindow(1024, 768);
        RwEngineOpenParams params = {window};
        ASSERT_TRUE(RwEngineOpen(&params));
        ASSERT_TRUE(RwEngineSetVideoMode(0));
        ASSERT_TRUE(RwEngineStart());
    }
    static void TearDownTestSuite()
    {
        RwEngineStop();
        RwEngineClose();
        RwEngineTerm();
        DestroyWindow(window);
    }
    void SetUp() override
    {
        device = rwD3D9Driver.device;
        ASSERT_NE(device, nullptr);
    }

    bool Make(CKivGuiDxFont &font, DWORD text, int outline = 0, DWORD ring = 0xFF000000)
    {
        return font.Create("DefaultFont", Dotum, 13, 500, CKivGuiDxFont::FromArgb(text), outline,
                           CKivGuiDxFont::FromArgb(ring)) == 1;
    }
    void Begin()
    {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        ASSERT_TRUE(SUCCEEDED(device->BeginScene()));
    }
    // Ends the scene and copies the back buffer.
    void End()
    {
        device->EndScene();
        pixels.assign(1024 * 768, 0xDEADBEEF);
        IDirect3DSurface9 *copy = nullptr;
        ASSERT_TRUE(SUCCEEDED(device->CreateOffscreenPlainSurface(1024, 768, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM,
                                                                  &copy, nullptr)));
        D3DLOCKED_RECT locked;
        if (SUCCEEDED(device->GetRenderTargetData(rwD3D9Driver.defaultColorSurface, copy)) &&
            SUCCEEDED(copy->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
            for (int y = 0; y < 768; y++)
                for (int x = 0; x < 1024; x++)
                    pixels[y * 1024 + x] =
                        reinterpret_cast<const DWORD *>(static_cast<const BYTE *>(locked.pBits) + y * locked.Pitch)[x];
            copy->UnlockRect();
        }
        copy->Release();
    }
    // Text is blurred but keeps its hue: one channel well lit, the others far below it.
    Box Lit(int channel, RECT area) const
    {
        Box box;
        for (int y = area.top; y < area.bottom; y++)
            for (int x = area.left; x < area.right; x++) {
                DWORD p = pixels[y * 1024 + x];
                int c[3] = {int(p & 0xFF), int((p >> 8) & 0xFF), int((p >> 16) & 0xFF)};
                bool lit = c[channel] > 60 && c[(channel + 1) % 3] * 3 < c[channel] &&
                           c[(channel + 2) % 3] * 3 < c[channel];
                if (lit) {
                    box.count++;
                    box.left = std::min(box.left, x);
                    box.top = std::min(box.top, y);
                    box.right = std::max(box.right, x);
                    box.bottom = std::max(box.bottom, y);
                }
            }
        return box;
    }
    DWORD DeviceZ()
    {
        DWORD z = 0xDEAD;
        device->GetRenderState(D3DRS_ZENABLE, &z);
        return z;
    }

    static inline HWND window;
    IDirect3DDevice9 *device = nullptr;
    std::vector<DWORD> pixels;
};

TEST_F(GuiFont, KoreanThroughTheDefaultFaceInItsColour)
{
    ASSERT_EQ(GetACP(), 949u);
    CKivGuiDxFont font;
    ASSERT_TRUE(Make(font, 0xFFFF0000));
    EXPECT_EQ(font.GetHeight(), 13);
    EXPECT_EQ(font.GetWeight(), 500);
    EXPECT_STREQ(font.GetNode()->faceName, Dotum);
    Begin();
    RECT rect = {100, 100, 400, 130};
    EXPECT_EQ(font.DrawText(KoreanAnsi, &rect, DT_LEFT | DT_TOP, 0), 1);
    End();
    Box red = Lit(2, {80, 80, 440, 160});
    EXPECT_GT(red.count, 60);
    EXPECT_GE(red.left, 99);
    EXPECT_LE(red.right, 100 + 53 + 1);
    EXPECT_GE(red.top, 100);
    EXPECT_LE(red.bottom, 113);
    EXPECT_EQ(Lit(1, {80, 80, 440, 160}).count + Lit(0, {80, 80, 440, 160}).count, 0);
    // Measured by its six UTF-16 units, not by its eleven bytes.
    EXPECT_EQ(font.GetTextWidth(KoreanAnsi), 53);
    EXPECT_EQ(font.Release(), 1);
    EXPECT_EQ(font.GetNode(), nullptr);
    EXPECT_EQ(font.DrawText(KoreanAnsi, &rect, 0, 0), 0);
}

TEST_F(GuiFont, OutlineShiftedAndRinged)
{
    // The same text plain in red, outlined in green on a black ring, and as a
    // blue ring around black text.
    CKivGuiDxFont plain, shifted, ring;
    ASSERT_TRUE(Make(plain, 0xFFFF0000));
    ASSERT_TRUE(Make(shifted, 0xFF00FF00, 1, 0xFF000000));
    ASSERT_TRUE(Make(ring, 0xFF000000, 1, 0xFF0000FF));
    Begin();
    RECT a = {100, 200, 300, 220}, b = {100, 300, 300, 320}, c = {100, 400, 300, 420};
    plain.DrawText("Ag", &a, DT_LEFT | DT_TOP, 0);
    shifted.DrawText("Ag", &b, DT_LEFT | DT_TOP, 0);
    ring.DrawText("Ag", &c, DT_LEFT | DT_TOP, 0);
    End();
    Box red = Lit(2, {90, 190, 320, 240});
    Box green = Lit(1, {90, 290, 320, 340});
    Box blue = Lit(0, {90, 390, 320, 440});
    ASSERT_GT(red.count, 10);
    EXPECT_EQ(green.count, red.count);
    EXPECT_EQ(green.left, red.left + 2);
    EXPECT_EQ(green.right, red.right + 2);
    EXPECT_EQ(green.top, red.top + 100 + 2);
    EXPECT_EQ(green.bottom, red.bottom + 100 + 2);
    // Eight overlapping copies light the blurred edge a pixel further.
    EXPECT_NEAR(blue.left, red.left + 2 - 1, 1);
    EXPECT_NEAR(blue.right, red.right + 2 + 1, 1);
    EXPECT_NEAR(blue.top, red.top + 200 + 2 - 1, 1);
    EXPECT_NEAR(blue.bottom, red.bottom + 200 + 2 + 1, 1);
    EXPECT_GT(blue.count, red.count);
}

TEST_F(GuiFont, DrawCallsColoursAndTheDepthTestThroughTheCache)
{
    CKivGuiDxFont font;
    ASSERT_TRUE(Make(font, 0xFF00FF00, 1, 0xFF0000FF));
    RecordingFont rec;
    rec.Wrap(font.GetNode(), device);
    RECT rect = {0, 0, 100, 20};
    for (DWORD found : {D3DZB_FALSE, D3DZB_TRUE}) {
        RwD3D9SetRenderState(D3DRS_ZENABLE, found);
        RwD3D9FlushRenderStates();
        rec.draws.clear();
        Begin();
        EXPECT_EQ(font.DrawText("Ag", &rect, 0, 0), 1);
        device->EndScene();
        RwD3D9FlushRenderStates();
        EXPECT_EQ(DeviceZ(), found);
        RwUInt32 wanted = 0xDEAD;
        RwD3D9GetRenderState(D3DRS_ZENABLE, &wanted);
        EXPECT_EQ(wanted, found);
        ASSERT_EQ(rec.draws.size(), 9u);
        const int ring[8][2] = {{1, 1}, {1, -1}, {-1, 1}, {-1, -1}, {0, 1}, {0, -1}, {1, 0}, {-1, 0}};
        for (int i = 0; i < 9; i++) {
            const RecordingFont::Draw &d = rec.draws[i];
            int dx = i < 8 ? ring[i][0] : 0, dy = i < 8 ? ring[i][1] : 0;
            EXPECT_EQ(d.rect.left, 2 + dx) << i;
            EXPECT_EQ(d.rect.top, 2 + dy) << i;
            EXPECT_EQ(d.rect.right, 102 + dx) << i;
            EXPECT_EQ(d.rect.bottom, 22 + dy) << i;
            EXPECT_EQ(d.colour, i < 8 ? 0xFF0000FFu : 0xFF00FF00u) << i;
            EXPECT_EQ(d.zEnable, DWORD(D3DZB_FALSE)) << i;
        }
    }

    // Colour argument, fading for one draw only, fades clamped.
    struct Case {
        float alpha;    // < -5: no fade
        DWORD argb;
        DWORD text, ring;
    } cases[] = {
        {-9, 0xFF000000, 0xFF000000, 0xFF0000FF}, {0.5f, 0, 0x7F00FF00, 0x7F0000FF},
        {-9, 0, 0xFF00FF00, 0xFF0000FF},          {3.0f, 0, 0xFF00FF00, 0xFF0000FF},
        {-2.0f, 0, 0x0000FF00, 0x000000FF},       {0.5f, 0x80FF0000, 0x80FF0000, 0x7F0000FF},
    };
    Begin();
    for (const Case &c : cases) {
        if (c.alpha > -5)
            font.SetAlpha(c.alpha);
        rec.draws.clear();
        font.DrawText("Ag", &rect, 0, c.argb);
        ASSERT_EQ(rec.draws.size(), 9u);
        EXPECT_EQ(rec.draws[0].colour, c.ring) << c.alpha;
        EXPECT_EQ(rec.draws[8].colour, c.text) << c.alpha;
    }
    // Empty text draws nothing and leaves the depth test alone.
    rec.draws.clear();
    RwD3D9SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    EXPECT_EQ(font.DrawText("", &rect, 0, 0), 1);
    EXPECT_EQ(font.DrawText(nullptr, &rect, 0, 0), 1);
    EXPECT_EQ(font.DrawText("Ag", nullptr, 0, 0), 0);
    EXPECT_TRUE(rec.draws.empty());

    // Bottom-up positions against the viewport's height.
    CKivGuiDxFont::SetViewportHeightSource([] { return 768; });
    const float at[3] = {10.7f, 100.0f, 50.2f};
    font.DrawTextAt("Ag", at, 0, 1, 0);
    font.DrawTextAt("Ag", at, 0, 0, 0);
    CKivGuiDxFont::SetViewportHeightSource(nullptr);
    device->EndScene();
    ASSERT_EQ(rec.draws.size(), 18u);
    const RECT flipped = rec.draws[8].rect, straight = rec.draws[17].rect;
    EXPECT_EQ(flipped.left, 10 + 2);
    EXPECT_EQ(flipped.top, 655 + 2);
    EXPECT_EQ(flipped.right, 60 + 2);
    EXPECT_EQ(flipped.bottom, 668 + 2);
    EXPECT_EQ(straight.top, 100 + 2);
    EXPECT_EQ(straight.bottom, 113 + 2);
}

CKivGuiDxFont *ResetFont;

TEST_F(GuiFont, ToldOfEveryResetAndDrawsAfterIt)
{
    CKivGuiDxFont font;
    ASSERT_TRUE(Make(font, 0xFFFF0000));
    RecordingFont rec;
    rec.Wrap(font.GetNode(), device);
    ResetFont = &font;
    RwD3D9SetDeviceReleaseCallback([] { ResetFont->OnLostDevice(); });
    RwD3D9SetDeviceRestoreCallback([] { ResetFont->OnResetDevice(); });

    // A default-pool buffer alive across a reset makes the device need one.
    IDirect3DVertexBuffer9 *pinned = nullptr;
    ASSERT_TRUE(SUCCEEDED(device->CreateVertexBuffer(64, D3DUSAGE_WRITEONLY, 0, D3DPOOL_DEFAULT, &pinned, nullptr)));
    D3DPRESENT_PARAMETERS p = rwD3D9Driver.present;
    device->Reset(&p);
    pinned->Release();
    ASSERT_EQ(device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    EXPECT_TRUE(RwD3D9CheckDeviceReset());
    RwD3D9SetDeviceReleaseCallback(nullptr);
    RwD3D9SetDeviceRestoreCallback(nullptr);
    EXPECT_EQ(rec.events, "lost-before-reset reset-after-reset ");

    Begin();
    RECT rect = {100, 100, 400, 130};
    font.DrawText(KoreanAnsi, &rect, 0, 0);
    End();
    EXPECT_GT(Lit(2, {80, 80, 440, 160}).count, 60);
}

ULONG References(IDirect3DDevice9 *device)
{
    device->AddRef();
    return device->Release();
}

TEST_F(GuiFont, FaceNamesCutOnWholeCharactersAndNothingKept)
{
    std::string face;
    for (int i = 0; i < 150; i++)
        face += "\xB5\xB8";
    ULONG before = References(device);
    {
        CKivGuiDxFont font;
        ASSERT_TRUE(font.Create("x", face.c_str(), 13, 500, CKivGuiDxFont::FromArgb(0xFFFFFFFF), 0,
                                CKivGuiDxFont::FromArgb(0xFF000000)));
        EXPECT_EQ(std::string(font.GetNode()->faceName), face.substr(0, 258));
        // The platform's face field holds 31 bytes.
        D3DXFONT_DESCA desc;
        ASSERT_EQ(font.GetNode()->font->GetDescA(&desc), D3D_OK);
        EXPECT_EQ(std::string(desc.FaceName), face.substr(0, 30));
        // A second creation replaces the first; deletion without Release frees the last.
        ASSERT_TRUE(Make(font, 0xFFFFFFFF));
        EXPECT_STREQ(font.GetNode()->faceName, Dotum);
        EXPECT_GT(References(device), before);
    }
    EXPECT_EQ(References(device), before);
}

// The shaping library's analysis, counted, then the real one.
int Analyses;
decltype(CUniBuffer::Uniscribe::StringAnalyse) RealAnalyse;
HRESULT WINAPI CountedAnalyse(HDC dc, const void *t, int n, int g, int cs, DWORD f, int w, SCRIPT_CONTROL *c,
                              SCRIPT_STATE *s, const int *dx, SCRIPT_TABDEF *tab, const BYTE *cls,
                              SCRIPT_STRING_ANALYSIS *out)
{
    Analyses++;
    return RealAnalyse(dc, t, n, g, cs, f, w, c, s, dx, tab, cls, out);
}

TEST_F(GuiFont, KoreanCaretPositionsRoundTrip)
{
    CKivGuiDxFont font;
    ASSERT_TRUE(Make(font, 0xFFFFFFFF));
    ASSERT_TRUE(CUniBuffer::BindUniscribe());
    RealAnalyse = CUniBuffer::Binding().StringAnalyse;
    CUniBuffer::Binding().StringAnalyse = CountedAnalyse;
    Analyses = 0;

    CUniBuffer b(1);
    b.SetFontNode(font.GetNode());
    ASSERT_TRUE(b.SetTextW(KoreanWide));
    const int xs[7] = {0, 10, 20, 23, 33, 43, 53};
    for (int cp = 0; cp <= 6; cp++) {
        int x = -1, back = -1, trailing = -1;
        EXPECT_EQ(b.CaretToX(cp, FALSE, &x), S_OK);
        EXPECT_EQ(x, xs[cp]) << cp;
        if (cp < 6) {
            EXPECT_EQ(b.XToCaret(x + 1, &back, &trailing), S_OK);
            EXPECT_EQ(back, cp);
            EXPECT_EQ(trailing, 0);
        }
    }
    EXPECT_EQ(b.WidthBetween(1, 4), 23);
    int x = 0, cp = -1, trailing = -1;
    EXPECT_TRUE(FAILED(b.CaretToX(7, FALSE, &x)));
    b.XToCaret(-20, &cp, &trailing);
    EXPECT_EQ(cp, 0);
    EXPECT_EQ(trailing, 0);
    b.XToCaret(500, &cp, &trailing);
    EXPECT_EQ(cp, 6);
    EXPECT_EQ(trailing, 1);
    EXPECT_EQ(Analyses, 1);
    CUniBuffer::Binding().StringAnalyse = RealAnalyse;
}

TEST_F(GuiFont, LatinWordStops)
{
    CKivGuiDxFont font;
    ASSERT_TRUE(Make(font, 0xFFFFFFFF));
    CUniBuffer b(1);
    b.SetFontNode(font.GetNode());
    ASSERT_TRUE(b.SetTextW(L"one two  three"));
    struct Case {
        int cp, next, prev;
    } cases[] = {{0, 4, 0}, {4, 9, 0}, {6, 9, 4}, {9, 14, 4}, {14, 14, 9}, {-3, 4, 0}, {99, 14, 9}};
    for (const Case &c : cases) {
        int stop = -1;
        b.NextWordStop(c.cp, &stop);
        EXPECT_EQ(stop, c.next) << c.cp;
        b.PrevWordStop(c.cp, &stop);
        EXPECT_EQ(stop, c.prev) << c.cp;
    }
}

} // namespace
