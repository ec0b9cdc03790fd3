// A rectangle of the screen holding controls: message routing, focus and state, events, background, text.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

class CKivGuiControl;
class CKivGuiStatic;

class CKivGuiDialog {
public:
    enum : int {
        kEventHover = 1,
        kEventFocus = 2,
        kEventClick = 4,
        kEventPress = 8,
        kEventCommand = 16,
        kEventCheck = 259,
    };
    typedef void (*EventCallback)(int event, int controlId, CKivGuiControl *control, int userData);
    typedef void (*RenderCallback)(int argument);

    explicit CKivGuiDialog(int id);
    // Leaves the GUI system when still registered, releases the background,
    // deletes the controls.
    virtual ~CKivGuiDialog();
    CKivGuiDialog(const CKivGuiDialog &) = delete;
    CKivGuiDialog &operator=(const CKivGuiDialog &) = delete;

    // Geometry.
    void SetLocation(int x, int y);
    void SetSize(int w, int h);
    void GetLocation(int *x, int *y) const;
    int GetWidth() const { return m_rect.right - m_rect.left; }
    int GetHeight() const { return m_rect.bottom - m_rect.top; }
    int GetID() const { return m_id; }
    int ContainsPoint(int x, int y) const;
    const RECT &GetHitRect() const { return m_hitRect; }
    void MoveControls(int dx, int dy);

    // Registration.
    void SetVisible(int flag);
    int GetVisible() const { return m_visible; }
    void SetLayer(int layer);
    int GetLayer() const { return m_layer; }
    void SetModalKind(int kind);
    void SetModal(int flag) { SetModalKind(flag ? 1 : 0); }
    int GetModalKind() const { return m_modalKind; }
    void SetEnabled(int flag);
    int IsEnabled() const { return m_enabled; }
    int IsMouseInput() const { return m_mouseInput; }
    int IsKeyboardInput() const { return m_keyboardInput; }
    void SetKeyboardInput(int flag) { m_keyboardInput = flag; }
    void SetMouseInput(int flag) { m_mouseInput = flag; }
    void SetNonUserEvents(int flag) { m_nonUserEvents = flag; }
    void MarkForDeletion() { m_delete = 1; }
    // False once the dialog is deleted: callers that call out keep it and
    // check it before they touch the dialog again.
    std::shared_ptr<bool> GetAliveFlag() const { return m_alive; }
    int IsMarkedForDeletion() const { return m_delete; }

    // Controls.
    int AddControl(CKivGuiControl *control);
    CKivGuiControl *GetControl(int id) const;
    CKivGuiControl *GetControl(int id, int type) const;
    CKivGuiControl *GetControlByType(int type) const;
    void RemoveControl(int id);
    void RemoveAllControls();
    bool HasControl(const CKivGuiControl *control) const;
    int GetControlCount() const { return static_cast<int>(m_controls.size()); }
    // Statics in "DefaultFont"; relative: the rectangle is in screen pixels.
    CKivGuiStatic *AddStatic(int id, const RECT *rect, int relative, const char *text);
    CKivGuiStatic *AddStatic(int id, int x, int y, int w, int h, int relative, const char *text);
    // Moves, sizes and retexts the control with the id, or adds a static.
    CKivGuiControl *SetStatic(int id, const RECT *rect, int relative, const char *text);
    CKivGuiControl *SetStatic(int id, float x, float y, float w, float h, int relative, const char *text);
    CKivGuiControl *SetStatic(int id, float x, float y, int relative, const char *text);
    void SetDefaultControl(CKivGuiControl *control) { m_default = control; }
    void SetCancelControl(int id) { m_cancelId = id; }

    // Focus and state.
    void RequestFocus(CKivGuiControl *control);
    void FocusControl(int id) { RequestFocus(GetControl(id)); }
    void SetClicked(CKivGuiControl *control);
    void ClickControl(int id) { SetClicked(GetControl(id)); }
    void SetPressed(CKivGuiControl *control);
    void PressControl(int id) { SetPressed(GetControl(id)); }
    void SetHovered(CKivGuiControl *control);
    void ClearFocus();
    void ClearClicked();
    void ClearPressed();
    void ClearHovered();
    void ClearHoveredIf(CKivGuiControl *control);
    int GetFocusedControlID() const;
    int GetClickedControlID() const;
    int GetPressedControlID() const;
    int GetHoveredControlID() const;
    CKivGuiControl *GetFocusedControl() const { return m_focused; }
    CKivGuiControl *GetHoveredControl() const { return m_hovered; }
    void SetEventMask(int set, int clear) { m_eventMask = (m_eventMask | set) & ~clear; }

    // Other settings.
    void SetCallback(EventCallback callback, int userData);
    void SetRenderCallback(RenderCallback callback, int argument);
    void SetAlpha(float alpha);
    float GetAlpha() const { return m_alpha; }
    int SetBackgroundImage(const char *path);
    void SetBackgroundScale(float sx, float sy);

    // Messages, frame and drawing.
    int MsgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Update(float elapsed);
    int Render(float elapsed, int unused = 0);
    void SendEvent(int event, int fromUser, CKivGuiControl *control);
    int DrawText(const char *text, RECT *rect, const char *font, DWORD format);
    int DrawTextW(const WCHAR *text, RECT *rect, const char *font, DWORD format);
    int CalcTextRect(const char *text, RECT *rect, const char *font, DWORD format);
    int CalcTextRectW(const WCHAR *text, RECT *rect, const char *font, DWORD format);
    int DrawImage(const char *path, const float *position);
    void GetMousePoint(int *x, int *y) const;

private:
    int HandleKeyboard(UINT message, WPARAM wParam, LPARAM lParam);
    int HandleMouse(UINT message, WPARAM wParam, LPARAM lParam);
    bool MoveFocus(int direction);
    // Focus by the keyboard: also a control that refuses RequestFocus.
    void MoveFocusTo(CKivGuiControl *control);
    // The control's focus-in; false when the control no longer holds the
    // focus afterwards (or it or the dialog is gone).
    bool TakeFocus(CKivGuiControl *control);
    void MarkControl(CKivGuiControl *&slot, int bit, CKivGuiControl *control);
    // Re-registers with the GUI system, keeping the dialog active if it was;
    // known: only a dialog the GUI system holds.
    void Reregister(int layer, int kind, bool known);
    static bool Usable(const CKivGuiControl *control);

    int m_eventMask = kEventHover | kEventFocus | kEventClick | kEventPress;
    int m_nonUserEvents = 0;
    int m_keyboardInput = 1;
    int m_mouseInput = 1;
    int m_enabled = 1;
    int m_visible = 1;
    int m_id;
    int m_cancelId = -1;
    RECT m_rect = {};
    RECT m_hitRect = {};
    int m_mouseX = 0;
    int m_mouseY = 0;
    int m_layer = 1;
    int m_modalKind = 0;
    float m_alpha = 1;
    std::vector<CKivGuiControl *> m_controls;
    CKivGuiControl *m_focused = nullptr;
    CKivGuiControl *m_pressed = nullptr;
    CKivGuiControl *m_clicked = nullptr;
    CKivGuiControl *m_hovered = nullptr;
    std::string m_background;   // the cache path of the background, "" = none
    CKivGuiControl *m_default = nullptr;
    int m_delete = 0;
    EventCallback m_callback = nullptr;
    int m_userData = 0;
    RenderCallback m_renderCallback = nullptr;
    int m_renderArgument = 0;
    float m_backgroundScale[2] = {1, 1};
    // Cleared by the destructor: code that called out checks it before it
    // touches the dialog again.
    std::shared_ptr<bool> m_alive;
};
