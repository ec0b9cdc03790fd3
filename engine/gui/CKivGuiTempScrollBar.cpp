// The scroll bar: geometry from the control rectangle, thumb from the range, mouse handling and drawing.
#include "engine/gui/CKivGuiTempScrollBar.h"

#include <algorithm>
#include <cstdio>

#include "engine/CKivBase.h"
#include "engine/gui/CKivGuiDialog.h"
#include "engine/gui/CKivGuiSprite.h"
#include "engine/gui/GuiScreen.h"
#include "engine/gui/GuiSums.h"

namespace {

// Mouse y minus thumb top when a drag began; one for every bar.
int DragOffset;

// n / d rounded down, for d > 0.
long long FloorDiv(long long n, long long d)
{
    return n / d - (n % d < 0 ? 1 : 0);
}

bool Inside(const RECT &r, int x, int y)
{
    POINT p = {x, y};
    return PtInRect(&r, p) != 0;
}

// A chat skin's path, made without allocating: out of memory only the
// element loads can fail, each leaving its element as it was.
struct ChatImage {
    ChatImage(const char *name, int state = -1, int piece = -1)
    {
        if (state < 0)
            std::snprintf(path, sizeof(path), "Data/Interface/Chat/Multichat/%s", name);
        else
            std::snprintf(path, sizeof(path), "Data/Interface/Chat/Multichat/%s%d_%d", name, state, piece);
    }
    const char *Path() const { return path; }
    char path[64];
};

} // namespace

CKivGuiTempScrollBar::CKivGuiTempScrollBar(CKivGuiDialog *dialog) : CKivGuiControl(dialog)
{
    m_type = kType;
}

int CKivGuiTempScrollBar::Create(int id, int left, int top, int right, int bottom, int, int gap)
{
    m_id = id;
    m_rect = {left, top, right, bottom};
    if (m_dialog && !m_dialog->AddControl(this))
        return 0;
    m_gap = gap;
    return 1;
}

void CKivGuiTempScrollBar::SetTrackRange(int start, int end)
{
    m_start = start < 0 ? 0 : start;
    m_end = end < 0 ? 0 : end;
    Cap();
    UpdateThumbRect();
}

void CKivGuiTempScrollBar::Scroll(int delta)
{
    m_position = Capped(static_cast<long long>(m_position) + delta);
    UpdateThumbRect();
}

void CKivGuiTempScrollBar::ShowItem(int index)
{
    if (index > m_end - 1)
        index = m_end - 1;
    if (index < 0)
        index = 0;
    if (m_position > index)
        m_position = index;
    else if (static_cast<long long>(m_position) + m_pageSize <= index)
        m_position = index - m_pageSize + 1;
    UpdateThumbRect();
}

void CKivGuiTempScrollBar::SetPageSize(int items)
{
    m_pageSize = items < 1 ? 1 : items;
    Cap();
    UpdateThumbRect();
}

void CKivGuiTempScrollBar::Cap()
{
    m_position = Capped(m_position);
}

// In 64 bits: a step or a page past either end of the 32-bit range stops there.
int CKivGuiTempScrollBar::Capped(long long position) const
{
    if (position < m_start || static_cast<long long>(m_end) - m_start <= m_pageSize)
        return m_start;
    if (position + m_pageSize > m_end)
        return m_end - m_pageSize;
    return static_cast<int>(position);
}

void CKivGuiTempScrollBar::UpdateThumbRect()
{
    const int range = m_end - m_start;
    if (range <= m_pageSize) {
        m_thumb.bottom = m_thumb.top;
        m_thumbShown = 0;
        return;
    }
    // Pixels times items may pass the 32-bit range for pages and ranges that large.
    const long long trackHeight = static_cast<long long>(m_track.bottom) - m_track.top;
    long long len = trackHeight * m_pageSize / range;
    if (len < 2)
        len = 1;
    m_thumb.top = GuiNearestInt((trackHeight - len) * (m_position - m_start) / (range - m_pageSize) + m_track.top);
    m_thumb.bottom = GuiSum(m_thumb.top, len);
    m_thumbShown = 1;
}

void CKivGuiTempScrollBar::Update(float elapsed)
{
    // The hover event may delete the bar.
    Guard guard(this);
    CKivGuiControl::Update(elapsed);
    if (!guard.Alive())
        return;
    if (!m_state)
        m_part = kNone;
    const int w = GetWidth();
    m_up = {m_rect.left, m_rect.top, m_rect.right, GuiSum(m_rect.top, w)};
    m_down = {m_rect.left, GuiSum(m_rect.bottom, -static_cast<long long>(w)), m_rect.right, m_rect.bottom};
    m_track = {m_rect.left, GuiSum(m_up.bottom, m_gap), m_rect.right,
               GuiSum(m_down.top, -static_cast<long long>(m_gap))};
    m_thumb.left = m_track.left;
    m_thumb.right = m_track.right;
    UpdateThumbRect();
}

bool CKivGuiTempScrollBar::Capture()
{
    CKivBase *base = CKivBase::GetInstance();
    if (!base || !base->GetWindow())
        return true;
    // The capture's change is sent through the window.
    Guard guard(this);
    SetCapture(base->GetWindow());
    return guard.Alive();
}

void CKivGuiTempScrollBar::EndDrag()
{
    m_dragging = 0;
    UpdateThumbRect();
    m_part = kNone;
}

int CKivGuiTempScrollBar::HandleMouse(UINT message, int x, int y, WPARAM wParam, LPARAM)
{
    m_lastX = x;
    m_lastY = y;
    if (m_thumb.top == 0 && m_thumb.bottom == 0)
        return 0;
    switch (message) {
    case WM_MOUSEMOVE:
        if (m_dragging) {
            // In 64 bits: the mouse, the thumb and the track may lie at
            // either end of the int range.
            const long long len = static_cast<long long>(m_thumb.bottom) - m_thumb.top;
            long long top = static_cast<long long>(y) - DragOffset;
            if (top + len > m_track.bottom)
                top = m_track.bottom - len;
            if (top < m_track.top)
                top = m_track.top;
            m_thumb.top = GuiNearestInt(top);
            m_thumb.bottom = GuiSum(m_thumb.top, len);
            const long long maxPos = static_cast<long long>(m_end) - m_start - m_pageSize;
            const long long free = static_cast<long long>(m_track.bottom) - m_track.top - len;
            // A track no longer than the thumb, or a range that shrank to a
            // page during the drag, leaves nothing to divide: the start.
            int position = m_start;
            if (maxPos > 0 && free > 0)
                position = GuiNearestInt((static_cast<long long>(m_thumb.top) - m_track.top + free / (2 * maxPos)) *
                                             maxPos / free +
                                         m_start);
            if (position > m_end - m_pageSize)
                position = m_end - m_pageSize;
            m_position = position < m_start ? m_start : position;
            return 1;
        }
        if (Inside(m_up, x, y))
            m_part = kUpHovered;
        else if (Inside(m_down, x, y))
            m_part = kDownHovered;
        else if (Inside(m_thumb, x, y))
            m_part = kThumbHovered;
        else {
            m_part = kNone;
            return 0;
        }
        if (m_focusOnHover && m_dialog)
            m_dialog->RequestFocus(this);
        return 1;
    case WM_LBUTTONDOWN:
        if (Inside(m_up, x, y)) {
            if (!Capture())
                return 1;
            if (m_position > m_start)
                m_position--;
            UpdateThumbRect();
            m_part = kUpPressed;
            return 1;
        }
        if (Inside(m_down, x, y)) {
            if (!Capture())
                return 1;
            if (static_cast<long long>(m_position) + m_pageSize < m_end)
                m_position++;
            UpdateThumbRect();
            m_part = kDownPressed;
            return 1;
        }
        if (Inside(m_thumb, x, y)) {
            if (!Capture())
                return 1;
            m_dragging = 1;
            DragOffset = GuiSpan(m_thumb.top, y);
            m_part = kThumbDragged;
            return 1;
        }
        // Only a press the bar handles takes the capture.
        if (x >= m_thumb.left && x < m_thumb.right) {
            if (y >= m_track.top && y < m_thumb.top) {
                if (Capture())
                    Scroll(1 - m_pageSize);
                return 1;
            }
            if (y >= m_thumb.bottom && y < m_track.bottom) {
                if (Capture())
                    Scroll(m_pageSize - 1);
                return 1;
            }
        }
        return 0;
    case WM_LBUTTONUP:
        EndDrag();
        // Last: the capture's loss is sent through the window, whose owner
        // may close the bar.
        ReleaseCapture();
        return 0;
    case WM_MOUSEWHEEL:
        Scroll(-(static_cast<short>(HIWORD(wParam)) / 120));
        return 1;
    }
    return 0;
}

int CKivGuiTempScrollBar::MsgProc(UINT message, WPARAM, LPARAM)
{
    if (message == WM_CAPTURECHANGED && m_dragging)
        EndDrag();
    return 0;
}

// Each load may end in the bar's deletion (LoadElement answers 0): the rest stops.
int CKivGuiTempScrollBar::LoadThumbSkin(int id, const char *top, const char *middle, const char *bottom)
{
    m_threePiece = 1;
    return LoadElement(id, middle) && LoadElement(id + 100, top) && LoadElement(id + 200, bottom) ? 1 : 0;
}

int CKivGuiTempScrollBar::LoadArrowSkin(int id, const char *normal, const char *hovered, const char *pressed)
{
    m_gap = 7;
    return LoadElement(id, normal) && LoadElement(id + 1, hovered ? hovered : normal) &&
                   LoadElement(id + 2, pressed ? pressed : normal)
               ? 1
               : 0;
}

void CKivGuiTempScrollBar::LoadSkins()
{
    SetExtraRect(0, 0, 14, 86);
    for (int state = 0; state < 3; state++) {
        if (!LoadThumbSkin(kThumb + state, ChatImage("mcscroll_scroll", state, 0).Path(),
                           ChatImage("mcscroll_scroll", state, 1).Path(),
                           ChatImage("mcscroll_scroll", state, 2).Path()))
            return;
    }
    if (LoadArrowSkin(kUp, ChatImage("mcscroll_up0").Path(), ChatImage("mcscroll_up1").Path(),
                      ChatImage("mcscroll_up2").Path()))
        LoadArrowSkin(kDown, ChatImage("mcscroll_down0").Path(), ChatImage("mcscroll_down1").Path(),
                      ChatImage("mcscroll_down2").Path());
}

int CKivGuiTempScrollBar::Variant(int base) const
{
    return m_part == base + 1 || m_part == base + 2 ? m_part : base;
}

void CKivGuiTempScrollBar::DrawPiece(int element, int x, int y, const float *scale)
{
    auto it = m_elements.find(element);
    CKivGuiSprite *sprite = it != m_elements.end() && !it->second.empty() ? GetElement(element) : nullptr;
    if (!sprite)
        return;
    sprite->SetPositionInt(x, y, 0);
    sprite->SetScale(scale);
    sprite->SetAlpha(m_alpha);
    sprite->Render();
}

void CKivGuiTempScrollBar::Render(float, int)
{
    if (!m_visible || !m_thumbShown || !m_dialog)
        return;
    int dx, dy;
    m_dialog->GetLocation(&dx, &dy);
    const int arrowHeight = GuiSpan(m_up.top, m_up.bottom);
    const long long top = static_cast<long long>(dy) + m_up.top + 1;
    // One piece per page item, one arrow height apart; only those that can
    // put a pixel on the screen are drawn, so any page costs a screenful.
    const long long screen = GuiViewportHeight();
    long long first = 0, last = m_pageSize - 2LL;
    if (arrowHeight != 0) {
        auto it = m_elements.find(kTrack);
        CKivGuiSprite *tile = it != m_elements.end() && !it->second.empty() ? GetElement(kTrack) : nullptr;
        const float h = tile ? tile->GetHeight() : 0.0f;
        const long long tall = static_cast<long long>(std::max(h, h / GuiImageScale())) + 1;
        // Piece i covers top + arrowHeight x i and the tile's height below it:
        // it shows while it starts above the screen's bottom and ends below its top.
        const long long step = arrowHeight > 0 ? arrowHeight : -arrowHeight;
        if (arrowHeight > 0) {
            first = std::max(first, FloorDiv(-tall - top, step) + 1);
            last = std::min(last, FloorDiv(screen - top - 1, step));
        } else {
            first = std::max(first, FloorDiv(top - screen, step) + 1);
            last = std::min(last, FloorDiv(top + tall - 1, step));
        }
    } else {
        // Every piece on the same spot: as many as the screen has rows.
        last = std::min(last, screen - 1);
    }
    for (long long i = first; i <= last; i++)
        DrawPiece(kTrack, GuiSum(dx, m_up.left - 1LL), GuiNearestInt(top + arrowHeight * i), nullptr);
    const int thumbHeight = GuiSpan(m_thumb.top, m_thumb.bottom);
    const int middle = Variant(kThumb);
    CKivGuiSprite *image = GetElement(middle);
    // Without a reference rectangle the image's own height stands in.
    int reference = GuiSpan(m_imageRect.top, m_imageRect.bottom);
    if (reference <= 0)
        reference = image ? static_cast<int>(image->GetHeight()) : 0;
    const int x = GuiSum(dx, m_thumb.left), y = GuiSum(dy, m_thumb.top);
    if (reference > 0) {
        const float scale[2] = {1.0f, static_cast<float>(thumbHeight) / reference};
        const int middleY = GuiSum(y, static_cast<long long>(thumbHeight) - reference);
        DrawPiece(middle, x, middleY, scale);
        if (m_threePiece) {
            DrawPiece(middle + 100, x, GuiSum(y, -3), nullptr);
            DrawPiece(middle + 200, x, GuiSum(middleY, image ? static_cast<long long>(image->GetHeight()) : 0LL),
                      nullptr);
        }
    }
    DrawPiece(Variant(kUp), GuiSum(dx, m_up.left), GuiSum(dy, m_up.top), nullptr);
    DrawPiece(Variant(kDown), GuiSum(dx, m_down.left), GuiSum(dy, m_down.top), nullptr);
}
