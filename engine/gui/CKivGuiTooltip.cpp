// Tooltips: line layout with statics, box tiles and arrows, anchors, fades, following a model, drawing.
#include "engine/gui/CKivGuiTooltip.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>
#include <new>

#include "engine/CKivCamera.h"
#include "engine/gui/CKivGuiDialog.h"
#include "engine/gui/CKivGuiDxFont.h"
#include "engine/gui/CKivGuiStatic.h"
#include "engine/gui/CKivGuiSystem.h"
#include "engine/gui/CKivGuiTooltipManager.h"
#include "engine/gui/GuiScreen.h"
#include "engine/gui/GuiSums.h"
#include "engine/gui/GuiText.h"
#include "gfx/core/camera.h"
#include "gfx/core/frame.h"
#include "gfx/world/clump.h"

namespace {

const float FadeSeconds = 0.5f;

struct Icon {
    const char *key;
    const char *click;
};
const Icon Icons[CKivGuiTooltipManager::kIcons] = {
    {"ifriend", "click"}, {"igift", nullptr},   {"iguestbook", "click"}, {"imessage", "click"},
    {"iscreenshot", nullptr}, {"inotice", nullptr}, {"inotice2", "click2"}, {"itime", nullptr},
    {"iquest", nullptr},  {"istar", nullptr},   {"iponi", nullptr},      {"imessage", nullptr},
};

CKivGuiTooltipManager *Manager()
{
    return CKivGuiTooltipManager::GetInstance();
}

// Size of a skin piece in interface pixels; 0 when it did not load.
void PieceSize(CKivSprite *skin, const char *key, int *w, int *h)
{
    const float s = GuiImageScale();
    *w = skin ? static_cast<int>(skin->GetSpriteWidth(key) / s) : 0;
    *h = skin ? static_cast<int>(skin->GetSpriteHeight(key) / s) : 0;
}

} // namespace

CKivGuiTooltip::CKivGuiTooltip() = default;

CKivGuiTooltip::~CKivGuiTooltip()
{
    delete m_dialog;
}

int CKivGuiTooltip::InitFollowing(int kind, int id, const char *model, const char *part, int width,
                                  const char *text, int anchor, float lifetime, float maxAlpha, int margin, int icon)
{
    if (kind < 0 || kind >= CKivGuiTooltipManager::kKinds)
        return 0;
    try {
        std::string modelName = GuiCutWhole(model, 259), partName = GuiCutWhole(part, 259);
        m_model.swap(modelName);
        m_part.swap(partName);
    } catch (const std::exception &) {
        return 0;
    }
    // Laid out first at the old point: the follow offset is reset by Init.
    int x = 0, y = 0;
    Follow(&x, &y);
    return Init(kind, id, x, y, width, text, anchor, lifetime, maxAlpha, margin, icon, 0);
}

int CKivGuiTooltip::Init(int kind, int id, int x, int y, int width, const char *text, int anchor, float lifetime,
                         float maxAlpha, int margin, int icon, int value)
{
    if (kind < 0 || kind >= CKivGuiTooltipManager::kKinds)
        return 0;
    m_kind = kind;
    m_id = id;
    // Any width and margin: the layout's sums are 64-bit, and drawing skips
    // the tiles off the screen.
    m_width = width;
    m_anchor = anchor;
    m_lifetime = lifetime;
    m_maxAlpha = maxAlpha;
    m_margin = margin;
    m_icon = icon >= 0 && icon < CKivGuiTooltipManager::kIcons ? icon : -1;
    m_value = value;
    m_age = 0;
    m_followX = m_followY = 0;
    GuiCopyWhole(m_text, kTextBytes, text);
    // A dialog's own state is made in its constructor, which may run out of memory.
    try {
        if (!m_dialog)
            m_dialog = new CKivGuiDialog(-1);
    } catch (const std::exception &) {
        return 0;
    }
    m_dialog->RemoveAllControls();
    m_dialog->SetSize(0, 0);
    bool laidOut = false;
    try {
        laidOut = Layout();
    } catch (const std::exception &) {
    }
    if (!laidOut) {
        // Out of memory: no lines rather than some.
        m_dialog->RemoveAllControls();
        return 0;
    }
    Place(x, y);
    return 1;
}

bool CKivGuiTooltip::Layout()
{
    CKivGuiTooltipManager *manager = Manager();
    CKivGuiSystem *gui = CKivGuiSystem::GetInstance();
    const char *fontName = CKivGuiTooltipManager::GetFontName(m_kind);
    CKivGuiDxFont *font = gui ? gui->GetFont(fontName) : nullptr;
    const float fontHeight = font ? static_cast<float>(font->GetHeight()) : 0.0f;
    const long long margin = m_margin;
    const int left = GuiNearestInt(margin + (m_notice && m_icon != -1 ? 24 : 0));
    // A line's width fits an int whatever the margin.
    const int right = GuiNearestInt(std::clamp(m_width - margin, left + static_cast<long long>(INT_MIN),
                                               left + static_cast<long long>(INT_MAX)));
    float widest = 0;
    long long heightSum = 0;
    std::string work = m_text;
    // Each line takes at least one character, so this ends.
    for (size_t at = 0, i = 0; font && at < work.size() && work[at]; i++) {
        CKivGuiStatic *line = new (std::nothrow) CKivGuiStatic(m_dialog);
        if (!line)
            return false;
        line->SetFont(fontName);
        const int top = GuiNearestInt(static_cast<long long>((fontHeight + 5.0) * i + margin + 0.5));
        const int bottom = GuiNearestInt(static_cast<long long>((fontHeight + 5.0) * (i + 1) + margin + 0.5));
        if (!line->Create(static_cast<int>(i), left, top, right, bottom, "")) {
            delete line;
            return false;
        }
        const int n = line->GetLineLength(&work[at]);
        std::string text(work.c_str() + at);
        if (text.size() > static_cast<size_t>(n))
            text.resize(n);
        at += n;
        line->SetText(text.c_str());
        line->SetTextFormat(m_notice ? 1 : 9, 8);
        const float w = line->GetTextWidth();
        if (w > widest)
            widest = w;
        heightSum += bottom - top;
        line->SetSize(static_cast<int>(w + 1.5f), static_cast<int>(fontHeight + 0.5f));
    }
    long long W = m_notice ? m_width : static_cast<long long>(widest) + 2 * margin;
    const long long H = heightSum + 2 * margin;
    CKivSprite *skin = manager ? manager->GetSkin(m_kind) : nullptr;
    PieceSize(skin, "upperleft", &m_tileWidth, &m_tileHeight);
    PieceSize(skin, "downarrow", &m_arrowWidth, &m_arrowHeight);
    PieceSize(skin, "rightdownarrow", &m_rightArrowWidth, &m_rightArrowHeight);
    long long boxWidth = W, boxHeight = H;
    if (m_tileWidth > 0 && m_tileHeight > 0) {
        // Grown by whole tiles until wider than the arrow's tiles and one.
        const long long tile = m_tileWidth, least = (m_arrowWidth / m_tileWidth + 1) * tile;
        if (W <= least)
            W += ((least - W) / tile + 1) * tile;
        // Whole tiles, as many as an int holds.
        boxWidth = std::min((W + tile - 1) / tile * tile, INT_MAX / tile * tile);
        boxHeight = (H + m_tileHeight - 1) / m_tileHeight * m_tileHeight;
        boxHeight = std::clamp<long long>(boxHeight, INT_MIN / m_tileHeight * m_tileHeight,
                                          INT_MAX / m_tileHeight * m_tileHeight);
        m_columns = static_cast<int>(boxWidth / tile);
        m_rows = static_cast<int>(boxHeight / m_tileHeight);
    } else {
        // A skin without its corner piece: text and margins, no tiles.
        m_columns = m_rows = 0;
    }
    m_boxWidth = GuiNearestInt(boxWidth);
    m_boxHeight = GuiNearestInt(boxHeight);
    m_extraHeight = m_extraWidth = 0;
    m_dialog->SetSize(m_boxWidth, m_boxHeight);
    m_dialog->MoveControls(GuiNearestInt((boxWidth - W) / 2), GuiNearestInt((boxHeight - H) / 2));
    return true;
}

void CKivGuiTooltip::Place(int x, int y)
{
    const int w = m_boxWidth, h = m_boxHeight;
    const int anchor = m_anchor >= 0 && m_anchor <= 8 ? m_anchor : 0;
    const int column = anchor % 3, row = anchor / 3;
    m_x = GuiNearestInt(static_cast<long long>(x) - (column == 1 ? w / 2 : column == 2 ? w : 0));
    m_y = GuiNearestInt(static_cast<long long>(y) - (row == 1 ? h / 2 : row == 2 ? h : 0));
    if (m_dialog)
        m_dialog->SetLocation(m_x, m_y);
}

void CKivGuiTooltip::SetDownArrow(int flag)
{
    m_downArrow = flag;
    if (m_dialog)
        m_dialog->SetSize(m_dialog->GetWidth(), GuiSum(m_boxHeight, flag ? m_arrowHeight : 0));
}

void CKivGuiTooltip::SetDownLeftArrow(int flag)
{
    m_downLeftArrow = flag;
    if (m_dialog)
        m_dialog->SetSize(m_dialog->GetWidth(), GuiSum(m_boxHeight, flag ? m_arrowHeight : 0));
}

void CKivGuiTooltip::SetRightArrow(int flag)
{
    m_rightArrow = flag;
    if (m_dialog)
        m_dialog->SetSize(GuiSum(m_boxWidth, flag ? m_rightArrowWidth : 0), m_dialog->GetHeight());
}

void CKivGuiTooltip::GetSize(int *width, int *height) const
{
    if (width)
        *width = m_dialog ? m_dialog->GetWidth() : 0;
    if (height)
        *height = m_dialog ? m_dialog->GetHeight() : 0;
}

void CKivGuiTooltip::GetPosition(int *x, int *y) const
{
    if (x)
        *x = m_x;
    if (y)
        *y = m_y;
}

bool CKivGuiTooltip::Follow(int *x, int *y) const
{
    GuiFollowResolver resolve = CKivGuiTooltipManager::GetFollowResolver();
    GuiFollowTarget target = {};
    if (!resolve || !resolve(m_model.c_str(), m_part.c_str(), &target) || !target.atomic || !target.camera ||
        !target.camera->GetCamera())
        return false;
    const RwSphere *sphere = RwAtomicGetWorldBoundingSphere(target.atomic);
    RwFrame *frame = RwAtomicGetFrame(target.atomic);
    if (!sphere || !frame || RwCameraFrustumTestSphere(target.camera->GetCamera(), sphere) == rwSPHEREOUTSIDE)
        return false;
    const RwMatrix *m = RwFrameGetWorldMatrix(frame);
    if (!m)
        return false;
    RwV3d point = m->pos;
    if (m_followMode == 0) {
        const float k = sphere->radius * 1.8f;
        point.x += m->right.x * k;
        point.y += m->right.y * k;
        point.z += m->right.z * k;
    }
    RwV3d screen;
    target.camera->WorldToScreen(&screen, &point);
    *x = static_cast<int>(screen.x + m_followX);
    *y = static_cast<int>(GuiViewportHeight() - (screen.y - m_followY));
    return true;
}

bool CKivGuiTooltip::Update(float elapsed)
{
    m_age += elapsed;
    const float step = elapsed / FadeSeconds;
    m_alpha += m_age < m_lifetime ? step : -step;
    if (m_alpha > m_maxAlpha)
        m_alpha = m_maxAlpha;
    if (m_alpha < 0)
        m_alpha = 0;
    if (m_age >= m_lifetime && m_alpha <= 0)
        return false;
    if (m_model.empty())
        return true;
    int x, y;
    if (!Follow(&x, &y))
        return false;
    Place(x, y);
    return true;
}

void CKivGuiTooltip::RenderTiles()
{
    CKivGuiTooltipManager *manager = Manager();
    CKivSprite *skin = manager ? manager->GetSkin(m_kind) : nullptr;
    if (!skin || m_columns <= 0 || m_rows <= 0)
        return;
    const int vh = GuiViewportHeight();
    const int slackX = std::max({m_tileWidth, m_arrowWidth, m_rightArrowWidth});
    const int slackY = std::max({m_tileHeight, m_arrowHeight, m_rightArrowHeight});
    int c0, c1, r0, r1;
    VisibleTiles(m_x, m_tileWidth, m_columns, GuiViewportWidth(), slackX, &c0, &c1);
    VisibleTiles(m_y, m_tileHeight, m_rows, vh, slackY, &r0, &r1);
    // The last row and column always: they carry the arrows and the extra size.
    for (int r = r0;; r++) {
        if (r > r1)
            r = m_rows - 1;
        for (int c = c0;; c++) {
            if (c > c1)
                c = m_columns - 1;
            RenderTile(skin, r, c, vh);
            if (c == m_columns - 1)
                break;
        }
        if (r == m_rows - 1)
            break;
    }
}

void CKivGuiTooltip::VisibleTiles(int origin, int tile, int count, int screen, int slack, int *first, int *last)
{
    // Tiles that end before the screen or start after it put no pixel on it.
    const long long from = (-static_cast<long long>(slack) - origin) / tile - 1;
    const long long to = (static_cast<long long>(screen) - origin) / tile + 1;
    *first = static_cast<int>(std::min<long long>(std::max<long long>(from, 0), count));
    *last = static_cast<int>(std::min<long long>(std::max<long long>(to, -1), count - 1));
}

void CKivGuiTooltip::RenderTile(CKivSprite *skin, int r, int c, int vh)
{
    const int lowered = m_arrowHeight - m_tileHeight;
    float x = static_cast<float>(static_cast<long long>(m_tileWidth) * c + m_x);
    float y = static_cast<float>(vh - (static_cast<long long>(r + 1) * m_tileHeight + m_y));
    const bool first = r == 0, last = r == m_rows - 1;
    const bool left = c == 0, right = c == m_columns - 1;
    if (last)
        y += m_extraHeight;
    if (right)
        x -= m_extraWidth;
    const char *key = "center";
    if (first && left)
        key = "upperleft";
    else if (first && right)
        key = "upperright";
    else if (last && left)
        key = "lowerleft";
    else if (last && right)
        key = m_rightArrow ? "rightdownarrow" : "lowerright";
    else if (first)
        key = "upper";
    else if (left)
        key = "left";
    else if (right)
        key = "right";
    else if (last) {
        key = "lower";
        if (m_downLeftArrow && c == 1) {
            key = "downleftarrow";
            y -= lowered;
        } else if (m_downLeftArrow && c == 2) {
            return;
        } else if (m_downArrow && c == (m_columns - 1) / 2) {
            key = "downarrow";
            y -= lowered;
        } else if (m_downArrow && c == (m_columns - 1) / 2 + 1) {
            return;
        }
    }
    skin->SetSpritePosition(key, x, y, 0);
    skin->RenderSprite(key);
}

void CKivGuiTooltip::Render(float elapsed)
{
    CKivGuiTooltipManager *manager = Manager();
    if (!manager || !m_dialog)
        return;
    manager->SetSkinAlpha(m_kind, m_alpha);
    m_dialog->SetAlpha(m_alpha);
    // The click sign sits by the bottom-right piece, tiles or not.
    m_clickX = static_cast<float>(static_cast<long long>(m_x) + m_boxWidth - m_tileWidth) - m_extraWidth - 20;
    m_clickY =
        static_cast<float>(GuiViewportHeight() - (static_cast<long long>(m_boxHeight) + m_y)) + m_extraHeight + 4;
    RenderTiles();
    if (m_icon >= 0) {
        const Icon &icon = Icons[m_icon];
        const float x = static_cast<float>(static_cast<long long>(m_margin) + m_x);
        const float y = static_cast<float>(GuiViewportHeight() - (static_cast<long long>(m_tileHeight) + m_y) -
                                           2LL * m_margin);
        manager->GetIcons().SetSpritePosition(icon.key, x, y, 0);
        manager->GetIcons().RenderSprite(icon.key);
        if (icon.click) {
            manager->GetClickSigns().SetSpritePosition(icon.click, m_clickX, m_clickY, 0);
            manager->GetClickSigns().RenderSprite(icon.click);
        }
    }
    RwCamera *camera = manager->GetCamera();
    if (camera && RwCameraBeginUpdate(camera)) {
        m_dialog->Render(elapsed);
        RwCameraEndUpdate(camera);
    }
}
