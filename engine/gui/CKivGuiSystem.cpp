// The GUI system: image cache, dialog registry and modality, fonts, message routing, update and render.
#include "engine/gui/CKivGuiSystem.h"

#include <windowsx.h>

#include <algorithm>
#include <exception>
#include <new>

#include "engine/CKivCamera.h"
#include "engine/gui/CKivGuiControl.h"
#include "engine/gui/CKivGuiDialog.h"
#include "engine/gui/CKivGuiDxFont.h"
#include "engine/gui/CKivGuiIMEEditBox.h"
#include "engine/gui/CKivGuiSprite.h"
#include "engine/gui/CKivGuiTooltipManager.h"
#include "engine/gui/GuiIme.h"
#include "engine/gui/GuiScreen.h"
#include "engine/gui/GuiText.h"

namespace {

CKivGuiSystem *Instance;
CKivGuiSystem::MessageBoxBinding ShowMessage = MessageBoxA;

struct NamedFont {
    const char *name;
    const char *id;
    int height;
    int weight;
    DWORD text;
    int outline;
    DWORD ring;
};

// The GUI's fonts, all on the face the application names.
const NamedFont Fonts[] = {
    {"DefaultFont", "hfont1", 13, 500, 0xFF000000, 0, 0x00000000},
    {"DefaultFont2", "hfont2", 13, 500, 0xFFFFFFFF, 1, 0xFF000000},
    {"DefaultFont_Red", "hfont3", 13, 500, 0xFFFF8BAB, 1, 0xFF000000},
    {"DefaultFont_Blue", "hfont4", 13, 500, 0xFF86C9FF, 1, 0xFF000000},
    {"DefaultFont_Black", "hfont5", 13, 500, 0xFFFFFFFF, 0, 0x00000000},
    {"DefaultFont6", "hfont6", 13, 500, 0xFFFFEC31, 1, 0xFF000000},
    {"DefaultFont_Red2", "hfont7", 13, 500, 0xFFD90000, 0, 0x00000000},
    {"DefaultFont_Red3", "hfont8", 12, 500, 0xFFD90000, 0, 0x00000000},
    {"DefaultFont_Red4", "hfont9", 13, 500, 0xFFFD0000, 0, 0x00000000},
    {"DefaultFont_Violet", "hfont10", 13, 500, 0xFF8A0082, 0, 0x00000000},
    {"DefaultFont3", "hfont11", 13, 500, 0xFF1E0082, 0, 0x00000000},
    {"DefaultFont_QuestTitle", "hfont12", 14, 700, 0xFFFFFFFF, 1, 0xFF000000},
    {"DefaultFont_QuestAnswer", "hfont13", 14, 700, 0xFFFFFFFF, 0, 0x00000000},
    {"DefaultFont_Family", "hfont14", 13, 500, 0xFF00FF80, 1, 0xFF000000},
    {"DefaultFont_Grey", "hfont15", 13, 500, 0xFF808080, 0, 0x00000000},
    {"DefaultFont_CompensateSize", "hfont16", 15, 700, 0xFF000000, 1, 0xFFFFFFFF},
    {"DefaultFont_CompensateMoney", "hfont17", 15, 700, 0xFFFFC20E, 1, 0xFF000000},
    {"DefaultFont_CompensateSizeRank", "hfont18", 15, 700, 0xFFFF0000, 1, 0xFFFFFFFF},
    {"DefaultFont_Conversation", "hfont19", 17, 700, 0xFFFFFFFF, 0, 0x00000000},
    {"DefaultFont_Battle", "hfont20", 28, 500, 0xFFFFFFFF, 1, 0xFF404040},
    {"DefaultFont_Battle2", "hfont20", 20, 500, 0xFFFFFFFF, 1, 0xFF404040},
    {"DefaultFont_Opening", "hfont21", 20, 500, 0xFFFFFFFF, 1, 0xFF000000},
};
static_assert(sizeof(Fonts) / sizeof(Fonts[0]) == 22, "the GUI names 22 fonts");

bool Erase(std::vector<CKivGuiDialog *> &list, const CKivGuiDialog *dialog)
{
    auto it = std::find(list.begin(), list.end(), dialog);
    if (it == list.end())
        return false;
    list.erase(it);
    return true;
}

bool Contains(const std::vector<CKivGuiDialog *> &list, const CKivGuiDialog *dialog)
{
    return std::find(list.begin(), list.end(), dialog) != list.end();
}

int ViewportHeightForFonts()
{
    return GuiViewportHeight();
}

} // namespace

CKivGuiSystem::CKivGuiSystem()
{
    Instance = this;
    CKivGuiDxFont::SetViewportHeightSource(ViewportHeightForFonts);
}

CKivGuiSystem::~CKivGuiSystem()
{
    ReleaseAll();
    if (Instance == this) {
        Instance = nullptr;
        CKivGuiDxFont::SetViewportHeightSource(nullptr);
    }
}

CKivGuiSystem *CKivGuiSystem::GetInstance()
{
    return Instance;
}

void CKivGuiSystem::SetMessageBoxBinding(MessageBoxBinding binding)
{
    ShowMessage = binding ? binding : MessageBoxA;
}

int CKivGuiSystem::SetViewport(CKivViewport *viewport)
{
    m_viewport = viewport;
    return 1;
}

CKivCamera *CKivGuiSystem::SetCamera(CKivCamera *camera)
{
    CKivCamera *previous = m_camera;
    m_camera = camera;
    return previous;
}

// The dialogs stay alive: their owners delete them.
int CKivGuiSystem::ReleaseAll()
{
    delete m_tooltips;
    m_tooltips = nullptr;
    m_active = nullptr;
    m_hovered = nullptr;
    m_camera = nullptr;
    m_viewport = nullptr;
    for (auto &list : m_layers)
        list.clear();
    for (auto &list : m_kinds)
        list.clear();
    m_renderCallbacks.clear();
    m_resources.ReleaseAll();
    for (auto &entry : m_images)
        delete entry.second.sprite;
    m_images.clear();
    return 1;
}

// 0 when memory ran out for the tooltips or a font: what was made stays, and
// a later call adds what is missing.
int CKivGuiSystem::CreateFonts(const char *face)
{
    delete m_tooltips;
    m_tooltips = nullptr;
    int made = 1;
    try {
        m_tooltips = new CKivGuiTooltipManager;
    } catch (const std::exception &) {
        made = 0;
    }
    for (const NamedFont &f : Fonts)
        if (!HasResource(f.name) && !AddFont(f.id, face, f.name, f.height, f.weight, f.text, f.outline, f.ring))
            made = 0;
    return made;
}

int CKivGuiSystem::AddFont(const char *idString, const char *face, const char *name, int height, int weight,
                           DWORD textColour, int outline, DWORD outlineColour)
{
    return m_resources.AddFont(idString, face, name, height, weight, CKivGuiDxFont::FromArgb(textColour), outline,
                               CKivGuiDxFont::FromArgb(outlineColour));
}

CKivGuiDxFont *CKivGuiSystem::GetFont(const char *name)
{
    int type = 0;
    void *object = m_resources.GetResource(name, &type);
    return type == CKivGuiResourceManager::kFont ? static_cast<CKivGuiDxFont *>(object) : nullptr;
}

// Null when memory runs out, with the cache as it was and no message shown.
// A missing image is cached before its message box runs the window's
// messages: a load of the same path meanwhile finds it and shows no second
// box. Null too when every holder released it while the box was up.
CKivGuiSystem::ImageEntry *CKivGuiSystem::LoadImage(int id, const char *path, const char *file,
                                                    const char *directory)
{
    auto found = m_images.find(path ? path : "");
    if (found != m_images.end()) {
        found->second.count++;
        return &found->second;
    }
    CKivGuiSprite *sprite = nullptr;
    std::string text;
    try {
        const std::string key = GuiLowerCase(path);
        sprite = new CKivGuiSprite;
        if (!sprite->Load(file ? file : "", directory ? directory : ""))
            // Sized to the names, however long they are.
            text = "Load Image Fail!\nControl ID : " + std::to_string(id) + ", File Name : " + (file ? file : "") +
                   "\nPATH : " + (directory ? directory : "");
        ImageEntry *entry = &m_images.emplace(key, ImageEntry{sprite, 1}).first->second;
        if (text.empty())
            return entry;
    } catch (const std::exception &) {
        delete sprite;
        return nullptr;
    }
    m_messagesShown++;
    ShowMessage(nullptr, text.c_str(), "ERROR", MB_OK);
    PostQuitMessage(0);
    return FindImageEntry(path);
}

CKivGuiSystem::ImageEntry *CKivGuiSystem::FindImageEntry(const char *path)
{
    auto found = m_images.find(path ? path : "");
    return found == m_images.end() ? nullptr : &found->second;
}

CKivGuiSprite *CKivGuiSystem::FindImage(const char *path)
{
    ImageEntry *entry = FindImageEntry(path);
    return entry ? entry->sprite : nullptr;
}

// Allocates nothing: destructors release their images through it.
void CKivGuiSystem::ReleaseImage(const char *path)
{
    auto found = m_images.find(path ? path : "");
    if (found == m_images.end() || --found->second.count >= 1)
        return;
    delete found->second.sprite;
    m_images.erase(found);
}

// 0 when memory runs out, with the held image as it was. An empty path
// releases, which allocates nothing.
int CKivGuiSystem::ReplaceImage(std::string *held, int id, const char *path)
{
    if (!path || !path[0]) {
        if (!held->empty())
            ReleaseImage(held->c_str());
        held->clear();
        return 1;
    }
    try {
        std::string next = path;
        std::string directory, file;
        GuiSplitPath(path, &directory, &file);
        // Named before it loads: a missing image's message box runs the
        // window's messages, and the game may delete the holder meanwhile, so
        // a load that succeeds touches the holder no more.
        std::string old;
        old.swap(*held);
        held->swap(next);
        const unsigned shown = m_messagesShown;
        const bool loaded = LoadImage(id, path, file.c_str(), directory.c_str()) != nullptr;
        // Out of memory before any message ran, the holder takes its image
        // back; after a message box it may be gone, and names the new path.
        if (!loaded && m_messagesShown == shown) {
            held->swap(old);
            return 0;
        }
        if (!old.empty())
            ReleaseImage(old.c_str());
        return loaded ? 1 : 0;
    } catch (const std::exception &) {
        return 0;
    }
}

int CKivGuiSystem::AddDialog(CKivGuiDialog *dialog)
{
    if (!dialog)
        return 0;
    auto &layer = m_layers[dialog->GetLayer() & 3];
    if (Contains(layer, dialog))
        return 0;
    auto &kind = m_kinds[dialog->GetModalKind() & 3];
    // Room in both lists first: out of memory the dialog is in neither.
    try {
        layer.reserve(layer.size() + 1);
        kind.reserve(kind.size() + 1);
    } catch (const std::exception &) {
        return 0;
    }
    layer.insert(layer.begin(), dialog);
    if (Contains(kind, dialog))
        return 0;
    kind.insert(kind.begin(), dialog);
    return 1;
}

// Searches every list: a dialog is found wherever it was registered.
int CKivGuiSystem::RemoveDialog(CKivGuiDialog *dialog)
{
    if (m_hovered == dialog)
        m_hovered = nullptr;
    for (auto &layer : m_layers) {
        if (!Erase(layer, dialog))
            continue;
        if (m_active == dialog)
            m_active = layer.empty() ? nullptr : layer.front();
    }
    if (m_active == dialog)
        m_active = nullptr;
    for (auto &kind : m_kinds)
        Erase(kind, dialog);
    return 0;
}

bool CKivGuiSystem::IsRegistered(const CKivGuiDialog *dialog) const
{
    for (auto &layer : m_layers)
        if (Contains(layer, dialog))
            return true;
    for (auto &kind : m_kinds)
        if (Contains(kind, dialog))
            return true;
    return false;
}

CKivGuiDialog *CKivGuiSystem::FindDialog(int id) const
{
    for (auto &layer : m_layers)
        for (CKivGuiDialog *d : layer)
            if (d->GetID() == id)
                return d;
    return nullptr;
}

bool CKivGuiSystem::IsOpen(const CKivGuiDialog *dialog)
{
    return dialog->IsEnabled() && dialog->GetVisible() && dialog->IsMouseInput();
}

int CKivGuiSystem::HasOpenDialogOfKind(int kind) const
{
    for (CKivGuiDialog *d : m_kinds[kind & 3])
        if (IsOpen(d))
            return 1;
    return 0;
}

bool CKivGuiSystem::OpenBefore(int kind, const CKivGuiDialog *dialog) const
{
    for (CKivGuiDialog *d : m_kinds[kind]) {
        if (d == dialog)
            return false;
        if (IsOpen(d))
            return true;
    }
    return false;
}

CKivGuiDialog *CKivGuiSystem::FindDialogAt()
{
    CKivGuiDialog *result = nullptr;
    const bool modal3 = HasOpenDialogOfKind(3), modal1 = HasOpenDialogOfKind(1);
    for (int layer = kLayers - 1; layer >= 0 && !result; layer--) {
        for (CKivGuiDialog *d : m_layers[layer]) {
            const RECT &r = d->GetHitRect();
            if (!IsOpen(d) || m_mouseX < r.left || m_mouseX > r.right || m_mouseY < r.top || m_mouseY > r.bottom)
                continue;
            const int kind = d->GetModalKind() & 3;
            if (kind == 3) {
                result = OpenBefore(3, d) ? nullptr : d;
                m_hovered = result;
                return result;
            }
            if (modal3)
                continue;
            if (kind == 2) {
                result = d;
                break;
            }
            if (kind == 1) {
                result = OpenBefore(1, d) ? nullptr : d;
                m_hovered = result;
                return result;
            }
            if (!modal1) {
                result = d;
                break;
            }
        }
    }
    m_hovered = result;
    return result;
}

CKivGuiControl *CKivGuiSystem::GetMouseOverControl() const
{
    return m_hovered ? m_hovered->GetHoveredControl() : nullptr;
}

void CKivGuiSystem::GetMousePosition(int *x, int *y) const
{
    if (x)
        *x = m_mouseX;
    if (y)
        *y = m_mouseY;
}

// Out of memory the callback is not added.
void CKivGuiSystem::AddRenderCallback(RenderCallback function, int argument)
{
    try {
        m_renderCallbacks.emplace_back(function, argument);
    } catch (const std::exception &) {
    }
}

void CKivGuiSystem::RemoveRenderCallback(RenderCallback function)
{
    m_renderCallbacks.erase(std::remove_if(m_renderCallbacks.begin(), m_renderCallbacks.end(),
                                           [function](const std::pair<RenderCallback, int> &r) {
                                               return r.first == function;
                                           }),
                            m_renderCallbacks.end());
}

// A result, an emptied composition or an end that reached no IME edit box
// (another dialog is active, the box is hidden or disabled), or a change of
// layout under a composition typed in, goes to the composition's owner, so
// no later take-back lands on committed text. A composition message a box
// or the owner acted on is consumed: the default procedure would type a
// result again as characters, into whatever box takes them then.
int CKivGuiSystem::MsgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const bool composition = message == WM_IME_ENDCOMPOSITION ||
                             (message == WM_IME_COMPOSITION && (lParam & (GCS_RESULTSTR | GCS_COMPSTR)));
    const unsigned reached = ImeStore().reached;
    const int result = Route(window, message, wParam, lParam);
    if (!ImeState().enabled)
        return result;
    // An end types nothing the default procedure could type again: it is
    // answered as the box answered it.
    if (composition)
        return (ImeStore().reached != reached || CKivGuiIMEEditBox::CompositionMissed(message, lParam)) &&
                       message == WM_IME_COMPOSITION
                   ? 1
                   : result;
    if (message == WM_INPUTLANGCHANGE && CKivGuiIMEEditBox::TypedInText() > 0)
        CKivGuiIMEEditBox::CompositionMissed(message, lParam);
    return result;
}

// The IME's window-level filter sees every message first.
// Nothing escapes into the window procedure: out of memory the message goes
// unhandled, to the default procedure.
int CKivGuiSystem::Route(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
try {
    const LPARAM given = lParam;
    if (ImeStaticMsgProc(window, message, wParam, &lParam))
        return 1;
    // The caller's default procedure would see the lParam it passed in: the
    // input method's own windows are hidden only if the cleared one reaches it.
    if (message == WM_IME_SETCONTEXT && lParam != given && window) {
        if (IsWindowUnicode(window))
            DefWindowProcW(window, message, wParam, lParam);
        else
            DefWindowProcA(window, message, wParam, lParam);
        return 1;
    }
    if (message == WM_LBUTTONDOWN || message == WM_MOUSEMOVE) {
        // Signed: under capture the mouse can be left of or above the window.
        m_mouseX = GET_X_LPARAM(lParam);
        m_mouseY = GET_Y_LPARAM(lParam);
        if (CKivGuiDialog *hit = FindDialogAt()) {
            if (message == WM_LBUTTONDOWN)
                m_active = hit;
            hit->MsgProc(window, message, wParam, lParam);
            return 1;
        }
        if (HasOpenDialogOfKind(1) || HasOpenDialogOfKind(3))
            return 1;
    }
    // An IME edit box's own keys: dropped unless the box can still take them
    // (named first: the focused control of the active dialog is alive).
    const CKivGuiControl *keysFor = ImeStore().keysFor;
    if (keysFor && (message == WM_KEYDOWN || message == WM_KEYUP || message == WM_CHAR) &&
        (!m_active || m_active->GetFocusedControl() != keysFor || !keysFor->HasFocus() || !keysFor->IsEnabled() ||
         !keysFor->GetVisible() || !m_active->GetVisible() || m_active->IsMarkedForDeletion()))
        return 1;
    return m_active ? m_active->MsgProc(window, message, wParam, lParam) : 0;
} catch (const std::exception &) {
    return 0;
}

void CKivGuiSystem::Update(float elapsed)
try {
    FindDialogAt();
    // Walks over copies: a dialog's update or destructor may change the lists.
    for (auto &layer : m_layers)
        for (CKivGuiDialog *d : std::vector<CKivGuiDialog *>(layer))
            if (IsRegistered(d) && d->IsMarkedForDeletion()) {
                RemoveDialog(d);
                delete d;
            }
    for (auto &layer : m_layers)
        for (CKivGuiDialog *d : std::vector<CKivGuiDialog *>(layer))
            if (IsRegistered(d))
                d->Update(elapsed);
    // A dialog made active, or a box shown again, whose focused IME edit box
    // lost the window's input context to another box's focus-out: given back
    // here, where the game hears of it as of any event, and not from the
    // registry calls, which send nothing through the window.
    CKivGuiIMEEditBox::GiveContextToFocusedBox();
} catch (const std::exception &) {
}

// The camera begun is the one ended, whatever a callback sets in between.
CKivCamera *CKivGuiSystem::BeginCamera()
{
    return m_camera && m_camera->BeginUpdate() ? m_camera : nullptr;
}

// Open modals drawn again above the rest, over the dimming bar.
void CKivGuiSystem::RenderModals()
{
    if (HasOpenDialogOfKind(3)) {
        if (m_tooltips)
            m_tooltips->DrawDimmer();
        CKivCamera *camera = BeginCamera();
        if (!camera)
            return;
        try {
            for (CKivGuiDialog *d : std::vector<CKivGuiDialog *>(m_kinds[3]))
                if (IsRegistered(d) && d->Render(0.0f))
                    break;
        } catch (const std::exception &) {
        }
        camera->EndUpdate();
    } else if (HasOpenDialogOfKind(1)) {
        if (m_tooltips)
            m_tooltips->DrawDimmer();
        CKivCamera *camera = BeginCamera();
        if (!camera)
            return;
        try {
            std::vector<CKivGuiDialog *> kind2(m_kinds[2]);
            for (auto it = kind2.rbegin(); it != kind2.rend(); ++it)
                if (IsRegistered(*it))
                    (*it)->Render(0.0f);
            for (CKivGuiDialog *d : std::vector<CKivGuiDialog *>(m_kinds[1]))
                if (IsRegistered(d) && d->GetVisible()) {
                    d->Render(0.0f);
                    break;
                }
        } catch (const std::exception &) {
            // Out of memory the frame lacks them; the camera still ends.
        }
        camera->EndUpdate();
    }
}

// A camera that cannot begin (a lost device) draws nothing and ends nothing.
void CKivGuiSystem::Render(float elapsed)
try {
    if (m_tooltips) {
        m_tooltips->Update(elapsed);
        for (int kind : {2, 0, 5})
            m_tooltips->RenderKind(elapsed, kind);
    }
    CKivCamera *camera = BeginCamera();
    if (!camera)
        return;
    try {
        for (auto &layer : m_layers) {
            std::vector<CKivGuiDialog *> dialogs(layer);
            for (auto it = dialogs.rbegin(); it != dialogs.rend(); ++it)
                if (IsRegistered(*it))
                    (*it)->Render(elapsed);
        }
        for (auto &callback : std::vector<std::pair<RenderCallback, int>>(m_renderCallbacks))
            callback.first(callback.second);
    } catch (const std::exception &) {
        // Out of memory the frame lacks them; the camera begun is ended.
    }
    camera->EndUpdate();
    RenderModals();
    if (m_tooltips)
        for (int kind : {1, 3, 4})
            m_tooltips->RenderKind(elapsed, kind);
} catch (const std::exception &) {
}
