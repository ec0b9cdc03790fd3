// Engine root: construction, singleton slot, Init and Shutdown cycles, file systems, archives, frames.
#include "engine_host.h"

#include "support/failnew/fail_new_sweep.h"
#include "support/failnew/malloc_probe.h"
#include "sample/avatar_data.h"
#include "sample/sample_data.h"
#include "sample/engine_scene.h"

#include <FreeImage.h>
#include <lua.hpp>
#include <png.h>
#include <zlib.h>

#include <cmath>
#include <set>

#include "engine/CKivAvatar.h"
#include "engine/CKivCamera.h"
#include "engine/CKivClump.h"
#include "engine/CKivEngineScriptBinder.h"
#include "engine/CKivSoundManager.h"
#include "engine/CKivViewport.h"
#include "engine/CKivWorld.h"
#include "engine/KivEngineLock.h"
#include "evsound/evsound.h"
#include "gfx/core/camera.h"
#include "gfx/core/engine.h"
#include "gfx/core/filesys.h"
#include "gfx/core/frame.h"
#include "gfx/core/image.h"
#include "gfx/core/raster.h"
#include "gfx/core/texture.h"
#include "gfx/plugins/toolkit2d/toolkit2d.h"

namespace {

const char kObjectFirstLine[] = "\xbe\xf8\xb4\xc2 \xbf\xc0\xba\xea\xc1\xa7\xc6\xae\r\n";

TEST(EngineRoot, ConstructionTruncatesTheMissingFileListsAndFillsTheSlot)
{
    WriteFileBytes("Texture.txt", "old\n");
    WriteFileBytes("Object.txt", "old\n");
    EXPECT_EQ(nullptr, CKivBase::GetInstance());
    CKivBase *base = new CKivBase;
    EXPECT_EQ(base, CKivBase::GetInstance());
    EXPECT_EQ("TEXTURE\r\n", ReadFileBytes("Texture.txt"));
    EXPECT_EQ(kObjectFirstLine, ReadFileBytes("Object.txt"));
    EXPECT_EQ(0, base->RenderWorld());   // nothing to render before Init

    delete base;
    EXPECT_EQ(nullptr, CKivBase::GetInstance());
}

TEST(EngineRoot, InitAndShutdownTwiceInOneProcess)
{
    for (int round = 0; round < 2; round++) {
        CKivBase *base = new CKivBase;
        ASSERT_EQ(1, InitHost(base)) << round;
        EXPECT_EQ(1, base->IsInitialised());
        EXPECT_EQ(rwENGINESTATUSSTARTED, RwEngineGetStatus());
        for (RwUInt32 plugin : {0x505u, 0x507u, 0x120u, 0x135u, 0x11Du, 0x12Au, 0x114u, 0x1B7u, 0x11Eu, 0x116u, 0x10Cu,
                                0x12Eu, 0x11Fu, 0x12Fu, 0x130u, 0x132u})
            EXPECT_GE(RwEngineGetPluginOffset(plugin), 0) << std::hex << plugin;
        EXPECT_GE(RwFrameGetPluginOffset(0x137), 0);   // the 32-bit value rides on objects only

        // Wine gives drives C: and Z:; the tests run on Z:.
        for (const char *name : {"unc", "C", "Z"})
            EXPECT_NE(nullptr, RwFileSystemFindByName(name)) << name;
        EXPECT_EQ(nullptr, RwFileSystemFindByName("A"));
        ASSERT_NE(nullptr, RwFileSystemGetDefault());
        EXPECT_STREQ("Z", RwFileSystemGetDefault()->name);

        CKivViewport *viewport = base->GetViewport();
        ASSERT_NE(nullptr, viewport);
        EXPECT_EQ(1024, viewport->GetWidth());
        EXPECT_FLOAT_EQ(0.75f, viewport->GetAspect());
        EXPECT_NE(nullptr, viewport->GetTextureRaster());
        CKivCamera *camera = base->GetDefaultCamera();
        ASSERT_NE(nullptr, camera);
        EXPECT_EQ(camera, base->GetCamera());
        EXPECT_STREQ("default2d", camera->GetName());
        RwCamera *rw = camera->GetCamera();
        EXPECT_EQ(rwPARALLEL, rw->projectionType);
        EXPECT_FLOAT_EQ(1.0f, rw->viewWindow.x);
        EXPECT_FLOAT_EQ(1.0f, rw->viewWindow.y);
        EXPECT_EQ(viewport->GetRaster(), rw->frameBuffer);
        EXPECT_EQ(viewport->GetZRaster(), rw->zBuffer);
        EXPECT_EQ(rw, Rw2dDeviceGetCamera());
        RwReal metric[4];
        ASSERT_TRUE(Rw2dDeviceGetMetric(&metric[0], &metric[1], &metric[2], &metric[3]));
        EXPECT_EQ(0.0f, metric[0]);
        EXPECT_EQ(768.0f, metric[3]);
        EXPECT_EQ(1024.0f, metric[2]);
        EXPECT_NE(base->GetParcel(), base->GetLoaderParcel());
        EXPECT_NE(nullptr, base->GetAnimManager());

        for (int frame = 0; frame < 3; frame++) {
            base->Lock();
            ASSERT_EQ(1, camera->BeginUpdate());
            EXPECT_EQ(0, base->RenderWorld());
            EXPECT_EQ(1, camera->EndUpdate());
            base->Unlock();
            base->Present();
        }
        EXPECT_EQ(0, base->Update(0.016f));

        EXPECT_EQ(1, base->Shutdown());
        EXPECT_EQ(rwENGINESTATUSIDLE, RwEngineGetStatus());
        EXPECT_EQ(nullptr, base->GetDefaultCamera());
        EXPECT_EQ(nullptr, base->GetViewport());
        EXPECT_EQ(nullptr, base->GetParcel());
        EXPECT_EQ(nullptr, base->GetAnimManager());
        EXPECT_EQ(nullptr, Rw2dDeviceGetCamera());
        EXPECT_EQ(1, base->Shutdown());   // nothing left: still harmless
        delete base;
    }
}

// Refuses the step that a test names; the rest as the engine root does it.
class FailingBase : public CKivBase {
public:
    explicit FailingBase(int step) : m_step(step) {}
    void SetStep(int step) { m_step = step; }
    int AttachPlugins() override { return m_step == 3 ? 0 : CKivBase::AttachPlugins(); }
    int RegisterImageFormats() override { return m_step == 9 ? 0 : CKivBase::RegisterImageFormats(); }

private:
    int m_step;
};

// A failed Init leaves nothing behind: the library is back to idle, its file
// systems closed, and the same object starts again from scratch. Step 3 fails
// with the library initialised; step 9 with it open, started and its file
// systems mounted; step 12 with a viewport wider than any raster the device
// makes, after the 2D quad batch and FreeImage.
TEST(EngineRoot, AFailedInitUndoesItsStepsAndCanRunAgain)
{
    for (int step : {3, 9, 12}) {
        FailingBase *base = new FailingBase(step);
        const int width = step == 12 ? 0x10000 : 1024;
        EXPECT_EQ(0, base->Init(HostWindow(), GetModuleHandleA(nullptr), width, 768, "kiv test", 0, 0)) << step;
        EXPECT_EQ(0, base->IsInitialised());
        EXPECT_EQ(rwENGINESTATUSIDLE, RwEngineGetStatus()) << step;
        EXPECT_EQ(nullptr, base->GetViewport());
        EXPECT_EQ(nullptr, base->GetDefaultCamera());
        EXPECT_EQ(1, base->Shutdown());   // still harmless
        base->SetStep(0);
        ASSERT_EQ(1, InitHost(base)) << step;
        ASSERT_NE(nullptr, RwFileSystemGetDefault());
        EXPECT_STREQ("Z", RwFileSystemGetDefault()->name);
        EXPECT_EQ(1, base->Shutdown());
        EXPECT_EQ(rwENGINESTATUSIDLE, RwEngineGetStatus());
        delete base;
    }
}

// Fails the step a test names once that step has run, and from then on
// gives Init no memory: the undo must do without.
class StepFailingBase : public CKivBase {
public:
    int InitStep(int step, int width, int height, int backgroundLoading) override
    {
        const int done = CKivBase::InitStep(step, width, height, backgroundLoading);
        if (step != failAt)
            return done;
        FailNewBegin(0, true);
        return 0;
    }
    int failAt = -1;
};

// An Init failing at any of its steps, with the undo out of memory, leaves
// the library idle and nothing allocated; the next Init (with the background
// loader) runs whole.
TEST(EngineRoot, AnInitFailingAtAnyStepIsUndoneWithoutMemory)
{
    ASSERT_TRUE(KivSampleWriteSound());
    StepFailingBase *base = new StepFailingBase;
    const auto init = [base] { return base->Init(HostWindow(), GetModuleHandleA(nullptr), 1024, 768, "kiv test", 0, 1); };
    // The first start of a process makes FreeImage's lasting tables.
    ASSERT_EQ(1, init());
    EXPECT_EQ(1, base->Shutdown());
    const long heap = KivLiveHeapBlocks(), blocks = MallocProbeLive();
    for (int step = 0; step < CKivBase::kInitSteps; step++) {
        base->failAt = step;
        const int initialised = init();
        FailNewEnd();
        EXPECT_EQ(0, initialised) << step;
        EXPECT_EQ(0, base->IsInitialised()) << step;
        EXPECT_EQ(rwENGINESTATUSIDLE, RwEngineGetStatus()) << step;
        EXPECT_EQ(nullptr, CKivBase::GetScriptBinder()) << step;
        EXPECT_EQ(nullptr, base->GetSoundManager()) << step;
        EXPECT_EQ(heap, KivLiveHeapBlocks()) << step;
        EXPECT_EQ(blocks, MallocProbeLive()) << step;
    }
    base->failAt = -1;
    ASSERT_EQ(1, init());
    EXPECT_NE(nullptr, base->GetTextureLoader());
    EXPECT_NE(nullptr, CKivBase::GetScriptBinder());
    EXPECT_EQ(1, base->Shutdown());
    delete base;
    DeleteFileA("Data/sound/sound.fev");
}

// Learns, in a start given all the memory it asks for, where each step of Init begins.
class StepCountingBase : public CKivBase {
public:
    int InitStep(int step, int width, int height, int backgroundLoading) override
    {
        starts[step] = FailNewGranted();
        return CKivBase::InitStep(step, width, height, backgroundLoading);
    }
    long starts[kInitSteps] = {};
};

// Memory running out inside Init (operator new and malloc alike, the sound
// project present so that its manager starts): nothing is thrown; Init gives
// 0 with its steps undone (the library idle, no script binder), or 1 without
// sound or scripts; and the next Init runs on from scratch. Every allocation
// before the device is swept, then each later step at its first allocation,
// and the sound manager's step at every fifth (its own sweep is the sound
// manager's test).
TEST(EngineRoot, InitOutOfMemoryFailsWholeAndRunsAgain)
{
    ASSERT_TRUE(KivSampleWriteSound());
    StepCountingBase *base = new StepCountingBase;
    // The first start of a process makes FreeImage's lasting tables: counted from the second.
    long total = 0;
    for (int round = 0; round < 2; round++) {
        FailNewAfter(0x7FFFFFFF);
        ASSERT_EQ(1, InitHost(base));
        total = FailNewGranted();
        FailNewEnd();
        ASSERT_NE(nullptr, base->GetSoundManager());
        EXPECT_EQ(1, base->GetSoundManager()->IsInitialised());
        EXPECT_EQ(1, base->Shutdown());
    }
    const int deviceStep = 3, soundStep = 15;
    std::set<long> points;
    for (long n = 0; n <= base->starts[deviceStep]; n++)
        points.insert(n);
    for (long start : base->starts)
        points.insert(start);
    for (long n = base->starts[soundStep]; n < base->starts[soundStep + 1]; n += 5)
        points.insert(n);
    for (long n = 0; FailNewFullSweeps() && n < total; n++)
        points.insert(n);
    points.erase(points.lower_bound(total), points.end());
    const long heap = KivLiveHeapBlocks(), blocks = MallocProbeLive();
    for (long n : points) {
        int initialised = -1;
        FailNewAfter(n);
        try {
            initialised = InitHost(base);
        } catch (...) {
            initialised = -2;
        }
        const long refused = FailNewRefused();
        FailNewEnd();
        ASSERT_GE(initialised, 0) << "thrown after " << n << " allocations";
        EXPECT_NE(0, refused) << n;
        // Sound and scripts may be left out; the game runs on without them.
        if (initialised) {
            EXPECT_EQ(1, base->Shutdown());
        }
        EXPECT_EQ(heap, KivLiveHeapBlocks()) << "after " << n;
        EXPECT_EQ(blocks, MallocProbeLive()) << "after " << n;
        if (initialised)
            continue;
        EXPECT_EQ(0, base->IsInitialised());
        EXPECT_EQ(rwENGINESTATUSIDLE, RwEngineGetStatus()) << "after " << n;
        EXPECT_EQ(nullptr, CKivBase::GetScriptBinder());
    }
    EXPECT_LT(20u, points.size());
    ASSERT_EQ(1, InitHost(base));
    ASSERT_NE(nullptr, base->GetSoundManager());
    EXPECT_EQ(1, base->GetSoundManager()->IsInitialised());
    ASSERT_NE(nullptr, CKivBase::GetScriptBinder());
    EXPECT_NE(nullptr, CKivBase::GetScriptBinder()->GetState());
    EXPECT_EQ(1, base->Shutdown());
    delete base;
    DeleteFileA("Data/sound/sound.fev");
}

// Shutdown with no memory at all takes everything down (the library's
// teardown needs none; scripts' last clean-up does without), and the next
// Init starts afresh.
TEST(EngineRoot, ShutdownWithoutMemoryLeavesAnEngineThatStartsAgain)
{
    CKivBase *base = new CKivBase;
    ASSERT_EQ(1, InitHost(base));
    EXPECT_EQ(1, base->Shutdown());
    const long heap = KivLiveHeapBlocks(), blocks = MallocProbeLive();
    for (int round = 0; round < 3; round++) {
        ASSERT_EQ(1, InitHost(base)) << round;
        FailNewBegin(0, true);
        EXPECT_EQ(1, base->Shutdown());
        FailNewEnd();
        EXPECT_EQ(rwENGINESTATUSIDLE, RwEngineGetStatus());
        EXPECT_EQ(heap, KivLiveHeapBlocks()) << round;
        EXPECT_EQ(blocks, MallocProbeLive()) << round;
    }
    ASSERT_EQ(1, InitHost(base));
    EXPECT_GE(RwEngineGetPluginOffset(0x116), 0);
    EXPECT_EQ(1, base->Shutdown());
    delete base;
}

// FreeImage's start, run out of memory at each of its allocations, leaves
// nothing behind once it is undone, and throws nothing.
TEST(EngineRoot, FreeImageStartOutOfMemoryLeaksNothing)
{
    FreeImage_Initialise(FALSE);
    FreeImage_DeInitialise();
    const long heap = KivLiveHeapBlocks(), blocks = MallocProbeLive();
    FailNewSweep("FreeImage_Initialise", [] {
        FreeImage_Initialise(FALSE);
        FreeImage_DeInitialise();
    });
    EXPECT_EQ(heap, KivLiveHeapBlocks());
    EXPECT_EQ(blocks, MallocProbeLive());
}

// With memory out every library the engine links gets none, through whichever
// C runtime call it asks with; a block that shrinks keeps its memory.
TEST(EngineRoot, MemoryRunningOutReachesEveryLibrary)
{
    CKivBase *base = new CKivBase;
    ASSERT_EQ(1, InitHost(base));
    char *block = static_cast<char *>(malloc(64));
    ASSERT_NE(nullptr, block);
    FailNewBegin(0, true);
    void *made[] = {malloc(8), calloc(2, 8), realloc(nullptr, 8), RwMalloc(8, 0), luaL_newstate(),
                    FreeImage_Allocate(4, 4, 32), png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr)};
    char *grown = static_cast<char *>(realloc(block, 4096));
    char *shrunk = static_cast<char *>(realloc(grown ? grown : block, 16));
    z_stream stream = {};
    const int zlib = deflateInit(&stream, 9);
    EvsSystem *sound = nullptr;
    const EvsResult created = EvsSystemCreate(&sound);
    FailNewEnd();
    for (void *object : made)
        EXPECT_EQ(nullptr, object);
    EXPECT_EQ(nullptr, grown);
    EXPECT_NE(nullptr, shrunk);
    EXPECT_EQ(Z_MEM_ERROR, zlib);
    EXPECT_NE(EVS_OK, created);
    EXPECT_EQ(nullptr, sound);
    free(shrunk ? shrunk : grown ? grown : block);
    EXPECT_EQ(1, base->Shutdown());
    delete base;
}

TEST(EngineRoot, PackedArchiveGivesTheTexturesOfLooseFiles)
{
    const std::string png = ReadFileBytes("data/png/basn6a08.png");
    ASSERT_NE("<missing>", png);
    DeleteFileA("data.pcl");

    // Flag 1 without "data.pcl": Init succeeds, every file is missing, and no
    // archive is created.
    CKivBase *base = new CKivBase;
    ASSERT_EQ(1, InitHost(base, 1));
    EXPECT_EQ(1, base->IsPackedArchive());
    EXPECT_EQ(nullptr, base->ReadTexture("basn6a08", "data/png/"));
    base->Shutdown();
    delete base;
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("data.pcl"));

    WritePackedFile("tex\\packed.png", png);
    WriteFileBytes("tex/packed.png", png);

    std::vector<RwUInt8> pixels[2];
    for (int packed = 1; packed >= 0; packed--) {
        base = new CKivBase;
        ASSERT_EQ(1, InitHost(base, packed));
        if (packed)
            DeleteFileA("tex/packed.png");   // the archive alone serves it
        RwTexture *texture = base->ReadTexture("packed", "tex\\");
        ASSERT_NE(nullptr, texture) << packed;
        pixels[packed] = RasterPixels(RwTextureGetRaster(texture));
        base->Shutdown();
        delete base;
        WriteFileBytes("tex/packed.png", png);
    }
    EXPECT_EQ(pixels[0], pixels[1]);
    EXPECT_EQ(32u * 32u * 4u, pixels[0].size());
}

DWORD WINAPI TakeAndLeaveTheRenderLock(void *base)
{
    static_cast<CKivBase *>(base)->Lock();
    static_cast<CKivBase *>(base)->Unlock();
    return 0;
}

TEST(EngineRoot, MemoryRunningOutInTheArchiveIsAMissedTextureNotAHeldLock)
{
    const std::string png = ReadFileBytes("data/png/basn6a08.png");
    ASSERT_NE("<missing>", png);
    WritePackedFile("tex\\outofmemory.png", png);
    CKivBase *base = new CKivBase;
    ASSERT_EQ(1, InitHost(base, 1));
    RwTexture *texture = reinterpret_cast<RwTexture *>(1);
    FailNewBegin(0);
    bool threw = false;
    try {
        texture = base->ReadTexture("outofmemory", "tex\\");
    } catch (...) {
        threw = true;
    }
    FailNewEnd();
    EXPECT_FALSE(threw);
    EXPECT_EQ(nullptr, texture);
    // Another thread can still take the render lock.
    HANDLE thread = CreateThread(nullptr, 0, TakeAndLeaveTheRenderLock, base, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 5000));
    CloseHandle(thread);
    texture = base->ReadTexture("outofmemory", "tex\\");
    EXPECT_NE(nullptr, texture) << "the same read succeeds with memory to spare";
    if (texture)
        RwTextureDestroy(texture);
    base->Shutdown();
    delete base;
    DeleteFileA("data.pcl");
}

struct GroundLoad {
    CKivWorld *world;
    int result;
};

DWORD WINAPI LoadGround(void *data)
{
    GroundLoad *load = static_cast<GroundLoad *>(data);
    // Without an image path of its own the picture is decoded under the
    // load's hold, which keeps the world-loading flag up long enough to be seen.
    load->result = load->world->Load("stopping/world.bsp", nullptr, nullptr);
    return 0;
}

// A started engine and the files of a world, its ground picture of the size
// given and a model.
CKivBase *StartWithFilesToLoad(int groundSize)
{
    WriteFileBytes("stopping/ground.png", GradientPng(groundSize, groundSize));
    WriteFileBytes("stopping/world.bsp", KivTestGround(10.0f, 0.0f, 5.0f, 1, 1, true, "ground"));
    CKivBase *base = new CKivBase;
    if (InitHost(base) != 1)
        return base;
    WriteFileBytes("stopping/spine.dff", KivTestModel({KivTestBodyPart("spine", "spine", {0, 1, 0})}));
    return base;
}

// Shutdown while a world loads on another thread waits for that load to end
// whole; a load begun after it is refused and touches nothing.
TEST(EngineRoot, ShutdownDuringALoadWaitsForItAndRefusesLaterLoads)
{
    CKivBase *base = StartWithFilesToLoad(1024);
    ASSERT_TRUE(base->IsInitialised());
    {
        CKivClump early;
        EXPECT_EQ(1, early.Load("stopping/spine.dff", "stopping/"));
    }
    RwImageSetPath("stopping/");
    GroundLoad load = {new CKivWorld("stopping"), -1};
    HANDLE loader = CreateThread(nullptr, 102400, LoadGround, &load, 0, nullptr);
    bool seen = false;
    for (DWORD start = GetTickCount(); !seen && GetTickCount() - start < 5000; SwitchToThread())
        seen = base->IsWorldLoading() != 0;
    EXPECT_TRUE(seen);
    EXPECT_EQ(1, base->Shutdown());
    EXPECT_EQ(1, load.result) << "Shutdown went on before the load ended";
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(loader, 10000));
    CloseHandle(loader);
    CKivWorld *late = new CKivWorld("late");
    EXPECT_EQ(0, late->Load("stopping/world.bsp", nullptr, "stopping/"));
    EXPECT_EQ(nullptr, base->ReadTexture("ground", "stopping/"));
    {
        CKivClump lateModel;
        EXPECT_EQ(0, lateModel.Load("stopping/spine.dff", "stopping/"));
    }
    {
        CKivAvatar lateAvatar;
        EXPECT_EQ(0, lateAvatar.Create(1, 1, 1));
    }
    delete late;
    // The loaded world's objects went with the library.
    delete base;
}

// A thread with a call of its own in flight when Shutdown begins; the calls
// it makes once Shutdown waits for it, while the archive and the library
// are still up.
struct Straggler {
    HANDLE ready;
    int model, world;
    RwTexture *texture;
    int refsAfterRelease, keptByDictionary;   // of a texture read before Shutdown began
};

// The texture's references, and whether the current dictionary holds it.
void LookAt(RwTexture *texture, int *refs, int *kept)
{
    CKivBase *base = CKivBase::GetInstance();
    base->Lock();
    RwTextureDictionary *dict = RwTextureDictionaryGetCurrent();
    *refs = texture->refCount;
    *kept = dict && RwTextureDictionaryFindTexture(dict, "held") == texture;
    base->Unlock();
}

DWORD WINAPI CallWhileStopping(void *data)
{
    Straggler *s = static_cast<Straggler *>(data);
    EngineLoad held;
    CKivBase *base = CKivBase::GetInstance();
    RwTexture *kept = base->ReadTexture("held", "stopping/");
    if (!kept) {
        SetEvent(s->ready);
        return 3;
    }
    base->Lock();
    RwTextureAddRef(kept);   // three references: whatever a late call drops, it stays readable
    RwTextureAddRef(kept);
    base->Unlock();
    SetEvent(s->ready);
    bool stopping = false;
    for (DWORD start = GetTickCount(); !stopping && GetTickCount() - start < 5000; SwitchToThread()) {
        EngineLoad probe;
        stopping = probe.Refused() != 0;
    }
    if (!stopping)
        return 1;
    {
        CKivClump model;
        s->model = model.Load("stopping/spine.dff", "stopping/");
    }
    CKivWorld *world = new CKivWorld("straggler");
    s->world = world->Load("stopping/world.bsp", nullptr, "stopping/");
    delete world;
    s->texture = base->ReadTexture("ground", "stopping/");
    int inDictionary = 0;
    base->ReleaseTexture("held");
    LookAt(kept, &s->refsAfterRelease, &inDictionary);
    base->Lock();
    RwTextureDictionary *dict = RwTextureDictionaryGetCurrent();
    base->Unlock();
    base->DestroyDictionaryTextures(dict);
    int refs = 0;
    LookAt(kept, &refs, &s->keptByDictionary);
    base->Lock();
    for (; refs > 0; refs--)
        RwTextureDestroy(kept);
    base->Unlock();
    return 0;
}

// Calls begun after Shutdown started are refused even while their files
// could still be read: none loads anything, and none releases a texture.
TEST(EngineRoot, CallsBegunWhileShutdownWaitsAreRefused)
{
    CKivBase *base = StartWithFilesToLoad(16);
    ASSERT_TRUE(base->IsInitialised());
    WriteFileBytes("stopping/held.png", GradientPng(4, 4));
    Straggler s = {CreateEventA(nullptr, TRUE, FALSE, nullptr), -1, -1, reinterpret_cast<RwTexture *>(1), -1, -1};
    HANDLE thread = CreateThread(nullptr, 102400, CallWhileStopping, &s, 0, nullptr);
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(s.ready, 5000));
    EXPECT_EQ(1, base->Shutdown());
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(thread, 10000));
    DWORD code = 2;
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(0u, code) << "Shutdown never began (1) or the texture was not read (3)";
    CloseHandle(thread);
    CloseHandle(s.ready);
    EXPECT_EQ(0, s.model);
    EXPECT_EQ(0, s.world);
    EXPECT_EQ(nullptr, s.texture);
    // Releasing a texture, or a dictionary's textures, is refused as well.
    EXPECT_EQ(3, s.refsAfterRelease);
    EXPECT_EQ(1, s.keptByDictionary);
    delete base;
}

} // namespace

