// Tests of binary streams, chunk headers, value arrays and string chunks.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "fstestutil.h"
#include "gfx/core/byteorder.h"
#include "gfx/core/frame.h"
#include "gfx/core/image.h"
#include "gfx/core/memory.h"
#include "gfx/core/stream.h"
#include "support/stream_bytes.h"

namespace {

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new EngineEnvironment);

bool IsError(RwInt32 pluginID, RwUInt32 code)
{
    RwError error = TakeError();
    return error.pluginID == pluginID && static_cast<RwUInt32>(error.errorCode) == code;
}

RwStream *OpenWrite()
{
    return RwStreamOpen(rwSTREAMMEMORY, rwSTREAMWRITE, nullptr);
}

class Stream : public ::testing::Test {
protected:
    void SetUp() override { TakeError(); }
};

TEST_F(Stream, AppendContinuesABufferOfTheLibrarysAllocator)
{
    RwUInt8 *start = static_cast<RwUInt8 *>(RwMalloc(4, 0x30404));
    std::memcpy(start, "abcd", 4);
    RwMemory memory = {start, 4};
    RwStream *stream = RwStreamOpen(rwSTREAMMEMORY, rwSTREAMAPPEND, &memory);
    ASSERT_NE(RwStreamWrite(stream, Bytes(600, 'e').data(), 600), nullptr);
    Bytes expected = {'a', 'b', 'c', 'd'};
    expected.resize(604, 'e');
    EXPECT_EQ(CloseWritten(stream), expected);
}

TEST_F(Stream, MemoryThatCannotGrowRaisesOutOfMemoryAndKeepsWhatWasWritten)
{
    RwStream *stream = OpenWrite();
    rwTestMemory.failHint = 0x30404;
    EXPECT_EQ(RwStreamWrite(stream, "abc", 3), nullptr);
    EXPECT_EQ(rwTestMemory.lastSize, 512u);
    EXPECT_TRUE(IsError(0, E_RW_NOMEM));
    rwTestMemory.failHint = 0;
    Bytes block(512, 0x5A);
    ASSERT_EQ(RwStreamWrite(stream, block.data(), 512), stream);
    rwTestMemory.failHint = 0x1030404;
    EXPECT_EQ(RwStreamWrite(stream, "x", 1), nullptr);
    rwTestMemory.failHint = 0;
    EXPECT_TRUE(IsError(0, E_RW_NOMEM));
    EXPECT_EQ(CloseWritten(stream), block);
}

TEST_F(Stream, ReadsAndSkipsStopAtTheEnd)
{
    Bytes bytes(16, 1);
    RwStream *stream = OpenRead(bytes);
    ASSERT_EQ(RwStreamSkip(stream, 8), stream);
    unsigned char buffer[20];
    EXPECT_EQ(RwStreamReadExact(stream, buffer, 4), stream);
    EXPECT_EQ(RwStreamRead(stream, buffer, 20), 4u);
    EXPECT_TRUE(IsError(1, E_RW_ENDOFSTREAM));
    EXPECT_EQ(RwStreamReadExact(stream, buffer, 4), nullptr);
    EXPECT_NE(TakeError().errorCode, static_cast<RwInt32>(E_RW_NOERROR));
    RwStreamClose(stream, nullptr);

    // A skip past the end, or one so large that it would wrap, stops at the end.
    for (RwUInt32 skip : {17u, 0xFFFFFFF4u}) {
        stream = OpenRead(bytes);
        ASSERT_EQ(RwStreamSkip(stream, 4), stream);
        EXPECT_EQ(RwStreamSkip(stream, skip), nullptr);
        EXPECT_EQ(stream->Type.memory.position, 16u);
        EXPECT_TRUE(IsError(1, E_RW_ENDOFSTREAM));
        RwStreamClose(stream, nullptr);
    }
}

TEST_F(Stream, AccessNotValidForTheStreamIsRefused)
{
    Bytes bytes(8, 0);
    RwStream *stream = OpenRead(bytes);
    EXPECT_EQ(RwStreamWrite(stream, "x", 1), nullptr);
    EXPECT_TRUE(IsError(1, E_RW_INVSTREAMACCESSTYPE));
    EXPECT_EQ(bytes[0], 0);
    RwStreamClose(stream, nullptr);

    stream = OpenWrite();
    ASSERT_EQ(RwStreamWrite(stream, "abcd", 4), stream);
    EXPECT_EQ(RwStreamRead(stream, bytes.data(), 8), 0u);
    EXPECT_TRUE(IsError(1, E_RW_INVSTREAMACCESSTYPE));
    EXPECT_EQ(CloseWritten(stream), (Bytes{'a', 'b', 'c', 'd'}));

    RwMemory memory = {bytes.data(), 8};
    EXPECT_EQ(RwStreamOpen(static_cast<RwStreamType>(9), rwSTREAMREAD, &memory), nullptr);
    EXPECT_TRUE(IsError(1, E_RW_INVSTREAMTYPE));
    EXPECT_EQ(RwStreamOpen(rwSTREAMMEMORY, static_cast<RwStreamAccessType>(7), &memory), nullptr);
    EXPECT_TRUE(IsError(1, E_RW_INVSTREAMACCESSTYPE));
    EXPECT_EQ(RwStreamOpen(rwSTREAMFILENAME, static_cast<RwStreamAccessType>(7), "x"), nullptr);
    EXPECT_TRUE(IsError(1, E_RW_INVSTREAMACCESSTYPE));
}

// A custom stream over a vector that can be told to fail its writes.
struct CustomSink {
    Bytes bytes;
    RwUInt32 readAt = 0;
    bool failWrites = false;
    bool closed = false;
};

CustomSink *Sink(void *data)
{
    return static_cast<CustomSink *>(data);
}
RwBool SinkClose(void *data)
{
    Sink(data)->closed = true;
    return TRUE;
}
RwUInt32 SinkRead(void *data, void *buffer, RwUInt32 length)
{
    RwUInt32 n = std::min(length, static_cast<RwUInt32>(Sink(data)->bytes.size()) - Sink(data)->readAt);
    std::memcpy(buffer, Sink(data)->bytes.data() + Sink(data)->readAt, n);
    Sink(data)->readAt += n;
    return n;
}
RwBool SinkWrite(void *data, const void *buffer, RwUInt32 length)
{
    const unsigned char *b = static_cast<const unsigned char *>(buffer);
    Sink(data)->bytes.insert(Sink(data)->bytes.end(), b, b + (Sink(data)->failWrites ? 0 : length));
    return !Sink(data)->failWrites;
}
RwBool SinkSkip(void *data, RwUInt32 offset)
{
    if (offset > Sink(data)->bytes.size() - Sink(data)->readAt) {
        return FALSE;
    }
    Sink(data)->readAt += offset;
    return TRUE;
}

// A custom stream knows no size: before a reader allocates for a count it
// read, the bytes are read ahead and handed on in order afterwards, whatever
// reads and skips follow; when they run out nothing is lost.
TEST_F(Stream, CustomStreamReadsAheadWhatACountNeedsAndHandsItOn)
{
    CustomSink sink;
    for (int i = 0; i < 100; ++i)
        sink.bytes.push_back(static_cast<unsigned char>(i));
    RwStreamCustom custom = {SinkClose, SinkRead, SinkWrite, SinkSkip, &sink};
    RwStream *stream = RwStreamOpen(rwSTREAMCUSTOM, rwSTREAMREAD, &custom);
    unsigned char b[100];
    ASSERT_EQ(RwStreamRead(stream, b, 2), 2u);
    EXPECT_FALSE(RwStreamCanHold(stream, 11, 9));   // 99 bytes: one more than there are
    EXPECT_TRUE(RwStreamCanHold(stream, 7, 14));
    EXPECT_EQ(100u, sink.readAt);
    ASSERT_EQ(RwStreamRead(stream, b, 3), 3u);
    EXPECT_EQ(2, b[0]);
    EXPECT_EQ(4, b[2]);
    ASSERT_EQ(RwStreamSkip(stream, 90), stream);
    EXPECT_EQ(RwStreamRead(stream, b, 10), 5u);     // the rest, then the end
    EXPECT_EQ(95, b[0]);
    EXPECT_EQ(99, b[4]);
    EXPECT_TRUE(RwStreamClose(stream, nullptr));
    EXPECT_TRUE(sink.closed);
    // Part of what was read ahead handed on, then more asked for: the rest
    // moves to the front and the new bytes follow it.
    sink.readAt = 0;
    stream = RwStreamOpen(rwSTREAMCUSTOM, rwSTREAMREAD, &custom);
    EXPECT_TRUE(RwStreamCanHold(stream, 1, 10));
    ASSERT_EQ(RwStreamRead(stream, b, 4), 4u);
    EXPECT_TRUE(RwStreamCanHold(stream, 1, 20));
    ASSERT_EQ(RwStreamRead(stream, b, 20), 20u);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(4 + i, b[i]) << i;
    }
    RwStreamClose(stream, nullptr);
}

// Readers over a custom stream: a few bytes claiming millions of records make
// no allocation larger than the first step of the read-ahead.
TEST_F(Stream, TinyCustomStreamsClaimingHugeCountsAllocateLittle)
{
    Bytes frameList = Build().Header(1, 0xFFFFFFF0u).U32(0x04000000);
    Bytes image = Build().Header(1, 16).U32(23170).U32(23170).U32(32).U32(4 * 23170);   // 2 GB of rows
    struct Reader {
        Bytes *bytes;
        bool (*read)(RwStream *);
    };
    const Reader readers[] = {
        {&frameList, [](RwStream *s) {
             RwFrameList list;
             return RwFrameListStreamRead(s, &list) != nullptr;
         }},
        {&image, [](RwStream *s) { return RwImageStreamRead(s) != nullptr; }},
    };
    const RwInt32 live = rwTestMemory.live;
    for (const Reader &r : readers) {
        CustomSink sink;
        sink.bytes = *r.bytes;
        RwStreamCustom custom = {SinkClose, SinkRead, SinkWrite, SinkSkip, &sink};
        RwStream *stream = RwStreamOpen(rwSTREAMCUSTOM, rwSTREAMREAD, &custom);
        rwTestMemory.largest = 0;
        EXPECT_FALSE(r.read(stream));
        EXPECT_LE(rwTestMemory.largest, 0x10000u) << r.bytes->size();
        RwStreamClose(stream, nullptr);
        EXPECT_EQ(live, rwTestMemory.live);
        TakeError();
    }
}

// A callback may give fewer bytes than asked at any call: only 0 is the end.
// A count above the one asked ((RwUInt32)-1) is an error: no data, and the end.
TEST_F(Stream, CustomReadsAskAgainAfterShortCountsAndTakeAnErrorAsNoData)
{
    Bytes bytes(100000);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<unsigned char>(i * 7);
    }
    CustomSource chunked = {&bytes, bytes.size(), 4096, false};
    RwStream *stream = OpenCustomRead(&chunked);
    EXPECT_TRUE(RwStreamCanHold(stream, 1, 10000));
    Bytes got(20000);
    ASSERT_EQ(20000u, RwStreamRead(stream, got.data(), 20000));
    EXPECT_TRUE(std::equal(got.begin(), got.end(), bytes.begin()));
    ASSERT_EQ(stream, RwStreamSkip(stream, 79990));
    RwUInt32 at = 0;
    EXPECT_TRUE(RwStreamGetPosition(stream, &at));
    EXPECT_EQ(99990u, at);
    EXPECT_EQ(10u, RwStreamRead(stream, got.data(), 20));
    EXPECT_TRUE(IsError(1, E_RW_ENDOFSTREAM));
    RwStreamClose(stream, nullptr);

    CustomSource failing = {&bytes, 50, 3, true};
    stream = OpenCustomRead(&failing);
    EXPECT_FALSE(RwStreamCanHold(stream, 1, 100));
    EXPECT_EQ(static_cast<RwInt32>(E_RW_READ), TakeError().errorCode);
    Bytes out(100, 0xEE);
    EXPECT_EQ(50u, RwStreamRead(stream, out.data(), 100));
    EXPECT_EQ(0xEE, out[50]);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 50, bytes.begin()));
    failing.fail = false;   // the stream stays at its end, as a memory stream does
    failing.end = bytes.size();
    EXPECT_EQ(0u, RwStreamRead(stream, out.data(), 1));
    EXPECT_FALSE(RwStreamCanHold(stream, 1, 1));
    EXPECT_EQ(nullptr, RwStreamSkip(stream, 1));
    RwStreamClose(stream, nullptr);
    TakeError();

    // Without a skip callback the bytes are read and passed over, those read
    // ahead first.
    CustomSource plain = {&bytes, bytes.size(), 4096, false};
    RwStreamCustom noSkip = {nullptr, CustomSourceRead, nullptr, nullptr, &plain};
    stream = RwStreamOpen(rwSTREAMCUSTOM, rwSTREAMREAD, &noSkip);
    EXPECT_TRUE(RwStreamCanHold(stream, 1, 10000));
    ASSERT_EQ(stream, RwStreamSkip(stream, 5000));
    ASSERT_EQ(stream, RwStreamSkip(stream, 90001));
    EXPECT_TRUE(RwStreamGetPosition(stream, &at));
    EXPECT_EQ(95001u, at);
    ASSERT_EQ(1u, RwStreamRead(stream, got.data(), 1));
    EXPECT_EQ(bytes[95001], got[0]);
    EXPECT_EQ(nullptr, RwStreamSkip(stream, 5000));
    EXPECT_TRUE(IsError(1, E_RW_ENDOFSTREAM));
    RwStreamClose(stream, nullptr);
}

TEST_F(Stream, CustomStreamCallsItsCallbacksAndReportsFailedWrites)
{
    CustomSink sink;
    sink.bytes = {9, 8, 7, 6};
    RwStreamCustom custom = {SinkClose, SinkRead, SinkWrite, SinkSkip, &sink};
    RwStream *stream = RwStreamOpen(rwSTREAMCUSTOM, rwSTREAMREAD, &custom);
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(RwStreamSkip(stream, 1), stream);
    unsigned char buffer[2];
    EXPECT_EQ(RwStreamRead(stream, buffer, 2), 2u);
    EXPECT_EQ(buffer[0], 8);
    EXPECT_EQ(RwStreamSkip(stream, 5), nullptr);
    EXPECT_TRUE(RwStreamClose(stream, nullptr));
    EXPECT_TRUE(sink.closed);

    // Bytes written count in the position, as an extension writer checks.
    stream = RwStreamOpen(rwSTREAMCUSTOM, rwSTREAMWRITE, &custom);
    ASSERT_NE(nullptr, RwStreamWriteChunkHeader(stream, 1, 0));
    RwUInt32 at = 0;
    EXPECT_TRUE(RwStreamGetPosition(stream, &at));
    EXPECT_EQ(12u, at);
    RwStreamClose(stream, nullptr);

    sink.failWrites = true;
    stream = RwStreamOpen(rwSTREAMCUSTOM, rwSTREAMWRITE, &custom);
    RwInt32 ints[2] = {1, 2};
    RwReal reals[2] = {1.0f, 2.0f};
    EXPECT_EQ(RwStreamWrite(stream, ints, 8), nullptr);
    EXPECT_EQ(RwStreamWriteInt32(stream, ints, 8), nullptr);
    EXPECT_EQ(RwStreamWriteReal(stream, reals, 8), nullptr);
    EXPECT_EQ(RwStreamWriteChunkHeader(stream, 1, 0), nullptr);
    EXPECT_EQ(RwStringStreamWrite("abc", stream), nullptr);
    RwStreamClose(stream, nullptr);
}

// Long arrays cross the conversion buffer; 16-bit values have no other reader.
TEST_F(Stream, ValuesAreWrittenAndReadLittleEndian)
{
    RwStream *stream = OpenWrite();
    RwInt16 shorts[2] = {0x0102, -2};
    ASSERT_EQ(RwStreamWriteInt16(stream, shorts, 4), stream);
    Bytes expected = {0x02, 0x01, 0xFE, 0xFF};
    EXPECT_EQ(CloseWritten(stream), expected);
    stream = OpenRead(expected);
    ASSERT_NE(RwStreamReadInt16(stream, shorts, 4), nullptr);
    EXPECT_EQ(shorts[1], -2);
    EXPECT_EQ(RwStreamReadInt16(stream, shorts, 2), nullptr);
    RwStreamClose(stream, nullptr);

    std::vector<RwInt32> manyInts(300);
    std::vector<RwReal> manyReals(300);
    for (int k = 0; k < 300; k++) {
        manyInts[k] = static_cast<RwInt32>(static_cast<RwUInt32>(k) * 0x01010101u);
        manyReals[k] = static_cast<RwReal>(k) * 0.5f;
    }
    stream = OpenWrite();
    ASSERT_NE(RwStreamWriteInt32(stream, manyInts.data(), 1200), nullptr);
    ASSERT_NE(RwStreamWriteReal(stream, manyReals.data(), 1200), nullptr);
    Bytes written = CloseWritten(stream);
    ASSERT_EQ(written.size(), 2400u);
    EXPECT_EQ(written[4 * 299], 299 & 0xFF);
    stream = OpenRead(written);
    std::vector<RwInt32> intsBack(300);
    std::vector<RwReal> realsBack(300);
    ASSERT_NE(RwStreamReadInt32(stream, intsBack.data(), 1200), nullptr);
    ASSERT_NE(RwStreamReadReal(stream, realsBack.data(), 1200), nullptr);
    EXPECT_EQ(intsBack, manyInts);
    EXPECT_EQ(realsBack, manyReals);
    RwStreamClose(stream, nullptr);
}

TEST_F(Stream, FieldHelpersAreLittleEndianAtAnyAlignment)
{
    const unsigned char fields[] = {0xAA, 0x78, 0x56, 0x34, 0x12, 0xFE, 0xFF, 0x00, 0x00, 0x80, 0xBF};
    EXPECT_EQ(ReadU32(fields + 1), 0x12345678u);
    EXPECT_EQ(ReadU16(fields + 1), 0x5678u);
    EXPECT_EQ(ReadI16(fields + 5), -2);
    EXPECT_EQ(ReadI32(fields + 5), 0x0000FFFE);
    EXPECT_EQ(ReadF32(fields + 7), -1.0f);
    unsigned char out[11] = {0xAA};
    WriteU32(out + 1, 0x12345678u);
    WriteI16(out + 5, -2);
    WriteF32(out + 7, -1.0f);
    EXPECT_EQ(std::memcmp(out, fields, sizeof(fields)), 0);
}

TEST_F(Stream, ChunkHeaderIsTwelveBytesStamped1C020055)
{
    EXPECT_EQ(RwChunkVersionStamp(0x37002, 0x55), 0x1C020055u);
    RwUInt32 version;
    RwUInt32 build;
    RwChunkVersionDecode(0x1C020055, &version, &build);
    EXPECT_EQ(version, 0x37002u);
    EXPECT_EQ(build, 0x55u);
    // Old-style stamps are the shifted version, without a build.
    RwChunkVersionDecode(0x310, &version, &build);
    EXPECT_EQ(version, 0x31000u);
    EXPECT_EQ(build, 0u);

    RwStream *stream;
    Bytes whole = Build().Header(1, 0);
    for (size_t n = 0; n < whole.size(); n++) {
        Bytes bytes(whole.begin(), whole.begin() + n);
        stream = OpenRead(bytes);
        EXPECT_FALSE(RwStreamReadChunkHeaderInfo(stream, nullptr, nullptr, nullptr, nullptr)) << n;
        EXPECT_NE(TakeError().errorCode, static_cast<RwInt32>(E_RW_NOERROR));
        RwStreamClose(stream, nullptr);
    }
}

TEST_F(Stream, FindSkipsOtherChunksWithoutCheckingTheirVersion)
{
    Bytes bytes = Build().Header(7, 4, 0x310).U32(0xDEADBEEF).Header(1, 4).U32(42);
    RwStream *stream = OpenRead(bytes);
    RwUInt32 length = 0;
    RwUInt32 version = 0;
    ASSERT_TRUE(RwStreamFindChunk(stream, 1, &length, &version));
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(version, 0x37002u);
    RwInt32 value;
    ASSERT_NE(RwStreamReadInt32(stream, &value, 4), nullptr);
    EXPECT_EQ(value, 42);
    EXPECT_FALSE(RwStreamFindChunk(stream, 1, nullptr, nullptr));
    EXPECT_TRUE(IsError(1, E_RW_ENDOFSTREAM));
    RwStreamClose(stream, nullptr);
}

TEST_F(Stream, FindRefusesOldVersionsAndStopsAtHostileSizes)
{
    Bytes old = Build().Header(1, 0, 0x310);
    RwStream *stream = OpenRead(old);
    EXPECT_FALSE(RwStreamFindChunk(stream, 1, nullptr, nullptr));
    EXPECT_TRUE(IsError(0, E_RW_BADVERSION));
    RwStreamClose(stream, nullptr);
    // 0xFFFFFFF4 added to the position would step back onto this very header.
    Bytes bytes = Build().Header(9, 0xFFFFFFF4u).Header(1, 0);
    stream = OpenRead(bytes);
    EXPECT_FALSE(RwStreamFindChunk(stream, 1, nullptr, nullptr));
    EXPECT_EQ(stream->Type.memory.position, bytes.size());
    RwStreamClose(stream, nullptr);
}

TEST_F(Stream, StringChunkIsHeaderTextAndZeroPaddingToFour)
{
    EXPECT_EQ(RwStringStreamGetSize(""), 4u);
    EXPECT_EQ(RwStringStreamGetSize("abc"), 4u);
    EXPECT_EQ(RwStringStreamGetSize("abcd"), 8u);
    EXPECT_EQ(RwStringStreamGetSize(nullptr), 4u);
    RwStream *stream = OpenWrite();
    ASSERT_NE(RwStringStreamWrite("abcde", stream), nullptr);
    ASSERT_NE(RwStringStreamWrite(nullptr, stream), nullptr);
    Bytes expected = Build().Header(2, 8).Text("abcde\0\0\0", 8).Header(2, 4).U32(0);
    EXPECT_EQ(CloseWritten(stream), expected);
}

TEST_F(Stream, StringReadsBoundTerminateAndWidenTheText)
{
    Bytes bytes = Build()
                      .Header(1, 4)
                      .U32(0)
                      .Header(2, 12)
                      .Text("abcdefghij\0\0", 12)
                      .Header(2, 4)
                      .Text("wxyz", 4)  // no terminator
                      .Header(0x13, 8)
                      .Text("h\x01i\x02\0\0\0\0", 8);  // 16-bit characters keep their low bytes
    RwStream *stream = OpenRead(bytes);
    RwChar buffer[5];
    std::memset(buffer, '#', sizeof(buffer));
    ASSERT_EQ(RwStringStreamFindAndRead(buffer, sizeof(buffer), stream), buffer);
    EXPECT_STREQ(buffer, "abcd");
    // The rest of the long string was passed over.
    RwChar *text = RwStringStreamFindAndRead(nullptr, 0, stream);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "wxyz");
    RwFree(text);
    ASSERT_EQ(RwStringStreamFindAndRead(buffer, sizeof(buffer), stream), buffer);
    EXPECT_STREQ(buffer, "hi");
    EXPECT_EQ(stream->Type.memory.position, bytes.size());
    RwStreamClose(stream, nullptr);
}

TEST_F(Stream, BadStringChunksFailWithoutLeaking)
{
    const struct {
        RwUInt32 size;
        RwUInt32 stamp;
        RwUInt32 failHint;
        RwUInt32 code;
    } cases[] = {
        {4, 0x1C040055, 0, E_RW_BADVERSION},  // version 0x37004
        {0xFFFFFFF0u, 0x1C020055, 0, E_RW_READ},
        {4, 0x1C020055, 0x30002, E_RW_NOMEM},  // no memory for the text
    };
    for (const auto &c : cases) {
        Bytes bytes = Build().Header(2, c.size, c.stamp).U32(0);
        RwStream *stream = OpenRead(bytes);
        const RwInt32 liveBefore = rwTestMemory.live;
        rwTestMemory.failHint = c.failHint;
        rwTestMemory.largest = 0;
        EXPECT_EQ(RwStringStreamFindAndRead(nullptr, 0, stream), nullptr);
        EXPECT_LE(rwTestMemory.largest, bytes.size());   // nothing asked for the missing text
        rwTestMemory.failHint = 0;
        EXPECT_TRUE(IsError(0, c.code)) << c.code;
        EXPECT_EQ(rwTestMemory.live, liveBefore);
        RwStreamClose(stream, nullptr);
    }

    Bytes whole = Build().Header(2, 8).Text("abcdefg\0", 8);
    for (size_t n = 0; n < whole.size(); n++) {
        Bytes bytes(whole.begin(), whole.begin() + n);
        RwStream *stream = OpenRead(bytes);
        RwChar buffer[16];
        EXPECT_EQ(RwStringStreamFindAndRead(n % 2 ? buffer : nullptr, sizeof(buffer), stream), nullptr) << n;
        RwStreamClose(stream, nullptr);
    }
    // A custom stream cannot tell what is left: the text is read ahead before
    // anything is allocated for it.
    for (RwUInt32 claim : {8u, 0x40000014u}) {
        Bytes bytes = Build().Header(2, claim).Text("abcdefghijklmnopqrst", 20);
        CustomSource source = {&bytes, bytes.size(), 0, false};
        const RwInt32 liveBefore = rwTestMemory.live;
        RwStream *stream = OpenCustomRead(&source);
        rwTestMemory.largest = 0;
        RwChar *text = RwStringStreamFindAndRead(nullptr, 0, stream);
        EXPECT_EQ(claim == 8, text != nullptr);
        EXPECT_LE(rwTestMemory.largest, 0x10000u) << claim;
        if (text) {
            EXPECT_STREQ("abcdefgh", text);
            RwFree(text);
        }
        RwStreamClose(stream, nullptr);
        EXPECT_EQ(rwTestMemory.live, liveBefore);
        TakeError();
    }
}

typedef ScratchFileTest StreamFile;

TEST_F(StreamFile, NamedFileRoundTripAndHostileSizes)
{
    RwStream *out = RwStreamOpen(rwSTREAMFILENAME, rwSTREAMWRITE, "chunks.bin");
    ASSERT_NE(out, nullptr);
    ASSERT_NE(RwStreamWriteChunkHeader(out, 1, 4), nullptr);
    RwInt32 value = 77;
    ASSERT_NE(RwStreamWriteInt32(out, &value, 4), nullptr);
    ASSERT_NE(RwStringStreamWrite("name", out), nullptr);
    ASSERT_TRUE(RwStreamClose(out, nullptr));
    EXPECT_EQ(folder.Read("chunks.bin").size(), 12u + 4u + 12u + 8u);

    RwStream *in = RwStreamOpen(rwSTREAMFILENAME, rwSTREAMREAD, "chunks.bin");
    ASSERT_NE(in, nullptr);
    ASSERT_TRUE(RwStreamFindChunk(in, 1, nullptr, nullptr));
    ASSERT_NE(RwStreamReadInt32(in, &value, 4), nullptr);
    EXPECT_EQ(value, 77);
    RwChar name[8];
    ASSERT_NE(RwStringStreamFindAndRead(name, sizeof(name), in), nullptr);
    EXPECT_STREQ(name, "name");
    EXPECT_EQ(RwStreamRead(in, name, 8), 0u);
    EXPECT_TRUE(IsError(1, E_RW_ENDOFSTREAM));
    EXPECT_TRUE(RwStreamClose(in, nullptr));
    EXPECT_EQ(RwStreamOpen(rwSTREAMFILENAME, rwSTREAMREAD, "absent.bin"), nullptr);
    EXPECT_TRUE(IsError(0, E_RW_FILEOPENFAILED));

    // Find stops at hostile sizes in a file too.
    Bytes bytes = Build().Header(9, 0xFFFFFFF4u).Header(9, 0x7FFFFFF0u).Header(1, 0);
    folder.File("hostile.bin", bytes);
    in = RwStreamOpen(rwSTREAMFILENAME, rwSTREAMREAD, "hostile.bin");
    ASSERT_NE(in, nullptr);
    EXPECT_FALSE(RwStreamFindChunk(in, 1, nullptr, nullptr));
    RwUInt32 position;
    ASSERT_TRUE(RwStreamGetPosition(in, &position));
    EXPECT_EQ(position, bytes.size());
    RwStreamClose(in, nullptr);
}

TEST_F(StreamFile, StreamOverAnOpenFileLeavesItOpenAndReportsRefusedWrites)
{
    folder.File("data.bin", "abcdef");
    RwFile *file = RwFopen("data.bin", "rb");
    ASSERT_NE(file, nullptr);
    RwStream *stream = RwStreamOpen(rwSTREAMFILE, rwSTREAMREAD, file);
    ASSERT_NE(stream, nullptr);
    char buffer[3];
    ASSERT_EQ(RwStreamRead(stream, buffer, 3), 3u);
    ASSERT_TRUE(RwStreamClose(stream, nullptr));
    EXPECT_EQ(RwFread(buffer, 1, 3, file), 3u);
    EXPECT_EQ(std::memcmp(buffer, "def", 3), 0);
    // The file was opened for reading only.
    stream = RwStreamOpen(rwSTREAMFILE, rwSTREAMWRITE, file);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(RwStreamWrite(stream, "xy", 2), nullptr);
    EXPECT_TRUE(IsError(0, E_RW_WRITEFAILED));
    RwStreamClose(stream, nullptr);
    EXPECT_EQ(RwFclose(file), 0);
    EXPECT_EQ(folder.Read("data.bin"), "abcdef");
    // A closed slot has no position, so no stream can be opened on it.
    EXPECT_EQ(RwStreamOpen(rwSTREAMFILE, rwSTREAMREAD, file), nullptr);
}

}  // namespace
