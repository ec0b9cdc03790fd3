// The push button and the check box: element images by state, clicks and toggles from mouse and keys.
#pragma once

#include <string>

#include "engine/gui/CKivGuiControl.h"

class CKivGuiButton : public CKivGuiControl {
public:
    enum : int { kType = 1 };
    enum : int { kNormal = 1, kHovered = 2, kPressed = 3, kDisabled = 4 };

    explicit CKivGuiButton(CKivGuiDialog *dialog);

    int Create(int id, int left, int top, int right, int bottom, const char *text) override;
    void Render(float elapsed, int unused) override;
    int HandleKeyboard(UINT, WPARAM, LPARAM) override { return 0; }
    int HandleMouse(UINT message, int x, int y, WPARAM wParam, LPARAM lParam) override;
    // Styles 0 (the render callback), 1 and 3 (elements), 2 and 4 (pressed animation).
    void SetRenderStyle(int style) { m_style = style; }
    int GetRenderStyle() const { return m_style; }
    void OnClicked();

protected:
    int HasImage(int element);

    int m_style = 0;
};

class CKivGuiCheckBox : public CKivGuiButton {
public:
    enum : int { kType = 3 };
    enum : int { kUnchecked = 1, kChecked = 2, kBoxHovered = 3, kBoxDisabled = 4 };

    explicit CKivGuiCheckBox(CKivGuiDialog *dialog);

    int Create(int id, int left, int top, int right, int bottom, const char *label);
    void Update(float elapsed) override;
    void Render(float elapsed, int unused) override;
    int HandleKeyboard(UINT message, WPARAM wParam, LPARAM lParam) override;
    int HandleMouse(UINT message, int x, int y, WPARAM wParam, LPARAM lParam) override;
    int CanHaveFocus() override { return 0; }
    int ContainsPoint(int x, int y) override;
    void OnHotkey() override { SetChecked(!m_checked, 1); }

    // Sends event 259 with the from-user flag.
    void SetChecked(int flag, int fromUser);
    int GetChecked() const { return m_checked; }
    const char *GetLabel() const { return m_label.c_str(); }
    // The unchecked image alternates between elements 1 and 3 every half second.
    void SetBlink(int flag) { m_blink = flag; }

private:
    void DrawBox(int element, float alpha);

    std::string m_label;
    int m_checked = 0;
    int m_pressedInside = 0;
    RECT m_box = {};
    int m_blink = 0;
    DWORD m_blinkLast = 0;
    int m_blinkPhase = 0;
};
