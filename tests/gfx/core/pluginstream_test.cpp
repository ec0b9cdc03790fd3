// Tests of extension data in streams: the extension chunk written, read and skipped through a registry.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "fstestutil.h"
#include "gfx/core/memory.h"
#include "gfx/core/pluginstream.h"
#include "gfx/core/stream.h"
#include "support/stream_bytes.h"

namespace {

enum : RwUInt32 {
    idPair = 0x1001,        // two integers, always streamed
    idSingle = 0x1002,      // one integer, streamed when not 0
    idWatcher = 0x1003,     // no data; always and rights callbacks
    idUnwritten = 0x1004,   // sizes itself but cannot write
};

RwPluginRegistry Registry = rwPLUGINREGISTRY_INIT(16);
RwInt32 PairOffset = -1;
RwInt32 SingleOffset = -1;
RwInt32 WatcherOffset = -1;

// Behaviour switches and observations of the callbacks.
enum class Mode { Normal, Short, Over };
Mode PairWriteMode = Mode::Normal;
Mode SingleReadMode = Mode::Normal;
int AlwaysCalls = 0;
RwBool AlwaysResult = TRUE;
int SingleReads = 0;
RwUInt32 RightsExtra = 0;
RwBool RightsResult = TRUE;

RwInt32 *Field(void *object, RwInt32 offset)
{
    return reinterpret_cast<RwInt32 *>(static_cast<RwUInt8 *>(object) + offset);
}
const RwInt32 *Field(const void *object, RwInt32 offset)
{
    return reinterpret_cast<const RwInt32 *>(static_cast<const RwUInt8 *>(object) + offset);
}

RwStream *PairRead(RwStream *stream, RwInt32 length, void *object, RwInt32 offset, RwInt32)
{
    return RwStreamReadInt32(stream, Field(object, offset), 8);
}
RwStream *PairWrite(RwStream *stream, RwInt32 length, const void *object, RwInt32 offset, RwInt32)
{
    return RwStreamWriteInt32(stream, Field(object, offset), PairWriteMode == Mode::Short ? 4 : 8);
}
RwInt32 PairSize(const void *, RwInt32, RwInt32)
{
    return 8;
}

RwStream *SingleRead(RwStream *stream, RwInt32 length, void *object, RwInt32 offset, RwInt32)
{
    SingleReads++;
    RwInt32 scratch[2];
    switch (SingleReadMode) {
    case Mode::Short:
        return RwStreamRead(stream, scratch, 2) == 2 ? stream : nullptr;
    case Mode::Over:
        return RwStreamReadInt32(stream, scratch, 8);
    default:
        return RwStreamReadInt32(stream, Field(object, offset), 4);
    }
}
RwStream *SingleWrite(RwStream *stream, RwInt32 length, const void *object, RwInt32 offset, RwInt32)
{
    return RwStreamWriteInt32(stream, Field(object, offset), 4);
}
RwInt32 SingleSize(const void *object, RwInt32 offset, RwInt32)
{
    return *Field(object, offset) != 0 ? 4 : 0;
}

RwBool WatcherAlways(void *, RwInt32, RwInt32)
{
    AlwaysCalls++;
    return AlwaysResult;
}
RwBool WatcherRights(void *, RwInt32, RwInt32, RwUInt32 extraData)
{
    RightsExtra = extraData;
    return RightsResult;
}

RwInt32 UnwrittenSize(const void *, RwInt32, RwInt32)
{
    return 4;
}

void RegisterPlugins()
{
    PairOffset = RwPluginRegistryAddPlugin(&Registry, 8, idPair, nullptr, nullptr, nullptr);
    SingleOffset = RwPluginRegistryAddPlugin(&Registry, 4, idSingle, nullptr, nullptr, nullptr);
    WatcherOffset = RwPluginRegistryAddPlugin(&Registry, 4, idWatcher, nullptr, nullptr, nullptr);
    RwPluginRegistryAddPlugin(&Registry, 4, idUnwritten, nullptr, nullptr, nullptr);
    EXPECT_EQ(RwPluginRegistryAddPluginStream(&Registry, idPair, PairRead, PairWrite, PairSize), PairOffset);
    EXPECT_EQ(RwPluginRegistryAddPluginStream(&Registry, idSingle, SingleRead, SingleWrite, SingleSize),
              SingleOffset);
    EXPECT_EQ(RwPluginRegistryAddPluginStreamAlwaysCallBack(&Registry, idWatcher, WatcherAlways), WatcherOffset);
    EXPECT_EQ(RwPluginRegistryAddPluginStreamRightsCallBack(&Registry, idWatcher, WatcherRights), WatcherOffset);
    RwPluginRegistryAddPluginStream(&Registry, idUnwritten, nullptr, nullptr, UnwrittenSize);
}

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new EngineEnvironment(RegisterPlugins));

class PluginStream : public ::testing::Test {
protected:
    void SetUp() override
    {
        TakeError();
        PairWriteMode = Mode::Normal;
        SingleReadMode = Mode::Normal;
        AlwaysCalls = 0;
        AlwaysResult = TRUE;
        SingleReads = 0;
        RightsResult = TRUE;
        object.assign(Registry.sizeOfStruct, 0);
    }

    void SetPair(RwInt32 a, RwInt32 b)
    {
        Field(object.data(), PairOffset)[0] = a;
        Field(object.data(), PairOffset)[1] = b;
    }
    RwInt32 Pair(int i) const { return Field(object.data(), PairOffset)[i]; }
    RwInt32 &Single() { return *Field(object.data(), SingleOffset); }

    // The extension chunk of the object as written, or empty when the write fails.
    Bytes Write()
    {
        RwStream *stream = RwStreamOpen(rwSTREAMMEMORY, rwSTREAMWRITE, nullptr);
        const RwPluginRegistry *result = RwPluginRegistryWriteDataChunks(&Registry, stream, object.data());
        Bytes bytes = CloseWritten(stream);
        return result ? bytes : Bytes();
    }

    // Reads the chunk into the object; the stream's position afterwards goes to *end.
    bool Read(Bytes &bytes, RwUInt32 *end = nullptr)
    {
        RwStream *stream = OpenRead(bytes);
        bool ok = RwPluginRegistryReadDataChunks(&Registry, stream, object.data()) != nullptr;
        if (end) {
            *end = stream->Type.memory.position;
        }
        RwStreamClose(stream, nullptr);
        return ok;
    }

    std::vector<RwUInt8> object;
};

TEST_F(PluginStream, ExtensionsWriteTheirSubChunksInRegistrationOrder)
{
    SetPair(1, 2);
    Single() = 3;
    Bytes expected = Build().Header(3, 36).Header(idPair, 8).U32(1).U32(2).Header(idSingle, 4).U32(3);
    EXPECT_EQ(Write(), expected);
    EXPECT_EQ(RwPluginRegistryGetSize(&Registry, object.data()), 36);
    // An extension with nothing to write is left out of the chunk and its size.
    Single() = 0;
    expected.resize(12 + 20);
    expected[4] = 20;
    EXPECT_EQ(Write(), expected);
    // A writer that writes less than it announced fails the write.
    PairWriteMode = Mode::Short;
    EXPECT_TRUE(Write().empty());
    // A registry without extensions writes an empty chunk.
    RwPluginRegistry empty = rwPLUGINREGISTRY_INIT(8);
    EXPECT_EQ(RwPluginRegistryGetSize(&empty, object.data()), 0);
    RwStream *stream = RwStreamOpen(rwSTREAMMEMORY, rwSTREAMWRITE, nullptr);
    ASSERT_NE(RwPluginRegistryWriteDataChunks(&empty, stream, object.data()), nullptr);
    EXPECT_EQ(CloseWritten(stream), Build().Header(3, 0).bytes);
}

TEST_F(PluginStream, RoundTripRestoresBothExtensionsAndTruncationAtEveryOffsetFails)
{
    SetPair(-5, 600);
    Single() = 0x12345678;
    Bytes whole = Write();
    ASSERT_FALSE(whole.empty());
    object.assign(object.size(), 0);
    RwUInt32 end = 0;
    ASSERT_TRUE(Read(whole, &end));
    EXPECT_EQ(Pair(0), -5);
    EXPECT_EQ(Pair(1), 600);
    EXPECT_EQ(Single(), 0x12345678);
    EXPECT_EQ(AlwaysCalls, 1);
    EXPECT_EQ(end, whole.size());
    for (size_t n = 0; n < whole.size(); n++) {
        Bytes bytes(whole.begin(), whole.begin() + n);
        EXPECT_FALSE(Read(bytes)) << n;
    }
    TakeError();
}

TEST_F(PluginStream, ReadSkipsOtherChunksAndUnknownExtensions)
{
    Bytes bytes = Build().Header(1, 4).U32(0).Header(3, 32).Header(0x7777, 4).U32(~0u).Header(idSingle, 4).U32(9);
    RwUInt32 end = 0;
    ASSERT_TRUE(Read(bytes, &end));
    EXPECT_EQ(Single(), 9);
    EXPECT_EQ(end, bytes.size());
    // An empty chunk still calls every always-callback, whose failure fails the read.
    bytes = Build().Header(3, 0);
    EXPECT_TRUE(Read(bytes));
    AlwaysResult = FALSE;
    EXPECT_FALSE(Read(bytes));
    EXPECT_EQ(AlwaysCalls, 3);
}

TEST_F(PluginStream, HostileChunksAreRefusedBeforeAnyCallback)
{
    const char zeros[100] = {};
    const Bytes cases[] = {
        Build().Header(3, 0, 0x310),                                                   // version out of range
        Build().Header(3, 16).Header(idSingle, 100).U32(4).Text(zeros, 100),           // longer than the chunk
        Build().Header(3, 28).Header(0x7777, 0xFFFFFFF4u).Header(idSingle, 4).U32(4),  // size that would wrap
        Build().Header(3, 8).U32(idSingle).U32(0),                                     // no room for a header
        Build().Header(3, 112).Header(idSingle, 100).U32(4),                           // longer than the stream
    };
    for (Bytes bytes : cases) {
        EXPECT_FALSE(Read(bytes)) << bytes.size();
    }
    EXPECT_EQ(SingleReads, 0);
    EXPECT_EQ(AlwaysCalls, 0);
    EXPECT_EQ(static_cast<RwUInt32>(TakeError().errorCode), E_RW_BADVERSION);
}

TEST_F(PluginStream, ReaderThatReadsShortEndsAtItsSubChunkOneThatReadsBeyondFails)
{
    Bytes bytes = Build().Header(3, 16 + 20).Header(idSingle, 4).U32(4).Header(idPair, 8).U32(7).U32(8);
    SingleReadMode = Mode::Short;
    ASSERT_TRUE(Read(bytes));
    EXPECT_EQ(Pair(0), 7);
    EXPECT_EQ(Pair(1), 8);
    SingleReadMode = Mode::Over;
    AlwaysCalls = 0;
    EXPECT_FALSE(Read(bytes));
    EXPECT_EQ(AlwaysCalls, 0);
}

TEST_F(PluginStream, SkipPassesTheChunkWithoutCallbacks)
{
    Bytes bytes = Build().Header(3, 16, 0x310).Header(idSingle, 4).U32(4).U32(0xABCD);
    RwStream *stream = OpenRead(bytes);
    ASSERT_NE(RwPluginRegistrySkipDataChunks(&Registry, stream), nullptr);
    EXPECT_EQ(stream->Type.memory.position, 28u);
    EXPECT_EQ(SingleReads, 0);
    EXPECT_EQ(AlwaysCalls, 0);
    RwStreamClose(stream, nullptr);
}

TEST_F(PluginStream, RightsGoToTheNamedExtension)
{
    EXPECT_EQ(RwPluginRegistryInvokeRights(&Registry, idWatcher, object.data(), 0xBEEF), &Registry);
    EXPECT_EQ(RightsExtra, 0xBEEFu);
    RightsResult = FALSE;
    EXPECT_EQ(RwPluginRegistryInvokeRights(&Registry, idWatcher, object.data(), 1), nullptr);
    EXPECT_EQ(RwPluginRegistryInvokeRights(&Registry, idPair, object.data(), 1), nullptr);
    EXPECT_EQ(RwPluginRegistryInvokeRights(&Registry, 0x7777, object.data(), 1), nullptr);
    // Callbacks cannot be set on an unregistered id.
    EXPECT_EQ(RwPluginRegistryAddPluginStream(&Registry, 0x7777, PairRead, PairWrite, PairSize), -1);
    EXPECT_EQ(RwPluginRegistryAddPluginStreamAlwaysCallBack(&Registry, 0x7777, WatcherAlways), -1);
    EXPECT_EQ(RwPluginRegistryAddPluginStreamRightsCallBack(&Registry, 0x7777, WatcherRights), -1);
}

}  // namespace
