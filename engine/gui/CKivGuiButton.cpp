// The push button and the check box: drawing by state, mouse and key handling, events 16 and 259.
#include "engine/gui/CKivGuiButton.h"

#include <mmsystem.h>

#include <exception>

#include "engine/gui/CKivGuiDialog.h"
#include "engine/gui/CKivGuiSprite.h"
#include "engine/gui/GuiText.h"

CKivGuiButton::CKivGuiButton(CKivGuiDialog *dialog) : CKivGuiControl(dialog)
{
    m_type = kType;
}

int CKivGuiButton::Create(int id, int left, int top, int right, int bottom, const char *text)
{
    if (!CKivGuiControl::Create(id, left, top, right, bottom, text))
        return 0;
    m_hotkey = 0;
    return 1;
}

int CKivGuiButton::HasImage(int element)
{
    auto it = m_elements.find(element);
    return it != m_elements.end() && !it->second.empty();
}

void CKivGuiButton::Render(float elapsed, int unused)
{
    if (!m_visible)
        return;
    if (m_style == 0) {
        CKivGuiControl::Render(elapsed, unused);
        return;
    }
    if (!m_enabled) {
        DrawElement(HasImage(kDisabled) ? kDisabled : kNormal, 0, 0);
        return;
    }
    if (m_state & (kStatePressed | kStateClicked)) {
        if (m_style == 2 || m_style == 4)
            DrawAnimation(2, elapsed, 0, 0);
        else
            DrawElement(kPressed, 0, 0);
    } else {
        DrawElement(m_state & kStateMouseOver ? kHovered : kNormal, 0, 0);
    }
}

int CKivGuiButton::HandleMouse(UINT message, int x, int y, WPARAM, LPARAM)
{
    if (!m_visible || !m_dialog)
        return 0;
    if (message == WM_LBUTTONDOWN) {
        if (!CKivGuiControl::ContainsPoint(x, y))
            return 0;
        m_state |= kStatePressed;
        // Each event may delete the button or its dialog.
        Guard guard(this);
        m_dialog->RequestFocus(this);
        if (guard.Alive())
            m_dialog->SetPressed(this);
        return 1;
    }
    if (message == WM_LBUTTONUP && (m_state & kStatePressed)) {
        Guard guard(this);
        if (CKivGuiControl::ContainsPoint(x, y)) {
            m_dialog->SetClicked(this);
            if (guard.Alive())
                OnClicked();
        }
        if (guard.Alive()) {
            m_dialog->ClearPressed();
            m_state &= ~kStatePressed;
        }
        return 1;
    }
    return 0;
}

void CKivGuiButton::OnClicked()
{
    if (m_dialog)
        m_dialog->SendEvent(CKivGuiDialog::kEventCommand, 1, this);
}

CKivGuiCheckBox::CKivGuiCheckBox(CKivGuiDialog *dialog) : CKivGuiButton(dialog)
{
    m_type = kType;
}

int CKivGuiCheckBox::Create(int id, int left, int top, int right, int bottom, const char *label)
{
    try {
        m_label = GuiCutWhole(label, 259);
    } catch (const std::exception &) {
        return 0;
    }
    m_id = id;
    m_rect = {left, top, right, bottom};
    m_box = {left, top, GuiSum(left, GuiSpan(top, bottom)), bottom};
    // Held before the event, which may delete the dialog: nothing is left to
    // do after it.
    if (m_dialog && !m_dialog->AddControl(this))
        return 0;
    SetChecked(m_checked, 0);
    return 1;
}

void CKivGuiCheckBox::SetChecked(int flag, int fromUser)
{
    m_checked = flag;
    if (m_dialog)
        m_dialog->SendEvent(CKivGuiDialog::kEventCheck, fromUser, this);
}

int CKivGuiCheckBox::ContainsPoint(int x, int y)
{
    POINT p = {x, y};
    return PtInRect(&m_rect, p) || PtInRect(&m_box, p) ? 1 : 0;
}

void CKivGuiCheckBox::Update(float elapsed)
{
    // The hover event may delete the box.
    Guard guard(this);
    CKivGuiControl::Update(elapsed);
    if (!guard.Alive())
        return;
    m_box = {m_rect.left, m_rect.top, GuiSum(m_rect.left, GetHeight()), m_rect.bottom};
    if (m_blink) {
        const DWORD now = timeGetTime();
        if (now - m_blinkLast > 500) {
            m_blinkPhase ^= 1;
            m_blinkLast = now;
        }
    }
}

void CKivGuiCheckBox::DrawBox(int element, float alpha)
{
    CKivGuiSprite *sprite = HasImage(element) ? GetElement(element) : nullptr;
    if (!sprite || !m_dialog)
        return;
    int dx, dy;
    m_dialog->GetLocation(&dx, &dy);
    sprite->SetPositionInt(GuiSum(m_rect.left, dx), GuiSum(m_rect.top, dy), 1);
    sprite->SetAlpha(alpha);
    sprite->Render();
}

void CKivGuiCheckBox::Render(float, int)
{
    if (!m_visible || !HasImage(kUnchecked) || !HasImage(kChecked))
        return;
    if (!m_enabled) {
        if (HasImage(kBoxDisabled)) {
            DrawBox(kBoxDisabled, m_alpha);
            return;
        }
        DrawBox(kUnchecked, 0.5f);
        if (m_checked)
            DrawBox(kChecked, 0.5f);
        return;
    }
    if (m_checked)
        DrawBox(kChecked, m_alpha);
    else if ((m_state & kStateMouseOver) && HasImage(kBoxHovered))
        DrawBox(kBoxHovered, m_alpha);
    else
        DrawBox(m_blink && m_blinkPhase && HasImage(kBoxHovered) ? kBoxHovered : kUnchecked, m_alpha);
}

int CKivGuiCheckBox::HandleKeyboard(UINT message, WPARAM wParam, LPARAM)
{
    if (!m_enabled || !m_visible || wParam != VK_SPACE)
        return 0;
    if (message == WM_KEYDOWN) {
        m_pressedInside = 1;
        return 1;
    }
    if (message == WM_KEYUP) {
        if (m_pressedInside) {
            m_pressedInside = 0;
            SetChecked(!m_checked, 1);
        }
        return 1;
    }
    return 0;
}

int CKivGuiCheckBox::HandleMouse(UINT message, int x, int y, WPARAM, LPARAM)
{
    if (!m_visible || !m_dialog)
        return 0;
    if (message == WM_LBUTTONDOWN && ContainsPoint(x, y)) {
        m_pressedInside = 1;
        m_dialog->RequestFocus(this);
        return 1;
    }
    if (message == WM_LBUTTONUP && m_pressedInside) {
        m_pressedInside = 0;
        Guard guard(this);
        m_dialog->SetClicked(this);
        if (guard.Alive() && ContainsPoint(x, y))
            SetChecked(!m_checked, 1);
        return 1;
    }
    return 0;
}
