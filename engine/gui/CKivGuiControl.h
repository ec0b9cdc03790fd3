// The base of every control a dialog holds: rectangle, id, state bits, text, element images, animations.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>

#include "engine/gui/GuiSums.h"

class CKivGuiDialog;
class CKivGuiSprite;

class CKivGuiControl {
public:
    enum : int {
        kStateMouseOver = 1,
        kStateFocus = 2,
        kStateClicked = 4,
        kStatePressed = 8,
        kTextBytes = 1000,
        kHoverTooltipId = 19978,   // the one tooltip of the hovered control
    };
    typedef void (*RenderCallback)(float elapsed, CKivGuiControl *control);

    struct Animation {
        int first;
        int last;
        float frameTime;
        int value;
    };
    struct Tooltip {
        int x, y, width;
        std::string text;
        int anchor;
        float lifetime, maxAlpha;
        int margin;
    };

    // Taken before a call that can reach the game (an event, a message through
    // the window), which may delete the dialog or the control: afterwards
    // Alive says whether the control may still touch itself and its dialog.
    class Guard {
    public:
        explicit Guard(const CKivGuiControl *control);
        // Both still exist and the dialog still holds the control.
        bool Alive() const;

    private:
        const CKivGuiControl *m_control;
        std::shared_ptr<bool> m_controlAlive;
        std::shared_ptr<bool> m_dialogAlive;
    };

    explicit CKivGuiControl(CKivGuiDialog *dialog);
    virtual ~CKivGuiControl();
    CKivGuiControl(const CKivGuiControl &) = delete;
    CKivGuiControl &operator=(const CKivGuiControl &) = delete;

    // Stores id, rectangle and text and joins the dialog.
    virtual int Create(int id, int left, int top, int right, int bottom, const char *text);
    virtual int OnInit() { return 1; }
    virtual void Update(float elapsed);
    virtual void Render(float elapsed, int unused);
    virtual int MsgProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual int HandleKeyboard(UINT message, WPARAM wParam, LPARAM lParam);
    virtual int HandleMouse(UINT message, int x, int y, WPARAM wParam, LPARAM lParam);
    virtual void OnHotkey() {}
    virtual int CanHaveFocus() { return m_visible && m_enabled; }
    virtual int GetTag() { return m_tag; }
    virtual void SetTag(int value) { m_tag = value; }
    virtual int ContainsPoint(int x, int y);
    virtual void OnFocusIn();
    virtual void OnFocusOut();
    virtual void OnMouseEnter() { m_state |= kStateMouseOver; }
    virtual void OnMouseLeave() { m_state &= ~kStateMouseOver; }
    virtual void SetAlpha(float alpha) { m_alpha = alpha; }
    virtual void SetColor(float r, float g, float b);
    // Loads the image into the GUI system's cache under the element id; an
    // empty path stores an element without image. 0 when the control was
    // deleted meanwhile (by the game, as a missing image's message box ran).
    virtual int LoadElement(int element, const char *path);
    // The element's image; an absent id is added without image.
    virtual CKivGuiSprite *GetElement(int element);
    virtual void RemoveAllElements();
    // The image's bottom edge on the control's, offset by (dx, dy).
    virtual int DrawElement(int element, float dx, float dy);
    virtual int DrawImage(const char *path, float dx, float dy);
    virtual void AddAnimation(int first, int last, float frameTime, int value);
    virtual void DrawAnimation(int first, float elapsed, float dx, float dy);

    int SetText(const char *text);
    const char *GetText() const { return m_text.c_str(); }
    void SetLocation(int x, int y);
    void SetSize(int w, int h);
    void GetLocation(int *x, int *y) const;
    int GetWidth() const { return GuiSpan(m_rect.left, m_rect.right); }
    int GetHeight() const { return GuiSpan(m_rect.top, m_rect.bottom); }
    const RECT &GetRect() const { return m_rect; }
    void SetID(int id) { m_id = id; }
    int GetID() const { return m_id; }
    int GetType() const { return m_type; }
    int GetVisible() const { return m_visible; }
    void SetVisible(int flag) { m_visible = flag; }
    int IsEnabled() const { return m_enabled; }
    void SetEnabled(int flag);
    int GetState() const { return m_state; }
    void SetState(int set, int clear) { m_state = (m_state | set) & ~clear; }
    void SetHotkey(int key) { m_hotkey = key; }
    int GetHotkey() const { return m_hotkey; }
    void SetNeighbour(int direction, int id);
    int GetNeighbour(int direction) const;
    void SetStretch(int flag) { m_stretch = flag; }
    void SetElementsScale(const float *scale);
    void SetSizeFromElement(int element);
    void SetFont(const char *identifier, const char *face, const char *name);
    const char *GetFontName() const { return m_fontName.c_str(); }
    void SetTooltip(const char *text, int anchor, int dx, int dy, int id);
    const Tooltip *GetTooltip() const { return m_tooltip; }
    void SetRenderCallback(RenderCallback callback) { m_renderCallback = callback; }
    float GetAlpha() const { return m_alpha; }
    int HasFocus() const { return m_focus; }
    CKivGuiDialog *GetDialog() const { return m_dialog; }
    int GetAnimationFrame() const { return m_frame; }

protected:
    // Draws a cached image as an element of this control.
    int DrawSprite(CKivGuiSprite *sprite, float dx, float dy);

    CKivGuiDialog *m_dialog;
    RECT m_rect = {};
    int m_id = 0;
    int m_neighbours[4] = {};
    int m_type = 0;
    int m_visible = 1;
    int m_enabled = 1;
    int m_tag = 0;
    int m_state = 0;
    int m_hotkey = 0;
    std::string m_text;
    std::string m_fontName;
    // Element id -> the cache path its image was loaded under ("" = none).
    std::map<int, std::string> m_elements;
    std::map<int, Animation> m_animations;
    int m_frame = 0;
    float m_timer = 0;
    float m_alpha = 1;
    RenderCallback m_renderCallback = nullptr;
    int m_focus = 0;
    Tooltip *m_tooltip = nullptr;
    int m_stretch = 0;
    int m_elementScale = 0;
    int m_swallowKeys = 0;   // the edit boxes' keyboard-swallow flag

private:
    // Cleared by the destructor, for the guards of calls still running.
    std::shared_ptr<bool> m_alive;
};
