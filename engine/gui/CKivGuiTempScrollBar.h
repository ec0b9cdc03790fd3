// The vertical scroll bar of the chat window: arrows, track, a thumb sized to the page, capture while pressed.
#pragma once

#include "engine/gui/CKivGuiControl.h"

class CKivGuiTempScrollBar : public CKivGuiControl {
public:
    enum : int { kType = 11 };
    // Part states: which part is hovered or pressed.
    enum : int {
        kNone = 51,
        kUpHovered = 32,
        kUpPressed = 33,
        kDownHovered = 42,
        kDownPressed = 43,
        kThumbHovered = 22,
        kThumbDragged = 23,
    };
    enum : int { kTrack = 11, kThumb = 21, kUp = 31, kDown = 41 };

    explicit CKivGuiTempScrollBar(CKivGuiDialog *dialog);

    // The sixth argument is not used.
    int Create(int id, int left, int top, int right, int bottom, int unused, int gap);
    void Update(float elapsed) override;
    void Render(float elapsed, int unused) override;
    int MsgProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    int HandleKeyboard(UINT, WPARAM, LPARAM) override { return 0; }
    int HandleMouse(UINT message, int x, int y, WPARAM wParam, LPARAM lParam) override;
    void SetAlpha(float alpha) override { m_alpha = alpha; }

    void SetTrackRange(int start, int end);
    void Scroll(int delta);
    void ShowItem(int index);
    void UpdateThumbRect();
    void Cap();
    // Items visible at once (at least 1); the chat window shows 8.
    void SetPageSize(int items);
    void SetFocusOnClick(int flag) { m_focusOnHover = flag; }
    void SetGap(int pixels) { m_gap = pixels; }
    void LoadSkins();
    // 0 when the bar was deleted meanwhile (a missing image's message box).
    int LoadThumbSkin(int id, const char *top, const char *middle, const char *bottom);
    int LoadArrowSkin(int id, const char *normal, const char *hovered, const char *pressed);
    void SetExtraRect(int left, int top, int right, int bottom) { m_imageRect = {left, top, right, bottom}; }

    int GetPosition() const { return m_position; }
    int GetPageSize() const { return m_pageSize; }
    int GetPartState() const { return m_part; }
    int IsThumbShown() const { return m_thumbShown; }
    int IsDragging() const { return m_dragging; }
    const RECT &GetThumbRect() const { return m_thumb; }
    const RECT &GetTrackRect() const { return m_track; }
    const RECT &GetUpRect() const { return m_up; }
    const RECT &GetDownRect() const { return m_down; }

private:
    // Takes the mouse for the engine's window; false when the bar or its
    // dialog went meanwhile.
    bool Capture();
    void EndDrag();
    // The position nearest to the given one that shows a whole page.
    int Capped(long long position) const;
    // Element base + 1 hovered, + 2 pressed.
    int Variant(int base) const;
    void DrawPiece(int element, int x, int y, const float *scale);

    unsigned char m_thumbShown = 1;
    unsigned char m_dragging = 0;
    RECT m_up = {}, m_down = {}, m_track = {}, m_thumb = {};
    int m_position = 0;
    int m_pageSize = 1;
    int m_start = 0;
    int m_end = 1;
    int m_lastX = 0, m_lastY = 0;
    int m_part = kNone;
    int m_focusOnHover = 0;
    int m_threePiece = 0;
    int m_gap = 3;
    RECT m_imageRect = {};
};
