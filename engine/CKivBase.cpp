// The engine root: starts the graphics stack on the game window, owns the archives and managers, stops it all.
#include "engine/CKivBase.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <initializer_list>
#include <new>

#include <FreeImage.h>

#include "archive/CParcel.h"
#include "engine/CKivAlphaManager.h"
#include "engine/CKivAnimManager.h"
#include "engine/CKivCamera.h"
#include "engine/CKivEngineScriptBinder.h"
#include "engine/CKivShadow.h"
#include "engine/CKivSoundManager.h"
#include "engine/CKivWorld.h"
#include "engine/CKivViewport.h"
#include "engine/KivEngineLock.h"
#include "engine/KivFileSystems.h"
#include "engine/KivPreparedTextures.h"
#include "engine/TextureLoader.h"
#include "engine/gui/CKivGuiSystem.h"
#include "gfx/core/camera.h"
#include "gfx/core/engine.h"
#include "gfx/core/filesys.h"
#include "gfx/core/im2dquadbatch.h"
#include "gfx/core/image.h"
#include "gfx/core/pngformat.h"
#include "gfx/core/raster.h"
#include "gfx/core/rwstring.h"
#include "gfx/core/texture.h"
#include "gfx/d3d9/d3d9device.h"
#include "gfx/d3d9/d3d9state.h"
#include "gfx/plugins/animation/anim.h"
#include "gfx/plugins/hanim/hanim.h"
#include "gfx/plugins/int32data/int32data.h"
#include "gfx/plugins/matfx/matfx.h"
#include "gfx/plugins/random/random.h"
#include "gfx/plugins/skin/skin.h"
#include "gfx/plugins/toolkit2d/toolkit2d.h"
#include "gfx/plugins/toon/toon.h"
#include "gfx/plugins/userdata/userdata.h"
#include "gfx/plugins/uvanim/uvanim.h"
#include "gfx/plugins/worldquery/worldquery.h"
#include "gfx/world/world.h"

namespace {

// The texture-read mode belongs to the process, not to the object.
int g_textureReadMode = 2;

const float kTextureScales[3] = {1.0f, 0.5f, 0.25f};
const float kImageScales[3] = {1.0f, 0.8f, 0.6666667f};

// "없는 오브젝트" in code page 949.
const char kObjectTitle[] = "\xbe\xf8\xb4\xc2 \xbf\xc0\xba\xea\xc1\xa7\xc6\xae\n";

void WriteFirstLine(const char *file, const char *line)
{
    FILE *f = fopen(file, "wt");
    if (f) {
        fputs(line, f);
        fclose(f);
    }
}

// Counters of the last texture-memory report.
struct TextureMemoryReport {
    int total;
    int bytes2D;
    int bytes3D;
    FILE *file;
};
TextureMemoryReport g_report;

RwTexture *CountTexture(RwTexture *texture, void *data)
{
    TextureMemoryReport *r = static_cast<TextureMemoryReport *>(data);
    const RwRaster *raster = RwTextureGetRaster(texture);
    if (!raster)
        return texture;
    const int bytes = raster->width * raster->height * (raster->depth / 8);
    const bool flat = RwTextureGetFilterMode(texture) == rwFILTERNEAREST;
    r->total += bytes;
    (flat ? r->bytes2D : r->bytes3D) += bytes;
    if (r->file)
        fprintf(r->file, "%dD : %s (%d) = %d\t%d(2D:%d, 3D:%d)\n", flat ? 2 : 3, RwTextureGetName(texture),
                texture->refCount, bytes, r->total, r->bytes2D, r->bytes3D);
    return texture;
}

RwTextureDictionary *CountDictionary(RwTextureDictionary *dict, void *data)
{
    RwTextureDictionaryForAllTextures(dict, CountTexture, data);
    return dict;
}

RwTexture *DetachAndRelease(RwTexture *texture, void *data)
{
    CKivBase *base = static_cast<CKivBase *>(data);
    RwTextureDictionaryRemoveTexture(texture);
    base->BeginTextureUpdate();
    RwTextureDestroy(texture);
    base->EndTextureUpdate();
    return texture;
}

// The driver's reset hooks that were installed before the engine's.
RwD3D9DeviceRestoreCallBack g_previousRelease;
RwD3D9DeviceRestoreCallBack g_previousRestore;

// The GUI's fonts let go of their device objects before every reset and
// make them again after it.
void ReleaseBeforeReset()
{
    if (g_previousRelease)
        g_previousRelease();
    if (CKivBase *base = CKivBase::GetInstance())
        base->OnLostDevice();
}

void RestoreAfterReset()
{
    if (g_previousRestore)
        g_previousRestore();
    if (CKivBase *base = CKivBase::GetInstance())
        base->OnResetDevice();
}

void CloseParcel(CParcel *&parcel)
{
    if (parcel) {
        parcel->Close();
        delete parcel;
        parcel = nullptr;
    }
}

} // namespace

CKivBase::CKivBase()
    : m_initialised(0), m_window(nullptr), m_instance(nullptr), m_title(nullptr), m_shadowSwitch(1),
      m_textureQuality(0), m_textureScale(1.0f), m_imageQuality(0), m_imageScale(1.0f), m_worldLoading(0),
      m_subSystem(0), m_videoMode(0), m_viewport(nullptr), m_currentViewport(nullptr), m_defaultCamera(nullptr),
      m_currentCamera(nullptr), m_alphaManager(nullptr), m_currentAlphaManager(nullptr), m_animManager(nullptr),
      m_currentAnimManager(nullptr), m_textureLoader(nullptr), m_currentWorld(nullptr), m_soundManager(nullptr),
      m_guiSystem(nullptr), m_packedArchive(0), m_parcel(nullptr), m_loaderParcel(nullptr), m_imeKey(0),
      m_backgroundLoading(0), m_lockOwner(0), m_lockDepth(0), m_loads(0), m_stopping(0),
      m_freeImageInits(0), m_quadBatch(0), m_resetHooks(0)
{
    SetTextureQuality(0);
    SetImageQuality(0);
    InitializeCriticalSection(&m_renderLock);
    WriteFirstLine("Texture.txt", "TEXTURE\n");
    WriteFirstLine("Object.txt", kObjectTitle);
}

CKivBase::~CKivBase()
{
    DeleteCriticalSection(&m_renderLock);
}

int CKivBase::Init(HWND window, HINSTANCE instance, int width, int height, const char *title, int packedArchive,
                   int backgroundLoading)
{
    m_packedArchive = packedArchive;
    m_window = window;
    m_instance = instance;
    m_title = title;
    InterlockedExchange(&m_stopping, 0);
    // A library that does not initialise may be another's: nothing here to undo.
    int initialised = 0;
    try {
        if (!RwEngineInit(nullptr, 0, 0x400000))
            return 0;
        initialised = InitSteps(width, height, backgroundLoading);
    } catch (const std::exception &) {
        // Memory running out is one more failing step, undone like the others.
        initialised = 0;
    }
    if (initialised)
        return 1;
    Shutdown();
    return 0;
}

// The steps after the library's initialisation; a failing one leaves the rest to Shutdown.
int CKivBase::InitSteps(int width, int height, int backgroundLoading)
{
    for (int step = 0; step < kInitSteps; step++) {
        if (!InitStep(step, width, height, backgroundLoading))
            return 0;
    }
    return 1;
}

int CKivBase::InitStep(int step, int width, int height, int backgroundLoading)
{
    HWND window = m_window;
    switch (step) {
    case 0:
        return AttachPlugins();
    case 1: {
        RwEngineOpenParams params = {window};
        return RwEngineOpen(&params) ? 1 : 0;
    }
    case 2:
        if (!RwFileSystemManagerOpen(-1) || !InstallFileSystems())
            return 0;
        RwD3D9SetMultithreadSafe(TRUE);
        return 1;
    case 3:
        return SelectVideoMode();
    case 4:
        return RwEngineStart() ? 1 : 0;
    case 5:
        return RegisterImageFormats();
    case 6:
        if (!RwIm2DQuadBatchCreate())
            return 0;
        m_quadBatch = 1;
        return 1;
    case 7:
    case 18:
        return InitialiseFreeImage();
    case 8:
        m_viewport = new (std::nothrow) CKivViewport;
        if (!m_viewport || !m_viewport->Create(window, width, height, 1, m_textureQuality == 0))
            return 0;
        SetViewport(m_viewport);
        return 1;
    case 9:
        m_defaultCamera = new (std::nothrow) CKivCamera("default2d");
        if (!m_defaultCamera || !m_defaultCamera->Create(0.1f, 2000.0f, 0.0f, m_currentViewport))
            return 0;
        SetCamera(m_defaultCamera);
        return 1;
    case 10:
        m_guiSystem = new (std::nothrow) CKivGuiSystem;
        if (!m_guiSystem || !m_guiSystem->SetViewport(m_currentViewport))
            return 0;
        m_guiSystem->SetCamera(m_defaultCamera);
        if (!m_resetHooks) {
            g_previousRelease = RwD3D9GetDeviceReleaseCallback();
            g_previousRestore = RwD3D9GetDeviceRestoreCallback();
            RwD3D9SetDeviceReleaseCallback(ReleaseBeforeReset);
            RwD3D9SetDeviceRestoreCallback(RestoreAfterReset);
            m_resetHooks = 1;
        }
        return 1;
    case 11: {
        // 2D toolkit coordinates are device pixels.
        RwCamera *camera2d = m_currentCamera->GetCamera();
        Rw2dOpen(camera2d);
        Rw2dDeviceSetMetric(0.0f, 0.0f, static_cast<RwReal>(camera2d->frameBuffer->width),
                            static_cast<RwReal>(camera2d->frameBuffer->height));
        return 1;
    }
    case 12:
        m_alphaManager = new (std::nothrow) CKivAlphaManager;
        if (!m_alphaManager)
            return 0;
        SetAlphaManager(m_alphaManager);
        return 1;
    case 13:
        m_animManager = new (std::nothrow) CKivAnimManager;
        if (!m_animManager)
            return 0;
        SetAnimManager(m_animManager);
        m_initialised = 1;
        return 1;
    case 14:
        // Both archives serve the same data; an archive that does not open shows
        // up later as missing files.
        m_parcel = new (std::nothrow) CParcel;
        m_loaderParcel = new (std::nothrow) CParcel;
        if (!m_parcel || !m_loaderParcel)
            return 0;
        for (CParcel *parcel : {m_parcel, m_loaderParcel})
            parcel->Open(m_packedArchive ? 1 : 0, m_packedArchive ? "data.pcl" : "", 2, 0x2800);
        RwTextureSetReadCallback(TextureReadCallback);
        return 1;
    case 15: {
        // The game runs on silently when sound does not start. The manager is
        // the engine root's only once it started or failed quietly, so that
        // one thrown out of its start is deleted here and nowhere else.
        CKivSoundManager *sound = new (std::nothrow) CKivSoundManager;
        try {
            if (sound)
                sound->Init();
        } catch (const std::exception &) {
            delete sound;
            sound = nullptr;
        }
        m_soundManager = sound;
        return 1;
    }
    case 16:
        return CKivShadow::CreateCameras();
    case 17:
        // The binder registers itself as the singleton; scripts simply fail without it.
        new (std::nothrow) CKivEngineScriptBinder(window);
        return 1;
    case 19:
        m_backgroundLoading = backgroundLoading;
        if (backgroundLoading) {
            m_textureLoader = new (std::nothrow) TextureLoader(30);
            if (!m_textureLoader)
                return 0;
        }
        return 1;
    }
    return 0;
}

// FreeImage counts the call before it may run out of memory building its
// plug-in list, so Shutdown undoes it either way; a list that lost the PNG
// plug-in on the way is a failed step.
int CKivBase::InitialiseFreeImage()
{
    m_freeImageInits++;
    FreeImage_Initialise(FALSE);
    const char *png = FreeImage_GetFormatFromFIF(FIF_PNG);
    return png && !strcmp(png, "PNG");
}

// A load in flight on another thread ends first; the thread must make no
// engine call after that (the game waits for its loading thread before).
int CKivBase::Shutdown()
{
    InterlockedExchange(&m_stopping, 1);
    while (m_loads > 0)
        Sleep(1);
    CKivShadow::DestroyCameras();
    delete m_textureLoader;
    m_textureLoader = nullptr;
    CloseParcel(m_parcel);
    CloseParcel(m_loaderParcel);
    delete m_soundManager;
    m_soundManager = nullptr;
    delete m_alphaManager;
    m_alphaManager = nullptr;
    SetAlphaManager(nullptr);
    delete m_animManager;
    m_animManager = nullptr;
    SetAnimManager(nullptr);
    delete m_guiSystem;
    m_guiSystem = nullptr;
    if (m_resetHooks) {
        RwD3D9SetDeviceReleaseCallback(g_previousRelease);
        RwD3D9SetDeviceRestoreCallback(g_previousRestore);
        m_resetHooks = 0;
    }
    Rw2dClose();
    delete m_defaultCamera;
    m_defaultCamera = nullptr;
    SetCamera(nullptr);
    delete m_viewport;
    m_viewport = nullptr;
    SetViewport(nullptr);
    for (; m_freeImageInits > 0; m_freeImageInits--)
        FreeImage_DeInitialise();
    if (m_quadBatch) {
        RwIm2DQuadBatchDestroy();
        m_quadBatch = 0;
    }
    delete GetScriptBinder();
    StopGraphics();
    m_initialised = 0;
    return 1;
}

// In the fixed order of the plug-in ids' table, stopping at the first refusal.
int CKivBase::AttachPlugins()
{
    RwBool (*const attaches[])(void) = {
        RwWorldPluginAttach,                // world module, engine modules 0x501-0x50B
        RwMatFxPluginAttach,                // material effects, 0x120
        RwUVAnimPluginAttach,               // UV animation, 0x135
        RwCollisionPluginAttach,            // 0x11D
        RwPvsPluginAttach,                  // 0x12A
        RwLightmapPluginAttach,             // 0x114
        RwAnimPluginAttach,                 // keyframe animation toolkit, 0x1B7
        RwHAnimPluginAttach,                // hierarchical animation, 0x11E
        RwSkinPluginAttach,                 // skin, 0x116
        RwInt32DataPluginAttach,            // 32-bit value, 0x137
        RwRandomPluginAttach,               // random numbers, 0x10C
        RwToonPluginAttach,                 // toon paint and ink, 0x12E
        RwUserDataPluginAttach,             // user data, 0x11F
        RwParticleTankPluginAttach,         // 0x12F
        RwParticleStandardPluginAttach,     // 0x130
        RwParticleAdvancedPluginAttach,     // 0x132
    };
    for (RwBool (*attach)(void) : attaches) {
        if (!attach())
            return 0;
    }
    return 1;
}

int CKivBase::RegisterImageFormats()
{
    return RwImageRegisterFormat("png", RwImageReadPng, RwImageWritePng) ? 1 : 0;
}

int CKivBase::InstallFileSystems()
{
    char root[kKivWorkingDirSize];
    if (!KivGetWorkingDirectory(root, sizeof(root)))
        return 0;
    return KivInstallFileSystems(root, GetLogicalDrives());
}

int CKivBase::SelectVideoMode()
{
    if (!RwEngineSetSubSystem(m_subSystem) || !RwEngineSetVideoMode(m_videoMode))
        return 0;
    RwVideoMode mode;
    if (RwEngineGetVideoModeInfo(&mode, RwEngineGetCurrentVideoMode()) && (mode.flags & rwVIDEOMODEEXCLUSIVE)) {
        SetWindowLongA(m_window, GWL_STYLE, WS_POPUP);
        SetWindowPos(m_window, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    }
    return 1;
}

// Undoes as much of the library's life cycle as a (possibly failed) Init did.
void CKivBase::StopGraphics()
{
    const RwInt32 status = RwEngineGetStatus();
    RwFileSystemManagerClose();
    if (status >= rwENGINESTATUSSTARTED)
        RwEngineStop();
    if (status >= rwENGINESTATUSOPENED)
        RwEngineClose();
    if (status >= rwENGINESTATUSINITED)
        RwEngineTerm();
}

void CKivBase::Lock()
{
    EnterCriticalSection(&m_renderLock);
    if (m_lockDepth++ == 0)
        m_lockOwner = GetCurrentThreadId();
}

void CKivBase::Unlock()
{
    if (--m_lockDepth == 0)
        m_lockOwner = 0;
    LeaveCriticalSection(&m_renderLock);
}

// Only the holder writes the owner: another thread's id is never its own.
int CKivBase::HoldsLock() const
{
    return m_lockOwner == GetCurrentThreadId();
}

int CKivBase::BeginLoad()
{
    InterlockedIncrement(&m_loads);
    if (!m_stopping)
        return 1;
    InterlockedDecrement(&m_loads);
    return 0;
}

void CKivBase::EndLoad()
{
    InterlockedDecrement(&m_loads);
}

int CKivBase::RenderWorld()
{
    return m_currentWorld ? m_currentWorld->Render() : 0;
}

void CKivBase::Present()
{
    if (m_defaultCamera)
        m_defaultCamera->ShowRaster();
}

// Sounds are updated with or without a world: one started between scenes
// still ends, and its event can play again.
int CKivBase::Update(float dt)
{
    if (m_soundManager)
        m_soundManager->Update(dt);
    return m_currentWorld ? 1 : 0;
}

int CKivBase::GetPendingTextureCount() const
{
    return m_textureLoader ? m_textureLoader->GetPendingCount() : 0;
}

// The picture is decoded before the hold when the texture is not there yet.
RwTexture *CKivBase::ReadTexture(const char *name, const char *imagePath)
{
    EngineLoad load;
    if (load.Refused())
        return nullptr;
    KivPreparedTextures prepared;
    prepared.Want(name, imagePath ? imagePath : "");
    prepared.Decode(nullptr, 1);
    EngineLock lock;
    RwImageSetPath(imagePath ? imagePath : "");
    return RwTextureRead(name, nullptr);
}

void CKivBase::ReleaseTexture(const char *name)
{
    EngineLock lock;
    if (lock.Refused())
        return;
    RwTextureDictionary *dict = RwTextureDictionaryGetCurrent();
    RwTexture *texture = dict && name ? RwTextureDictionaryFindTexture(dict, name) : nullptr;
    if (texture) {
        const bool last = texture->refCount < 2;
        if (last)
            BeginTextureUpdate();
        RwTextureDestroy(texture);
        if (last)
            EndTextureUpdate();
    }
}

// Each texture leaves the dictionary and loses the dictionary's reference;
// one that a material still holds lives on with the material.
void CKivBase::DestroyDictionaryTextures(RwTextureDictionary *dict)
{
    EngineLock lock;
    if (!dict || lock.Refused())
        return;
    RwTextureDictionaryForAllTextures(dict, DetachAndRelease, this);
}

int CKivBase::ReportTextureMemory(int *bytes2D, int *bytes3D, int writeFile)
{
    Lock();
    g_report = TextureMemoryReport{};
    if (writeFile)
        g_report.file = fopen("tm.txt", "wt");
    RwTextureDictionaryForAllDictionaries(CountDictionary, &g_report);
    if (g_report.file) {
        fclose(g_report.file);
        g_report.file = nullptr;
    }
    if (bytes2D)
        *bytes2D = g_report.bytes2D;
    if (bytes3D)
        *bytes3D = g_report.bytes3D;
    const int total = g_report.total;
    Unlock();
    return total;
}

CKivEngineScriptBinder *CKivBase::GetScriptBinder()
{
    return CBaseManager<CKivEngineScriptBinder>::GetInstance();
}

int CKivBase::GetTextureReadMode()
{
    return g_textureReadMode;
}

void CKivBase::SetTextureReadMode(int mode)
{
    g_textureReadMode = mode;
}

void CKivBase::SetViewport(CKivViewport *viewport)
{
    m_currentViewport = viewport;
    if (viewport && m_currentCamera)
        m_currentCamera->SetViewport(viewport);
}

void CKivBase::SetCamera(CKivCamera *camera)
{
    m_currentCamera = camera;
    if (!camera)
        return;
    if (m_currentViewport)
        camera->SetViewport(m_currentViewport);
    Rw2dDeviceSetCamera(camera->GetCamera());
}

// The GUI's calls below are the engine's too: nothing they throw goes on.
int CKivBase::CreateFonts(const char *face)
{
    try {
        return m_guiSystem ? m_guiSystem->CreateFonts(face) : 1;
    } catch (const std::exception &) {
        return 0;
    }
}

// Reached from the driver's reset hooks, which must see no exception.
void CKivBase::OnLostDevice()
{
    try {
        if (m_guiSystem)
            m_guiSystem->GetResourceManager().OnLostDevice();
    } catch (const std::exception &) {
    }
}

void CKivBase::OnResetDevice()
{
    try {
        if (m_guiSystem)
            m_guiSystem->GetResourceManager().OnResetDevice();
    } catch (const std::exception &) {
    }
}

void CKivBase::SetTextureQuality(int quality)
{
    m_textureQuality = quality;
    if (quality >= 0 && quality <= 2)
        m_textureScale = kTextureScales[quality];
}

void CKivBase::SetImageQuality(int quality)
{
    m_imageQuality = quality;
    if (quality >= 0 && quality <= 2)
        m_imageScale = kImageScales[quality];
}
