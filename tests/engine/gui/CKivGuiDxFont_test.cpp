// Tests of the GUI font and of text measuring on the real device: pixels by
// hue, the draws each colour and outline make, the depth state through the
// driver's cache, Korean caret positions and word stops.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/gui/CKivGuiDxFont.h"
#include "engine/gui/CUniBuffer.h"
#include "gfx/d3d9/d3d9renderstate.h"
#include "gfx/d3d9/d3d9state.h"
#include "gfx/d3d9/d3d9testdevice.h"
#include "backbuffer.h"
#include "recording_font.h"

namespace {

const char Dotum[] = "\xB5\xB8\xBF\xF2";                              // the Korean face, code page 949
const char KoreanAnsi[] = "\xC7\xD1\xB1\xDB \xC5\xD7\xBD\xBA\xC6\xAE"; // "Hangul test"
const WCHAR KoreanWide[] = L"\xD55C\xAE00 \xD14C\xC2A4\xD2B8";

// Box of the pixels lit in one hue (0 blue, 1 green, 2 red).
struct Box {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1, count = 0;
};

class GuiFont : public StartedDevice {
protected:
    // The real device throughout: the font keeps the device it was made on.
    void SetUp() override { real = rwD3D9Driver.device; }
    void TearDown() override {}

    bool Make(CKivGuiDxFont &font, DWORD text, int outline = 0, DWORD ring = 0)
    {
        return font.Create("DefaultFont", Dotum, 13, 500, CKivGuiDxFont::FromArgb(text), outline,
                           CKivGuiDxFont::FromArgb(ring)) == 1;
    }
    void Begin()
    {
        real->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        real->BeginScene();
    }
    // Ends the scene and copies the back buffer.
    void End()
    {
        real->EndScene();
        pixels = CopyBackBuffer(real);
        ASSERT_EQ(pixels.size(), 1024u * 768u);
    }
    // Text is blurred but keeps its hue: one channel lit, the others far below it.
    Box Lit(int hue, int left, int top, int right, int bottom) const
    {
        Box box;
        for (int y = top; y < bottom; y++)
            for (int x = left; x < right; x++) {
                DWORD p = pixels[y * 1024 + x];
                int c = (p >> 8 * hue) & 0xFF, d = (p >> 8 * ((hue + 1) % 3)) & 0xFF,
                    e = (p >> 8 * ((hue + 2) % 3)) & 0xFF;
                if (c > 60 && 3 * d < c && 3 * e < c) {
                    box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x),
                           std::max(box.bottom, y), box.count + 1};
                }
            }
        return box;
    }
    std::vector<DWORD> pixels;
};

TEST_F(GuiFont, KoreanDrawsInItsColourAndMeasuresByCharacters)
{
    ASSERT_EQ(GetACP(), 949u);
    CKivGuiDxFont font;
    ASSERT_TRUE(Make(font, 0xFFFF0000));
    Begin();
    RECT rect = {100, 100, 400, 130};
    EXPECT_EQ(font.DrawText(KoreanAnsi, &rect, DT_LEFT | DT_TOP, 0), 1);
    End();
    Box red = Lit(2, 80, 80, 440, 160);
    EXPECT_GT(red.count, 60);
    EXPECT_TRUE(red.left >= 99 && red.right <= 154 && red.top >= 100 && red.bottom <= 113);
    EXPECT_EQ(Lit(1, 80, 80, 440, 160).count + Lit(0, 80, 80, 440, 160).count, 0);
    // Measured by its six UTF-16 units, not by its eleven bytes.
    EXPECT_EQ(font.GetTextWidth(KoreanAnsi), 53);
    font.Release();
    EXPECT_EQ(font.GetNode(), nullptr);
    EXPECT_EQ(font.DrawText(KoreanAnsi, &rect, 0, 0), 0);
}

TEST_F(GuiFont, OutlineShiftedAndRinged)
{
    // The same text plain in red, in green on a black ring, and as a blue ring around black.
    CKivGuiDxFont plain, shifted, ring;
    ASSERT_TRUE(Make(plain, 0xFFFF0000) && Make(shifted, 0xFF00FF00, 1, 0xFF000000) &&
                Make(ring, 0xFF000000, 1, 0xFF0000FF));
    Begin();
    RECT a = {100, 200, 300, 220}, b = {100, 300, 300, 320}, c = {100, 400, 300, 420};
    plain.DrawText("Ag", &a, DT_LEFT | DT_TOP, 0);
    shifted.DrawText("Ag", &b, DT_LEFT | DT_TOP, 0);
    ring.DrawText("Ag", &c, DT_LEFT | DT_TOP, 0);
    End();
    Box red = Lit(2, 90, 190, 320, 240), green = Lit(1, 90, 290, 320, 340), blue = Lit(0, 90, 390, 320, 440);
    ASSERT_GT(red.count, 10);
    EXPECT_EQ(green.count, red.count);
    EXPECT_EQ(green.left - red.left, 2);
    EXPECT_EQ(green.right - red.right, 2);
    EXPECT_EQ(green.top - red.top, 102);
    EXPECT_EQ(green.bottom - red.bottom, 102);
    // Eight overlapping copies light the blurred edge up to a pixel further.
    EXPECT_NEAR(blue.left - red.left, 1, 1);
    EXPECT_NEAR(blue.right - red.right, 3, 1);
    EXPECT_NEAR(blue.top - red.top, 201, 1);
    EXPECT_NEAR(blue.bottom - red.bottom, 203, 1);
}

TEST_F(GuiFont, DrawsColoursAndTheDepthTestThroughTheCache)
{
    CKivGuiDxFont font;
    ASSERT_TRUE(Make(font, 0xFF00FF00, 1, 0xFF0000FF));
    RecordingFont rec(font.GetNode(), real);
    RECT rect = {0, 0, 100, 20};
    const int ring[9][2] = {{1, 1}, {1, -1}, {-1, 1}, {-1, -1}, {0, 1}, {0, -1}, {1, 0}, {-1, 0}, {0, 0}};
    for (DWORD found : {D3DZB_FALSE, D3DZB_TRUE}) {
        RwD3D9SetRenderState(D3DRS_ZENABLE, found);
        RwD3D9FlushRenderStates();
        rec.draws.clear();
        Begin();
        EXPECT_EQ(font.DrawText("Ag", &rect, 0, 0), 1);
        real->EndScene();
        RwD3D9FlushRenderStates();
        DWORD onDevice = 0xDEAD;
        real->GetRenderState(D3DRS_ZENABLE, &onDevice);
        EXPECT_EQ(onDevice, found);
        ASSERT_EQ(rec.draws.size(), 9u);
        for (int i = 0; i < 9; i++) {
            const RECT &r = rec.draws[i].rect;
            EXPECT_TRUE(r.left == 2 + ring[i][0] && r.right == 102 + ring[i][0]) << i;
            EXPECT_TRUE(r.top == 2 + ring[i][1] && r.bottom == 22 + ring[i][1]) << i;
            EXPECT_EQ(rec.draws[i].colour, i < 8 ? 0xFF0000FFu : 0xFF00FF00u) << i;
            EXPECT_EQ(rec.draws[i].zEnable, DWORD(D3DZB_FALSE)) << i;
        }
    }

    // Colour argument; a fade lasts one draw; fades clamped.
    const struct {
        float alpha;    // below -5: no fade
        DWORD argb, text, ring;
    } cases[] = {
        {-9, 0xFF000000, 0xFF000000, 0xFF0000FF}, {0.5f, 0, 0x7F00FF00, 0x7F0000FF},
        {-9, 0, 0xFF00FF00, 0xFF0000FF},          {3.0f, 0, 0xFF00FF00, 0xFF0000FF},
        {-2.0f, 0, 0x0000FF00, 0x000000FF},       {0.5f, 0x80FF0000, 0x80FF0000, 0x7F0000FF},
    };
    Begin();
    for (const auto &c : cases) {
        if (c.alpha > -5)
            font.SetAlpha(c.alpha);
        rec.draws.clear();
        font.DrawText("Ag", &rect, 0, c.argb);
        ASSERT_EQ(rec.draws.size(), 9u);
        EXPECT_EQ(rec.draws[0].colour, c.ring) << c.alpha;
        EXPECT_EQ(rec.draws[8].colour, c.text) << c.alpha;
    }
    rec.draws.clear();
    EXPECT_EQ(font.DrawText("", &rect, 0, 0) + font.DrawText(nullptr, &rect, 0, 0), 2);
    EXPECT_EQ(font.DrawText("Ag", nullptr, 0, 0), 0);
    EXPECT_TRUE(rec.draws.empty());

    // Bottom-up positions against the viewport's height.
    CKivGuiDxFont::SetViewportHeightSource([] { return 768; });
    const float at[3] = {10.7f, 100.0f, 50.2f};
    font.DrawTextAt("Ag", at, 0, 1, 0);
    font.DrawTextAt("Ag", at, 0, 0, 0);
    CKivGuiDxFont::SetViewportHeightSource(nullptr);
    real->EndScene();
    ASSERT_EQ(rec.draws.size(), 18u);
    const RECT flipped = rec.draws[8].rect, straight = rec.draws[17].rect;
    EXPECT_TRUE(flipped.left == 12 && flipped.top == 657 && flipped.right == 62 && flipped.bottom == 670);
    EXPECT_TRUE(straight.top == 102 && straight.bottom == 115);
}

ULONG References(IDirect3DDevice9 *device)
{
    device->AddRef();
    return device->Release();
}

// However a batch ends (closed, cut by a device reset, its font released) the
// depth test comes back, and the next batch draws.
TEST_F(GuiFont, BatchesGiveTheDepthTestBackAndSurviveResetAndRelease)
{
    ULONG before = References(real);
    {
        CKivGuiDxFont font;
        ASSERT_TRUE(Make(font, 0xFFFF0000));
        RECT rect = {100, 100, 400, 130};
        auto depth = [this] {
            RwUInt32 cached = 0xDEAD;
            DWORD onDevice = 0xDEAD;
            RwD3D9GetRenderState(D3DRS_ZENABLE, &cached);
            real->GetRenderState(D3DRS_ZENABLE, &onDevice);
            return std::to_string(cached) + "/" + std::to_string(onDevice);
        };
        for (const char *interruption : {"none", "reset", "release"}) {
            RwD3D9SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
            RwD3D9FlushRenderStates();
            if (!font.GetNode()) {
                ASSERT_TRUE(Make(font, 0xFFFF0000));
            }
            Begin();
            font.BeginBatch();
            font.DrawText("Ag", &rect, 0, 0);
            if (std::string(interruption) == "reset") {
                font.OnLostDevice();
                font.OnResetDevice();
            } else if (std::string(interruption) == "release") {
                font.Release();
            }
            font.DrawText("Ag", &rect, 0, 0);
            font.EndBatch();
            real->EndScene();
            EXPECT_EQ(depth(), "1/1") << interruption;
            if (!font.GetNode()) {
                ASSERT_TRUE(Make(font, 0xFFFF0000));
            }
            Begin();
            font.BeginBatch();
            font.DrawText("Ag", &rect, 0, 0);
            font.EndBatch();
            End();
            EXPECT_GT(Lit(2, 80, 80, 440, 160).count, 10) << interruption;
        }
    }
    EXPECT_EQ(References(real), before) << "the batch's sprite goes with its font";
}

TEST_F(GuiFont, FaceNamesCutOnWholeCharactersAndNothingKept)
{
    std::string face;
    for (int i = 0; i < 150; i++)
        face += "\xB5\xB8";
    ULONG before = References(real);
    {
        CKivGuiDxFont font;
        ASSERT_TRUE(font.Create("x", face.c_str(), 13, 500, D3DXCOLOR(1, 1, 1, 1), 0, D3DXCOLOR(0, 0, 0, 1)));
        EXPECT_EQ(std::string(font.GetNode()->faceName), face.substr(0, 258));
        // The platform's face field holds 31 bytes.
        D3DXFONT_DESCA desc;
        ASSERT_EQ(font.GetNode()->font->GetDescA(&desc), D3D_OK);
        EXPECT_EQ(std::string(desc.FaceName), face.substr(0, 30));
        // A second creation replaces the first; deletion without Release frees the last.
        ASSERT_TRUE(Make(font, 0xFFFFFFFF));
        EXPECT_STREQ(font.GetNode()->faceName, Dotum);
    }
    EXPECT_EQ(References(real), before);
}

// Analyses counted on their way to the real library.
int Analyses;
decltype(CUniBuffer::Uniscribe::StringAnalyse) RealAnalyse;
HRESULT WINAPI CountedAnalyse(HDC dc, const void *t, int n, int g, int cs, DWORD f, int w, SCRIPT_CONTROL *c,
                              SCRIPT_STATE *s, const int *dx, SCRIPT_TABDEF *tab, const BYTE *cls,
                              SCRIPT_STRING_ANALYSIS *out)
{
    Analyses++;
    return RealAnalyse(dc, t, n, g, cs, f, w, c, s, dx, tab, cls, out);
}

TEST_F(GuiFont, KoreanCaretPositionsAndLatinWordStops)
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
        // Right of the text: behind its last unit.
        EXPECT_EQ(b.XToCaret(cp < 6 ? x + 1 : 500, &back, &trailing), S_OK);
        EXPECT_EQ(back, cp);
        EXPECT_EQ(trailing, cp < 6 ? 0 : 1);
    }
    int x = 0, cp = -1, trailing = -1;
    EXPECT_TRUE(FAILED(b.CaretToX(7, FALSE, &x)));
    b.XToCaret(-20, &cp, &trailing);
    EXPECT_TRUE(cp == 0 && trailing == 0);
    EXPECT_EQ(b.WidthBetween(1, 4), 23);
    EXPECT_EQ(Analyses, 1);
    CUniBuffer::Binding().StringAnalyse = RealAnalyse;

    ASSERT_TRUE(b.SetTextW(L"one two  three"));
    const int cases[][3] = {{0, 4, 0}, {4, 9, 0}, {6, 9, 4}, {9, 14, 4}, {14, 14, 9}, {-3, 4, 0}, {99, 14, 9}};
    for (const auto &c : cases) {
        int next = -1, prev = -1;
        b.NextWordStop(c[0], &next);
        b.PrevWordStop(c[0], &prev);
        EXPECT_EQ(next, c[1]) << c[0];
        EXPECT_EQ(prev, c[2]) << c[0];
    }
}

} // namespace
