// The engine sample's scene, built on an engine root and drawn a frame at a time.
#include "samplescene.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "gfx/core/camera.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "gfx/world/clump.h"
#include "gfx/world/light.h"
#include "gfx/world/world.h"
#include "sample/avatar_data.h"
#include "sample/gui_skins.h"
#include "sample/sample_data.h"
#include "sample/scene_script.h"
#include "scenescript.h"
#include "viewerscene.h"

#include "engine/CKivAvatar.h"
#include "engine/CKivBase.h"
#include "engine/CKivCamera.h"
#include "engine/CKivClump.h"
#include "engine/CKivLight.h"
#include "engine/CKivSimpleShadow.h"
#include "engine/CKivSoundManager.h"
#include "engine/CKivToon.h"
#include "engine/CKivWorld.h"
#include "engine/gui/CKivGuiButton.h"
#include "engine/gui/CKivGuiDialog.h"
#include "engine/gui/CKivGuiIMEEditBox.h"
#include "engine/gui/CKivGuiStatic.h"
#include "engine/gui/CKivGuiSystem.h"
#include "engine/gui/CKivGuiTempScrollBar.h"
#include "engine/gui/CKivGuiTooltip.h"
#include "engine/gui/CKivGuiTooltipManager.h"

namespace {

const char kAvatarModel[] = "Data/Avatar/Objects/1.dff";
const char kSunLight[] = "sun.dff";
const int kDialogX = 24, kDialogY = 24, kDialogWidth = 320, kDialogHeight = 190;
// Texts in code page 949: "Dotum", "ga na da ra", "OK", "shadow".
const char kDotum[] = "\xB5\xB8\xBF\xF2";
const char kGreeting[] = "\xB0\xA1\xB3\xAA\xB4\xD9\xB6\xF3";
const char kOk[] = "\xC8\xAE\xC0\xCE";
const char kShadow[] = "\xB1\xD7\xB8\xB2\xC0\xDA";

bool Exists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}


// A white label; buttons and check boxes draw only their images, so their
// texts stand in labels over and beside them.
void AddLabel(CKivGuiDialog *d, int id, int left, int top, int right, int bottom, const char *text, int centred)
{
    CKivGuiStatic *label = new CKivGuiStatic(d);
    label->Create(id, left, top, right, bottom, text);
    label->SetFont("DefaultFont");
    label->SetTextColor(0xFFFFFFFF);
    label->SetTextFormat(centred ? 1 : 0, 4);
}

// The dialog: a Korean static, a button, a check box, a scroll bar and an IME
// edit box, in the sample tree's skins.
CKivGuiDialog *MakeDialog(CKivGuiSystem *gui)
{
    CKivGuiDialog *d = new CKivGuiDialog(1);
    d->SetLocation(kDialogX, kDialogY);
    d->SetSize(kDialogWidth, kDialogHeight);
    gui->AddDialog(d);
    d->SetBackgroundImage(KIV_SAMPLE_SKIN "dialog");
    AddLabel(d, 1, 16, 12, 280, 40, kGreeting, 0);
    CKivGuiButton *button = new CKivGuiButton(d);
    button->Create(2, 16, 50, 116, 80, kOk);
    button->SetRenderStyle(1);
    const char *const buttonSkins[] = {KIV_SAMPLE_SKIN "button_normal", KIV_SAMPLE_SKIN "button_hover",
                                       KIV_SAMPLE_SKIN "button_down", KIV_SAMPLE_SKIN "button_off"};
    for (int i = 0; i < 4; i++) {
        button->LoadElement(i + 1, buttonSkins[i]);
    }
    AddLabel(d, 6, 16, 50, 116, 80, kOk, 1);
    CKivGuiCheckBox *check = new CKivGuiCheckBox(d);
    check->Create(3, 130, 50, 260, 80, kShadow);
    check->LoadElement(1, KIV_SAMPLE_SKIN "check_off");
    check->LoadElement(2, KIV_SAMPLE_SKIN "check_on");
    check->LoadElement(3, KIV_SAMPLE_SKIN "check_hover");
    check->SetChecked(1, 0);
    AddLabel(d, 7, 168, 50, 270, 80, kShadow, 0);
    CKivGuiTempScrollBar *bar = new CKivGuiTempScrollBar(d);
    bar->Create(4, 290, 12, 304, 170, 0, 0);
    bar->LoadSkins();
    bar->SetPageSize(8);
    bar->SetTrackRange(0, 20);
    CKivGuiIMEEditBox *edit = new CKivGuiIMEEditBox(d);
    edit->Create(5, 16, 100, 270, 130, kGreeting, 8, 6);
    edit->SetSkins(KIV_SAMPLE_SKIN "field", KIV_SAMPLE_SKIN "caret", KIV_SAMPLE_SKIN "selection");
    edit->SetFont("DefaultFont");
    edit->SetText(kGreeting, 0);
    return d;
}

RwLight *AddLight(RwWorld *world, RwInt32 type, RwRGBAReal colour, RwReal turnX, RwReal turnY)
{
    RwLight *light = RwLightCreate(type);
    RwFrame *frame = RwFrameCreate();
    if (!light || !frame) {
        return nullptr;
    }
    const RwV3d xAxis = {1, 0, 0};
    const RwV3d yAxis = {0, 1, 0};
    RwFrameRotate(frame, &xAxis, turnX, rwCOMBINEREPLACE);
    RwFrameRotate(frame, &yAxis, turnY, rwCOMBINEPOSTCONCAT);
    RwLightSetFrame(light, frame);
    RwLightSetColor(light, &colour);
    RwWorldAddLight(world, light);
    return light;
}

void DestroyLight(RwWorld *world, RwLight *light)
{
    if (light) {
        RwWorldRemoveLight(world, light);
        RwFrame *frame = RwLightGetFrame(light);
        RwLightSetFrame(light, nullptr);
        RwFrameDestroy(frame);
        RwLightDestroy(light);
    }
}

// A soft dark disc: black, its alpha falling from the centre to nothing at the rim.
RwTexture *DiscTexture(int size)
{
    RwRaster *raster = RwRasterCreate(size, size, 0, rwRASTERTYPETEXTURE | rwRASTERFORMAT8888);
    RwUInt8 *p = raster ? RwRasterLock(raster, 0, rwRASTERLOCKWRITE) : nullptr;
    if (!p) {
        if (raster) {
            RwRasterDestroy(raster);
        }
        return nullptr;
    }
    const float half = 0.5f * static_cast<float>(size);
    for (int y = 0; y < size; y++) {
        RwUInt32 *row = reinterpret_cast<RwUInt32 *>(p + y * raster->stride);
        for (int x = 0; x < size; x++) {
            const float dx = (x + 0.5f - half) / half, dy = (y + 0.5f - half) / half;
            const float edge = 1.0f - std::sqrt(dx * dx + dy * dy);
            const RwUInt32 alpha = edge <= 0 ? 0u : static_cast<RwUInt32>(160.0f * std::min(1.0f, 2.5f * edge));
            row[x] = alpha << 24;
        }
    }
    RwRasterUnlock(raster);
    return RwTextureCreate(raster);
}

// The blob shadow: a dark disc laid on the ground under the avatar's root bone.
class Blob : public CKivSimpleShadow {
public:
    Blob(CKivClump *model, RwWorld *world, CKivCamera *camera)
        : m_model(model), m_world(world), m_camera(camera), m_texture(DiscTexture(32))
    {
    }
    ~Blob() override
    {
        if (m_texture) {
            RwTextureDestroy(m_texture);
        }
    }
    void DrawShadows(void *) override
    {
        const RwMatrix *root = m_model->GetFrameMatrix("Bip01");
        if (root) {
            RenderShadow(m_world, &root->pos, 1.2f, 10.0f, m_texture, m_camera);
        }
    }

private:
    CKivClump *m_model;
    RwWorld *m_world;
    CKivCamera *m_camera;
    RwTexture *m_texture;
};

}  // namespace

// Turns the camera frame to look at the target from the orbit's angles.
void KivPlaceCamera(RwFrame *frame, const KivOrbit &orbit)
{
    const RwV3d xAxis = {1, 0, 0};
    const RwV3d yAxis = {0, 1, 0};
    RwFrameRotate(frame, &xAxis, orbit.pitch, rwCOMBINEREPLACE);
    RwFrameRotate(frame, &yAxis, orbit.yaw, rwCOMBINEPOSTCONCAT);
    const RwV3d at = RwFrameGetMatrix(frame)->at;
    const RwV3d from = {orbit.target.x - orbit.distance * at.x, orbit.target.y - orbit.distance * at.y,
                        orbit.target.z - orbit.distance * at.z};
    RwFrameTranslate(frame, &from, rwCOMBINEPOSTCONCAT);
}

// The tooltip skin, written before the engine starts: its manager loads it then.
bool KivSampleWriteTooltipSkin(void)
{
    const char *const pieces[] = {"upleft",   "uppattern",   "upright",   "leftpattern", "pattern",       "rightpattern",
                                  "downleft", "downpattern", "downright", "downarrow",   "downleftarrow", "rightdownarrow"};
    for (const char *piece : pieces) {
        const std::string path = std::string("Data/Interface/Tooltip/tooltip-") + piece + ".png";
        if (!Exists(path) && !KivSampleWriteSolidPng(path, 250, 235, 160)) {
            return false;
        }
    }
    return true;
}

// The sample tree into the working folder (the engine must be started); written on
// every run, so a tree left by an older build never shows old data.
bool KivSampleWriteTree(const char *folder)
{
    const bool ok = KivViewerWriteSampleScene(".") && KivTestWriteAvatarData() &&
                    KivSampleWrite(kSunLight, KivTestDirectionalLightFile()) && KivSampleWriteSound() &&
                    KivSampleWritePlaceholders() && KivSampleWriteGuiSkins() && KivSampleWriteSceneScript();
    if (!ok) {
        std::fprintf(stderr, "viewer: cannot write the sample scene into %s\n", folder);
    }
    return ok;
}


// Everything the scene owns, in the order it is made (and so unmade in reverse).
struct KivSampleScene::Parts {
    CKivWorld world{"sample"};
    std::vector<CKivClump *> clumps;
    RwLight *ambient = nullptr;
    CKivLight sun{"sun"};
    CKivToon toon;   // outlives the avatar it is applied to
    CKivAvatar avatar;
    CKivAvatar shade;
    CKivGuiSystem *gui = nullptr;
    CKivGuiDialog *dialog = nullptr;
    CKivCamera camera{"sample"};
    std::unique_ptr<Blob> blob;
    SceneScript script;
};

KivSampleScene::KivSampleScene(CKivBase *base) : m_base(base), m_parts(new Parts) {}

RwCamera *KivSampleScene::Camera(void) const
{
    return m_parts->camera.GetCamera();
}

bool KivSampleScene::Build(void)
{
    Parts &p = *m_parts;
    CKivWorld &world = p.world;
    if (!world.Load(KIV_SAMPLE_WORLD, KIV_SAMPLE_TEXTURES, "")) {
        std::fprintf(stderr, "viewer: cannot read world %s\n", KIV_SAMPLE_WORLD);
        return false;
    }
    world.SetClearColor({110, 150, 200, 255});
    for (const char *f : {KIV_SAMPLE_MODEL}) {
        CKivClump *clump = new CKivClump;
        if (clump->Load(f, "") && world.AddClump(clump)) {
            p.clumps.push_back(clump);
        } else {
            std::fprintf(stderr, "viewer: cannot read model %s\n", f);
            delete clump;
        }
    }
    RwWorld *rw = world.GetWorld();
    p.ambient = rw ? AddLight(rw, rwLIGHTAMBIENT, {0.35f, 0.35f, 0.35f, 1}, 0, 0) : nullptr;
    // The sun is the world's main light: the projected shadow falls away from it.
    if (p.sun.Load(kSunLight)) {
        KivSampleTurnSun(RwLightGetFrame(p.sun.GetLight()));
        world.AddLight(&p.sun);
    }

    // The avatar: body 1 in skin 1 with face 1, standing on the ground, inked,
    // walking through its script-made behaviour.
    CKivAvatar::LoadScripts("Data/Avatar/");
    CKivAvatar &avatar = p.avatar;
    const RwV3d small = {0.3f, 0.3f, 0.3f}, place = {-1.5f, 0.0f, 1.5f};
    if (!avatar.Create(1, 1, 1) || !world.AddClump(&avatar)) {
        std::fprintf(stderr, "viewer: cannot make the avatar from %s\n", kAvatarModel);
        return false;
    }
    if (p.toon.Load(kKivTestInkFile, nullptr, nullptr)) {
        avatar.SetToon(&p.toon);
    } else {
        std::fprintf(stderr, "viewer: cannot read the ink %s\n", kKivTestInkFile);
    }
    avatar.SetScale(&small);
    avatar.SetPosition(&place);
    avatar.SetEmotion("normal");
    avatar.PlayBehavior("walk");
    if (!p.shade.Create(1, 1, 1) || !KivViewerAddProjectedShadow(&avatar, &p.shade)) {
        std::fprintf(stderr, "viewer: the avatar casts no projected shadow\n");
    }
    // Group 0's "step" event on the avatar; machines without audio play nothing.
    CKivSoundManager *sound = m_base->GetSoundManager();
    if (sound) {
        sound->LoadEventGroup(0);
        sound->PlayEventOnObject(0, 4, avatar.GetName());
    }

    m_base->CreateFonts(kDotum);
    p.gui = m_base->GetGuiSystem();
    p.dialog = MakeDialog(p.gui);

    if (!p.camera.Create(0.2f, 200.0f, 1.1f, m_base->GetViewport()) || !world.AddCamera(&p.camera)) {
        std::fprintf(stderr, "viewer: no camera\n");
        return false;
    }
    world.SetCamera(&p.camera);
    p.blob.reset(new Blob(&avatar, rw, &p.camera));
    // Above the head: the head's frame stands at the neck.
    if (CKivGuiTooltip *greeting = p.gui->GetTooltipManager()->AddFollowingTooltip(
            1, 1, avatar.GetName(), "_headShape", 160, kGreeting, 7, 1e6f, 1.0f, 3, -1)) {
        greeting->SetFollowOffset(0, -40);
    }
    m_base->SetCurrentWorld(&world);
    m_built = true;
    // The scene script adds a marching figure of its own to the current world.
    if (!p.script.Run(kKivSampleSceneScript)) {
        std::fprintf(stderr, "viewer: the scene script %s did not run (see Lua.log)\n", kKivSampleSceneScript);
    }
    return true;
}

void KivSampleScene::Draw(float seconds)
{
    Parts &p = *m_parts;
    m_base->Lock();
    m_base->Update(seconds);
    p.gui->Update(seconds);
    p.avatar.Update(seconds);
    p.script.Frame(seconds);
    m_base->RenderWorld();
    if (p.camera.BeginUpdate()) {
        p.blob->DrawShadows(nullptr);
        p.camera.EndUpdate();
    }
    p.gui->Render(seconds);
    m_base->Unlock();
}

void KivSampleScene::Show(void)
{
    m_parts->camera.ShowRaster();
}

KivSampleScene::~KivSampleScene()
{
    Parts &p = *m_parts;
    if (m_built) {
        p.script.End();
        m_base->SetCurrentWorld(nullptr);
        delete p.dialog;
        p.world.RemoveCamera(&p.camera);
        p.world.RemoveLight(&p.sun);
        p.world.RemoveClump(&p.avatar);
        if (RwWorld *rw = p.world.GetWorld()) {
            DestroyLight(rw, p.ambient);
        }
        for (CKivClump *c : p.clumps) {
            p.world.RemoveClump(c);
            delete c;
        }
    }
    delete m_parts;
}
