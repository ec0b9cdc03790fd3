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

TEST_F(PluginStream, TwoExtensionsWriteTheirSubChunksInRegistrationOrder)
{
    SetPair(1, 2);
    Single() = 3;
    Bytes expected;
    PutHeader(expected, 3, 36);
    PutHeader(expected, idPair, 8);
    Put32(expected, 1);
    Put32(expected, 2);
    PutHeader(expected, idSingle, 4);
    Put32(expected, 3);
    EXPECT_EQ(Write(), expected);
    EXPECT_EQ(RwPluginRegistryGetSize(&Registry, object.data()), 36);
}

TEST_F(PluginStream, RoundTripRestoresBothExtensions)
{
    SetPair(-5, 600);
    Single() = 0x12345678;
    Bytes bytes = Write();
    ASSERT_FALSE(bytes.empty());
    object.assign(object.size(), 0);
    RwUInt32 end = 0;
    ASSERT_TRUE(Read(bytes, &end));
    EXPECT_EQ(Pair(0), -5);
    EXPECT_EQ(Pair(1), 600);
    EXPECT_EQ(Single(), 0x12345678);
    EXPECT_EQ(AlwaysCalls, 1);
    EXPECT_EQ(end, bytes.size());
}

TEST_F(PluginStream, ExtensionWithNothingToWriteIsLeftOut)
{
    SetPair(1, 2);
    Single() = 0;
    Bytes bytes = Write();
    ASSERT_EQ(bytes.size(), 12u + 20u);
    EXPECT_EQ(bytes[4], 20);
}

TEST_F(PluginStream, DeclaredSizeCountsOnlyWhatIsWritten)
{
    // The extension that sizes itself without a writer adds nothing.
    SetPair(1, 2);
    Bytes bytes = Write();
    ASSERT_GE(bytes.size(), 12u);
    RwUInt32 declared = bytes[4] | (bytes[5] << 8) | (bytes[6] << 16) | (static_cast<RwUInt32>(bytes[7]) << 24);
    EXPECT_EQ(declared, bytes.size() - 12);
}

TEST_F(PluginStream, WriterThatWritesShortFailsTheWrite)
{
    PairWriteMode = Mode::Short;
    EXPECT_TRUE(Write().empty());
}

TEST_F(PluginStream, EmptyChunkStillCallsEveryAlwaysCallback)
{
    Bytes bytes;
    PutHeader(bytes, 3, 0);
    EXPECT_TRUE(Read(bytes));
    EXPECT_EQ(AlwaysCalls, 1);
}

TEST_F(PluginStream, UnknownPluginIdIsSkipped)
{
    Bytes bytes;
    PutHeader(bytes, 3, 16 + 16);
    PutHeader(bytes, 0x7777, 4);
    Put32(bytes, 0xFFFFFFFF);
    PutHeader(bytes, idSingle, 4);
    Put32(bytes, 9);
    RwUInt32 end = 0;
    ASSERT_TRUE(Read(bytes, &end));
    EXPECT_EQ(Single(), 9);
    EXPECT_EQ(end, bytes.size());
}

TEST_F(PluginStream, OtherChunksBeforeTheExtensionAreSkipped)
{
    Bytes bytes;
    PutHeader(bytes, 1, 4);
    Put32(bytes, 0);
    PutHeader(bytes, 3, 16);
    PutHeader(bytes, idSingle, 4);
    Put32(bytes, 4);
    ASSERT_TRUE(Read(bytes));
    EXPECT_EQ(Single(), 4);
}

TEST_F(PluginStream, SubChunkLongerThanTheChunkIsRefused)
{
    Bytes bytes;
    PutHeader(bytes, 3, 16);
    PutHeader(bytes, idSingle, 100);
    Put32(bytes, 4);
    bytes.resize(bytes.size() + 100, 0);
    EXPECT_FALSE(Read(bytes));
    EXPECT_EQ(SingleReads, 0);
    EXPECT_EQ(AlwaysCalls, 0);
}

TEST_F(PluginStream, HostileSubChunkSizeIsRefused)
{
    Bytes bytes;
    PutHeader(bytes, 3, 28);
    PutHeader(bytes, 0x7777, 0xFFFFFFF4u);
    PutHeader(bytes, idSingle, 4);
    Put32(bytes, 4);
    EXPECT_FALSE(Read(bytes));
    EXPECT_EQ(SingleReads, 0);
}

TEST_F(PluginStream, ChunkTooSmallForASubChunkHeaderIsRefused)
{
    Bytes bytes;
    PutHeader(bytes, 3, 8);
    Put32(bytes, idSingle);
    Put32(bytes, 0);
    EXPECT_FALSE(Read(bytes));
}

// An extension chunk holding the single value 4, then the pair (7, 8).
Bytes SingleThenPair()
{
    Bytes bytes;
    PutHeader(bytes, 3, 16 + 20);
    PutHeader(bytes, idSingle, 4);
    Put32(bytes, 4);
    PutHeader(bytes, idPair, 8);
    Put32(bytes, 7);
    Put32(bytes, 8);
    return bytes;
}

TEST_F(PluginStream, ReaderThatReadsShortEndsAtItsSubChunk)
{
    SingleReadMode = Mode::Short;
    Bytes bytes = SingleThenPair();
    ASSERT_TRUE(Read(bytes));
    EXPECT_EQ(Pair(0), 7);
    EXPECT_EQ(Pair(1), 8);
}

TEST_F(PluginStream, ReaderThatReadsBeyondItsSubChunkFails)
{
    SingleReadMode = Mode::Over;
    Bytes bytes = SingleThenPair();
    EXPECT_FALSE(Read(bytes));
    EXPECT_EQ(AlwaysCalls, 0);
}

TEST_F(PluginStream, FailingAlwaysCallbackFailsTheRead)
{
    AlwaysResult = FALSE;
    Bytes bytes;
    PutHeader(bytes, 3, 0);
    EXPECT_FALSE(Read(bytes));
    EXPECT_EQ(AlwaysCalls, 1);
}

TEST_F(PluginStream, VersionOutsideTheRangeIsRefused)
{
    Bytes bytes;
    PutHeader(bytes, 3, 0, 0x310);
    EXPECT_FALSE(Read(bytes));
    RwError error = TakeError();
    EXPECT_EQ(static_cast<RwUInt32>(error.errorCode), E_RW_BADVERSION);
}

TEST_F(PluginStream, TruncationAtEveryOffsetFails)
{
    SetPair(1, 2);
    Single() = 3;
    Bytes whole = Write();
    ASSERT_FALSE(whole.empty());
    for (size_t n = 0; n < whole.size(); n++) {
        Bytes bytes(whole.begin(), whole.begin() + n);
        EXPECT_FALSE(Read(bytes)) << n;
    }
    TakeError();
}

TEST_F(PluginStream, SkipPassesTheChunkWithoutCallbacks)
{
    Bytes bytes;
    PutHeader(bytes, 3, 16, 0x310);
    PutHeader(bytes, idSingle, 4);
    Put32(bytes, 4);
    Put32(bytes, 0xABCD);
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
}

TEST_F(PluginStream, CallbacksOnAnUnregisteredIdAreRefused)
{
    EXPECT_EQ(RwPluginRegistryAddPluginStream(&Registry, 0x7777, PairRead, PairWrite, PairSize), -1);
    EXPECT_EQ(RwPluginRegistryAddPluginStreamAlwaysCallBack(&Registry, 0x7777, WatcherAlways), -1);
    EXPECT_EQ(RwPluginRegistryAddPluginStreamRightsCallBack(&Registry, 0x7777, WatcherRights), -1);
}

TEST_F(PluginStream, EmptyRegistryWritesAnEmptyChunk)
{
    RwPluginRegistry empty = rwPLUGINREGISTRY_INIT(8);
    EXPECT_EQ(RwPluginRegistryGetSize(&empty, object.data()), 0);
    RwStream *stream = RwStreamOpen(rwSTREAMMEMORY, rwSTREAMWRITE, nullptr);
    ASSERT_NE(RwPluginRegistryWriteDataChunks(&empty, stream, object.data()), nullptr);
    Bytes expected;
    PutHeader(expected, 3, 0);
    EXPECT_EQ(CloseWritten(stream), expected);
}

}  // namespace
