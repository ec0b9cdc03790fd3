// Sound manager: kinds and volumes, fades, removal on update, placed and following sounds, the listener, the 2-D channel, scrambling.
#include "engine_host.h"
#include "sample/engine_scene.h"
#include "sample/sample_data.h"
#include "support/failnew/fail_new_sweep.h"

#include "engine/CKivCamera.h"
#include "engine/CKivClump.h"
#include "engine/CKivSound3D.h"
#include "engine/CKivSoundManager.h"
#include "engine/CKivWorld.h"
#include "evsound/evsound.h"
#include "evsound/platform.h"
#include "evsound/projectbuild.h"
#include "gfx/core/camera.h"
#include "gfx/core/frame.h"
#include "tests/evsound/test_platform.h"

namespace {

// No output device, as on CI; the clock is the test's.
class SoundHost : public HostedEngine<> {
public:
    void SetUp() override
    {
        EvsTestPlatformInstall();
        evsTestPlatform.devices = 0;
        ASSERT_TRUE(KivSampleWriteSound());
        HostedEngine<>::SetUp();
    }
    void TearDown() override
    {
        HostedEngine<>::TearDown();
        EvsTestPlatformRemove();
    }
};
auto *const host = ::testing::AddGlobalTestEnvironment(new SoundHost);

CKivSoundManager *Sound()
{
    return CKivBase::GetInstance()->GetSoundManager();
}

float Volume(KivSoundHandle handle)
{
    float v = -1.0f;
    EvsEventGetVolume(reinterpret_cast<EvsEvent *>(handle), &v);
    return v;
}

class SoundTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Sound()->IsInitialised());
        for (int g : {0, 1, 16})
            Sound()->LoadEventGroup(g);
        Sound()->SetMusicVolume(1.0f);
        Sound()->SetEffectVolume(1.0f);
        Sound()->SetWorld(nullptr);
    }
    void TearDown() override { Sound()->DeleteAllSounds(); }
    void Advance(uint32_t ms)
    {
        evsTestPlatform.clock += ms;
        Sound()->Update(ms / 1000.0f);
    }
};

TEST_F(SoundTest, GroupsOfTheGameLoadAndUnknownOnesDoNot)
{
    EXPECT_TRUE(Sound()->IsGroupLoaded(16));
    Sound()->LoadEventGroup(40);
    EXPECT_FALSE(Sound()->IsGroupLoaded(40));
    EXPECT_EQ(0u, Sound()->PlayEvent(40, 0));
    EXPECT_EQ(0u, Sound()->PlayEvent(0, 99));
}

TEST_F(SoundTest, KindByNameAndUserFlagHalves)
{
    Sound()->SetMusicVolume(0.5f);
    Sound()->SetEffectVolume(0.8f);
    const struct {
        int event;
        float volume;
    } cases[] = {{0, 0.5f}, {1, 0.5f}, {2, 0.8f}, {3, 0.4f}};
    KivSoundHandle handles[4] = {};
    for (const auto &c : cases) {
        handles[c.event] = Sound()->PlayEvent(0, c.event);
        ASSERT_NE(0u, handles[c.event]) << c.event;
        EXPECT_FLOAT_EQ(c.volume, Volume(handles[c.event])) << c.event;
    }
    Sound()->SetMusicVolume(0.25f);
    EXPECT_FLOAT_EQ(0.25f, Volume(handles[1]));
    EXPECT_FLOAT_EQ(0.8f, Volume(handles[2]));
    // Each kind's setter reaches that kind's playing sounds only.
    Sound()->SetEffectVolume(0.6f);
    EXPECT_FLOAT_EQ(0.25f, Volume(handles[1]));
    EXPECT_FLOAT_EQ(0.6f, Volume(handles[2]));
}

TEST_F(SoundTest, EachPlayStartsOnceAndARegisteredEventDoesNotReplay)
{
    EvsTraceClear();
    ASSERT_NE(0u, Sound()->PlayEvent(1, 0));
    ASSERT_NE(0u, Sound()->PlayEvent3D(1, 1, 1.0f, 2.0f, 3.0f));
    ASSERT_NE(0u, Sound()->PlayEventOnObject(16, 0, "nobody"));
    EXPECT_EQ(3, EvsTraceCount("start "));
    EXPECT_EQ(0u, Sound()->PlayEvent(1, 0));
    EXPECT_EQ(3, EvsTraceCount("start "));
}

TEST_F(SoundTest, StoppedSoundsStayUntilTheUpdate)
{
    const KivSoundHandle h = Sound()->PlayEvent(0, 4);
    Sound()->StopSound(h);
    EXPECT_EQ(1, Sound()->GetSoundCount());
    EXPECT_EQ(0, Sound()->IsPlaying(h));
    Advance(10);
    EXPECT_EQ(0, Sound()->GetSoundCount());
    // Ended by its duration too, then playable again.
    ASSERT_EQ(h, Sound()->PlayEvent(0, 4));
    EXPECT_EQ(1, Sound()->IsEventPlaying(0, 4));
    Advance(400);   // the clock's end shows at the next update
    EXPECT_EQ(1, Sound()->GetSoundCount());
    Advance(0);
    EXPECT_EQ(0, Sound()->GetSoundCount());
}

TEST_F(SoundTest, FadesLandOnTheTargetAndAFadeToZeroRemoves)
{
    const KivSoundHandle h = Sound()->PlayEvent(0, 0);
    Sound()->FindSound(h)->FadeTo(0.25f, 1.0f);
    Advance(500);
    EXPECT_FLOAT_EQ(0.5f, Volume(h));
    Advance(300);   // 0.25 left, step 0.3: lands
    EXPECT_FLOAT_EQ(0.25f, Volume(h));
    EXPECT_FALSE(Sound()->FindSound(h)->IsFading());
    Sound()->FadeOutSound(h, 1.0f);
    Advance(100);
    EXPECT_EQ(1, Sound()->GetSoundCount());
    Advance(200);
    EXPECT_EQ(0, Sound()->GetSoundCount());
}

TEST_F(SoundTest, FollowedClumpBehaviourSoundsAndDestroyedWorld)
{
    WriteFileBytes("sound.dff", KivTestModel({{KivTestQuad(), {0, 1, 0}}}));
    WriteFileBytes("sound.bsp", KivTestGround(10.0f, 0.0f, 5.0f));
    CKivWorld *world = new CKivWorld("snd");
    ASSERT_EQ(1, world->Load("sound.bsp", nullptr, nullptr));
    CKivClump *clump = new CKivClump;
    ASSERT_EQ(1, clump->Load("sound.dff", nullptr));
    ASSERT_EQ(1, world->AddClump(clump));
    const RwV3d at = {4.0f, 5.0f, 6.0f}, moved = {7.0f, 8.0f, 9.0f};
    clump->SetPosition(&at);
    Sound()->SetWorld(world);
    const KivSoundHandle h = Sound()->PlayEventOnObject(0, 0, clump->GetName());
    ASSERT_NE(0u, h);
    EvsVector p = {};
    EvsEventGetPosition(reinterpret_cast<EvsEvent *>(h), &p, nullptr);
    EXPECT_FLOAT_EQ(5.0f, p.y);
    clump->SetPosition(&moved);
    Advance(10);
    EvsEventGetPosition(reinterpret_cast<EvsEvent *>(h), &p, nullptr);
    EXPECT_FLOAT_EQ(8.0f, p.y);
    // A behaviour with a sound plays it on its clump; one without plays none.
    clump->CreateBehavior("quiet", -1);
    clump->CreateBehavior("shout", 1);
    ASSERT_EQ(1, clump->PlayBehavior("quiet"));
    EXPECT_EQ(1, Sound()->GetSoundCount());
    ASSERT_EQ(1, clump->PlayBehavior("shout"));
    EXPECT_EQ(1, Sound()->IsEventPlaying(1, 1));
    world->RemoveClump(clump);
    Advance(10);
    EXPECT_EQ(0, Sound()->GetSoundCount());
    // A destroyed world leaves the manager; following finds no clump.
    ASSERT_NE(0u, Sound()->PlayEventOnObject(0, 0, clump->GetName()));
    delete world;
    EXPECT_EQ(nullptr, Sound()->GetWorld());
    Advance(10);
    EXPECT_EQ(0, Sound()->GetSoundCount());
    delete clump;
}

TEST_F(SoundTest, ListenerAtTheWorldCameraAndUnchangedWithout)
{
    const EvsVector start = {1.0f, 2.0f, 3.0f};
    EvsSystem *system = Sound()->GetEventSystem();
    EvsMixer *mixer = nullptr;
    EvsSystemGetMixer(system, &mixer);
    EvsMixerSetListener(mixer, 0, &start, nullptr, nullptr, nullptr);
    WriteFileBytes("sound.bsp", KivTestGround(10.0f, 0.0f, 5.0f));
    CKivWorld world("ears");
    ASSERT_EQ(1, world.Load("sound.bsp", nullptr, nullptr));
    Sound()->SetWorld(&world);
    Advance(10);   // a world without a camera
    EvsVector p = {};
    EvsMixerGetListener(mixer, 0, &p, nullptr, nullptr, nullptr);
    EXPECT_FLOAT_EQ(2.0f, p.y);
    CKivCamera camera("ear");
    ASSERT_EQ(1, camera.Create(1.0f, 100.0f, 1.0f, CKivBase::GetInstance()->GetViewport()));
    ASSERT_EQ(1, world.AddCamera(&camera));
    world.SetCamera(&camera);
    RwV3d at = {0.0f, 7.0f, 0.0f};
    RwFrameTranslate(RwCameraGetFrame(camera.GetCamera()), &at, rwCOMBINEREPLACE);
    Advance(10);
    EvsMixerGetListener(mixer, 0, &p, nullptr, nullptr, nullptr);
    EXPECT_FLOAT_EQ(7.0f, p.y);
    EXPECT_NE(nullptr, strstr(Sound()->GetDebugText(), " Listener : 0.0000, 7.0000, 0.0000  \n rolloff : 0.0100 \n"));
    world.RemoveCamera(&camera);
    Sound()->SetWorld(nullptr);
}

TEST_F(SoundTest, FreeingAGroupWhilePlayingTakesItsSounds)
{
    Sound()->PlayEvent(1, 0);
    Sound()->PlayEvent3D(1, 1, 0.0f, 0.0f, 0.0f);
    Sound()->PlayEvent(0, 0);
    Sound()->FreeEventGroup(1);
    EXPECT_EQ(1, Sound()->GetSoundCount());
    EXPECT_EQ(0u, Sound()->PlayEvent(1, 0));
    Advance(10);
    EXPECT_EQ(1, Sound()->GetSoundCount());
}

TEST_F(SoundTest, EngineUpdateReapsWithAndWithoutWorld)
{
    CKivBase *base = CKivBase::GetInstance();
    base->SetCurrentWorld(nullptr);
    const KivSoundHandle h = Sound()->PlayEvent(16, 0);
    evsTestPlatform.clock += 300;
    EXPECT_EQ(0, base->Update(0.3f));
    EXPECT_EQ(0, base->Update(0.0f));
    EXPECT_EQ(0, Sound()->GetSoundCount());
    EXPECT_EQ(h, Sound()->PlayEvent(16, 0));
}

TEST_F(SoundTest, SampleChannelReplacesItsSound)
{
    ASSERT_TRUE(EvsTestWriteFile("snd/one.wav", EvsTestWav(8000, 1, 16, 16000)));   // one second
    const int blocks = EvsLiveBlocks();
    ASSERT_EQ(TRUE, Sound()->PlaySample("snd/one.wav", 50));
    const int withOne = EvsLiveBlocks();
    ASSERT_EQ(TRUE, Sound()->PlaySample("snd/one.wav", 50));
    EXPECT_EQ(withOne, EvsLiveBlocks());
    EXPECT_EQ(1, Sound()->IsStreamPlaying());
    EXPECT_EQ(100, Sound()->GetStreamLength());
    EXPECT_EQ(0, Sound()->PlayStream("snd/one.wav", 100));
    EXPECT_EQ(withOne, EvsLiveBlocks());
    Sound()->StopStream();
    EXPECT_EQ(0, Sound()->IsStreamPlaying());
    EXPECT_EQ(0, Sound()->GetStreamPosition());
    EXPECT_EQ(FALSE, Sound()->PlaySample("snd/absent.wav", 50));
    EXPECT_EQ(blocks, EvsLiveBlocks());
}

// Without "sound.fev" the events stay off, while the 2-D channel plays on the
// event system's clock; once the project is there, Init can be run again.
TEST(SoundManager, WithoutAProjectOnlyTheTwoDChannelPlays)
{
    ASSERT_TRUE(EvsTestWriteFile("snd/one.wav", EvsTestWav(8000, 1, 16, 16000)));   // one second
    ASSERT_TRUE(MoveFileA("Data/sound/sound.fev", "Data/sound/hidden.fev"));
    const int blocks = EvsLiveBlocks();
    {
        CKivSoundManager manager;
        EXPECT_EQ(0, manager.Init());
        EXPECT_EQ(0, manager.IsInitialised());
        manager.LoadEventGroup(0);
        EXPECT_EQ(0u, manager.PlayEvent(0, 0));
        EXPECT_EQ(0u, manager.PlayEvent3D(0, 0, 1, 2, 3));
        EXPECT_EQ(0u, manager.PlayEventOnObject(0, 0, "x"));
        manager.SetMusicVolume(0.3f);
        EXPECT_FLOAT_EQ(1.0f, manager.GetMusicVolume());
        EXPECT_STREQ("", manager.GetDebugText());

        EXPECT_EQ(TRUE, manager.PlaySample("snd/one.wav", 50));
        EXPECT_EQ(1, manager.IsStreamPlaying());
        EXPECT_EQ(100, manager.GetStreamLength());
        EXPECT_EQ(0, manager.PlayStream("snd/one.wav", 100));
        evsTestPlatform.clock += 400;
        manager.Update(0.4f);
        EXPECT_EQ(40, manager.GetStreamPosition());
        evsTestPlatform.clock += 700;
        manager.Update(0.7f);
        EXPECT_EQ(0, manager.IsStreamPlaying());   // over
        EXPECT_EQ(0, manager.GetSoundCount());

        ASSERT_TRUE(MoveFileA("Data/sound/hidden.fev", "Data/sound/sound.fev"));
        ASSERT_EQ(1, manager.Init());
        manager.LoadEventGroup(0);
        EXPECT_NE(0u, manager.PlayEvent(0, 0));
        EXPECT_EQ(TRUE, manager.PlaySample("snd/one.wav", 50));
    }
    EXPECT_EQ(blocks, EvsLiveBlocks());

    // An event system that does not start leaves nothing, and no channel.
    CKivSoundManager silent;
    EvsFailAllocationsAfter(0);
    EXPECT_EQ(0, silent.Init());
    EvsFailAllocationsAfter(-1);
    EXPECT_EQ(blocks, EvsLiveBlocks());
    EXPECT_EQ(FALSE, silent.PlaySample("snd/one.wav", 50));
    EXPECT_NE(0, silent.PlayStream("snd/one.wav", 50));
    silent.Update(0.1f);
}

// The start, memory running out at each of its allocations (the project's
// among them): nothing is thrown, nothing of the event system is left, and a
// later start works.
TEST(SoundManager, StartOutOfMemoryThrowsNothingAndLeavesNothing)
{
    const int blocks = EvsLiveBlocks();
    FailNewSweep("Init", [] {
        CKivSoundManager manager;
        manager.Init();
    });
    EXPECT_EQ(blocks, EvsLiveBlocks());
    CKivSoundManager manager;
    EXPECT_EQ(1, manager.Init());
}

// A plain play after a placed one of the same event is not lowered by the old
// place; heard through a wave output device.
TEST(SoundManager, PlacesLastOnePlay)
{
    const char text[] = "group\nevent placed 0 wav=placed.wav\n";
    void *image = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(EVS_OK, EvsProjectBuild(text, sizeof(text) - 1, &image, &size, nullptr));
    ASSERT_TRUE(MoveFileA("Data/sound/sound.fev", "Data/sound/kept.fev"));
    const bool written = EvsTestWriteFile("Data/sound/sound.fev", std::string(static_cast<char *>(image), size)) &&
                         EvsTestWriteFile("Data/sound/placed.wav", EvsTestWav(8000, 1, 8, 8000));   // one second
    EvsProjectFreeImage(image);
    evsTestPlatform.devices = 1;
    {
        CKivSoundManager manager;
        const int started = manager.Init();
        evsTestPlatform.devices = 0;
        DeleteFileA("Data/sound/sound.fev");
        MoveFileA("Data/sound/kept.fev", "Data/sound/sound.fev");
        ASSERT_TRUE(written);
        ASSERT_EQ(1, started);
        manager.LoadEventGroup(0);
        manager.Set3DSettings(1.0f, 1.0f, 1.0f);   // a hundredth of the volume 100 units away
        const DWORD lowered = 0x028F028Fu, full = 0xFFFFFFFFu;
        // The clock's end shows at the next update, which removes the sound.
        const auto reap = [&manager](uint32_t ms) {
            evsTestPlatform.clock += ms;
            manager.Update(ms / 1000.0f);
            manager.Update(0.0f);
            EXPECT_EQ(0, manager.GetSoundCount());
        };
        KivSoundHandle h = manager.PlayEvent3D(0, 0, 100.0f, 0.0f, 0.0f);
        ASSERT_NE(0u, h);
        EXPECT_EQ(lowered, evsTestPlatform.lastVolume);
        manager.StopSound(h);
        reap(10);
        ASSERT_EQ(h, manager.PlayEvent(0, 0));
        EXPECT_EQ(full, evsTestPlatform.lastVolume);
        reap(1000);   // over by its time
        ASSERT_EQ(h, manager.PlayEvent3D(0, 0, 100.0f, 0.0f, 0.0f));
        EXPECT_EQ(lowered, evsTestPlatform.lastVolume);
        reap(1000);
        ASSERT_EQ(h, manager.PlayEvent(0, 0));
        EXPECT_EQ(full, evsTestPlatform.lastVolume);
    }
    EXPECT_EQ(0, evsTestPlatform.Live());
    DeleteFileA("Data/sound/placed.wav");
}

TEST(SoundManager, ScrambleReversesAndXorsInPlaceOrNot)
{
    const unsigned char source[] = {0x01, 0x02, 0x03, 0x7D};
    const unsigned char expected[] = {0x00, 0x7E, 0x7F, 0x7C};
    unsigned char out[4];
    CKivSoundManager::ScrambleBuffer(source, out, 4);
    EXPECT_EQ(0, memcmp(expected, out, 4));
    CKivSoundManager::ScrambleBuffer(out, out, 3);   // odd length, in place
    const unsigned char twice[] = {0x02, 0x03, 0x7D, 0x7C};
    EXPECT_EQ(0, memcmp(twice, out, 4));
    WriteFileBytes("scramble.wav", std::string(reinterpret_cast<const char *>(source), 4));
    ASSERT_EQ(1, CKivSoundManager::ScrambleFile("scramble.wav"));
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(expected), 4), ReadFileBytes("scramble.wab"));
}

} // namespace
