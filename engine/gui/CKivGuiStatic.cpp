// The static text control: fonts, backgrounds, line breaking by measured width, drawing line by line.
#include "engine/gui/CKivGuiStatic.h"

#include <cstring>
#include <exception>

#include "engine/gui/CKivGuiDialog.h"
#include "engine/gui/CKivGuiDxFont.h"
#include "engine/gui/CKivGuiSprite.h"
#include "engine/gui/CKivGuiSystem.h"
#include "engine/gui/GuiSums.h"
#include "engine/gui/GuiText.h"

namespace {

// The width of the first bytes, measured in place without a copy.
int Width(CKivGuiDxFont *font, char *text, int bytes)
{
    const char kept = text[bytes];
    text[bytes] = '\0';
    const int width = font->GetTextWidth(text);
    text[bytes] = kept;
    return width;
}

// Bytes of the first whole character.
int FirstCharacter(const char *text)
{
    return static_cast<BYTE>(text[0]) >= 0x80 && text[1] ? 2 : 1;
}

} // namespace

CKivGuiStatic::CKivGuiStatic(CKivGuiDialog *dialog) : CKivGuiControl(dialog)
{
    m_type = kType;
}

CKivGuiStatic::~CKivGuiStatic()
{
    SetBackgroundImage("");
}

int CKivGuiStatic::SetFont(const char *name)
{
    CKivGuiSystem *gui = CKivGuiSystem::GetInstance();
    CKivGuiDxFont *font = gui && name ? gui->GetFont(name) : nullptr;
    if (!font)
        return 0;
    try {
        m_fontName = GuiCutWhole(name, 259);
    } catch (const std::exception &) {
        return 0;
    }
    m_font = font;
    return 1;
}

void CKivGuiStatic::SetTextFormat(int horizontal, int vertical)
{
    m_horizontal = horizontal;
    m_vertical = vertical;
}

int CKivGuiStatic::SetBackgroundElement(int element)
{
    m_backgroundElement = element;
    return 1;
}

int CKivGuiStatic::SetBackgroundImage(const char *path)
{
    if (CKivGuiSystem *gui = CKivGuiSystem::GetInstance())
        return gui->ReplaceImage(&m_backgroundPath, m_id, path);
    m_backgroundPath.clear();
    return 1;
}

void CKivGuiStatic::SetBackgroundScale(const float *scale)
{
    SetElementsScale(scale);
    m_scaleFlag = scale ? 1 : 0;
    if (scale) {
        m_scale[0] = scale[0];
        m_scale[1] = scale[1];
    }
}

void CKivGuiStatic::SetAlpha(float alpha)
{
    m_alpha = alpha;
    CKivGuiSystem *gui = CKivGuiSystem::GetInstance();
    if (CKivGuiSprite *image = gui && !m_backgroundPath.empty() ? gui->FindImage(m_backgroundPath.c_str()) : nullptr)
        image->SetAlpha(alpha);
    if (m_font)
        m_font->SetAlpha(alpha);
}

float CKivGuiStatic::GetTextWidth()
{
    return m_font ? static_cast<float>(m_font->GetTextWidth(m_text.c_str())) : 0.0f;
}

float CKivGuiStatic::GetFontHeight()
{
    return m_font ? static_cast<float>(m_font->GetHeight()) : 0.0f;
}

int CKivGuiStatic::GetLineLength(char *text)
{
    if (!text || !text[0])
        return 0;
    const int limit = GetWidth();
    const int length = static_cast<int>(std::strlen(text));
    if (!m_font)
        return length;
    if (const char *separator = std::strstr(text, "\\n")) {
        const int p = static_cast<int>(separator - text);
        if (limit > Width(m_font, text, p)) {
            text[p] = text[p + 1] = '\0';
            return p + 2;
        }
    }
    int lo = 0, hi = length;
    while (lo < hi) {
        const int mid = (lo + hi + 1) / 2;
        if (Width(m_font, text, mid) <= limit)
            lo = mid;
        else
            hi = mid - 1;
    }
    for (int i = 0; i < lo; i++) {
        if (static_cast<BYTE>(text[i]) < 0x80)
            continue;
        if (i + 1 == lo && lo != length)
            lo--;
        i++;
    }
    // Nothing fits: the line still takes one character, or drawing never ends.
    return lo > 0 ? lo : FirstCharacter(text);
}

const std::vector<std::string> &CKivGuiStatic::Lines()
{
    if (m_linesFont == m_font && m_linesWidth == GetWidth() && m_linesText == m_text)
        return m_lines;
    // Built aside: out of memory the cache stays as it was, to be built again.
    std::vector<std::string> lines;
    std::string rest = m_text;
    for (size_t at = 0; at < rest.size() && rest[at];) {
        const int n = GetLineLength(&rest[at]);
        lines.emplace_back(rest.c_str() + at);   // up to a zeroed separator
        if (lines.back().size() > static_cast<size_t>(n))
            lines.back().resize(n);
        at += n;
    }
    m_linesText = m_text;
    m_lines.swap(lines);
    m_linesFont = m_font;
    m_linesWidth = GetWidth();
    return m_lines;
}

void CKivGuiStatic::Render(float, int)
{
    if (!m_visible)
        return;
    DrawElement(m_backgroundElement, 0, 0);
    int dx = 0, dy = 0;
    if (m_dialog)
        m_dialog->GetLocation(&dx, &dy);
    const RECT r = {GuiSum(m_rect.left, dx), GuiSum(m_rect.top, dy), GuiSum(m_rect.right, dx),
                    GuiSum(m_rect.bottom, dy)};
    CKivGuiSystem *gui = CKivGuiSystem::GetInstance();
    CKivGuiSprite *image = gui && !m_backgroundPath.empty() ? gui->FindImage(m_backgroundPath.c_str()) : nullptr;
    // A failed image stays cached with size 0: nothing to scale or draw.
    if (image && image->GetWidth() > 0 && image->GetHeight() > 0) {
        float scale[2] = {m_scale[0], m_scale[1]};
        if (!m_scaleFlag) {
            scale[0] = GetWidth() / image->GetWidth();
            scale[1] = GetHeight() / image->GetHeight();
        }
        image->SetPositionInt(r.left, GuiNearestInt(static_cast<double>(r.top) + GetHeight() - image->GetHeight()), 0);
        image->SetScale(scale);
        image->SetAlpha(m_alpha);
        image->Render();
    }
    if (!m_font)
        return;
    const float fontHeight = GetFontHeight();
    float lineY = static_cast<float>(r.top);
    float w = static_cast<float>(GuiSpan(r.left, r.right));
    const float h = static_cast<float>(GuiSpan(r.top, r.bottom));
    if (m_vertical == 4)
        lineY = (h - fontHeight) / 2 + r.top - 1.0f;
    const float lineHeight = fontHeight + 1;
    m_font->BeginBatch();
    for (const std::string &line : Lines()) {
        if (m_horizontal != 1)
            w += 0.5f;
        const RECT box = {r.left, GuiNearestInt(lineY), GuiNearestInt(static_cast<double>(r.left) + w),
                          GuiNearestInt(static_cast<double>(lineY) + lineHeight)};
        m_font->SetAlpha(m_alpha);
        m_font->DrawText(line.c_str(), &box, m_horizontal, m_textColour);
        if (m_singleLine)
            break;
        lineY += fontHeight + m_lineSpacing;
    }
    m_font->EndBatch();
}
