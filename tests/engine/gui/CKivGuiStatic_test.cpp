// Statics on a real device: line breaking by measured width (separator, double-byte cut, a static
// narrower than a glyph), line rectangles as drawn, conversation lines batched as drawn one by one, single
// line, backgrounds and alpha read back.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/gui/CKivGuiDxFont.h"
#include "engine/gui/CKivGuiStatic.h"
#include "gfx/d3d9/d3d9device.h"
#include "gui_host.h"
#include "recording_font.h"

namespace {

const char Korean[] = "\xB0\xA1\xB3\xAA\xB4\xD9\xB6\xF3";   // four syllables

int WINAPI Quiet(HWND, const char *, const char *, UINT)
{
    return IDOK;
}

class Static : public GuiFrame {
protected:
    CKivGuiStatic *Make(int w, int h, const char *text, const char *font = "DefaultFont")
    {
        CKivGuiDialog *d = NewDialog(10, 100, 100, 400, 300);
        CKivGuiStatic *s = new CKivGuiStatic(d);
        s->Create(1, 10, 20, 10 + w, 20 + h, text);
        EXPECT_EQ(s->SetFont(font), 1);
        return s;
    }
    int Length(CKivGuiStatic *s, const char *text)
    {
        buffer = text;
        return s->GetLineLength(&buffer[0]);
    }
    // Draws with the static's font recorded.
    std::vector<RecordingFont::Draw> Drawn(CKivGuiStatic *s)
    {
        GuiFontNode *node = s->GetFont()->GetNode();
        RecordingFont recorder(node, rwD3D9Driver.device);
        Frame();
        node->font = recorder.real;
        return recorder.draws;
    }
    std::string buffer;
};

TEST_F(Static, LinesBreakAtTheSeparatorAtWholeCharactersAndTakeAtLeastOne)
{
    CKivGuiStatic *wide = Make(100, 40, "");
    EXPECT_EQ(Length(wide, "AB\\nCD"), 4);
    EXPECT_EQ(std::memcmp(buffer.data(), "AB\0\0CD", 6), 0) << "the separator is zeroed";
    EXPECT_EQ(Length(wide, "CD"), 2);
    EXPECT_EQ(Length(wide, ""), 0);

    CKivGuiDxFont *font = wide->GetFont();
    const int two = font->GetTextWidth("\xB0\xA1\xB3\xAA");
    const int halfThird = font->GetTextWidth(std::string(Korean, 5).c_str());
    const int three = font->GetTextWidth(std::string(Korean, 6).c_str());
    ASSERT_GT(three, halfThird) << "a lone lead byte measures as a narrower '?'";
    struct Case {
        int width;
        const char *text;
        int expected;
    } cases[] = {
        {halfThird, Korean, 4},   // the cut after a lead byte moves before it
        {two, Korean, 4},
        {three, Korean, 6},
        {3, Korean, 2},           // narrower than a glyph: one whole character
        {0, "ab", 1},
        {3, "\xB0", 1},           // a lone lead byte at the end
        {6, "AB\\nCD", 1},        // the first part does not fit: no separator cut
    };
    for (const Case &c : cases) {
        wide->SetSize(c.width, 40);
        EXPECT_EQ(Length(wide, c.text), c.expected) << c.width << " " << c.text;
    }
}

TEST_F(Static, LineRectanglesFormatsAndSingleLineAsDrawn)
{
    CKivGuiStatic *s = Make(100, 40, "AB\\nCD");
    s->SetTextFormat(0, 4);
    auto draws = Drawn(s);
    ASSERT_EQ(draws.size(), 2u);
    EXPECT_EQ(draws[0].text, "AB");
    EXPECT_EQ(draws[1].text, "CD");
    // 13-pixel font, 40 high: (40 - 13) / 2 - 1 below the top (120); one
    // more pixel of width on every line.
    EXPECT_EQ(RectText(draws[0].rect), "110,132,210,146");
    EXPECT_EQ(RectText(draws[1].rect), "110,150,211,164");
    s->SetTextFormat(1, 0);
    s->SetLineSpacing(0);
    draws = Drawn(s);
    ASSERT_EQ(draws.size(), 2u);
    EXPECT_EQ(RectText(draws[1].rect), "110,133,210,147") << "centred lines keep the width";
    s->SetSingleLine(1);
    draws = Drawn(s);
    ASSERT_EQ(draws.size(), 1u);
    EXPECT_EQ(draws[0].text, "AB");
    EXPECT_EQ(s->SetFont("NoSuchFont"), 0);
    EXPECT_EQ(s->GetFont(), gui()->GetFont("DefaultFont"));
}

TEST_F(Static, AStaticNarrowerThanAGlyphDrawsOneCharacterPerLine)
{
    // A layout that took no character per line would never end: the run's time limit fails it.
    auto draws = Drawn(Make(3, 200, Korean));
    ASSERT_EQ(draws.size(), 4u);
    EXPECT_EQ(draws[3].text, "\xB6\xF3");
}

TEST_F(Static, ConversationLinesLookAsIfEachWereDrawnOnItsOwn)
{
    std::string text;
    for (int i = 0; i < 32; i++)
        text += std::string(Korean) + " ";
    // The plain conversation font, and an outlined one whose rings must stay under their text.
    for (const char *font : {"DefaultFont_Conversation", "DefaultFont2"}) {
        CKivGuiStatic *s = Make(270, 200, text.c_str(), font);
        s->SetAlpha(0.75f);
        const auto draws = Drawn(s);
        ASSERT_GE(draws.size(), 8u) << font;
        const std::vector<DWORD> together = pixels;
        ID3DXFont *d3dx = s->GetFont()->GetNode()->font;
        FrameWith([&] {
            for (auto d : draws)
                d3dx->DrawTextA(nullptr, d.text.c_str(), -1, &d.rect, d.format, d.colour);
        });
        int differ = 0, lit = 0;
        for (size_t i = 0; i < pixels.size(); i++) {
            differ += (pixels[i] & 0xFFFFFF) != (together[i] & 0xFFFFFF);
            lit += (pixels[i] & 0xFFFFFF) != 0;
        }
        EXPECT_GT(lit, 1000) << font;
        EXPECT_EQ(differ, 0) << font;
        s->SetVisible(0);
    }
}

TEST_F(Static, BackgroundImagesFillOrScaleAndFade)
{
    WriteGuiPng("guitest/static_red", 20, 10, {255, 0, 0, 255});
    CKivGuiStatic *s = Make(60, 40, "");
    s->SetBackgroundImage("guitest/Static_Red");
    Frame();
    // Scale (1, 1) until set: bottom-aligned on the control (screen 110..170, 120..160).
    EXPECT_EQ(RectText(Box(0xFF0000)), "110,151,130,161");
    s->SetBackgroundScale(nullptr);
    s->SetAlpha(0.5f);
    Frame();
    EXPECT_EQ(RectText(Box(0x800000, 3)), "110,121,170,161") << "filling the control at half alpha";
    CKivGuiSystem::SetMessageBoxBinding(Quiet);
    s->SetBackgroundImage("guitest/none");
    CKivGuiSystem::SetMessageBoxBinding(nullptr);
    MSG quit;
    PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    Frame();
    EXPECT_EQ(Box(0x800000, 3).right, -1) << "a failed image draws nothing";
    EXPECT_NE(gui()->FindImageEntry("guitest/none"), nullptr);
    s->SetBackgroundImage("");
    EXPECT_EQ(gui()->FindImageEntry("guitest/none"), nullptr);
    EXPECT_EQ(gui()->FindImageEntry("guitest/static_red"), nullptr);
}

TEST_F(Static, DialogsAddAndUpdateStaticsByScreenOrDialogRectangles)
{
    CKivGuiDialog *d = NewDialog(11, 100, 100, 400, 300);
    const RECT screen = {150, 160, 250, 180};
    CKivGuiStatic *s = d->AddStatic(3, &screen, 1, "label");
    EXPECT_EQ(RectText(s->GetRect()), "50,60,150,80");
    EXPECT_EQ(s->GetFont(), gui()->GetFont("DefaultFont"));
    EXPECT_EQ(d->SetStatic(3, 10.7f, 20.2f, 30.9f, 5.0f, 0, "moved"), s);
    EXPECT_EQ(RectText(s->GetRect()), "10,20,40,25");
    EXPECT_STREQ(s->GetText(), "moved");
    CKivGuiControl *added = d->SetStatic(4, 200.0f, 100.0f, 1, "whole");
    EXPECT_EQ(added->GetType(), CKivGuiStatic::kType);
    EXPECT_EQ(RectText(added->GetRect()), "100,0,500,300") << "the dialog's own size";
}

} // namespace
