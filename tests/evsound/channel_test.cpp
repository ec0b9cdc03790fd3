// Tests of 2-D samples and channels, WAV parsing on hostile files, and the mixer's settings.
#include <gtest/gtest.h>

#include <string>

#include "evsound/evsound.h"
#include "tests/evsound/evs_fixture.h"

namespace {

class Channels : public EvsTest {
protected:
    void SetUp() override
    {
        EvsTest::SetUp();
        // 1000 ms of 22.05 kHz stereo 16-bit.
        ASSERT_TRUE(EvsTestWriteFile("evs_samples/tune.wav", EvsTestWav(22050, 2, 16, 88200)));
        ASSERT_EQ(EVS_OK, EvsSystemCreate(&system));
        ASSERT_EQ(EVS_OK, EvsSystemGetMixer(system, &mixer));
    }
    void Init(int32_t channels = 4)
    {
        ASSERT_EQ(EVS_OK, EvsSystemInit(system, channels, EVS_INIT_SPATIAL, NULL, 0));
    }
    EvsSample *Sample(uint32_t mode)
    {
        EvsSample *sample = NULL;
        EXPECT_EQ(EVS_OK, EvsMixerCreateSample(mixer, "evs_samples/tune.wav", mode, NULL, &sample));
        return sample;
    }
    bool Playing(EvsChannel channel)
    {
        bool playing = true;
        EvsChannelIsPlaying(mixer, channel, &playing);
        return playing;
    }
    uint32_t Position(EvsChannel channel)
    {
        uint32_t ms = 12345;
        EvsChannelGetPosition(mixer, channel, &ms);
        return ms;
    }
    EvsMixer *mixer = NULL;
};

TEST_F(Channels, SamplePlaysForItsLengthThenTheChannelDies)
{
    Init();
    EvsSample *sample = Sample(EVS_MODE_2D);
    uint32_t length = 0;
    EXPECT_EQ(EVS_OK, EvsSampleGetLength(sample, &length));
    EXPECT_EQ(1000u, length);
    EvsChannel channel = 0;
    ASSERT_EQ(EVS_OK, EvsMixerPlaySample(mixer, sample, false, &channel));
    EXPECT_EQ(EVS_OK, EvsChannelSetVolume(mixer, channel, 0.25f));
    EXPECT_EQ(0x40004000u, evsTestPlatform.lastVolume);
    At(400);
    EXPECT_EQ(400u, Position(channel));
    EXPECT_TRUE(Playing(channel));
    At(1000);
    EXPECT_FALSE(Playing(channel));
    EXPECT_EQ(0u, Position(channel));
    EXPECT_EQ(EVS_ERR_INVALID_HANDLE, EvsChannelSetVolume(mixer, channel, 1.0f));
    EXPECT_EQ(0, evsTestPlatform.Live());
    EvsChannel next = 0;
    ASSERT_EQ(EVS_OK, EvsMixerPlaySample(mixer, sample, false, &next));
    EXPECT_NE(channel, next);   // the same slot under a new id
    EXPECT_FALSE(Playing(channel));
    EXPECT_EQ(EVS_OK, EvsChannelStop(mixer, next));
    EXPECT_FALSE(Playing(next));
}

TEST_F(Channels, LoopingAndPausedChannels)
{
    Init();
    EvsSample *stream = Sample(EVS_MODE_2D | EVS_MODE_STREAM | EVS_MODE_LOOP);
    EvsChannel channel = 0;
    ASSERT_EQ(EVS_OK, EvsMixerPlaySample(mixer, stream, false, &channel));
    EXPECT_EQ(0xFFFFFFFFu, evsTestPlatform.lastLoops);
    At(2500);
    EXPECT_EQ(500u, Position(channel));
    EXPECT_EQ(EVS_OK, EvsChannelSetPaused(mixer, channel, true));
    At(4000);
    EXPECT_EQ(500u, Position(channel));
    EXPECT_EQ(EVS_OK, EvsChannelSetPaused(mixer, channel, false));
    At(4200);
    EXPECT_EQ(700u, Position(channel));
    EXPECT_EQ(1, evsTestPlatform.pauses);
    EXPECT_EQ(1, evsTestPlatform.restarts);
    EXPECT_EQ(EVS_OK, EvsSampleRelease(stream));   // stops its channel first
    EXPECT_FALSE(Playing(channel));
    EXPECT_EQ(0, evsTestPlatform.Live());
}

TEST_F(Channels, PlayingNeedsInitialisationAndAFreeChannel)
{
    EvsSample *sample = Sample(EVS_MODE_2D);
    EvsChannel channel = 7;
    EXPECT_EQ(EVS_ERR_UNINITIALISED, EvsMixerPlaySample(mixer, sample, false, &channel));
    EXPECT_EQ(0u, channel);
    Init(2);
    EXPECT_EQ(EVS_OK, EvsMixerPlaySample(mixer, sample, false, &channel));
    EXPECT_EQ(EVS_OK, EvsMixerPlaySample(mixer, sample, true, &channel));
    EXPECT_EQ(EVS_ERR_NO_CHANNEL, EvsMixerPlaySample(mixer, sample, false, &channel));
    EXPECT_EQ(0u, channel);
    EXPECT_EQ(EVS_ERR_ALREADY, EvsSystemInit(system, 2, 0, NULL, 0));
}

// The largest channel count starts the system; one more is refused.
TEST_F(Channels, TheLargestChannelCountIsAcceptedAndOneMoreRefused)
{
    EXPECT_EQ(EVS_ERR_INVALID_PARAM, EvsSystemInit(system, EVS_MAX_CHANNELS + 1, 0, NULL, 0));
    EXPECT_EQ(EVS_OK, EvsSystemInit(system, EVS_MAX_CHANNELS, EVS_INIT_SILENT, NULL, 0));
}

TEST_F(Channels, BadSampleFilesFailWithoutLeaks)
{
    std::string wav = EvsTestWav(8000, 1, 8, 16);
    EvsSample *sample = NULL;
    for (size_t n = 0; n < wav.size(); ++n) {
        ASSERT_TRUE(EvsTestWriteFile("evs_samples/cut.wav", wav.substr(0, n)));
        EXPECT_EQ(EVS_ERR_FORMAT, EvsMixerCreateSample(mixer, "evs_samples/cut.wav", 0, NULL, &sample)) << n;
    }
    struct Case { size_t at; char value; } patches[] = {
        {8, 'X'}, {20, 3}, {22, 3}, {32, 3}, {34, 12}, {36, 'x'}, {40, 17},
    };
    for (const Case &c : patches) {
        std::string bad = wav;
        bad[c.at] = c.value;
        ASSERT_TRUE(EvsTestWriteFile("evs_samples/bad.wav", bad));
        EXPECT_EQ(EVS_ERR_FORMAT, EvsMixerCreateSample(mixer, "evs_samples/bad.wav", 0, NULL, &sample)) << c.at;
    }
    EXPECT_EQ(EVS_ERR_FILE_NOT_FOUND, EvsMixerCreateSample(mixer, "evs_samples/none.wav", 0, NULL, &sample));
    EXPECT_EQ(EVS_ERR_INVALID_PARAM, EvsMixerCreateSample(mixer, "evs_samples/tune.wav", 0x100, NULL, &sample));
    EvsSampleInfo info = {};
    info.size = sizeof(info);
    info.length = 40;   // cuts the data chunk short
    EXPECT_EQ(EVS_ERR_FORMAT, EvsMixerCreateSample(mixer, "evs_samples/tune.wav", 0, &info, &sample));
    info.size = 100;
    EXPECT_EQ(EVS_ERR_INVALID_PARAM, EvsMixerCreateSample(mixer, "evs_samples/tune.wav", 0, &info, &sample));
    EXPECT_EQ(NULL, sample);
    info.size = 0;   // a zeroed record asks for nothing: the whole file
    EXPECT_EQ(EVS_OK, EvsMixerCreateSample(mixer, "evs_samples/tune.wav", EVS_MODE_2D, &info, &sample));
}

// A chunk of odd size before "data" is followed by its pad byte, which is no part of the next chunk.
TEST_F(Channels, OddChunksBeforeTheDataAreSkippedWithTheirPadByte)
{
    std::string wav = EvsTestWav(8000, 1, 8, 800);   // 100 ms
    wav.insert(36, std::string("LIST\x03\0\0\0abc\0", 12));
    wav[4] = static_cast<char>(wav[4] + 12);
    ASSERT_TRUE(EvsTestWriteFile("evs_samples/odd.wav", wav));
    EvsSample *sample = NULL;
    ASSERT_EQ(EVS_OK, EvsMixerCreateSample(mixer, "evs_samples/odd.wav", EVS_MODE_2D, NULL, &sample));
    uint32_t ms = 0;
    EXPECT_EQ(EVS_OK, EvsSampleGetLength(sample, &ms));
    EXPECT_EQ(100u, ms);
    EvsSampleRelease(sample);
}

TEST_F(Channels, MixerSettingsAndDriverInformation)
{
    uint32_t caps = 9;
    EvsSpeakers speakers = EVS_SPEAKERS_MONO;
    EXPECT_EQ(EVS_OK, EvsMixerGetDriverInfo(mixer, 0, &caps, NULL, NULL, &speakers));
    EXPECT_EQ(EVS_CAPS_OUTPUT, caps);
    EXPECT_EQ(EVS_SPEAKERS_STEREO, speakers);
    evsTestPlatform.devices = 0;
    EXPECT_EQ(EVS_OK, EvsMixerGetDriverInfo(mixer, 0, &caps, NULL, NULL, &speakers));
    EXPECT_EQ(0u, caps);
    EXPECT_EQ(EVS_ERR_INDEX, EvsMixerGetDriverInfo(mixer, 1, &caps, NULL, NULL, &speakers));
    EXPECT_EQ(EVS_OK, EvsMixerSetSpeakers(mixer, EVS_SPEAKERS_5POINT1));
    EXPECT_EQ(EVS_ERR_INVALID_PARAM, EvsMixerSetSpeakers(mixer, static_cast<EvsSpeakers>(0)));
    float doppler = 0, distance = 0, rolloff = 0;
    EXPECT_EQ(EVS_OK, EvsMixerSetSpatial(mixer, 1.0f, 2.0f, 0.01f));
    EXPECT_EQ(EVS_ERR_INVALID_PARAM, EvsMixerSetSpatial(mixer, 1.0f, 0.0f, 0.01f));
    EXPECT_EQ(EVS_OK, EvsMixerGetSpatial(mixer, &doppler, &distance, &rolloff));
    EXPECT_EQ(2.0f, distance);   // the refused setting changed nothing
    EvsVector at = {1, 2, 3}, forward = {0, 0, -1}, got = {}, gotForward = {}, gotUp = {};
    EXPECT_EQ(EVS_OK, EvsMixerSetListener(mixer, 0, &at, NULL, &forward, NULL));
    EXPECT_EQ(EVS_ERR_INDEX, EvsMixerSetListener(mixer, 1, &at, NULL, NULL, NULL));
    EXPECT_EQ(EVS_OK, EvsMixerGetListener(mixer, 0, &got, NULL, &gotForward, &gotUp));
    EXPECT_EQ(3.0f, got.z);
    EXPECT_EQ(-1.0f, gotForward.z);
    EXPECT_EQ(1.0f, gotUp.y);   // kept as it was
}

} // namespace
