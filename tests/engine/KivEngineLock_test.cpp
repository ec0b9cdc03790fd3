// The loading thread beside the frame: characters, models and worlds made and deleted while the main thread moves and draws.
#include "engine_host.h"
#include "sample/avatar_data.h"
#include "sample/engine_scene.h"
#include "support/failnew/fail_new.h"
#include "support/failnew/fail_new_sweep.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/CKivAnimManager.h"
#include "engine/CKivAvatar.h"
#include "engine/CKivAvatarAtomic.h"
#include "engine/CKivAvatarItem.h"
#include "engine/CKivCamera.h"
#include "engine/CKivClump.h"
#include "engine/CKivEngineScriptBinder.h"
#include "engine/CKivLight.h"
#include "engine/CKivToon.h"
#include "engine/CKivUVAnim.h"
#include "engine/CKivWorld.h"
#include "engine/KivThreadBlock.h"
#include "gfx/core/frame.h"
#include "gfx/core/matrix.h"
#include "gfx/core/texture.h"
#include "gfx/world/clump.h"
#include "gfx/world/light.h"

namespace {

auto *const host = HostEngine();

const int kMovedClumps = 40;

// A frame that never comes (the main thread stuck with the render lock held,
// or the loading thread stuck waiting for it) cannot be failed from the
// stuck thread: the watchdog ends the program with a failure instead.
class Watchdog {
public:
    Watchdog(const std::atomic<long> &frames, const std::atomic<long> &loads) : m_frames(frames), m_loads(loads)
    {
        m_stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        m_thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    }
    ~Watchdog()
    {
        SetEvent(m_stop);
        WaitForSingleObject(m_thread, INFINITE);
        CloseHandle(m_thread);
        CloseHandle(m_stop);
    }

private:
    static DWORD WINAPI Run(void *self)
    {
        Watchdog *w = static_cast<Watchdog *>(self);
        long frames = -1, loads = -1;
        while (WaitForSingleObject(w->m_stop, 10000) == WAIT_TIMEOUT) {
            if (w->m_frames == frames || w->m_loads == loads) {
                fprintf(stderr, "watchdog: no frame or no load for 10 s (frames %ld, loads %ld): hung\n", frames,
                        loads);
                fflush(stderr);
                TerminateProcess(GetCurrentProcess(), 1);
            }
            frames = w->m_frames;
            loads = w->m_loads;
        }
        return 0;
    }
    const std::atomic<long> &m_frames, &m_loads;
    HANDLE m_stop, m_thread;
};

// The main thread's world: a ground seen from above, a sun, a caster with a
// projected shadow and the clumps it moves every frame.
class LoadingThread : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(KivTestWriteAvatarData());
        CKivAvatar::LoadScripts("Data/Avatar/");
    }

    void SetUp() override
    {
        WriteFileBytes("lock_ground.bsp", KivTestGround(30.0f, 0.0f, 20.0f, 4));
        WriteFileBytes("lock_part.dff", KivTestModel({{KivTestQuad(), {0, 1, 0}}}));
        // The loading thread's world: many sectors, each tied to its one model.
        KivTestQuad wide;
        wide.half = 40.0f;
        WriteFileBytes("lock_wide.bsp", KivTestGround(30.0f, 0.0f, 20.0f, 8));
        WriteFileBytes("lock_wide.dff", KivTestModel({{wide, {0, 1, 0}}}));
        KivTestQuad hidden, black;
        hidden.name = "Bip01 Spine";
        black.prelit = false;
        black.material = "_t";
        WriteFileBytes("lock_caster.dff", KivTestModel({{hidden, {0, 5, 0}}}));
        WriteFileBytes("lock_shade.dff", KivTestModel({{black, {0, 5, 0}}}));
        WriteFileBytes("lock_sun.dff", KivTestDirectionalLightFile());

        world = new CKivWorld("drawn");
        ASSERT_EQ(1, world->Load("lock_ground.bsp", nullptr, nullptr));
        camera = new CKivCamera("eye");
        const RwV3d eye = {0, 30, 0}, target = {0, 0, 0}, up = {0, 0, 1};
        ASSERT_EQ(1, camera->CreateLookAt(&eye, &target, &up, 0.5f, 1000.0f, 1.5f,
                                          CKivBase::GetInstance()->GetViewport()));
        ASSERT_EQ(1, world->AddCamera(camera));
        world->SetCamera(camera);
        sun = new CKivLight("sun");
        ASSERT_EQ(1, sun->Load("lock_sun.dff"));
        KivTestShineDown(RwLightGetFrame(sun->GetLight()));
        ASSERT_EQ(1, world->AddLight(sun));
        shade = Part("lock_shade.dff", false);
        caster = Part("lock_caster.dff", true);
        ASSERT_EQ(1, caster->CreateShadow(shade, 1000.0f));
        for (int i = 0; i < kMovedClumps; i++)
            moved.push_back(Part("lock_part.dff", true));
        CKivBase::GetInstance()->SetCurrentWorld(world);
    }

    void TearDown() override
    {
        CKivBase::GetInstance()->SetCurrentWorld(nullptr);
        for (CKivClump *clump : moved) {
            world->RemoveClump(clump);
            delete clump;
        }
        world->RemoveClump(caster);
        delete caster;
        delete shade;
        world->RemoveLight(sun);
        delete sun;
        world->RemoveCamera(camera);
        delete world;
        delete camera;
    }

    CKivClump *Part(const char *file, bool inWorld)
    {
        CKivClump *clump = new CKivClump();
        EXPECT_EQ(1, clump->Load(file, nullptr));
        if (inWorld) {
            EXPECT_EQ(1, world->AddClump(clump));
        }
        return clump;
    }

    // One frame of the game: its own clumps moved outside the lock (each move
    // queued for the sync), the world drawn inside it. The moved frames left
    // marked after the draw's sync.
    int Frame(int n)
    {
        for (int i = 0; i < kMovedClumps; i++) {
            const RwV3d at = {static_cast<float>(i % 8) * 6 - 21, 1, static_cast<float>(i / 8 + n % 3) * 6 - 15};
            moved[i]->SetPosition(&at);
            moved[i]->UpdateObjects();
        }
        CKivBase *base = CKivBase::GetInstance();
        base->Lock();
        EXPECT_EQ(1, base->RenderWorld());
        int marked = 0;
        for (CKivClump *clump : moved)
            marked += RwFrameIsDirty(RwClumpGetFrame(clump->GetClump())) ? 1 : 0;
        base->Unlock();
        return marked;
    }

    CKivWorld *world = nullptr;
    CKivCamera *camera = nullptr;
    CKivLight *sun = nullptr;
    CKivClump *caster = nullptr, *shade = nullptr;
    std::vector<CKivClump *> moved;
};

struct LoaderWork {
    int rounds;
    int guardedRounds;             // the first rounds run with freed blocks guarded
    long touched = 0;
    std::atomic<long> done{0};
};

// The loading thread places what it made, outside any engine lock: each
// move queues the frame on the list the main thread's draw syncs.
void Walk(CKivClump *clump)
{
    for (int step = 0; step < 50; step++) {
        const RwV3d at = {static_cast<float>(step % 5), 0, static_cast<float>(step / 5)};
        clump->SetPosition(&at);
        clump->UpdateObjects();
    }
}

// What the game's loading thread does while the loading scene draws: its
// characters dressed and let go, its worlds loaded with a model inside and
// deleted before the model.
DWORD WINAPI Load(void *data)
{
    LoaderWork *work = static_cast<LoaderWork *>(data);
    for (int round = 0; round < work->rounds; round++) {
        if (round == 0)
            GuardFreedBegin();
        CKivAvatar *avatar = new CKivAvatar;
        avatar->Create(1, 1, 1);
        Walk(avatar);
        avatar->AttachItem(100, 100, 0, 0);
        if (round % 2)
            avatar->Release();
        delete avatar;

        for (int again = 0; again < 3; again++) {
            CKivWorld *world = new CKivWorld("loaded");
            world->Load("lock_wide.bsp", nullptr, nullptr);
            CKivClump *clump = new CKivClump("lock_wide");
            clump->Load("lock_wide.dff", nullptr);
            world->AddClump(clump);
            Walk(clump);
            delete world;
            delete clump;
        }
        if (round + 1 == work->guardedRounds)
            work->touched = GuardFreedEnd();
        ++work->done;
    }
    return 0;
}

// Run by hand with KIV_FULL_SWEEPS for many more rounds.
int LoaderRounds()
{
    return FailNewFullSweeps() ? 1500 : 150;
}

// Frames keep coming, every frame the main thread moved is synced by the
// next draw, and no freed block is touched.
TEST_F(LoadingThread, CharactersModelsAndWorldsMadeWhileFramesDraw)
{
    ASSERT_EQ(0, Frame(0));
    LoaderWork work;
    work.rounds = LoaderRounds();
    work.guardedRounds = 20;
    std::atomic<long> frames{0};
    int stuck = 0;
    {
        Watchdog watchdog(frames, work.done);
        // The game's loading thread has a stack of this size.
        HANDLE loader = CreateThread(nullptr, 102400, Load, &work, 0, nullptr);
        ASSERT_NE(nullptr, loader);
        while (WaitForSingleObject(loader, 0) == WAIT_TIMEOUT) {
            stuck += Frame(static_cast<int>(frames));
            ++frames;
        }
        CloseHandle(loader);
    }
    EXPECT_EQ(work.rounds, work.done.load());
    EXPECT_GT(frames.load(), 0);
    EXPECT_EQ(0, stuck) << "moved frames left marked for an update after a full sync";
    EXPECT_EQ(0, Frame(1)) << "moved frames never synced again";
    EXPECT_EQ(0, work.touched) << "freed blocks touched (-1: the guard ran out of room)";
}

DWORD WINAPI RunCall(void *call)
{
    (*static_cast<const std::function<void()> *>(call))();
    return 0;
}

// A call and, where it has one, what it changes as text: nothing of it may
// change before the lock is free, and the call must change it.
struct NamedCall {
    const char *name;
    std::function<void()> call;
    std::function<std::string()> state = nullptr;
};

// Each call, made on another thread while this one holds the render lock,
// waits for it before it touches anything.
template <size_t N>
void ExpectEachWaitsForTheLock(const NamedCall (&calls)[N])
{
    CKivBase *base = CKivBase::GetInstance();
    for (const NamedCall &entry : calls) {
        const std::string before = entry.state ? entry.state() : "";
        base->Lock();
        HANDLE thread = CreateThread(nullptr, 102400, RunCall, const_cast<std::function<void()> *>(&entry.call), 0,
                                     nullptr);
        ASSERT_NE(nullptr, thread);
        EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(thread, 30)) << entry.name;
        if (entry.state) {
            EXPECT_EQ(before, entry.state()) << entry.name << " changed it before the lock was free";
        }
        base->Unlock();
        EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(thread, 10000)) << entry.name;
        CloseHandle(thread);
        if (entry.state) {
            EXPECT_NE(before, entry.state()) << entry.name << " did nothing";
        }
    }
}

RwAtomic *FirstAtomic(CKivClump &clump)
{
    RwAtomic *first = nullptr;
    RwClumpForAllAtomics(clump.GetClump(), [](RwAtomic *a, void *f) { *static_cast<RwAtomic **>(f) = a; return a; },
                         &first);
    return first;
}

// Each call a loading thread may make during frames, in the order a loading
// scene makes them, waits for the frame in progress before it touches anything.
TEST_F(LoadingThread, EveryLoadingCallWaitsForTheFrame)
{
    CKivBase *base = CKivBase::GetInstance();
    CKivWorld *loaded = new CKivWorld("swept");
    CKivClump *clump = new CKivClump("swept_part");
    CKivClump copy("swept_copy"), spare("swept_spare");
    CKivToon *toon = new CKivToon;
    CKivUVAnim *uvAnim = new CKivUVAnim;
    CKivLight ambient("swept_ambient");
    CKivCamera spareEye("swept_spare_eye");
    const RwRGBAReal white = {1, 1, 1, 1};
    CKivLight *light = new CKivLight("swept_sun");
    CKivCamera *eye = new CKivCamera("swept_eye");
    CKivAvatar *avatar = new CKivAvatar;
    RwAtomic *atomic = nullptr;
    const RwV3d from = {0, 10, 0}, to = {0, 0, 0}, up = {0, 0, 1};
    const NamedCall calls[] = {
        {"CKivWorld::Load", [&] { EXPECT_EQ(1, loaded->Load("lock_ground.bsp", nullptr, nullptr)); }},
        {"CKivClump::Load", [&] { EXPECT_EQ(1, clump->Load("lock_part.dff", nullptr)); }},
        {"CKivWorld::AddClump", [&] { EXPECT_EQ(1, loaded->AddClump(clump)); }},
        {"CKivWorld::RemoveClump", [&] { EXPECT_EQ(1, loaded->RemoveClump(clump)); }},
        {"CKivClump::Clone", [&] { EXPECT_EQ(1, copy.Clone(clump)); }},
        {"CKivClump::SetClump", [&] { EXPECT_EQ(0, spare.SetClump(nullptr)); }},
        {"CKivClump::AdoptAtomics", [&] { spare.AdoptAtomics(nullptr); }},
        {"CKivClump::DetachAtomic", [&] { copy.DetachAtomic(atomic = FirstAtomic(copy)); }},
        {"CKivClump::AttachAtomic", [&] { copy.AttachAtomic(atomic, RwClumpGetFrame(copy.GetClump())); }},
        {"CKivClump::CreateShadow", [&] { EXPECT_EQ(1, clump->CreateShadow(&copy, 100.0f)); }},
        {"CKivClump::DestroyShadow", [&] { clump->DestroyShadow(); }},
        {"CKivClump::SetMaterialTexture", [&] { clump->SetMaterialTexture(nullptr, nullptr); }},
        {"CKivClump::SetMaterialTextureByName", [&] { clump->SetMaterialTextureByName("none", "none"); }},
        {"CKivClump::SetTextureTrailer", [&] { EXPECT_EQ(0, clump->SetTextureTrailer(nullptr, nullptr)); }},
        {"CKivClump::RemoveTextureTrailer", [&] { clump->RemoveTextureTrailer(nullptr); }},
        {"CKivClump::ApplyUVAnim", [&] { EXPECT_EQ(0, clump->ApplyUVAnim("none", nullptr)); }},
        {"CKivUVAnim::Load", [&] { EXPECT_EQ(0, uvAnim->Load(nullptr, nullptr, nullptr)); }},
        {"CKivToon::Load", [&] { EXPECT_EQ(1, toon->Load(kKivTestInkFile, nullptr, nullptr)); }},
        {"CKivClump::SetToon", [&] { clump->SetToon(toon); }},
        {"CKivClump::SetToon(null)", [&] { clump->SetToon(nullptr); }},
        {"CKivToon::Release", [&] { toon->Release(); }},
        {"CKivUVAnim::Release", [&] { uvAnim->Release(); }},
        {"delete CKivUVAnim", [&] { delete uvAnim; }},
        {"delete CKivToon", [&] { delete toon; }},
        {"CKivLight::Create", [&] { EXPECT_EQ(1, ambient.Create(&white)); }},
        {"CKivLight::Load", [&] { EXPECT_EQ(1, light->Load("lock_sun.dff")); }},
        {"CKivWorld::AddLight", [&] { EXPECT_EQ(1, loaded->AddLight(light)); }},
        {"CKivWorld::RemoveLight", [&] { EXPECT_EQ(1, loaded->RemoveLight(light)); }},
        {"CKivCamera::CreateLookAt", [&] { EXPECT_EQ(1, eye->CreateLookAt(&from, &to, &up, 1, 100, 1, nullptr)); }},
        {"CKivWorld::AddCamera", [&] { EXPECT_EQ(1, loaded->AddCamera(eye)); }},
        {"CKivWorld::SetCamera", [&] { loaded->SetCamera(eye); }},
        {"CKivWorld::SetCameraByName", [&] { EXPECT_EQ(0, loaded->SetCameraByName("nobody")); }},
        {"CKivWorld::RemoveCamera", [&] { EXPECT_EQ(1, loaded->RemoveCamera(eye)); }},
        {"CKivCamera::Load", [&] { EXPECT_EQ(0, spareEye.Load("swept_missing.dff")); }},
        {"CKivAvatar::Create", [&] { EXPECT_EQ(1, avatar->Create(1, 1, 1)); }},
        {"CKivAvatar::CreateVariant", [&] { EXPECT_EQ(1, avatar->CreateVariant(1, 1, 1, 3, 4, 5)); },
         [&] {
             char name[CKivAvatar::kNameSize];
             avatar->PartSkinName(0, name, sizeof(name));
             return std::string(name);
         }},
        {"CKivAvatar::SetFace", [&] { EXPECT_EQ(1, avatar->SetFace(1)); }},
        {"CKivAvatar::SetSkin", [&] { avatar->SetSkin(1); }},
        {"CKivAvatar::SetBody", [&] { EXPECT_EQ(1, avatar->SetBody(1)); }},
        {"CKivAvatar::SetVariant", [&] { avatar->SetVariant(1, 0, 0, 0, 0); }},
        {"CKivAvatar::RestoreVariant", [&] { avatar->RestoreVariant(); }},
        {"CKivAvatar::AddEmotion", [&] { avatar->AddEmotion("swept", 1, 0.5f); }},
        {"CKivAvatar::RemoveEmotion", [&] { avatar->RemoveEmotion("swept"); }},
        {"CKivAvatar::SetBodyHidden", [&] { avatar->SetBodyHidden(1); }},
        {"CKivAvatar::RebuildParts", [&] { avatar->RebuildParts(); }},
        {"CKivAvatar::AttachItem", [&] { EXPECT_NE(nullptr, avatar->AttachItem(100, 100, 0, 0)); }},
        {"CKivAvatar::GetItemSlots", [&] { EXPECT_EQ(1, avatar->GetItemSlots(101, 101)[0]); }},
        {"CKivAvatar::AttachItemObject",
         [&] {
             CKivAvatarItem *item = new CKivAvatarItem;
             item->SetKey(300);
             EXPECT_EQ(1, avatar->AttachItemObject(item));
         },
         [&] { return std::to_string(avatar->HasItem(300)); }},
        {"CKivAvatar::RemoveItem", [&] { EXPECT_EQ(1, avatar->RemoveItem(100)); }},
        {"CKivAvatar::Release", [&] { avatar->Release(); }},
        {"delete CKivAvatar", [&] { delete avatar; }},
        {"CKivBase::ReadTexture", [&] { base->ReadTexture("_1head_1", "Data/Avatar/Skins/"); }},
        {"CKivBase::ReleaseTexture", [&] { base->ReleaseTexture("_1head_1"); }},
        {"CScriptBinder::RunString", [&] { EXPECT_EQ(1, CKivBase::GetScriptBinder()->RunString("swept = 1")); }},
        {"CScriptBinder::RunFile", [&] { EXPECT_EQ(0, CKivBase::GetScriptBinder()->RunFile("swept.lua", nullptr)); }},
        {"CKivEngineScriptBinder::ForgetObject", [&] { CKivEngineScriptBinder::ForgetObject(&spare); }},
        {"CKivWorld::AddClump again", [&] { EXPECT_EQ(1, loaded->AddClump(clump)); }},
        {"delete CKivWorld", [&] { delete loaded; }},
        {"delete CKivClump", [&] { delete clump; }},
        {"delete CKivLight", [&] { delete light; }},
        {"delete CKivCamera", [&] { delete eye; }},
    };
    ExpectEachWaitsForTheLock(calls);
}

// The animation queue as text: what plays, what comes last, how far.
std::string Queue(CKivClump &clump)
{
    const KivAnimEntry *current = clump.GetCurrentEntry(), *last = clump.GetLastEntry();
    char text[96];
    snprintf(text, sizeof(text), "%p %p %d %.3f", current ? current->animation : nullptr,
             last ? last->animation : nullptr, clump.HasNextAnimation(), clump.GetAnimationTime());
    return text;
}

// The first atomic's first material colour, its render callback and the clump's alpha list.
std::string Colours(CKivClump &clump)
{
    RwAtomic *atomic = FirstAtomic(clump);
    const RwRGBA c = atomic->geometry->matList.materials[0]->color;
    char text[96];
    snprintf(text, sizeof(text), "%d %d %d %d %p %d", c.red, c.green, c.blue, c.alpha,
             reinterpret_cast<void *>(atomic->renderCallBack), CKivClump::GetAlphaFlags(atomic));
    return text;
}

// The main thread's calls that change what objects share (texture and
// material counts, colours, the animation manager's holds) take the render
// lock themselves: the loading thread may be making objects that share them.
// Each is given motions and behaviours the data defines, and must do what it
// is for once it has the lock, and nothing before.
TEST_F(LoadingThread, MainThreadCallsTakeTheLockForWhatTheyChange)
{
    CKivAvatar avatar;
    ASSERT_EQ(1, avatar.Create(1, 1, 1));
    ASSERT_EQ(1, avatar.SetEmotion("normal"));
    ASSERT_NE(nullptr, avatar.AttachItem(100, 100, 0, 0));
    CKivAvatarItem *item = avatar.GetItem(100);
    ASSERT_NE(nullptr, item);
    CKivAnimManager *motions = CKivBase::GetInstance()->GetAnimManager();
    RwAnimAnimation *idle = motions->GetAnimation("idle");
    ASSERT_NE(nullptr, idle);
    const RwRGBA red = {255, 0, 0, 128}, blue = {0, 0, 255, 200};
    RwAtomic *itemAtomic = item->GetAtomics().front()->GetAtomic();
    auto queue = [&] { return Queue(avatar); };
    auto colours = [&] { return Colours(avatar); };
    auto itemColour = [&] { return std::to_string(itemAtomic->geometry->matList.materials[0]->color.alpha); };
    const NamedCall calls[] = {
        {"CKivClump::PushAnimation", [&] { EXPECT_EQ(1, avatar.PushAnimation(motions, "walk", 0.0f, 0)); }, queue},
        {"CKivClump::PushAnimationEntry", [&] { EXPECT_EQ(1, avatar.PushAnimationEntry(idle, 0.1f, 1)); }, queue},
        {"CKivAvatar::Update", [&] { avatar.Update(0.25f); }, queue},
        {"CKivClump::Update", [&] { avatar.CKivClump::Update(0.25f); }, queue},
        {"CKivClump::SetAnimationTime", [&] { avatar.SetAnimationTime(0.0f); }, queue},
        {"CKivClump::ClearAnimationQueue", [&] { avatar.ClearAnimationQueue(); }, queue},
        {"CKivClump::PlayBehavior", [&] { EXPECT_EQ(1, avatar.PlayBehavior("walk")); }, queue},
        {"CKivClump::SetColor", [&] { avatar.SetColor(&red); }, colours},
        {"CKivClump::SetColorRGB", [&] { avatar.SetColorRGB(&blue); }, colours},
        {"CKivClump::SetAlpha", [&] { avatar.SetAlpha(255); }, colours},
        {"CKivClump::SetAtomicAlpha", [&] { avatar.SetAtomicAlpha(FirstAtomic(avatar), 100); }, colours},
        {"CKivClump::SetAtomicColor", [&] { avatar.SetAtomicColor(FirstAtomic(avatar), &blue); }, colours},
        {"CKivAvatarItem::SetColor", [&] { item->SetColor(&red); }, itemColour},
        {"CKivAvatarItem::ResetColor", [&] { item->ResetColor(); }, itemColour},
    };
    ExpectEachWaitsForTheLock(calls);
}

KivThreadBlock g_testBlocks(64);

DWORD WINAPI UseBlock(void *)
{
    return g_testBlocks.Get() ? 0 : 1;
}

// Every thread that used a per-thread block and ended gave it back.
TEST(ThreadBlock, EndedThreadsFreeTheirBlocks)
{
    const long live = KivThreadBlock::LiveBlocks();
    for (int i = 0; i < 1000; i++) {
        HANDLE thread = CreateThread(nullptr, 0, UseBlock, nullptr, 0, nullptr);
        ASSERT_NE(nullptr, thread);
        WaitForSingleObject(thread, INFINITE);
        DWORD code = 1;
        GetExitCodeThread(thread, &code);
        CloseHandle(thread);
        ASSERT_EQ(0u, code);
    }
    EXPECT_EQ(live, KivThreadBlock::LiveBlocks());
}

DWORD WINAPI ReleaseAvatar(void *avatar)
{
    static_cast<CKivAvatar *>(avatar)->Release();
    return 0;
}

// An avatar released on the loading thread while a frame holds the render
// lock waits for the frame, which still finds it whole.
TEST_F(LoadingThread, AnAvatarReleasedOnAnotherThreadWaitsForTheFrame)
{
    CKivAvatar avatar;
    ASSERT_EQ(1, avatar.Create(1, 1, 1));
    ASSERT_NE(nullptr, avatar.AttachItem(100, 100, 0, 0));
    ASSERT_EQ(1, world->AddClump(&avatar));
    CKivBase *base = CKivBase::GetInstance();
    base->Lock();
    HANDLE thread = CreateThread(nullptr, 0x100000, ReleaseAvatar, &avatar, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(thread, 100));
    EXPECT_EQ(1, base->RenderWorld());
    EXPECT_EQ(5u, avatar.GetPartAtomics().size());
    EXPECT_EQ(1, avatar.HasItem(100));
    base->Unlock();
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(thread, 5000));
    CloseHandle(thread);
    EXPECT_EQ(0u, avatar.GetPartAtomics().size());
    EXPECT_EQ(0, avatar.HasItem(100));
    EXPECT_EQ(nullptr, world->FindClump(avatar.GetName()));
    EXPECT_EQ(0, Frame(0));
}

DWORD WINAPI DressAnother(void *)
{
    CKivAvatar other;
    other.Create(1, 1, 1);
    other.AttachItem(100, 100, 0, 0);
    other.GetItemSlots(100, 100);
    return 0;
}

// The lists an avatar call returns are the calling thread's: another thread
// dressing its own character leaves them as they were.
TEST_F(LoadingThread, ReturnedListsStayTheCallers)
{
    CKivAvatar avatar;
    ASSERT_EQ(1, avatar.Create(1, 1, 1));
    avatar.AttachItem(101, 101, 0, 0);
    const int *displaced = avatar.AttachItem(102, 102, 0, 0);
    const int *slots = avatar.GetItemSlots(102, 102);   // worn: no attach of its own
    ASSERT_TRUE(displaced && slots);
    ASSERT_EQ(101, displaced[0]);
    ASSERT_EQ(1, slots[0]);
    HANDLE thread = CreateThread(nullptr, 102400, DressAnother, nullptr, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(thread, 10000));
    CloseHandle(thread);
    EXPECT_EQ(101, displaced[0]);
    EXPECT_EQ(1, slots[0]);
}

// Every texture of the current dictionary with its reference count.
std::map<std::string, RwInt32> TextureCounts()
{
    std::map<std::string, RwInt32> counts;
    RwTextureDictionaryForAllTextures(
        RwTextureDictionaryGetCurrent(),
        [](RwTexture *texture, void *data) {
            (*static_cast<std::map<std::string, RwInt32> *>(data))[texture->name] = texture->refCount;
            return texture;
        },
        &counts);
    return counts;
}

DWORD WINAPI DressAndDrop(void *data)
{
    LoaderWork *work = static_cast<LoaderWork *>(data);
    for (int round = 0; round < work->rounds; round++) {
        CKivAvatar *avatar = new CKivAvatar;
        avatar->Create(1, 1, 1);
        avatar->SetEmotion("normal");
        delete avatar;
        ++work->done;
    }
    return 0;
}

// The main thread steps its characters' emotions between frames, as a game's
// main loop does, while the loading thread makes and lets go characters
// wearing the same face textures: every count is back where it was.
TEST_F(LoadingThread, AnimationUpdatesBesideLoadingKeepReferenceCounts)
{
    const std::map<std::string, RwInt32> before = TextureCounts();
    std::vector<CKivAvatar *> shown(8);
    for (CKivAvatar *&avatar : shown) {
        avatar = new CKivAvatar;
        ASSERT_EQ(1, avatar->Create(1, 1, 1));
        ASSERT_EQ(1, avatar->SetEmotion("normal"));
        ASSERT_EQ(1, world->AddClump(avatar));
    }
    LoaderWork work;
    work.rounds = FailNewFullSweeps() ? 10000 : 1000;
    std::atomic<long> frames{0};
    {
        Watchdog watchdog(frames, work.done);
        HANDLE loader = CreateThread(nullptr, 102400, DressAndDrop, &work, 0, nullptr);
        ASSERT_NE(nullptr, loader);
        while (WaitForSingleObject(loader, 0) == WAIT_TIMEOUT) {
            for (int step = 0; step < 500; step++)
                for (CKivAvatar *avatar : shown)
                    avatar->Update(0.25f);
            Frame(static_cast<int>(++frames));
        }
        CloseHandle(loader);
    }
    EXPECT_EQ(work.rounds, work.done.load());
    for (CKivAvatar *avatar : shown) {
        world->RemoveClump(avatar);
        delete avatar;
    }
    EXPECT_EQ(before, TextureCounts());
}

struct FrameMover {
    std::vector<RwFrame *> frames;
    std::atomic<bool> stop{false};
    std::atomic<long> steps{0};
};

DWORD WINAPI MoveFrames(void *data)
{
    FrameMover *mover = static_cast<FrameMover *>(data);
    for (int step = 0; !mover->stop; step++) {
        const RwV3d delta = {step % 2 ? -0.5f : 0.5f, 0, 0};
        for (RwFrame *frame : mover->frames)
            RwFrameTranslate(frame, &delta, rwCOMBINEPRECONCAT);
        ++mover->steps;
    }
    return 0;
}

RwFrame *CollectFrames(RwFrame *frame, void *data)
{
    static_cast<std::vector<RwFrame *> *>(data)->push_back(frame);
    RwFrameForAllChildren(frame, CollectFrames, data);
    return frame;
}

// A thread moves the frames of its character's hierarchy while the main
// thread's draws sync the list: once the moves stop, one sync leaves every
// world matrix the product of its frame's own and its parent's.
TEST_F(LoadingThread, FramesMovedDuringSyncsEndInPlace)
{
    CKivAvatar avatar;
    ASSERT_EQ(1, avatar.Create(1, 1, 1));
    FrameMover mover;
    RwFrameForAllChildren(RwClumpGetFrame(avatar.GetClump()), CollectFrames, &mover.frames);
    ASSERT_GT(mover.frames.size(), 3u);
    HANDLE thread = CreateThread(nullptr, 102400, MoveFrames, &mover, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    {
        // A sync that never drains the list is a hang.
        std::atomic<long> frames{0};
        Watchdog watchdog(frames, mover.steps);
        for (; frames < 200; ++frames)
            Frame(static_cast<int>(frames));
    }
    mover.stop = true;
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(thread, 10000));
    CloseHandle(thread);
    CKivBase::GetInstance()->Lock();
    RwFrameSyncDirtyList();
    int wrong = 0;
    for (RwFrame *frame : mover.frames) {
        // Read as they stand: asking for a world matrix would mend it first.
        RwMatrix expected;
        RwMatrixMultiply(&expected, &frame->modelling, &RwFrameGetParent(frame)->ltm);
        const RwV3d *want[] = {&expected.right, &expected.up, &expected.at, &expected.pos};
        const RwV3d *got[] = {&frame->ltm.right, &frame->ltm.up, &frame->ltm.at, &frame->ltm.pos};
        for (int row = 0; row < 4; row++)
            wrong += std::fabs(want[row]->x - got[row]->x) + std::fabs(want[row]->y - got[row]->y) +
                             std::fabs(want[row]->z - got[row]->z) > 1e-3f ? 1 : 0;
    }
    CKivBase::GetInstance()->Unlock();
    EXPECT_EQ(0, wrong);
}

struct ListsWithoutMemory {
    CKivAvatar *avatar;
    HANDLE failed, back;
    const int *slots = nullptr, *displaced = nullptr, *later = nullptr;
};

DWORD WINAPI ListOnNewThread(void *data)
{
    ListsWithoutMemory *work = static_cast<ListsWithoutMemory *>(data);
    work->slots = work->avatar->GetItemSlots(100, 100);
    work->displaced = work->avatar->AttachItem(100, 100, 0, 0);
    SetEvent(work->failed);
    WaitForSingleObject(work->back, INFINITE);
    work->later = work->avatar->GetItemSlots(100, 100);
    return 0;
}

// A new loading thread's first list call with no memory at all (its
// thread-local data refused too) fails by its answer; with memory back the
// same call lists the slots.
TEST_F(LoadingThread, ListsOfANewThreadWithoutMemoryAreNull)
{
    CKivAvatar avatar;
    ASSERT_EQ(1, avatar.Create(1, 1, 1));
    ASSERT_NE(nullptr, avatar.AttachItem(100, 100, 0, 0));
    const int slot = avatar.GetItemSlots(100, 100)[0];
    ListsWithoutMemory work;
    work.avatar = &avatar;
    work.failed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    work.back = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 102400, ListOnNewThread, &work, CREATE_SUSPENDED, &id);
    ASSERT_NE(nullptr, thread);
    FailNewOnThread(id, true);
    ResumeThread(thread);
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(work.failed, 10000));
    FailNewOnThread(0);
    SetEvent(work.back);
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(thread, 10000));
    CloseHandle(thread);
    CloseHandle(work.failed);
    CloseHandle(work.back);
    EXPECT_EQ(nullptr, work.slots);
    EXPECT_EQ(nullptr, work.displaced);
    ASSERT_NE(nullptr, work.later);
    EXPECT_EQ(slot, work.later[0]);
    EXPECT_EQ(1, avatar.HasItem(100));
}

} // namespace
