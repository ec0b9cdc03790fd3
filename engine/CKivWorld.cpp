// A named scene world: the graphics world of a ".bsp", its texture dictionary, and the clumps, cameras and lights placed in it.
#include "engine/CKivWorld.h"

#include <windows.h>

#include <cfloat>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "engine/CKivAlphaManager.h"
#include "archive/CParcel.h"
#include "engine/CKivBase.h"
#include "engine/KivEngineLock.h"
#include "engine/KivPreparedTextures.h"
#include "engine/CKivCamera.h"
#include "engine/CKivClump.h"
#include "engine/CKivEngineScriptBinder.h"
#include "engine/CKivLight.h"
#include "engine/CKivShadow.h"
#include "engine/CKivSoundManager.h"
#include "engine/CKivViewport.h"
#include "engine/KivDebug.h"
#include "engine/KivFileRead.h"
#include "engine/KivNames.h"
#include "engine/KivRenderState.h"
#include "engine/KivUserData.h"
#include "engine/TextureLoader.h"
#include "engine/gui/CKivGuiSystem.h"
#include "gfx/core/camera.h"
#include "gfx/core/frame.h"
#include "gfx/core/image.h"
#include "gfx/core/stream.h"
#include "gfx/core/texture.h"
#include "gfx/core/error.h"
#include "gfx/core/texturemodule.h"
#include "gfx/core/vector.h"
#include "gfx/plugins/worldquery/worldquery.h"
#include "gfx/world/clump.h"
#include "gfx/world/light.h"
#include "gfx/world/world.h"

namespace {

// A file read whole, as a memory stream positioned on the chunk.
struct ChunkFile {
    RwStream *stream = nullptr;
    ~ChunkFile()
    {
        if (stream)
            RwStreamClose(stream, nullptr);
    }
    int Open(const unsigned char *bytes, unsigned long size, RwUInt32 chunk)
    {
        RwMemory memory = {const_cast<unsigned char *>(bytes), static_cast<RwUInt32>(size)};
        stream = bytes ? RwStreamOpen(rwSTREAMMEMORY, rwSTREAMREAD, &memory) : nullptr;
        return stream && RwStreamFindChunk(stream, chunk, nullptr, nullptr);
    }
};

// Through the main archive; bytes stay empty when the file cannot be read.
void ReadWhole(const char *fileName, std::unique_ptr<unsigned char[]> &bytes, DWORD *size)
{
    CKivBase *base = CKivBase::GetInstance();
    KivReadWholeFile(base ? base->GetParcel() : nullptr, fileName, bytes, size);
}

struct PickState {
    float closest;
    RwAtomic *atomic;
    RwAtomic *testing;
};

RwCollisionTriangle *PickTriangle(RwIntersection *, RwCollisionTriangle *triangle, RwReal distance, void *data)
{
    PickState *state = static_cast<PickState *>(data);
    if (distance < state->closest) {
        state->closest = distance;
        state->atomic = state->testing;
    }
    return triangle;
}

RwAtomic *PickAtomic(RwIntersection *intersection, RwWorldSector *, RwAtomic *atomic, RwReal, void *data)
{
    if (RwParticleAtomicGetEmitter(atomic) || KivGeometryHasTransparentName(atomic->geometry))
        return atomic;
    PickState *state = static_cast<PickState *>(data);
    state->testing = atomic;
    RwAtomicForAllIntersections(atomic, intersection, PickTriangle, state);
    return atomic;
}

struct ShadowPass {
    CKivWorld *world;
    RwV3d eye;
    float limit;
};

RwClump *ShadowCallBack(RwClump *clump, void *data)
{
    RwClumpSetCallBack(clump, nullptr);
    const ShadowPass *pass = static_cast<const ShadowPass *>(data);
    RwV3d delta;
    RwV3dSub(&delta, &RwFrameGetWorldMatrix(RwClumpGetFrame(clump))->pos, &pass->eye);
    const float d = RwV3dLength(&delta);
    CKivClump *owner = CKivClump::FromClump(clump);
    CKivLight *light = pass->world->GetMainLight();
    if (d < pass->limit && owner && owner->GetShadow() && light) {
        owner->GetShadow()->Update(light);
        owner->GetShadow()->Render(pass->world->GetCamera(), (pass->limit - d) / pass->limit);
    }
    return clump;
}

} // namespace

CKivWorld::CKivWorld()
{
    Init(nullptr, 0);
}

CKivWorld::CKivWorld(const char *name)
{
    Init(name, 255);
}

void CKivWorld::Init(const char *name, RwUInt8 colour)
{
    m_name = KivObjectName(this, name);
    m_world = nullptr;
    m_dictionary = nullptr;
    m_camera = nullptr;
    m_alphaManager = nullptr;
    m_clearColour = m_fogColour = RwRGBA{colour, colour, colour, 255};
    m_clearImage = m_clearDepth = 1;
    m_fog = 0;
    m_mainLight = nullptr;
    m_shadowFactor = 0.4f;
}

CKivWorld::~CKivWorld()
{
    EngineLock lock;
    // Scripts may keep this world's userdata.
    CKivEngineScriptBinder::ForgetObject(this);
    RemoveAll();
}

// The files are read, and the pictures the world's textures name decoded,
// before the render lock is taken: frames go on meanwhile, and the lock
// covers making the graphics objects and tying them together.
// The dictionary and flag it sets are put back before the lock is left, so
// no other thread ever sees them.
int CKivWorld::Load(const char *worldFile, const char *dictionaryFile, const char *imagePath)
{
    EngineLoad load;
    if (load.Refused())
        return 0;
    std::unique_ptr<unsigned char[]> dictionaryBytes, worldBytes;
    DWORD dictionarySize = 0, worldSize = 0;
    int quality = 0;
    try {
        if (!m_dictionary && dictionaryFile)
            ReadWhole(DictionaryVariant(dictionaryFile, quality = DictionaryQuality()).c_str(), dictionaryBytes,
                     &dictionarySize);
    } catch (const std::bad_alloc &) {
        return 0;
    }
    if (worldFile)
        ReadWhole(worldFile, worldBytes, &worldSize);
    // Without a path of its own the load reads below whatever path is set
    // then: nothing to prepare for.
    KivPreparedTextures prepared;
    if (imagePath) {
        prepared.WantStream(worldBytes.get(), worldSize, imagePath, dictionaryBytes.get(), dictionarySize);
        prepared.Decode(m_dictionary, 0);
    }
    EngineLock lock;
    if (!m_alphaManager)
        m_alphaManager = new (std::nothrow) CKivAlphaManager;
    if (!m_alphaManager)
        return 0;
    if (imagePath && !RwImageSetPath(imagePath))
        return 0;
    if (!m_dictionary) {
        RwTextureDictionary *read = nullptr;
        try {
            read = ReadDictionary(dictionaryBytes.get(), dictionarySize);
            // Only a full-size dictionary read from that file may be written back
            // over it: never a reduced one, nor the empty one that stands in.
            if (read && quality == 0)
                m_dictionaryFile = dictionaryFile;
        } catch (const std::bad_alloc &) {
            if (read)
                RwTextureDictionaryDestroy(read);
            return 0;
        }
        m_dictionary = read;
        while (!m_dictionary) {
            m_dictionary = RwTextureDictionaryCreate();
            if (!m_dictionary)
                Sleep(1);
        }
    }
    if (!worldFile)
        return 1;
    CKivBase *base = CKivBase::GetInstance();
    RwTextureDictionary *previous = RwTextureDictionaryGetCurrent();
    RwTextureDictionarySetCurrent(m_dictionary);
    const int loading = base ? base->IsWorldLoading() : 0;
    if (base)
        base->SetWorldLoading(1);
    const int result = ReadWorld(worldBytes.get(), worldSize);
    if (base)
        base->SetWorldLoading(loading);
    RwTextureDictionarySetCurrent(previous);
    return result;
}

int CKivWorld::DictionaryQuality()
{
    CKivBase *base = CKivBase::GetInstance();
    return base ? base->GetTextureQuality() : 0;
}

std::string CKivWorld::DictionaryVariant(const char *fileName, int quality)
{
    // Quality 1 and 2 name the reduced dictionaries in place of the extension.
    std::string name(fileName);
    name.resize(name.size() >= 4 ? name.size() - 4 : 0);
    return name + (quality == 1 ? "_1.txd" : quality == 2 ? "_2.txd" : ".txd");
}

// The platform-independent form: the same file serves every device.
RwTextureDictionary *CKivWorld::ReadDictionary(const unsigned char *bytes, unsigned long size)
{
    ChunkFile file;
    return file.Open(bytes, size, rwID_PITEXDICTIONARY) ? RwPITextureDictionaryStreamRead(file.stream) : nullptr;
}

int CKivWorld::ReadWorld(const unsigned char *bytes, unsigned long size)
{
    ChunkFile file;
    RwWorld *world = file.Open(bytes, size, rwID_WORLD) ? RwWorldStreamRead(file.stream) : nullptr;
    if (!world)
        return 0;
    if (m_world) {
        MoveObjectsTo(world);
        RwWorldDestroy(m_world);
    }
    m_world = world;
    m_world->renderOrder = 1;
    if (RwLightmapWorldCountLightmaps(m_world) > 0)
        RwLightmapSetRenderStyle(3, m_world);
    return 1;
}

// The registered objects leave the old graphics world before it goes and
// join the one read in its place, so that none is left in a freed world.
void CKivWorld::MoveObjectsTo(RwWorld *world)
{
    for (CKivCamera *entry : m_cameras)
        if (RwCamera *camera = entry->GetCamera())
            if (RwCameraGetWorld(camera) == m_world)
                RwWorldRemoveCamera(m_world, camera);
    for (CKivClump *entry : m_clumps)
        if (RwClump *clump = entry->GetClump())
            if (RwClumpGetWorld(clump) == m_world)
                RwWorldRemoveClump(m_world, clump);
    for (CKivLight *entry : m_lights)
        if (RwLight *light = entry->GetLight())
            if (RwLightGetWorld(light) == m_world)
                RwWorldRemoveLight(m_world, light);
    // A clump brings its own cameras and lights along.
    for (CKivClump *entry : m_clumps)
        if (RwClump *clump = entry->GetClump())
            if (!RwClumpGetWorld(clump))
                RwWorldAddClump(world, clump);
    for (CKivCamera *entry : m_cameras)
        if (RwCamera *camera = entry->GetCamera())
            if (!RwCameraGetWorld(camera))
                RwWorldAddCamera(world, camera);
    for (CKivLight *entry : m_lights)
        if (RwLight *light = entry->GetLight())
            if (!RwLightGetWorld(light))
                RwWorldAddLight(world, light);
}

// Registries.

int CKivWorld::SetCamera(CKivCamera *camera)
{
    EngineLock lock;
    m_camera = camera;
    return 1;
}

int CKivWorld::SetCameraByName(const char *name)
{
    EngineLock lock;
    CKivCamera *camera = FindCamera(name);
    if (!camera)
        return 0;
    m_camera = camera;
    return 1;
}

// By each object's name as it is now; nothing is allocated.
template <typename T>
static T *Find(const std::vector<T *> &registry, const char *name)
{
    if (!name)
        return nullptr;
    for (T *object : registry) {
        if (KivIsObjectName(object->GetName(), name))
            return object;
    }
    return nullptr;
}

// By identity, whatever the object's name became; taking it out allocates
// nothing, as teardown needs. False when it was not registered.
template <typename T>
static bool Unregister(std::vector<T *> &registry, T *object)
{
    for (auto it = registry.begin(); it != registry.end(); ++it) {
        if (*it == object) {
            registry.erase(it);
            return true;
        }
    }
    return false;
}

// The entry comes first, so that memory running out changes nothing: 1, 0
// when the object or another of its name is there, -1 when memory runs out.
template <typename T>
static int Register(std::vector<T *> &registry, T *object)
{
    for (T *registered : registry) {
        if (registered == object || KivIsObjectName(registered->GetName(), object->GetName()))
            return 0;
    }
    try {
        registry.push_back(object);
    } catch (const std::bad_alloc &) {
        return -1;
    }
    return 1;
}

CKivClump *CKivWorld::FindClump(const char *name) const
{
    return Find(m_clumps, name);
}

CKivCamera *CKivWorld::FindCamera(const char *name) const
{
    return Find(m_cameras, name);
}

CKivLight *CKivWorld::FindLight(const char *name) const
{
    return Find(m_lights, name);
}

int CKivWorld::AddClump(CKivClump *clump)
{
    EngineLock lock;
    if (!clump)
        return 0;
    const int registered = Register(m_clumps, clump);
    if (registered <= 0) {
        if (registered == 0)
            KivDebugPrintf(">>>>>>>>>> You already added the clump(%s:%s) to the world(%s)!!!\n", clump->GetTypeName(),
                           clump->GetName(), m_name.c_str());
        return 0;
    }
    if (!m_world || !clump->GetClump() || !RwWorldAddClump(m_world, clump->GetClump())) {
        Unregister(m_clumps, clump);
        return 0;
    }
    clump->SetWorld(this);
    return 1;
}

int CKivWorld::RemoveClump(CKivClump *clump)
{
    EngineLock lock;
    if (!clump)
        return 0;
    if (!Unregister(m_clumps, clump)) {
        // Another object of its name may be registered: that one stays, unmentioned.
        if (!Find(m_clumps, clump->GetName()))
            KivDebugPrintf(">>>>>>>>>> You can't remove the clump(%s:%s). There isn't it in the world(%s)!!!\n",
                           clump->GetTypeName(), clump->GetName(), m_name.c_str());
        return 0;
    }
    clump->SetWorld(nullptr);
    return m_world && clump->GetClump() && RwWorldRemoveClump(m_world, clump->GetClump()) ? 1 : 0;
}

int CKivWorld::RemoveClumpByName(const char *name)
{
    CKivClump *clump = FindClump(name);
    return clump ? RemoveClump(clump) : 0;
}

int CKivWorld::AddCamera(CKivCamera *camera)
{
    EngineLock lock;
    if (!camera)
        return 0;
    const int registered = Register(m_cameras, camera);
    if (registered <= 0) {
        if (registered == 0)
            KivDebugPrintf(">>>>>>>>>> You already added the camera(%s) to the world(%s)!!!\n", camera->GetName(),
                           m_name.c_str());
        return 0;
    }
    if (!m_world || !camera->GetCamera() || !RwWorldAddCamera(m_world, camera->GetCamera())) {
        Unregister(m_cameras, camera);
        return 0;
    }
    // The graphics library moves a camera out of the world it was in: that
    // world lets go of it too, so that only one world ever points at it.
    if (camera->GetWorld() && camera->GetWorld() != this)
        camera->GetWorld()->ForgetCamera(camera);
    camera->SetWorld(this);
    return 1;
}

void CKivWorld::ForgetCamera(CKivCamera *camera)
{
    Unregister(m_cameras, camera);
    if (m_camera == camera)
        m_camera = nullptr;
}

int CKivWorld::RemoveCamera(CKivCamera *camera)
{
    EngineLock lock;
    if (!camera)
        return 0;
    if (!Unregister(m_cameras, camera)) {
        // Another object of its name may be registered: that one stays, unmentioned.
        if (!Find(m_cameras, camera->GetName()))
            KivDebugPrintf(">>>>>>>>>> You can't remove the camera(%s). There isn't it in the world(%s)!!!\n",
                           camera->GetName(), m_name.c_str());
        return 0;
    }
    if (m_camera == camera)
        m_camera = nullptr;
    camera->SetWorld(nullptr);
    return m_world && camera->GetCamera() && RwWorldRemoveCamera(m_world, camera->GetCamera()) ? 1 : 0;
}

int CKivWorld::RemoveCameraByName(const char *name)
{
    CKivCamera *camera = FindCamera(name);
    return camera ? RemoveCamera(camera) : 0;
}

int CKivWorld::AddLight(CKivLight *light)
{
    EngineLock lock;
    if (!light)
        return 0;
    const int registered = Register(m_lights, light);
    if (registered <= 0) {
        if (registered == 0)
            KivDebugPrintf(">>>>>>>>>> You already added the light(%s) to the world(%s)!!!\n", light->GetName(),
                           m_name.c_str());
        return 0;
    }
    if (!m_world || !light->GetLight() || !RwWorldAddLight(m_world, light->GetLight())) {
        Unregister(m_lights, light);
        return 0;
    }
    if (RwLightGetType(light->GetLight()) == 1)
        m_mainLight = light;
    light->SetWorld(this);
    return 1;
}

int CKivWorld::RemoveLight(CKivLight *light)
{
    EngineLock lock;
    if (!light)
        return 0;
    if (!Unregister(m_lights, light)) {
        // Another object of its name may be registered: that one stays, unmentioned.
        if (!Find(m_lights, light->GetName()))
            KivDebugPrintf(">>>>>>>>>> You can't remove the light(%s). There isn't it in the world(%s)!!!\n",
                           light->GetName(), m_name.c_str());
        return 0;
    }
    if (m_mainLight == light)
        m_mainLight = nullptr;
    light->SetWorld(nullptr);
    return m_world && light->GetLight() && RwWorldRemoveLight(m_world, light->GetLight()) ? 1 : 0;
}

int CKivWorld::RemoveLightByName(const char *name)
{
    CKivLight *light = FindLight(name);
    return light ? RemoveLight(light) : 0;
}

void CKivWorld::RemoveAll()
{
    // The whole teardown under the render lock: no frame syncs the ties of
    // atomics leaving the world.
    EngineLock lock;
    // Forgotten objects are taken out before the graphics world goes.
    for (CKivCamera *camera : m_cameras)
        KivDebugPrintf(">>>>>>>>>> You must remove the camera(%s) from the world(%s)!!!\n", camera->GetName(),
                       m_name.c_str());
    for (CKivClump *clump : m_clumps)
        KivDebugPrintf(">>>>>>>>>> You must remove the clump(%s:%s) from the world(%s)!!!\n", clump->GetTypeName(),
                       clump->GetName(), m_name.c_str());
    for (CKivLight *light : m_lights)
        KivDebugPrintf(">>>>>>>>>> You must remove the light(%s) from the world(%s)!!!\n", light->GetName(),
                       m_name.c_str());
    // Each removal takes its entry out, whatever the object is named now.
    while (!m_cameras.empty())
        RemoveCamera(m_cameras.back());
    while (!m_clumps.empty())
        RemoveClump(m_clumps.back());
    while (!m_lights.empty())
        RemoveLight(m_lights.back());
    m_camera = nullptr;
    CKivBase *base = CKivBase::GetInstance();
    if (base && base->GetSoundManager() && base->GetSoundManager()->GetWorld() == this)
        base->GetSoundManager()->SetWorld(nullptr);
    {
        // Under the render lock the loader's worker cannot be between its
        // check of the dictionary and its raster swap.
        EngineLock lock;
        if (base && base->GetTextureLoader() && m_dictionary)
            base->GetTextureLoader()->Cancel(m_dictionary);
        if (m_world)
            RwWorldDestroy(m_world);
        m_world = nullptr;
        if (m_dictionary) {
            if (RwTextureDictionaryGetCurrent() == m_dictionary)
                RwTextureDictionarySetCurrent(nullptr);
            RwTextureDictionaryDestroy(m_dictionary);
        }
        m_dictionary = nullptr;
    }
    if (base && m_alphaManager && base->GetAlphaManager() == m_alphaManager)
        base->SetAlphaManager(base->GetOwnAlphaManager());
    delete m_alphaManager;
    m_alphaManager = nullptr;
}

// Rendering.

int CKivWorld::Render()
{
    // A frame drawn outside the game's own Lock still keeps loading threads out.
    EngineLock lock;
    RwCamera *camera = m_camera ? m_camera->GetCamera() : nullptr;
    if (!camera)
        return 1;
    CKivBase *base = CKivBase::GetInstance();
    CKivViewport *viewport = m_camera->GetViewport();
    if (m_camera->GetRenderToTexture() && viewport && viewport->GetTextureRaster())
        RwCameraSetRaster(camera, viewport->GetTextureRaster());
    const int clearMode = (m_clearImage ? 1 : 0) | (m_clearDepth ? 2 : 0);
    if (clearMode)
        RwCameraClear(camera, &m_clearColour, clearMode);
    const RwUInt32 fogColour = static_cast<RwUInt32>(m_fogColour.alpha) << 24 |
                               static_cast<RwUInt32>(m_fogColour.red) << 16 |
                               static_cast<RwUInt32>(m_fogColour.green) << 8 | m_fogColour.blue;
    // Entries queued outside a pass of this world may point at atomics gone since.
    if (m_alphaManager)
        m_alphaManager->Clear();
    if (RwCameraBeginUpdate(camera)) {
        KivSetState(rwRENDERSTATECULLMODE, 2);
        KivSetState(rwRENDERSTATEZWRITEENABLE, 0);
        KivSetState(rwRENDERSTATEZTESTENABLE, 0);
        KivSetState(rwRENDERSTATESHADEMODE, 1);
        if (m_fog) {
            KivSetState(rwRENDERSTATEFOGENABLE, 1);
            KivSetState(rwRENDERSTATEFOGTYPE, 1);
            KivSetState(rwRENDERSTATEFOGCOLOR, fogColour);
        }
        KivSetState(rwRENDERSTATEZWRITEENABLE, 1);
        KivSetState(rwRENDERSTATEZTESTENABLE, 1);
        KivSetState(rwRENDERSTATESHADEMODE, 2);
        KivSetState(rwRENDERSTATESRCBLEND, 5);
        KivSetState(rwRENDERSTATEDESTBLEND, 6);
        KivSetState(rwRENDERSTATEALPHATESTFUNCTION, 5);
        KivSetState(rwRENDERSTATEALPHATESTFUNCTIONREF, 200);
        if (base && m_alphaManager)
            base->SetAlphaManager(m_alphaManager);
        if (m_world)
            RwWorldRender(m_world);
        KivSetState(rwRENDERSTATEALPHATESTFUNCTION, 5);
        KivSetState(rwRENDERSTATEALPHATESTFUNCTIONREF, 200);
        if (m_fog)
            KivSetState(rwRENDERSTATEFOGENABLE, 0);
        RwCameraEndUpdate(camera);
    }
    KivSetState(rwRENDERSTATEALPHATESTFUNCTION, 5);
    KivSetState(rwRENDERSTATEALPHATESTFUNCTIONREF, 0);
    if (!base || base->GetShadowSwitch())
        RenderShadows();
    if (m_alphaManager && RwCameraBeginUpdate(camera)) {
        if (m_fog) {
            KivSetState(rwRENDERSTATEFOGENABLE, 1);
            KivSetState(rwRENDERSTATEFOGTYPE, 1);
            KivSetState(rwRENDERSTATEFOGCOLOR, fogColour);
        }
        KivSetState(rwRENDERSTATEZWRITEENABLE, 0);
        m_alphaManager->Render(1);
        KivSetState(rwRENDERSTATEZWRITEENABLE, 1);
        if (m_fog)
            KivSetState(rwRENDERSTATEFOGENABLE, 0);
        RwCameraEndUpdate(camera);
    }
    if (m_alphaManager)
        m_alphaManager->Clear();
    m_camera->DrawAfterImage();
    return 1;
}

void CKivWorld::RenderShadows()
{
    RwCamera *camera = m_camera->GetCamera();
    if (!m_world || !RwCameraGetFrame(camera))
        return;
    bool any = false;
    for (CKivClump *clump : m_clumps) {
        if (clump->GetShadow() && clump->GetShadowEnabled() && clump->GetClump()) {
            RwClumpSetCallBack(clump->GetClump(), ShadowCallBack);
            any = true;
        }
    }
    if (!any)
        return;
    ShadowPass pass = {this, RwFrameGetWorldMatrix(RwCameraGetFrame(camera))->pos,
                       m_camera->GetFarClip() * m_shadowFactor};
    RwCameraForAllClumpsInFrustum(camera, &pass);
    // Clumps outside the frustum keep no stale callback.
    for (CKivClump *clump : m_clumps) {
        if (clump->GetClump())
            RwClumpSetCallBack(clump->GetClump(), nullptr);
    }
}

CKivClump *CKivWorld::PickClump(int x, int y)
{
    // A click that the GUI owns never reaches the world behind it.
    if (CKivGuiSystem *gui = CKivGuiSystem::GetInstance()) {
        if (gui->FindDialogAt() || gui->HasOpenDialogOfKind(1) || gui->HasOpenDialogOfKind(3) ||
            gui->IsMouseBlocked() == 1)
            return nullptr;
    }
    RwCamera *camera = m_camera ? m_camera->GetCamera() : nullptr;
    if (!camera || !m_world)
        return nullptr;
    RwIntersection intersection = {};
    const RwV2d pixel = {static_cast<RwReal>(x), static_cast<RwReal>(y)};
    if (!RwCameraComputePixelRay(camera, &intersection.t.line, &pixel))
        return nullptr;
    intersection.type = rwINTERSECTLINE;
    PickState state = {1e8f, nullptr, nullptr};
    RwWorldForAllAtomicIntersections(m_world, &intersection, PickAtomic, &state);
    if (!state.atomic || !state.atomic->clump)
        return nullptr;
    for (CKivClump *clump : m_clumps) {
        if (clump->GetClump() == state.atomic->clump)
            return clump;
    }
    return nullptr;
}
