// The tooltip manager: loading the skins, adding, finding, updating and drawing tooltips, the dimmer.
#include "engine/gui/CKivGuiTooltipManager.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "engine/CKivBase.h"
#include "engine/CKivCamera.h"
#include "engine/KivWorldFollow.h"
#include "engine/gui/CKivGuiSystem.h"
#include "engine/gui/CKivGuiTooltip.h"

namespace {

const char Folder[] = "Data/Interface/Tooltip/";
const char *const Pieces[12][2] = {
    {"upperleft", "upleft"},   {"upper", "uppattern"},         {"upperright", "upright"},
    {"left", "leftpattern"},   {"center", "pattern"},          {"right", "rightpattern"},
    {"lowerleft", "downleft"}, {"lower", "downpattern"},       {"lowerright", "downright"},
    {"downarrow", "downarrow"}, {"downleftarrow", "downleftarrow"}, {"rightdownarrow", "rightdownarrow"},
};
const char *const Prefixes[CKivGuiTooltipManager::kKinds] = {"bchat-",  "tooltip-", "tballoon-",
                                                             "notice-", "notice2-", "bchat-"};
const char *const FontNames[CKivGuiTooltipManager::kKinds] = {"DefaultFont",  "DefaultFont", "DefaultFont",
                                                              "DefaultFont2", "DefaultFont", "DefaultFont_Black"};
const char *const IconFiles[] = {"igift",    "ifriend", "iguestbook", "imessage", "inotice", "inotice2",
                                 "iscreenshot", "itime", "iquest",   "istar",    "iponi"};

// Followed parts are looked up in the engine's current world unless a caller installs its own lookup.
GuiFollowResolver Resolver = KivWorldFollowResolve;

bool ValidKind(int kind)
{
    return kind >= 0 && kind < CKivGuiTooltipManager::kKinds;
}

// The engine's current camera, else the GUI's.
RwCamera *CurrentCamera()
{
    CKivBase *base = CKivBase::GetInstance();
    CKivCamera *camera = base ? base->GetCamera() : nullptr;
    if (!camera && CKivGuiSystem::GetInstance())
        camera = CKivGuiSystem::GetInstance()->GetCamera();
    return camera ? camera->GetCamera() : nullptr;
}

} // namespace

CKivGuiTooltipManager::CKivGuiTooltipManager()
{
    RwCamera *camera = CurrentCamera();
    for (int kind = 0; kind < kKinds; kind++) {
        m_skins[kind].SetCamera(camera);
        for (const auto &piece : Pieces) {
            std::string file = std::string(Prefixes[kind]) + piece[1] + (kind == 5 ? "b" : "");
            m_skins[kind].AddSprite(file.c_str(), Folder, piece[0], 0, 0);
        }
    }
    for (CKivSprite *set : {&m_bar, &m_icons, &m_clicks})
        set->SetCamera(camera);
    for (const char *icon : IconFiles)
        m_icons.AddSprite(icon, Folder, icon, 0, 0);
    m_clicks.AddSprite("notice-click", Folder, "click", 0, 0);
    m_clicks.AddSprite("notice2-click", Folder, "click2", 0, 0);
    m_bar.AddSprite("blackbar", Folder, "blackbar", 0, 0);
}

CKivGuiTooltipManager::~CKivGuiTooltipManager()
{
    for (CKivGuiTooltip *tooltip : m_tooltips)
        delete tooltip;
    m_tooltips.clear();
}

void CKivGuiTooltipManager::SetFollowResolver(GuiFollowResolver resolver)
{
    Resolver = resolver ? resolver : KivWorldFollowResolve;
}

GuiFollowResolver CKivGuiTooltipManager::GetFollowResolver()
{
    return Resolver;
}

const char *CKivGuiTooltipManager::GetFontName(int kind)
{
    return ValidKind(kind) ? FontNames[kind] : nullptr;
}

CKivSprite *CKivGuiTooltipManager::GetSkin(int kind)
{
    return ValidKind(kind) ? &m_skins[kind] : nullptr;
}

CKivGuiTooltip *CKivGuiTooltipManager::FindTooltip(int id) const
{
    for (CKivGuiTooltip *tooltip : m_tooltips)
        if (tooltip->GetID() == id)
            return tooltip;
    return nullptr;
}

CKivGuiTooltip *CKivGuiTooltipManager::FindTooltip(int id, const char *model, const char *part) const
{
    for (CKivGuiTooltip *tooltip : m_tooltips)
        if (tooltip->GetID() == id && tooltip->GetModelName() == (model ? model : "") &&
            tooltip->GetPartName() == (part ? part : ""))
            return tooltip;
    return nullptr;
}

CKivGuiTooltip *CKivGuiTooltipManager::AddTooltip(int kind, int id, int x, int y, int width, const char *text,
                                                  int anchor, float lifetime, float maxAlpha, int margin, int icon,
                                                  int value)
{
    if (!ValidKind(kind))
        return nullptr;
    CKivGuiTooltip *tooltip = FindTooltip(id);
    const bool made = !tooltip;
    if (made && !(tooltip = Adopt(kind == 3 || kind == 4 ? new (std::nothrow) CKivGuiTooltipNotice
                                                          : new (std::nothrow) CKivGuiTooltip)))
        return nullptr;
    if (tooltip->Init(kind, id, x, y, width, text, anchor, lifetime, maxAlpha, margin, icon, value))
        return tooltip;
    if (made)
        Drop(tooltip);
    return nullptr;
}

// Null when memory runs out, with nothing kept.
CKivGuiTooltip *CKivGuiTooltipManager::Adopt(CKivGuiTooltip *tooltip)
{
    try {
        if (tooltip)
            m_tooltips.push_back(tooltip);
        return tooltip;
    } catch (const std::exception &) {
        delete tooltip;
        return nullptr;
    }
}

void CKivGuiTooltipManager::Drop(CKivGuiTooltip *tooltip)
{
    m_tooltips.erase(std::find(m_tooltips.begin(), m_tooltips.end(), tooltip));
    delete tooltip;
}

CKivGuiTooltip *CKivGuiTooltipManager::AddFollowingTooltip(int kind, int id, const char *model, const char *part,
                                                           int width, const char *text, int anchor, float lifetime,
                                                           float maxAlpha, int margin, int icon)
{
    if (!ValidKind(kind))
        return nullptr;
    CKivGuiTooltip *tooltip = FindTooltip(id, model, part);
    const bool made = !tooltip;
    if (made && !(tooltip = Adopt(new (std::nothrow) CKivGuiTooltip)))
        return nullptr;
    if (tooltip->InitFollowing(kind, id, model, part, width, text, anchor, lifetime, maxAlpha, margin, icon))
        return tooltip;
    if (made)
        Drop(tooltip);
    return nullptr;
}

void CKivGuiTooltipManager::Update(float elapsed)
{
    for (size_t i = 0; i < m_tooltips.size();) {
        if (m_tooltips[i]->Update(elapsed)) {
            i++;
            continue;
        }
        delete m_tooltips[i];
        m_tooltips.erase(m_tooltips.begin() + i);
    }
}

void CKivGuiTooltipManager::RenderKind(float elapsed, int kind)
{
    for (CKivGuiTooltip *tooltip : m_tooltips)
        if (tooltip->GetKind() == kind)
            tooltip->Render(elapsed);
}

void CKivGuiTooltipManager::DrawDimmer()
{
    m_bar.SetSpriteAlpha("blackbar", 0.3f);
    m_bar.SetSpritePosition("blackbar", 0, 0, 0);
    m_bar.SetSpriteScale("blackbar", 2000, 2000);
    m_bar.RenderSprite("blackbar");
}

void CKivGuiTooltipManager::SetSkinAlpha(int kind, float alpha)
{
    if (!ValidKind(kind))
        return;
    for (const auto &piece : Pieces)
        m_skins[kind].SetSpriteAlpha(piece[0], alpha);
    for (const char *icon : IconFiles)
        m_icons.SetSpriteAlpha(icon, alpha);
    m_clicks.SetSpriteAlpha("click", alpha);
    m_clicks.SetSpriteAlpha("click2", alpha);
}
