// The control base: geometry, state, text, element images from the GUI system's cache, animations, hover.
#include "engine/gui/CKivGuiControl.h"

#include <exception>
#include <new>

#include "engine/gui/CKivGuiDialog.h"
#include "engine/gui/CKivGuiSprite.h"
#include "engine/gui/CKivGuiSystem.h"
#include "engine/gui/CKivGuiTooltipManager.h"
#include "engine/gui/GuiScreen.h"
#include "engine/gui/GuiSums.h"
#include "engine/gui/GuiText.h"

CKivGuiControl::Guard::Guard(const CKivGuiControl *control)
    : m_control(control), m_controlAlive(control->m_alive),
      m_dialogAlive(control->m_dialog ? control->m_dialog->GetAliveFlag() : nullptr)
{
}

bool CKivGuiControl::Guard::Alive() const
{
    if (!*m_controlAlive)
        return false;
    if (!m_dialogAlive)
        return true;
    return *m_dialogAlive && m_control->m_dialog->HasControl(m_control);
}

CKivGuiControl::CKivGuiControl(CKivGuiDialog *dialog) : m_dialog(dialog), m_alive(std::make_shared<bool>(true))
{
    SetAlpha(1.0f);
}

CKivGuiControl::~CKivGuiControl()
{
    *m_alive = false;
    m_animations.clear();
    RemoveAllElements();
    delete m_tooltip;
}

// 0 when memory runs out, with the control in no dialog.
int CKivGuiControl::Create(int id, int left, int top, int right, int bottom, const char *text)
{
    m_id = id;
    m_rect = {left, top, right, bottom};
    if (!SetText(text))
        return 0;
    m_hotkey = 0;
    return m_dialog ? m_dialog->AddControl(this) : 1;
}

// Longer text is cut at a whole character to what the text field holds.
// 0 when memory runs out, with the text as it was.
int CKivGuiControl::SetText(const char *text)
{
    try {
        m_text = GuiCutWhole(text, kTextBytes - 1);
    } catch (const std::exception &) {
        return 0;
    }
    return 1;
}

void CKivGuiControl::SetLocation(int x, int y)
{
    const long long w = static_cast<long long>(m_rect.right) - m_rect.left;
    const long long h = static_cast<long long>(m_rect.bottom) - m_rect.top;
    m_rect = {x, y, GuiSum(x, w), GuiSum(y, h)};
}

void CKivGuiControl::SetSize(int w, int h)
{
    m_rect.right = GuiSum(m_rect.left, w);
    m_rect.bottom = GuiSum(m_rect.top, h);
}

void CKivGuiControl::GetLocation(int *x, int *y) const
{
    if (x)
        *x = m_rect.left;
    if (y)
        *y = m_rect.top;
}

void CKivGuiControl::SetEnabled(int flag)
{
    m_enabled = flag;
    m_alpha = flag == 1 ? 1.0f : 0.5f;
}

void CKivGuiControl::SetNeighbour(int direction, int id)
{
    if (direction >= 0 && direction < 4)
        m_neighbours[direction] = id;
}

int CKivGuiControl::GetNeighbour(int direction) const
{
    return direction >= 0 && direction < 4 ? m_neighbours[direction] : 0;
}

int CKivGuiControl::ContainsPoint(int x, int y)
{
    POINT p = {x, y};
    return PtInRect(&m_rect, p) ? 1 : 0;
}

void CKivGuiControl::OnFocusIn()
{
    m_focus = 1;
    m_state |= kStateFocus;
}

void CKivGuiControl::OnFocusOut()
{
    m_focus = 0;
    m_state &= ~kStateFocus;
}

void CKivGuiControl::Render(float elapsed, int)
{
    if (m_visible && m_renderCallback)
        m_renderCallback(elapsed, this);
}

int CKivGuiControl::MsgProc(UINT, WPARAM, LPARAM)
{
    return 0;
}

int CKivGuiControl::HandleKeyboard(UINT, WPARAM, LPARAM)
{
    return 0;
}

int CKivGuiControl::HandleMouse(UINT, int, int, WPARAM, LPARAM)
{
    return 0;
}

void CKivGuiControl::Update(float)
{
    CKivGuiSystem *gui = CKivGuiSystem::GetInstance();
    if (!gui || !m_dialog || !m_dialog->GetVisible() || !m_visible)
        return;
    int mx, my, dx, dy;
    gui->GetMousePosition(&mx, &my);
    m_dialog->GetLocation(&dx, &dy);
    mx = GuiSum(mx, -static_cast<long long>(dx));
    my = GuiSum(my, -static_cast<long long>(dy));
    if (m_state & kStateMouseOver) {
        if (!ContainsPoint(mx, my)) {
            m_state &= ~kStateMouseOver;
            m_dialog->ClearHoveredIf(this);
        }
        // Re-added every frame it was hovered: it stays faded in under the mouse.
        CKivGuiTooltipManager *tooltips = gui->GetTooltipManager();
        if (tooltips && m_tooltip && gui->GetMouseOverDialog() == m_dialog) {
            const Tooltip &t = *m_tooltip;
            tooltips->AddTooltip(1, kHoverTooltipId, t.x, t.y, t.width, t.text.c_str(), t.anchor, t.lifetime,
                                 t.maxAlpha, t.margin, -1, 0);
        }
    } else if (gui->GetMouseOverDialog() == m_dialog && ContainsPoint(mx, my)) {
        m_state |= kStateMouseOver;
        m_dialog->SetHovered(this);
    }
}

void CKivGuiControl::SetColor(float r, float g, float b)
{
    for (auto &element : m_elements)
        if (CKivGuiSprite *sprite = GetElement(element.first))
            sprite->SetColor(r, g, b);
}

// 0 when memory runs out, with the element as it was.
int CKivGuiControl::LoadElement(int element, const char *path)
{
    CKivGuiSystem *gui = CKivGuiSystem::GetInstance();
    std::string *held = nullptr;
    try {
        held = &m_elements[element];
        if (path && path[0] && gui) {
            // A missing image's message box runs the window's messages, and the
            // game may delete the control meanwhile (0 then).
            auto alive = m_alive;
            const int loaded = gui->ReplaceImage(held, m_id, path);
            return *alive ? loaded : 0;
        }
    } catch (const std::exception &) {
        return 0;
    }
    if (gui && !held->empty())
        gui->ReleaseImage(held->c_str());
    held->clear();
    return 1;
}

CKivGuiSprite *CKivGuiControl::GetElement(int element)
{
    CKivGuiSystem *gui = CKivGuiSystem::GetInstance();
    auto it = m_elements.find(element);
    return gui && it != m_elements.end() && !it->second.empty() ? gui->FindImage(it->second.c_str()) : nullptr;
}

// Each image is released by the path it was loaded under.
void CKivGuiControl::RemoveAllElements()
{
    CKivGuiSystem *gui = CKivGuiSystem::GetInstance();
    for (auto &element : m_elements)
        if (gui && !element.second.empty())
            gui->ReleaseImage(element.second.c_str());
    m_elements.clear();
}

int CKivGuiControl::DrawSprite(CKivGuiSprite *sprite, float dx, float dy)
{
    if (!sprite || !m_dialog)
        return 1;
    int left, top;
    m_dialog->GetLocation(&left, &top);
    const double x = static_cast<double>(m_rect.left) + left + dx;
    const double y = static_cast<double>(m_rect.top) + top + dy;
    sprite->SetPositionInt(GuiNearestInt(x), GuiNearestInt(y + GetHeight() - sprite->GetHeight()), 0);
    if (m_stretch && sprite->GetWidth() > 0 && sprite->GetHeight() > 0) {
        const float s = GuiImageScale();
        const float scale[2] = {GetWidth() / sprite->GetWidth() * s, GetHeight() / sprite->GetHeight() * s};
        sprite->SetScale(scale);
    } else if (!m_elementScale) {
        sprite->SetScale();
    }
    sprite->SetAlpha(m_alpha);
    sprite->Render();
    return 1;
}

int CKivGuiControl::DrawElement(int element, float dx, float dy)
{
    auto it = m_elements.find(element);
    if (it == m_elements.end() || it->second.empty())
        return 1;
    return DrawSprite(GetElement(element), dx, dy);
}

int CKivGuiControl::DrawImage(const char *path, float dx, float dy)
{
    CKivGuiSystem *gui = CKivGuiSystem::GetInstance();
    CKivGuiSprite *sprite = gui && path ? gui->FindImage(path) : nullptr;
    return sprite ? DrawSprite(sprite, dx, dy) : 1;
}

void CKivGuiControl::AddAnimation(int first, int last, float frameTime, int value)
{
    try {
        m_animations[first] = Animation{first, last, frameTime, value};
    } catch (const std::exception &) {
        // Out of memory the control goes on without the animation.
    }
}

void CKivGuiControl::DrawAnimation(int first, float elapsed, float dx, float dy)
{
    auto it = m_animations.find(first);
    if (it == m_animations.end())
        return;
    const Animation &a = it->second;
    m_timer += elapsed;
    if (m_timer > a.frameTime) {
        m_timer = 0;
        m_frame++;
    }
    if (m_frame > a.last - a.first || m_frame < 0)
        m_frame = 0;
    DrawElement(a.first + m_frame, dx, dy);
}

void CKivGuiControl::SetElementsScale(const float *scale)
{
    m_elementScale = 1;
    for (auto &element : m_elements)
        if (CKivGuiSprite *sprite = GetElement(element.first))
            sprite->SetScale(scale);
}

void CKivGuiControl::SetSizeFromElement(int element)
{
    CKivGuiSprite *sprite = GetElement(element);
    if (!sprite)
        return;
    const float s = GuiImageScale();
    SetSize(static_cast<int>(sprite->GetWidth() / s), static_cast<int>(sprite->GetHeight() / s));
}

// A font not yet known is made with the fallback font's size and colour.
void CKivGuiControl::SetFont(const char *identifier, const char *face, const char *name)
{
    try {
        m_fontName = GuiCutWhole(name, 259);
    } catch (const std::exception &) {
        return;
    }
    CKivGuiSystem *gui = CKivGuiSystem::GetInstance();
    if (gui && name && !gui->GetFont(name))
        gui->AddFont(identifier, face, name, 13, 500, 0xFF000000, 0, 0);
}

void CKivGuiControl::SetTooltip(const char *text, int anchor, int dx, int dy, int)
{
    long long x = static_cast<long long>(m_rect.left) + dx, y = static_cast<long long>(m_rect.top) + dy;
    if (m_dialog) {
        int left, top;
        m_dialog->GetLocation(&left, &top);
        x += left;
        y += top;
    }
    Tooltip *record = nullptr;
    try {
        record = new Tooltip{GuiNearestInt(x), GuiNearestInt(y), 350, GuiCutWhole(text, kTextBytes - 1), anchor, 0.5f,
                             1.0f, 3};
    } catch (const std::exception &) {
        return;   // the old tooltip stays
    }
    delete m_tooltip;
    m_tooltip = record;
}
