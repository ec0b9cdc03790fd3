// The dialog: registration, controls, focus and state, message routing, events, background and text.
#include "engine/gui/CKivGuiDialog.h"

#include <windowsx.h>

#include <algorithm>
#include <exception>
#include <set>

#include "engine/gui/CKivGuiControl.h"
#include "engine/gui/CKivGuiDxFont.h"
#include "engine/gui/CKivGuiSprite.h"
#include "engine/gui/CKivGuiSystem.h"
#include "engine/gui/GuiScreen.h"
#include "engine/gui/GuiSums.h"
#include "engine/gui/GuiText.h"
#include "engine/gui/GuiFontNode.h"

namespace {

// The control types whose keys are text, never hot keys.
bool IsEditBox(const CKivGuiControl *control)
{
    return control && (control->GetType() == 7 || control->GetType() == 8);
}

// UTF-16 text in the ANSI code page, whatever its length.
std::string ToAnsi(const WCHAR *text)
{
    if (!text)
        return std::string();
    int bytes = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1)
        return std::string();
    std::string out(bytes, '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], bytes, nullptr, nullptr);
    out.resize(bytes - 1);
    return out;
}

CKivGuiDxFont *FontOrDefault(const char *name)
{
    CKivGuiSystem *gui = CKivGuiSystem::GetInstance();
    return gui ? gui->GetFont(name ? name : "DefaultFont") : nullptr;
}

} // namespace

CKivGuiDialog::CKivGuiDialog(int id) : m_id(id), m_alive(std::make_shared<bool>(true)) {}

CKivGuiDialog::~CKivGuiDialog()
{
    *m_alive = false;
    CKivGuiSystem *gui = CKivGuiSystem::GetInstance();
    // A registry that still listed the dialog would hand it out after this.
    if (gui && gui->IsRegistered(this))
        gui->RemoveDialog(this);
    if (gui && gui->GetActiveDialog() == this)
        gui->SetActiveDialog(nullptr);
    SetBackgroundImage("");
    RemoveAllControls();
}

void CKivGuiDialog::SetLocation(int x, int y)
{
    const int w = GetWidth(), h = GetHeight();
    m_rect = {x, y, GuiSum(x, w), GuiSum(y, h)};
    m_hitRect = m_rect;
}

void CKivGuiDialog::SetSize(int w, int h)
{
    m_rect.right = GuiSum(m_rect.left, w);
    m_rect.bottom = GuiSum(m_rect.top, h);
    m_hitRect = m_rect;
}

void CKivGuiDialog::GetLocation(int *x, int *y) const
{
    if (x)
        *x = m_rect.left;
    if (y)
        *y = m_rect.top;
}

int CKivGuiDialog::ContainsPoint(int x, int y) const
{
    return x >= m_rect.left && x <= m_rect.right && y >= m_rect.top && y <= m_rect.bottom;
}

void CKivGuiDialog::MoveControls(int dx, int dy)
{
    for (CKivGuiControl *c : m_controls) {
        int x, y;
        c->GetLocation(&x, &y);
        c->SetLocation(GuiSum(x, dx), GuiSum(y, dy));
    }
}

void CKivGuiDialog::Reregister(int layer, int kind, bool known)
{
    CKivGuiSystem *gui = CKivGuiSystem::GetInstance();
    if (!gui || (known && !gui->IsRegistered(this))) {
        m_layer = layer;
        m_modalKind = kind;
        return;
    }
    const bool active = gui->GetActiveDialog() == this;
    gui->RemoveDialog(this);
    const int oldLayer = m_layer, oldKind = m_modalKind;
    m_layer = layer;
    m_modalKind = kind;
    if (!gui->AddDialog(this)) {
        // Out of memory: back in the lists it left, whose room is still there.
        m_layer = oldLayer;
        m_modalKind = oldKind;
        gui->AddDialog(this);
    }
    if (active)
        gui->SetActiveDialog(this);
}

// Showing brings the dialog to the front of its lists: drawn last, hit first.
// A dialog taken out of the GUI system comes back with it.
void CKivGuiDialog::SetVisible(int flag)
{
    m_visible = flag;
    if (flag)
        Reregister(m_layer, m_modalKind, false);
}

void CKivGuiDialog::SetLayer(int layer)
{
    if (layer != m_layer)
        Reregister(layer & 3, m_modalKind, true);
}

void CKivGuiDialog::SetModalKind(int kind)
{
    Reregister(m_layer, kind & 3, true);
}

// Out of memory for the walk's copy the dialog and its controls stay as they were.
void CKivGuiDialog::SetEnabled(int flag)
try {
    const std::vector<CKivGuiControl *> controls(m_controls);
    m_nonUserEvents = m_keyboardInput = m_mouseInput = m_enabled = flag;
    for (CKivGuiControl *c : controls)
        if (HasControl(c))
            c->SetEnabled(flag);
} catch (const std::exception &) {
}

int CKivGuiDialog::AddControl(CKivGuiControl *control)
{
    if (!control)
        return 0;
    try {
        if (!HasControl(control))
            m_controls.push_back(control);
    } catch (const std::exception &) {
        return 0;
    }
    return 1;
}

bool CKivGuiDialog::HasControl(const CKivGuiControl *control) const
{
    return control && std::find(m_controls.begin(), m_controls.end(), control) != m_controls.end();
}

CKivGuiControl *CKivGuiDialog::GetControl(int id) const
{
    for (CKivGuiControl *c : m_controls)
        if (c->GetID() == id)
            return c;
    return nullptr;
}

CKivGuiControl *CKivGuiDialog::GetControl(int id, int type) const
{
    for (CKivGuiControl *c : m_controls)
        if (c->GetID() == id && c->GetType() == type)
            return c;
    return nullptr;
}

CKivGuiControl *CKivGuiDialog::GetControlByType(int type) const
{
    for (CKivGuiControl *c : m_controls)
        if (c->GetType() == type)
            return c;
    return nullptr;
}

void CKivGuiDialog::RemoveControl(int id)
{
    CKivGuiControl *control = GetControl(id);
    if (!control)
        return;
    auto alive = m_alive;
    // Only the control's own focus goes: another control keeps the focus and
    // whatever it is composing. The focus loss may reach the game, which may
    // delete either.
    if (m_focused == control)
        ClearFocus();
    if (!*alive || !HasControl(control))
        return;
    // The game may have focused this very control from that loss: out of
    // the list first, so that its second loss cannot give it back.
    const bool refocused = m_focused == control;
    for (CKivGuiControl **p : {&m_focused, &m_pressed, &m_clicked, &m_hovered, &m_default})
        if (*p == control)
            *p = nullptr;
    control->SetState(0, CKivGuiControl::kStateFocus);
    m_controls.erase(std::find(m_controls.begin(), m_controls.end(), control));
    if (refocused)
        control->OnFocusOut();
}

void CKivGuiDialog::RemoveAllControls()
{
    std::vector<CKivGuiControl *> controls;
    controls.swap(m_controls);
    m_focused = m_pressed = m_clicked = m_hovered = m_default = nullptr;
    for (CKivGuiControl *c : controls)
        delete c;
}

bool CKivGuiDialog::Usable(const CKivGuiControl *control)
{
    return control && control->IsEnabled() && control->GetVisible();
}

// The control losing the focus hears it: an edit box ends its composition.
void CKivGuiDialog::RequestFocus(CKivGuiControl *control)
{
    if (!HasControl(control) || !control->CanHaveFocus())
        return;
    auto alive = m_alive;
    CKivGuiControl *old = m_focused;
    if (old && old != control) {
        m_focused = nullptr;
        old->OnFocusOut();
        // A focus the game gave meanwhile stands: one control has it.
        if (!*alive || !HasControl(control) || m_focused)
            return;
    }
    if (!TakeFocus(control))
        return;
    if (m_eventMask & kEventFocus)
        SendEvent(kEventFocus, 1, control);
}

// Named before it hears of it: a focus the game gives or takes while the
// control takes it (an IME edit box's focus-in reaches the game) moves it on
// from this control like any other, and stands.
bool CKivGuiDialog::TakeFocus(CKivGuiControl *control)
{
    auto alive = m_alive;
    m_focused = control;
    control->OnFocusIn();
    return *alive && HasControl(control) && m_focused == control;
}

// The clicked and the pressed control: the state bit moves, the event has
// the same code as the bit.
void CKivGuiDialog::MarkControl(CKivGuiControl *&slot, int bit, CKivGuiControl *control)
{
    if (slot)
        slot->SetState(0, bit);
    slot = control;
    if (!control)
        return;
    control->SetState(bit, 0);
    if (m_eventMask & bit)
        SendEvent(bit, 1, control);
}

void CKivGuiDialog::SetClicked(CKivGuiControl *control)
{
    MarkControl(m_clicked, CKivGuiControl::kStateClicked, control);
}

void CKivGuiDialog::SetPressed(CKivGuiControl *control)
{
    MarkControl(m_pressed, CKivGuiControl::kStatePressed, control);
}

void CKivGuiDialog::SetHovered(CKivGuiControl *control)
{
    if (!control || control == m_hovered)
        return;
    auto alive = m_alive;
    control->OnMouseEnter();
    if (!*alive)
        return;
    m_hovered = control;
    if (m_eventMask & kEventHover)
        SendEvent(kEventHover, 1, control);
}

void CKivGuiDialog::ClearFocus()
{
    CKivGuiControl *old = m_focused;
    m_focused = nullptr;
    if (old)
        old->OnFocusOut();
}

void CKivGuiDialog::ClearClicked()
{
    if (m_clicked)
        m_clicked->SetState(0, CKivGuiControl::kStateClicked);
    m_clicked = nullptr;
}

void CKivGuiDialog::ClearPressed()
{
    if (m_pressed)
        m_pressed->SetState(0, CKivGuiControl::kStatePressed);
    m_pressed = nullptr;
}

void CKivGuiDialog::ClearHovered()
{
    CKivGuiControl *old = m_hovered;
    m_hovered = nullptr;
    if (old)
        old->OnMouseLeave();
}

void CKivGuiDialog::ClearHoveredIf(CKivGuiControl *control)
{
    if (control && control == m_hovered)
        ClearHovered();
}

int CKivGuiDialog::GetFocusedControlID() const
{
    return m_focused ? m_focused->GetID() : -1;
}

int CKivGuiDialog::GetClickedControlID() const
{
    return m_clicked ? m_clicked->GetID() : -1;
}

int CKivGuiDialog::GetPressedControlID() const
{
    return m_pressed ? m_pressed->GetID() : -1;
}

int CKivGuiDialog::GetHoveredControlID() const
{
    return m_hovered ? m_hovered->GetID() : -1;
}

void CKivGuiDialog::SetCallback(EventCallback callback, int userData)
{
    m_callback = callback;
    m_userData = userData;
}

void CKivGuiDialog::SetRenderCallback(RenderCallback callback, int argument)
{
    m_renderCallback = callback;
    m_renderArgument = argument;
}

void CKivGuiDialog::SetAlpha(float alpha)
try {
    const std::vector<CKivGuiControl *> controls(m_controls);
    m_alpha = alpha;
    for (CKivGuiControl *c : controls)
        if (HasControl(c))
            c->SetAlpha(alpha);
} catch (const std::exception &) {
}

int CKivGuiDialog::SetBackgroundImage(const char *path)
{
    if (CKivGuiSystem *gui = CKivGuiSystem::GetInstance())
        return gui->ReplaceImage(&m_background, m_id, path);
    m_background.clear();
    return 1;
}

void CKivGuiDialog::SetBackgroundScale(float sx, float sy)
{
    CKivGuiSystem *gui = CKivGuiSystem::GetInstance();
    CKivGuiSprite *sprite = gui && !m_background.empty() ? gui->FindImage(m_background.c_str()) : nullptr;
    if (!sprite)
        return;
    m_backgroundScale[0] = sx;
    m_backgroundScale[1] = sy;
    sprite->SetScaleCentered(m_backgroundScale);
}

void CKivGuiDialog::SendEvent(int event, int fromUser, CKivGuiControl *control)
{
    if (!fromUser && !m_nonUserEvents)
        return;
    if (m_callback)
        m_callback(event, control ? control->GetID() : -1, control, m_userData);
}

void CKivGuiDialog::GetMousePoint(int *x, int *y) const
{
    *x = m_mouseX;
    *y = m_mouseY;
}

// Up, down, left, right: along the neighbours, past disabled or hidden ones;
// a chain that ends or comes round again leaves the focus where it was.
bool CKivGuiDialog::MoveFocus(int direction)
{
    CKivGuiControl *old = m_focused;
    if (!old)
        return false;
    std::set<CKivGuiControl *> seen = {old};
    for (CKivGuiControl *c = old;;) {
        CKivGuiControl *next = GetControl(c->GetNeighbour(direction));
        if (!next || !seen.insert(next).second)
            return false;
        if (Usable(next)) {
            MoveFocusTo(next);
            return true;
        }
        c = next;
    }
}

// A control that refuses a request for the focus (a check box) still takes
// it from the arrows, so that its keys reach it; no focus event is sent.
void CKivGuiDialog::MoveFocusTo(CKivGuiControl *control)
{
    if (control->CanHaveFocus()) {
        RequestFocus(control);
        return;
    }
    auto alive = m_alive;
    CKivGuiControl *old = m_focused;
    m_focused = nullptr;
    if (old && old != control) {
        old->OnFocusOut();
        if (!*alive || !HasControl(control) || m_focused)
            return;
    }
    TakeFocus(control);
}

int CKivGuiDialog::HandleKeyboard(UINT message, WPARAM wParam, LPARAM lParam)
{
    auto alive = m_alive;
    if (message == WM_KEYDOWN && wParam == VK_RETURN && Usable(m_default) && HasControl(m_default)) {
        CKivGuiControl *control = m_default;
        SetClicked(control);
        if (*alive && HasControl(control))
            SetPressed(control);
        if (*alive && HasControl(control))
            SendEvent(kEventCommand, 1, control);
        return 1;
    }
    if (Usable(m_focused) && m_focused->HandleKeyboard(message, wParam, lParam))
        return 1;
    if (!*alive)
        return 0;
    if (message == WM_KEYDOWN && !IsEditBox(m_focused)) {
        for (CKivGuiControl *c : m_controls)
            if (c->GetHotkey() == static_cast<int>(wParam)) {
                c->OnHotkey();
                return 1;
            }
    }
    if (message != WM_KEYDOWN || !m_keyboardInput)
        return 0;
    switch (wParam) {
    case VK_ESCAPE:
        if (CKivGuiControl *cancel = GetControl(m_cancelId))
            SendEvent(kEventCommand, 1, cancel);
        break;
    case VK_UP:
        MoveFocus(0);
        break;
    case VK_DOWN:
        MoveFocus(1);
        break;
    case VK_LEFT:
        MoveFocus(2);
        break;
    case VK_RIGHT:
        MoveFocus(3);
        break;
    }
    return 0;
}

int CKivGuiDialog::HandleMouse(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!m_mouseInput)
        return 0;
    // Signed: a captured mouse left of or above the window has negative
    // coordinates.
    if (message != WM_MOUSEWHEEL) {
        m_mouseX = GuiSpan(m_rect.left, GET_X_LPARAM(lParam));
        m_mouseY = GuiSpan(m_rect.top, GET_Y_LPARAM(lParam));
    }
    auto alive = m_alive;
    const int x = m_mouseX, y = m_mouseY;
    if (Usable(m_focused) && m_focused->GetDialog() == this &&
        m_focused->HandleMouse(message, x, y, wParam, lParam))
        return 1;
    if (!*alive)
        return 0;
    for (CKivGuiControl *c : std::vector<CKivGuiControl *>(m_controls)) {
        if (!HasControl(c) || (!c->IsEnabled() && message != WM_MOUSEMOVE))
            continue;
        if (c->ContainsPoint(x, y) && c->GetVisible() && c->HandleMouse(message, x, y, wParam, lParam))
            return 1;
        if (!*alive)
            return 0;
    }
    if (message == WM_LBUTTONDOWN)
        ClearFocus();
    return 0;
}

// Message handling, updates and drawing let nothing out (it would reach the window
// procedure or the game's loop): out of memory the message goes unhandled and the
// frame goes on without what could not be done.
int CKivGuiDialog::MsgProc(HWND, UINT message, WPARAM wParam, LPARAM lParam)
try {
    if (!m_visible || m_delete)
        return 0;
    auto alive = m_alive;
    if (Usable(m_focused) && m_focused->MsgProc(message, wParam, lParam))
        return 1;
    if (!*alive)
        return 0;
    switch (message) {
    case WM_ACTIVATEAPP:
        if (Usable(m_focused)) {
            if (wParam == 0)
                m_focused->OnFocusOut();
            else
                MoveFocusTo(m_focused);
        }
        return 0;
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
        return HandleKeyboard(message, wParam, lParam);
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
    case WM_MOUSEWHEEL:
        return HandleMouse(message, wParam, lParam);
    }
    return 0;
} catch (const std::exception &) {
    return 0;
}

void CKivGuiDialog::Update(float elapsed)
try {
    auto alive = m_alive;
    for (CKivGuiControl *c : std::vector<CKivGuiControl *>(m_controls)) {
        if (!*alive)
            return;
        if (HasControl(c))
            c->Update(elapsed);
    }
} catch (const std::exception &) {
}

int CKivGuiDialog::Render(float elapsed, int)
try {
    if (!m_visible)
        return 0;
    CKivGuiSystem *gui = CKivGuiSystem::GetInstance();
    CKivGuiSprite *background = gui && !m_background.empty() ? gui->FindImage(m_background.c_str()) : nullptr;
    if (background) {
        const float h = background->GetHeight();
        const float y = m_rect.top + h / GuiImageScale() - h;
        background->SetAlpha(m_alpha);
        background->SetPositionInt(m_rect.left, static_cast<int>(y), 0);
        background->SetScaleCentered(m_backgroundScale);
        background->Render();
    }
    auto alive = m_alive;
    for (CKivGuiControl *c : std::vector<CKivGuiControl *>(m_controls)) {
        if (!*alive)
            return 1;
        if (HasControl(c))
            c->Render(elapsed, 0);
    }
    if (*alive && m_renderCallback)
        m_renderCallback(m_renderArgument);
    return 1;
} catch (const std::exception &) {
    return 0;
}

int CKivGuiDialog::DrawText(const char *text, RECT *rect, const char *font, DWORD format)
{
    CKivGuiDxFont *f = FontOrDefault(font);
    if (!f)
        return 0;
    f->DrawText(text, rect, format, 0);
    return 1;
}

int CKivGuiDialog::DrawTextW(const WCHAR *text, RECT *rect, const char *font, DWORD format)
try {
    return DrawText(ToAnsi(text).c_str(), rect, font, format);
} catch (const std::exception &) {
    return 0;
}

int CKivGuiDialog::CalcTextRect(const char *text, RECT *rect, const char *font, DWORD format)
{
    CKivGuiDxFont *f = FontOrDefault(font);
    if (!f || !f->GetNode() || !f->GetNode()->font || !rect || !text)
        return 0;
    f->GetNode()->font->DrawTextA(nullptr, text, -1, rect, format | DT_CALCRECT, 0);
    return 1;
}

int CKivGuiDialog::CalcTextRectW(const WCHAR *text, RECT *rect, const char *font, DWORD format)
try {
    return CalcTextRect(ToAnsi(text).c_str(), rect, font, format);
} catch (const std::exception &) {
    return 0;
}

int CKivGuiDialog::DrawImage(const char *path, const float *position)
{
    CKivGuiSystem *gui = CKivGuiSystem::GetInstance();
    CKivGuiSprite *sprite = gui && path && position ? gui->FindImage(path) : nullptr;
    if (!sprite)
        return 0;
    sprite->SetPosition(position, 0);
    sprite->Render();
    return 1;
}
