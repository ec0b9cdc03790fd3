// Tests of the event system: events on the driven clock, group data, the device binding, the trace.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "evsound/projectbuild.h"
#include "tests/evsound/evs_fixture.h"
#include "tests/evsound/project_bytes.h"

namespace {

// "once" and "loop" play town.wav (1000 ms of 8 kHz mono 8-bit); "hit" lasts
// 500 ms without a WAV; group 1's WAV is missing, group 2's is broken.
const char kText[] =
    "group\nevent once 0 wav=town.wav\nevent loop 0 loop user=0x08 wav=town.wav\nevent hit 500\n"
    "group\nevent gone 0 wav=missing.wav\n"
    "group\nevent fine 0 wav=town.wav\nevent broken 0 wav=broken.wav\n";

class Events : public EvsTest {
protected:
    void SetUp() override
    {
        EvsTest::SetUp();
        ASSERT_TRUE(EvsTestWriteFile("evs_media/town.wav", EvsTestWav(8000, 1, 8, 8000)));
        ASSERT_TRUE(EvsTestWriteFile("evs_media/broken.wav", EvsTestWav(8000, 1, 8, 8000).substr(0, 30)));
        EvsTraceClear();
    }
    // Creates and initialises the system, loads the project and group 0's data.
    void Start(uint32_t flags = EVS_INIT_SPATIAL)
    {
        ASSERT_EQ(EVS_OK, EvsSystemCreate(&system));
        ASSERT_EQ(EVS_OK, EvsSystemInit(system, 128, flags, NULL, 0));
        ASSERT_EQ(EVS_OK, EvsSystemSetMediaPath(system, "evs_media"));
        void *image = NULL;
        uint32_t size = 0;
        ASSERT_EQ(EVS_OK, EvsProjectBuild(kText, strlen(kText), &image, &size, NULL));
        EvsLoadInfo info = EvsTestLoadInfo(size);
        ASSERT_EQ(EVS_OK, EvsSystemLoadProject(system, image, &info, &project));
        EvsProjectFreeImage(image);
        ASSERT_EQ(EVS_OK, EvsProjectGetGroup(project, 0, true, &group));
        ASSERT_EQ(EVS_OK, EvsGroupLoadData(group, EVS_RESOURCES_ALL, 0));
    }
    EvsEvent *Event(int32_t index)
    {
        EvsEvent *event = NULL;
        EvsGroupGetEvent(group, index, 0, &event);
        return event;
    }
    uint32_t State(EvsEvent *event)
    {
        uint32_t state = 0;
        EvsEventGetState(event, &state);
        return state;
    }
    EvsProject *project = NULL;
    EvsGroup *group = NULL;
};

TEST_F(Events, PlayForTheirDurationOnTheDrivenClock)
{
    Start();
    EvsEvent *once = Event(0), *loop = Event(1), *hit = Event(2);
    uint32_t length = 0;
    EXPECT_EQ(EVS_OK, EvsEventGetInfo(once, NULL, NULL, &length));
    EXPECT_EQ(1000u, length);
    EXPECT_EQ(EVS_OK, EvsEventStart(hit));
    EXPECT_EQ(EVS_OK, EvsEventStart(loop));
    At(300);
    EXPECT_EQ(EVS_OK, EvsEventStart(once));   // starts at the clock of the last update
    At(499);
    EXPECT_TRUE(State(hit) & EVS_STATE_PLAYING);
    At(500);
    EXPECT_EQ(EVS_STATE_READY, State(hit));
    At(1299);
    EXPECT_TRUE(State(once) & EVS_STATE_PLAYING);
    At(1300);
    EXPECT_FALSE(State(once) & EVS_STATE_PLAYING);
    At(60000);
    EXPECT_TRUE(State(loop) & EVS_STATE_PLAYING);
    EXPECT_EQ(EVS_OK, EvsEventStop(loop));
    EXPECT_FALSE(State(loop) & EVS_STATE_PLAYING);
    EXPECT_EQ(1, EvsTraceCount("end 0:2"));
    EXPECT_EQ(1, EvsTraceCount("end 0:0"));
    EXPECT_EQ(1, EvsTraceCount("stop 0:1"));
    EXPECT_EQ(0, EvsTraceCount("end 0:1"));
}

TEST_F(Events, RestartBeginsAgain)
{
    Start();
    EvsEvent *hit = Event(2);
    EvsEventStart(hit);
    At(300);
    EvsEventStart(hit);
    At(700);
    EXPECT_TRUE(State(hit) & EVS_STATE_PLAYING);
    At(800);
    EXPECT_FALSE(State(hit) & EVS_STATE_PLAYING);
    EXPECT_EQ(2, EvsTraceCount("start 0:2 hit"));
}

TEST_F(Events, DeviceOutputFollowsTheClock)
{
    Start();
    EvsEvent *once = Event(0), *loop = Event(1);
    EvsEventStart(loop);
    EXPECT_EQ(1, evsTestPlatform.opens);
    EXPECT_EQ(0xFFFFFFFFu, evsTestPlatform.lastLoops);
    EXPECT_EQ(8000u, evsTestPlatform.lastLength);
    EXPECT_EQ(8000u, evsTestPlatform.lastFormat.nSamplesPerSec);
    EXPECT_EQ(1, evsTestPlatform.lastFormat.nChannels);
    EXPECT_EQ(EVS_STATE_READY | EVS_STATE_PLAYING | EVS_STATE_AUDIBLE, State(loop));
    EvsEventSetVolume(loop, 0.5f);
    EXPECT_EQ(0x80008000u, evsTestPlatform.lastVolume);
    EvsEventStart(once);
    EXPECT_EQ(0u, evsTestPlatform.lastLoops);
    At(999);
    EXPECT_EQ(2, evsTestPlatform.Live());
    At(1000);
    EXPECT_EQ(1, evsTestPlatform.Live());   // closed when its time is over
    EvsEventStop(loop);
    EXPECT_EQ(0, evsTestPlatform.Live());
    EXPECT_EQ(2, evsTestPlatform.resets);
}

TEST_F(Events, WithoutADeviceEverythingRunsSilently)
{
    struct Case { UINT devices; bool failQuery; bool failOpen; uint32_t flags; } cases[] = {
        {0, false, false, EVS_INIT_SPATIAL}, {1, true, false, 0}, {1, false, true, 0},
        {1, false, false, EVS_INIT_SILENT},
    };
    for (const Case &c : cases) {
        EvsTestPlatformInstall();
        evsTestPlatform.devices = c.devices;
        evsTestPlatform.failQuery = c.failQuery;
        evsTestPlatform.failOpen = c.failOpen;
        Start(c.flags);
        EvsEvent *once = Event(0);
        EXPECT_EQ(EVS_OK, EvsEventStart(once));
        EXPECT_EQ(EVS_STATE_READY | EVS_STATE_PLAYING, State(once));
        At(1000);
        EXPECT_EQ(EVS_STATE_READY, State(once));
        EXPECT_EQ(0, evsTestPlatform.opens);
        EvsSystemRelease(system);
        system = NULL;
    }
}

TEST_F(Events, DefaultBindingInitialisesWithOrWithoutAudio)
{
    EvsTestPlatformRemove();
    Start();
    EXPECT_EQ(EVS_OK, EvsEventStart(Event(0)));
    EXPECT_EQ(EVS_OK, EvsSystemUpdate(system));
    EXPECT_EQ(1, EvsTraceCount("init channels=128 flags=0x2 output="));
}

TEST_F(Events, GroupDataFailuresLeaveTheGroupUnloaded)
{
    Start();
    struct Case { int32_t group; EvsResult result; } cases[] = {
        {1, EVS_ERR_FILE_NOT_FOUND}, {2, EVS_ERR_FORMAT},
    };
    for (const Case &c : cases) {
        EvsGroup *bad = NULL;
        EvsEvent *first = NULL;
        ASSERT_EQ(EVS_OK, EvsProjectGetGroup(project, c.group, true, &bad));
        int32_t live = EvsLiveBlocks();
        EXPECT_EQ(c.result, EvsGroupLoadData(bad, EVS_RESOURCES_ALL, 0));
        EXPECT_EQ(live, EvsLiveBlocks());
        ASSERT_EQ(EVS_OK, EvsGroupGetEvent(bad, 0, 0, &first));
        EXPECT_EQ(EVS_ERR_NOT_LOADED, EvsEventStart(first));
    }
    EXPECT_EQ(EVS_ERR_INVALID_PARAM, EvsGroupLoadData(group, EVS_RESOURCES_ALL, 1));
}

TEST_F(Events, FreeingDataStopsTheGroupsEvents)
{
    Start();
    EvsEvent *loop = Event(1);
    EvsEventStart(loop);
    int32_t live = EvsLiveBlocks();
    EXPECT_EQ(EVS_OK, EvsGroupLoadData(group, EVS_RESOURCES_ALL, 0));   // once only
    EXPECT_EQ(live, EvsLiveBlocks());
    EXPECT_EQ(EVS_OK, EvsGroupFreeData(group, NULL, true));
    EXPECT_EQ(0u, State(loop));
    EXPECT_EQ(0, evsTestPlatform.Live());
    EXPECT_EQ(EVS_ERR_NOT_LOADED, EvsEventStart(loop));
    EXPECT_EQ(1, EvsTraceCount("group free 0"));
}

TEST_F(Events, VolumeIsClampedAndPositionKept)
{
    Start();
    EvsEvent *loop = Event(1);
    float volume = -1.0f;
    struct Case { float set, got; } cases[] = {{0.25f, 0.25f}, {-1.0f, 0.0f}, {2.0f, 1.0f}};
    for (const Case &c : cases) {
        EXPECT_EQ(EVS_OK, EvsEventSetVolume(loop, c.set));
        EXPECT_EQ(EVS_OK, EvsEventGetVolume(loop, &volume));
        EXPECT_EQ(c.got, volume);
    }
    EvsVector at = {1.0f, -2.5f, 3.0f}, got = {}, velocity = {9, 9, 9};
    EXPECT_EQ(EVS_OK, EvsEventSetPosition(loop, &at, NULL));
    EXPECT_EQ(EVS_OK, EvsEventGetPosition(loop, &got, &velocity));
    EXPECT_EQ(0, memcmp(&at, &got, sizeof(at)));
    EXPECT_EQ(0.0f, velocity.x);
    EXPECT_EQ(1, EvsTraceCount("position 0:1 1.00 -2.50 3.00"));
}

TEST_F(Events, PlacedEventsFadeWithTheListenersDistance)
{
    struct Case { uint32_t flags; DWORD distant, close; } cases[] = {
        {EVS_INIT_SPATIAL, 0x80008000u, 0xFFFFFFFFu}, {0, 0xFFFFFFFFu, 0xFFFFFFFFu},
    };
    for (const Case &c : cases) {
        Start(c.flags);
        EvsMixer *mixer = NULL;
        EvsSystemGetMixer(system, &mixer);
        EvsMixerSetSpatial(mixer, 1.0f, 1.0f, 0.01f);
        EvsVector distant = {101.0f, 0.0f, 0.0f}, listener = {100.5f, 0.0f, 0.0f};
        EvsEventSetPosition(Event(1), &distant, NULL);
        EvsEventStart(Event(1));
        EXPECT_EQ(c.distant, evsTestPlatform.lastVolume);
        EvsMixerSetListener(mixer, 0, &listener, NULL, NULL, NULL);
        At(10);
        EXPECT_EQ(c.close, evsTestPlatform.lastVolume);
        EvsSystemRelease(system);
        system = NULL;
    }
}

// A position holds for one play: after the play ends (by its time or a stop)
// a start without a position is 2-D again; a position given before the start
// or while it plays places it.
TEST_F(Events, APositionLastsOnePlay)
{
    Start();
    EvsEvent *once = Event(0), *loop = Event(1);
    const EvsVector away = {100.0f, 0.0f, 0.0f};   // rolloff 1: a hundredth of the volume
    const DWORD lowered = 0x028F028Fu, full = 0xFFFFFFFFu;
    EvsEventSetPosition(once, &away, NULL);
    EvsEventStart(once);
    EXPECT_EQ(lowered, evsTestPlatform.lastVolume);
    At(1000);   // over
    EvsEventStart(once);
    EXPECT_EQ(full, evsTestPlatform.lastVolume);
    At(1100);
    EXPECT_EQ(full, evsTestPlatform.lastVolume);
    EvsEventSetPosition(once, &away, NULL);   // placed while it plays
    EXPECT_EQ(lowered, evsTestPlatform.lastVolume);
    EvsEventStop(once);
    EvsEventStart(once);
    EXPECT_EQ(full, evsTestPlatform.lastVolume);
    EvsEventStop(once);

    EvsEventSetPosition(loop, &away, NULL);
    EvsEventStart(loop);
    EXPECT_EQ(lowered, evsTestPlatform.lastVolume);
    EvsEventStart(loop);   // a restart of the same play keeps its place
    EXPECT_EQ(lowered, evsTestPlatform.lastVolume);
    EvsEventStop(loop);
    EvsEventStart(loop);
    EXPECT_EQ(full, evsTestPlatform.lastVolume);
    EvsVector kept = {};
    EvsEventGetPosition(loop, &kept, NULL);
    EXPECT_EQ(100.0f, kept.x);
    EvsEventStop(loop);
}

// Serves town.wav as 500 ms of 16 kHz audio from memory; sizeShift changes the
// size between the two asks.
struct Reader {
    std::string wav = EvsTestWav(16000, 1, 8, 8000);
    std::string asked;
    uint32_t sizeShift = 0;
    static bool Read(void *user, const char *path, void *buffer, uint32_t capacity, uint32_t *size)
    {
        Reader *r = static_cast<Reader *>(user);
        r->asked = path;
        if (r->asked != "evs_media/town.wav") {
            return false;
        }
        *size = static_cast<uint32_t>(r->wav.size()) + (buffer ? r->sizeShift : 0);
        if (buffer) {
            memcpy(buffer, r->wav.data(), capacity < r->wav.size() ? capacity : r->wav.size());
        }
        return true;
    }
};

TEST_F(Events, MediaComesThroughTheReaderWhenOneIsSet)
{
    Start();
    Reader reader;
    EvsGroup *other = NULL;
    ASSERT_EQ(EVS_OK, EvsProjectGetGroup(project, 1, true, &other));
    EvsGroupFreeData(group, NULL, false);
    EXPECT_EQ(EVS_OK, EvsSystemSetMediaReader(system, Reader::Read, &reader));
    EXPECT_EQ(EVS_ERR_FILE_NOT_FOUND, EvsGroupLoadData(other, EVS_RESOURCES_ALL, 0));
    EXPECT_EQ("evs_media/missing.wav", reader.asked);
    reader.sizeShift = 1;
    EXPECT_EQ(EVS_ERR_FILE_READ, EvsGroupLoadData(group, EVS_RESOURCES_ALL, 0));
    reader.sizeShift = 0;
    ASSERT_EQ(EVS_OK, EvsGroupLoadData(group, EVS_RESOURCES_ALL, 0));
    uint32_t length = 0;
    EvsEventGetInfo(Event(0), NULL, NULL, &length);
    EXPECT_EQ(500u, length);
}

TEST(Trace, KeepsTheLatestLines)
{
    EvsTraceClear();
    EvsSystem *system = NULL;
    EvsSystemCreate(&system);
    for (int32_t i = 0; i < EVS_TRACE_CAPACITY + 5; ++i) {
        EvsSystemSetMediaPath(system, std::to_string(i).c_str());
    }
    EvsSystemRelease(system);
    EXPECT_EQ(EVS_TRACE_CAPACITY, EvsTraceSize());
    EXPECT_STREQ("mediapath 6", EvsTraceLine(0));
    EXPECT_STREQ("system release", EvsTraceLine(EVS_TRACE_CAPACITY - 1));
    EXPECT_EQ(NULL, EvsTraceLine(EVS_TRACE_CAPACITY));
}

} // namespace
