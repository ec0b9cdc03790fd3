// The engine root: starts the graphics stack on the game window, owns the archives and managers, stops it all.
//
// The rule of every engine call the game makes (CKiv... and the engine's
// other public classes): no exception leaves it, since the game's code has no
// try; teardown (destructors, Release, Shutdown) allocates nothing or carries
// on without it; a call that runs out of memory returns its failure value and
// leaves its objects as they were or whole in their new state.
#pragma once

#include <windows.h>

#include "engine/CBaseManager.h"

struct RwTexture;
struct RwTextureDictionary;
class CParcel;
class CKivViewport;
class CKivCamera;
class CKivAlphaManager;
class CKivAnimManager;
class CKivWorld;
class CKivSoundManager;
class CKivGuiSystem;
class CKivEngineScriptBinder;
class TextureLoader;

class CKivBase : public CBaseManager<CKivBase>
{
public:
    // Truncates "Texture.txt" and "Object.txt" and writes their first lines.
    CKivBase();
    ~CKivBase() override;

    // 1 when every step succeeded; 0 at the first failing step (memory
    // running out included), after undoing the earlier steps in reverse
    // order, so that Init can run again.
    int Init(HWND window, HINSTANCE instance, int width, int height, const char *title, int packedArchive,
             int backgroundLoading);
    // Releases whatever exists, in the reverse order of Init; safe to repeat.
    int Shutdown();
    virtual int AttachPlugins();
    virtual int RegisterImageFormats();
    // The steps of Init after the library's initialisation, in order (0 up to
    // kInitSteps - 1): 1, or 0 when the step failed and the rest is left to Shutdown.
    enum { kInitSteps = 20 };
    virtual int InitStep(int step, int width, int height, int backgroundLoading);

    // Frame side: the render lock is recursive; engine/KivEngineLock.h says
    // what it guards and which calls a loading thread may make mid-frame.
    void Lock();
    void Unlock();
    // 1 when the calling thread holds the render lock.
    int HoldsLock() const;
    // An engine call that loads counts itself in flight: Shutdown waits for
    // every such call to return, and one begun after Shutdown started is
    // refused (0) and does nothing.
    int BeginLoad();
    void EndLoad();
    int RenderWorld();
    void Present();
    int Update(float dt);
    // Registers the GUI's named fonts on the face; 0 when memory runs out.
    int CreateFonts(const char *face);
    // Around every device reset (the engine hooks them into the driver).
    void OnLostDevice();
    void OnResetDevice();

    // Texture operations.
    RwTexture *ReadTexture(const char *name, const char *imagePath);
    void ReleaseTexture(const char *name);
    void DestroyDictionaryTextures(RwTextureDictionary *dict);
    void BeginTextureUpdate() {}
    void EndTextureUpdate() {}
    int GetPendingTextureCount() const;
    // Sums the bytes of every texture of every dictionary; filter mode 1
    // counts as 2D. With writeFile, one line per texture goes to "tm.txt".
    int ReportTextureMemory(int *bytes2D, int *bytes3D, int writeFile);
    // The graphics library's texture read callback (the mask is not used).
    static RwTexture *TextureReadCallback(const char *name, const char *maskName);

    // Accessors.
    static CKivBase *GetInstance() { return CBaseManager<CKivBase>::GetInstance(); }
    static CKivEngineScriptBinder *GetScriptBinder();
    static int GetTextureReadMode();
    static void SetTextureReadMode(int mode);
    void SetViewport(CKivViewport *viewport);
    void SetCamera(CKivCamera *camera);
    void SetTextureQuality(int quality);
    void SetImageQuality(int quality);
    CKivWorld *GetCurrentWorld() const { return m_currentWorld; }
    void SetCurrentWorld(CKivWorld *world) { m_currentWorld = world; }
    CKivGuiSystem *GetGuiSystem() const { return m_guiSystem; }
    CParcel *GetParcel() const { return m_parcel; }
    CParcel *GetLoaderParcel() const { return m_loaderParcel; }
    HWND GetWindow() const { return m_window; }
    CKivViewport *GetViewport() const { return m_currentViewport; }
    CKivCamera *GetCamera() const { return m_currentCamera; }
    CKivCamera *GetDefaultCamera() const { return m_defaultCamera; }
    CKivSoundManager *GetSoundManager() const { return m_soundManager; }
    CKivAnimManager *GetAnimManager() const { return m_currentAnimManager; }
    void SetAnimManager(CKivAnimManager *manager) { m_currentAnimManager = manager; }
    CKivAlphaManager *GetAlphaManager() const { return m_currentAlphaManager; }
    void SetAlphaManager(CKivAlphaManager *manager) { m_currentAlphaManager = manager; }
    CKivAlphaManager *GetOwnAlphaManager() const { return m_alphaManager; }
    // World rendering draws projected shadows only while it is on.
    int GetShadowSwitch() const { return m_shadowSwitch; }
    void SetShadowSwitch(int on) { m_shadowSwitch = on; }
    TextureLoader *GetTextureLoader() const { return m_textureLoader; }
    int IsAsyncTextureLoading() const { return m_backgroundLoading; }
    int IsPackedArchive() const { return m_packedArchive; }
    int IsInitialised() const { return m_initialised; }
    int GetTextureQuality() const { return m_textureQuality; }
    float GetTextureScale() const { return m_textureScale; }
    int GetImageQuality() const { return m_imageQuality; }
    float GetImageScale() const { return m_imageScale; }
    void SetWorldLoading(int loading) { m_worldLoading = loading; }
    int IsWorldLoading() const { return m_worldLoading; }
    int GetImeKey() const { return m_imeKey; }
    void SetImeKey(int key) { m_imeKey = key; }
    const char *GetTitle() const { return m_title; }

private:
    int InitSteps(int width, int height, int backgroundLoading);
    int InstallFileSystems();
    int InitialiseFreeImage();
    int SelectVideoMode();
    void StopGraphics();

    int m_initialised;
    HWND m_window;
    HINSTANCE m_instance;
    const char *m_title;                  // the caller's text, not copied
    int m_shadowSwitch;
    int m_textureQuality;
    float m_textureScale;
    int m_imageQuality;
    float m_imageScale;
    int m_worldLoading;
    int m_subSystem;
    int m_videoMode;
    CKivViewport *m_viewport;             // made by Init
    CKivViewport *m_currentViewport;
    CKivCamera *m_defaultCamera;          // "default2d", made by Init
    CKivCamera *m_currentCamera;
    CKivAlphaManager *m_alphaManager;
    CKivAlphaManager *m_currentAlphaManager;
    CKivAnimManager *m_animManager;
    CKivAnimManager *m_currentAnimManager;
    TextureLoader *m_textureLoader;
    CKivWorld *m_currentWorld;
    CKivSoundManager *m_soundManager;
    CKivGuiSystem *m_guiSystem;
    int m_packedArchive;
    CParcel *m_parcel;                    // main thread's reads
    CParcel *m_loaderParcel;              // the texture loader's reads
    int m_imeKey;
    int m_backgroundLoading;
    CRITICAL_SECTION m_renderLock;
    // Written by the holder only: the holder and its depth.
    volatile DWORD m_lockOwner;
    int m_lockDepth;
    // Engine calls in flight (any thread), and Shutdown's refusal of new ones.
    volatile LONG m_loads;
    volatile LONG m_stopping;
    // FreeImage counts its initialisations: Shutdown undoes as many as Init made.
    int m_freeImageInits;
    int m_quadBatch;                      // the 2D quad batch exists
    int m_resetHooks;                     // the driver's reset hooks are the engine's
};
