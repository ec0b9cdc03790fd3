// Tests of .met font reading and drawing on the stand-in driver, with images the tests write.
#include <cmath>
#include <string>
#include <vector>

#include "gfx/plugins/toolkit2d/font2d.h"
#include "toolkit2dtestutil.h"

namespace {

void PutText(const std::string &path, const std::string &text)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD wrote = 0;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr);
    CloseHandle(h);
}

const RwRGBA Sep = {255, 0, 0, 255};

// A 40x16 image of two 8-pixel glyph rows: cells [0,10) and [10,18) on the
// first row (ended by separators at 18 and 19), none on the second.
// `rowMark` is the y of the second row's marker on column 0.
void PutCellImage(const std::string &path, RwInt32 rowMark = 8, RwInt32 firstCell = 10)
{
    RwImage *image = MakeImage(40, 16, 32);
    for (RwInt32 y = 0; y < 16; y++)
        for (RwInt32 x = 0; x < 40; x++)
            *PixelAt(image, x, y) = Rgba(static_cast<RwUInt8>(x * 6), static_cast<RwUInt8>(y * 15), 9, 255);
    const RwInt32 seps[][2] = {{0, 0}, {firstCell, 0}, {18, 0}, {19, 0}, {0, rowMark}, {1, rowMark}};
    for (const auto &s : seps)
        *PixelAt(image, s[0], s[1]) = Sep;
    RwImageWritePng(image, path.c_str());
    RwImageDestroy(image);
}

void PutPlainImage(const std::string &path)
{
    RwImage *image = MakeImage(32, 32, 32);
    for (RwInt32 y = 0; y < 32; y++)
        for (RwInt32 x = 0; x < 32; x++)
            *PixelAt(image, x, y) = Rgba(255, 255, 255, static_cast<RwUInt8>(x * 8));
    RwImageWritePng(image, path.c_str());
    RwImageDestroy(image);
}

const std::string Metrics1 = "METRICS1\nplain\n4\n65 0 0 10 20\nnot a glyph\n66 10 0 30 20\n";
const std::string Metrics2 = "METRICS2\ncells\n2\nAB\n";
const std::string Metrics3 = "METRICS3\noutline\n A\nbegin\nmoveto 0 0\nlineto 0.5 0\nlineto 0.5 1\nclosepath\n"
                             "moveto 0.6 0\nend\n \xED\x95\x9C\nbegin\nmoveto 0 0\ncurveto 0.2 0 0.3 0.5 0.3 1\n"
                             "lineto 0 0\nmoveto 0.4 0\nend\n";

class Fonts : public ToolkitTest {
protected:
    static void SetUpTestSuite()
    {
        CreateDirectoryA("fontsA", nullptr);
        CreateDirectoryA("fontsB", nullptr);
    }
    void SetUp() override
    {
        ToolkitTest::SetUp();
        PutPlainImage("fontsB\\plain.png");
        PutCellImage("fontsB\\cells.png");
        ASSERT_TRUE(Rw2dFontSetPath("fontsA\\;fontsB\\"));
        dict = RwTextureDictionaryGetCurrent();
        // Settle the font free list's first block before counting.
        Rw2dFontDestroy(Rw2dFontCreate());
        live = rwTestMemory.live;
    }
    void TearDown() override
    {
        EXPECT_EQ(RwTextureDictionaryGetCurrent(), dict);
        ToolkitTest::TearDown();
    }
    Rw2dFont *Read(const std::string &text)
    {
        PutText("fontsB\\t.met", text);
        return Rw2dFontRead("t");
    }

    RwTextureDictionary *dict = nullptr;
};

TEST_F(Fonts, Metrics1GlyphsFromTheSecondDirectoryOfThePath)
{
    Rw2dFont *font = Read(Metrics1);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font->type, rw2DFONTBITMAP);
    EXPECT_EQ(font->glyphCount, 2);
    const Rw2dGlyph *a = Rw2dFontGetGlyph(font, 'A');
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->advance, 0.5f);
    EXPECT_EQ(a->uLeft, 0.5f / 32);
    EXPECT_EQ(a->vBottom, 20.5f / 32);
    EXPECT_EQ(font->height, 20.0f);
    EXPECT_EQ(font->baseline, 0.2f);
    EXPECT_EQ(Rw2dFontGetGlyph(font, 'C'), nullptr);
    EXPECT_EQ(Rw2dFontGetStringWidth(font, "ACB", 10.0f), 15.0f) << "C has no glyph";
    EXPECT_EQ(Rw2dFontGetStringWidth(font, "", 10.0f), 0.0f);

    // "AB" at (100, 50), 20 high: the quads sit at the pen positions with A's texels.
    Rw2dBrush *brush = Rw2dBrushCreate();
    RwV2d anchor = {100, 50};
    Rw2dFontShow(font, "AB", 20, &anchor, brush);
    EXPECT_NEAR(anchor.x, 100 + 20 * 1.5f, 1e-3f);
    ASSERT_EQ(Batches.size(), 1u);
    ASSERT_EQ(Batches[0].size(), 12u);
    EXPECT_EQ(BatchFlags[0] & (rwIM3D_VERTEXUV | rwIM3D_NOCLIP), RwUInt32{rwIM3D_VERTEXUV | rwIM3D_NOCLIP});
    const Recorded &topLeftOfA = Batches[0][5];   // quad indices 0, 2, 3, 0, 3, 1
    EXPECT_NEAR(topLeftOfA.x, 100, 1e-2f);
    EXPECT_NEAR(topLeftOfA.y, 480 - (50 - 4 + 20), 1e-2f) << "baseline 0.2 of 20 pixels below the pen";
    EXPECT_EQ(topLeftOfA.u, a->uLeft);
    EXPECT_EQ(topLeftOfA.v, a->vTop);
    EXPECT_NEAR(Batches[0][6].x, 110, 1e-2f) << "B starts where A ends";
    Rw2dBrushDestroy(brush);
    EXPECT_TRUE(Rw2dFontDestroy(font));
    EXPECT_LE(rwTestMemory.live, live);
}

TEST_F(Fonts, Metrics2FindsCellsBySeparatorPixels)
{
    Rw2dFont *font = Read(Metrics2);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font->glyphCount, 2);
    const Rw2dGlyph *a = Rw2dFontGetGlyph(font, 'A'), *b = Rw2dFontGetGlyph(font, 'B');
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->advance, 7.0f / 5);
    EXPECT_EQ(b->advance, 1.0f);
    EXPECT_EQ(a->uLeft, 2.5f / 40);
    EXPECT_EQ(a->uRight, 9.5f / 40);
    EXPECT_EQ(b->uLeft, 12.5f / 40);
    EXPECT_EQ(a->vTop, 2.5f / 16);
    EXPECT_EQ(a->vBottom, 7.5f / 16);
    EXPECT_EQ(font->height, 5.0f);
    EXPECT_EQ(font->baseline, 0.4f);
    EXPECT_NE(a->texture, nullptr);
    Rw2dFontDestroy(font);
}

TEST_F(Fonts, Metrics3OutlinesWithAHangulCodeAreStroked)
{
    Rw2dFont *font = Read(Metrics3);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font->type, rw2DFONTOUTLINE);
    EXPECT_EQ(font->flags & rw2DFONTWIDECHARS, rw2DFONTWIDECHARS);
    const Rw2dGlyph *a = Rw2dFontGetGlyph(font, 'A'), *han = Rw2dFontGetGlyph(font, 0xD55C);
    ASSERT_TRUE(a && han);
    EXPECT_EQ(a->advance, 0.6f);
    EXPECT_EQ(han->advance, 0.4f);
    ASSERT_NE(a->path, nullptr);
    EXPECT_EQ(a->path->next, nullptr) << "the lone move is pruned";
    // Strings of such a font are 16-bit units, ASCII too.
    const RwUInt16 text[] = {'A', 0xD55C, 0};
    EXPECT_NEAR(Rw2dFontGetStringWidth(font, reinterpret_cast<const RwChar *>(text), 10), 10.0f, 1e-5f);
    Rw2dBrush *brush = Rw2dBrushCreate();
    RwV2d anchor = {0, 0};
    Rw2dFontShow(font, reinterpret_cast<const RwChar *>(text), 100, &anchor, brush);
    EXPECT_EQ(Batches.size(), 2u);
    EXPECT_EQ(Rw2dCTMGetDepth(), 0);
    Rw2dBrushDestroy(brush);
    Rw2dFontDestroy(font);
}

TEST_F(Fonts, Metrics3NumbersBeyondARealAreNoPathSteps)
{
    // 1e39 reads as a double but is infinite as a real: the line is no move.
    Rw2dFont *font = Read("METRICS3\noutline\n A\nbegin\nmoveto 0 0\nlineto 0.5 0\nlineto 0.5 1\nmoveto 1e39 0\nend\n");
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(Rw2dFontGetGlyph(font, 'A')->advance, 0.5f);
    Rw2dFontDestroy(font);
}

TEST_F(Fonts, HostileFilesGiveNullAndLeaveNothing)
{
    const char *cases[] = {
        "METRICS9\n",
        "METRICS1\nplain two three\n4\n",
        "METRICS1\nnothere\n4\n65 0 0 10 20\n",
        "METRICS1\nthisnameislongerthanthirtyonecharacters\n4\n",
        "METRICS1\nplain\nnone\n65 0 0 10 20\n",
        "METRICS1\nplain\n4\n70000 0 0 10 20\n",
        "METRICS1\nplain\n4\n65 0 10 10 10\n",
        "METRICS1\nplain\n4\n65 10 0 5 20\n",
        "METRICS1\nplain\n4\n65 0 0 100 20\n",
        "METRICS2\ncells\n2\nA\n",
        "METRICS2\ncells\n2\n\xFF" "B\n",
        "METRICS2\ncells\n2\n\xED\x95\nB\n",
        "METRICS2\ncells\n2\n\xED\x41\x9C" "B\n",
        "METRICS2\ncells\n2\n\xF0\x9F\x98\x80" "B\n",
        "METRICS2\nnothere\n2\nAB\n",
        "METRICS3\noutline\n \xFF\nbegin\nend\n",
        "METRICS3\noutline\n \xF0\x9F\x98\x80\nbegin\nend\n",
    };
    for (const char *text : cases) {
        EXPECT_EQ(Read(text), nullptr) << text;
        EXPECT_LE(rwTestMemory.live, live) << text;
    }
    // Rows too low for a frame, and cells too narrow for one.
    PutCellImage("fontsB\\cells.png", 3);
    EXPECT_EQ(Read(Metrics2), nullptr);
    PutCellImage("fontsB\\cells.png", 8, 2);
    EXPECT_EQ(Read(Metrics2), nullptr);
    EXPECT_LE(rwTestMemory.live, live);
    EXPECT_EQ(Rw2dFontRead("missing"), nullptr);
}

TEST_F(Fonts, TruncationAtEveryLineGivesNullOrTheGlyphsSoFar)
{
    for (const std::string &full : {Metrics1, Metrics2, Metrics3}) {
        Rw2dFont *whole = Read(full);
        ASSERT_NE(whole, nullptr);
        const RwInt32 count = whole->glyphCount;
        Rw2dFontDestroy(whole);
        for (size_t end = full.find('\n'); end != std::string::npos; end = full.find('\n', end + 1)) {
            for (size_t cut : {end, end + 1}) {
                Rw2dFont *font = Read(full.substr(0, cut));
                if (font) {
                    EXPECT_LE(font->glyphCount, count);
                    Rw2dFontDestroy(font);
                }
                EXPECT_LE(rwTestMemory.live, live) << cut;
            }
        }
    }
}

TEST_F(Fonts, TextStringsDrawHalvedInsideAHalfScene)
{
    Rw2dFont *font = Read(Metrics1);
    ASSERT_NE(font, nullptr);
    Rw2dBrush *brush = Rw2dBrushCreate();
    Rw2dObject *scene = Rw2dSceneCreate();
    Rw2dObject *text = Rw2dStringCreate(font, "AB", 2, 20, brush);
    Rw2dObject *hidden = Rw2dStringCreate(font, "A", 1, 20, brush);
    hidden->flags |= rw2DOBJECTFLAGSTRINGHIDDEN;
    Rw2dSceneAddChild(scene, text);
    Rw2dSceneAddChild(scene, hidden);
    Rw2dSceneUnlock(scene);
    const RwRGBAReal half = {0.5f, 0.5f, 0.5f, 0.5f};
    Rw2dObjectSetColorMultiplier(scene, &half);
    Rw2dSceneRender(scene);
    ASSERT_EQ(Batches.size(), 1u);
    for (const Recorded &v : Batches[0])
        EXPECT_EQ(v.colour, 0x7F7F7F7Fu);
    EXPECT_EQ(brush->flat.red, 255) << "the brush's own colours come back";
    EXPECT_TRUE(Rw2dSceneDestroy(scene));
    EXPECT_TRUE(Rw2dBrushDestroy(brush));
    Rw2dFontDestroy(font);
    EXPECT_LE(rwTestMemory.live, live);
}

} // namespace

::testing::Environment *const engineEnvironment = ::testing::AddGlobalTestEnvironment(new TextureEnvironment());
