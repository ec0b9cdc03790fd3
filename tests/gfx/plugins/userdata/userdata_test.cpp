// Tests of the user-data plug-in: its block on every object kind, the array operations, deep copies and hostile blocks.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "gfx/core/camera.h"
#include "gfx/core/started_engine.h"
#include "support/chunk_bytes.h"
#include "gfx/core/texture.h"
#include "gfx/plugins/userdata/userdata.h"
#include "gfx/world/geometry.h"
#include "gfx/world/light.h"
#include "gfx/world/world.h"
#include "support/stream_bytes.h"

namespace {

using chunkbytes::Cat;
using chunkbytes::Chunk;

void Attach()
{
    ASSERT_TRUE(RwWorldPluginAttach());
    ASSERT_TRUE(RwUserDataPluginAttach());
}

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new StartedEngine(Attach));

// "count" integers {7, -2}, a nameless real array {1.5}, "names" strings {"ab", null}.
Bytes Payload()
{
    Build b;
    b.U32(3).U32(6).Text("count", 6).U32(1).U32(2).U32(7).U32(0xFFFFFFFEu);
    b.U32(0).U32(2).U32(1).U32(0x3FC00000);
    return b.U32(6).Text("names", 6).U32(3).U32(2).U32(3).Text("ab", 3).U32(0);
}

Bytes Extension(const Bytes &payload) { return Chunk(3, Chunk(0x11F, payload)); }

RwUInt32 Get32(const Bytes &b, size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<RwUInt32>(b[at + 3]) << 24;
}

void Add32(Bytes &b, size_t at, RwUInt32 n)
{
    const RwUInt32 v = Get32(b, at) + n;
    for (int i = 0; i < 4; ++i) {
        b[at + i] = static_cast<unsigned char>(v >> (8 * i));
    }
}

// A written object chunk whose last child is its extension, with a 0x11F
// block of the payload appended to that extension.
Bytes WithBlock(Bytes object, const Bytes &payload)
{
    size_t at = 12;
    while (at + 12 + Get32(object, at + 4) < object.size()) {
        at += 12 + Get32(object, at + 4);
    }
    EXPECT_EQ(3u, Get32(object, at));
    Add32(object, 4, 12 + static_cast<RwUInt32>(payload.size()));
    Add32(object, at + 4, 12 + static_cast<RwUInt32>(payload.size()));
    return Cat({object, Chunk(0x11F, payload)});
}

template <class T>
Bytes Written(const T *object, const T *(*write)(const T *, RwStream *))
{
    return WrittenWith([&](RwStream *s) { return write(object, s); });
}

// Type 0: the reader starts at the first byte.
template <class T>
T *ReadChunk(Bytes &bytes, RwUInt32 type, T *(*read)(RwStream *), size_t n = static_cast<size_t>(-1))
{
    return type ? ReadChunkWith(bytes, type, read, n) : ReadWith(bytes, read, n);
}

Bytes EmptyGeometry()
{
    RwGeometry *g = RwGeometryCreateEmpty(1.0f);
    Bytes bytes = Written(g, RwGeometryStreamWrite);
    RwGeometryDestroy(g);
    return bytes;
}

std::string Str(RwUInt32 element) { return element ? reinterpret_cast<const char *>(element) : "(null)"; }

Bytes PayloadOf(const RwUserDataExtension *ext)
{
    return WrittenWith([&](RwStream *s) { return RwUserDataStreamWrite(s, ext); });
}

class UserData : public ::testing::Test {
protected:
    void SetUp() override
    {
        TakeError();
        RwTestMemoryReset();
        blocks = rwTestMemory.live;
    }
    void TearDown() override
    {
        RwTestMemoryReset();
        EXPECT_EQ(blocks, rwTestMemory.live) << "blocks leaked";
    }
    RwInt32 blocks = 0;
};

TEST_F(UserData, HandAssembledBlockReadsThroughAGeometryAndWritesBackIdentical)
{
    Bytes bytes = WithBlock(EmptyGeometry(), Payload());
    RwGeometry *g = ReadChunk(bytes, 0x0F, RwGeometryStreamRead);
    ASSERT_NE(nullptr, g);
    ASSERT_EQ(3, RwUserDataGeometryGetArrayCount(g));
    const RwUserDataArray *count = RwUserDataGeometryGetArray(g, 0);
    EXPECT_STREQ("count", RwUserDataArrayGetName(count));
    EXPECT_EQ(rwUSERDATAINT, RwUserDataArrayGetFormat(count));
    EXPECT_EQ(-2, static_cast<RwInt32>(RwUserDataArrayGetElement(count, 1)));
    const RwUserDataArray *real = RwUserDataGeometryGetArray(g, 1);
    EXPECT_EQ(nullptr, RwUserDataArrayGetName(real));
    EXPECT_EQ(0x3FC00000u, RwUserDataArrayGetElement(real, 0));
    const RwUserDataArray *names = RwUserDataGeometryGetArray(g, 2);
    EXPECT_EQ(2, RwUserDataArrayGetNumElements(names));
    EXPECT_EQ("ab", Str(RwUserDataArrayGetElement(names, 0)));
    EXPECT_EQ(0u, RwUserDataArrayGetElement(names, 1));
    EXPECT_EQ(nullptr, RwUserDataGeometryGetArray(g, 3));
    EXPECT_EQ(bytes, Written(g, RwGeometryStreamWrite));
    RwGeometryDestroy(g);
    // A block longer than its reader takes is passed over alike on any stream.
    Bytes padded = Payload();
    padded.insert(padded.end(), 4, 0);
    Bytes longer = WithBlock(EmptyGeometry(), padded);
    auto found = [](RwStream *s) {
        return RwStreamFindChunk(s, 0x0F, nullptr, nullptr) ? RwGeometryStreamRead(s) : nullptr;
    };
    ExpectCustomReadsAsMemory(longer, found, RwGeometryDestroy, "geometry with a longer block");
    g = ReadChunk(longer, 0x0F, RwGeometryStreamRead);
    ASSERT_NE(nullptr, g);
    EXPECT_EQ(3, RwUserDataGeometryGetArrayCount(g));
    RwGeometryDestroy(g);
}

TEST_F(UserData, FramesCamerasAndLightsCarryTheBlock)
{
    Build frame, camera, light;
    frame.U32(1).U32(0x3F800000).U32(0).U32(0).U32(0).U32(0x3F800000).U32(0).U32(0).U32(0).U32(0x3F800000);
    frame.U32(0).U32(0).U32(0).U32(0xFFFFFFFFu).U32(0);
    camera.U32(0x3F800000).U32(0x3F800000).U32(0).U32(0).U32(0x3DCCCCCD).U32(0x42C80000).U32(0x42480000).U32(1);
    light.U32(0x40000000).U32(0x3F800000).U32(0x3F800000).U32(0x3F800000).U32(0).U32(0x00010003);
    Bytes frames = Cat({Chunk(1, frame), Extension(Payload())});
    RwFrameList list;
    ASSERT_NE(nullptr, ReadWith(frames, [&](RwStream *s) { return RwFrameListStreamRead(s, &list); }));
    EXPECT_EQ(3, RwUserDataFrameGetArrayCount(list.frames[0]));
    EXPECT_EQ(Payload(), PayloadOf(RwUserDataGetExtension(list.frames[0], rwKINDFRAME)));
    RwFrameDestroy(list.frames[0]);
    RwFrameListDeinitialize(&list);
    auto carries = [](const Bytes &body, auto read, RwPluginObjectKind kind, auto destroy) {
        Bytes bytes = Cat({Chunk(1, body), Extension(Payload())});
        auto *object = ReadChunk(bytes, 0, read);
        ASSERT_NE(nullptr, object) << kind;
        EXPECT_EQ(Payload(), PayloadOf(RwUserDataGetExtension(object, kind)));
        destroy(object);
    };
    carries(camera, RwCameraStreamRead, rwKINDCAMERA, RwCameraDestroy);
    carries(light, RwLightStreamRead, rwKINDLIGHT, RwLightDestroy);
}

RwTexture *MakeTexture(const RwChar *name, const RwChar *)
{
    RwTexture *t = RwTextureCreate(nullptr);
    RwTextureSetName(t, name);
    return t;
}

// A string array "tag" {"x", null, "yz"}.
void Tag(RwUserDataExtension *ext)
{
    RwUserDataArray *a = RwUserDataExtensionGetArray(ext, RwUserDataExtensionAddArray(ext, "tag", rwUSERDATASTRING, 3));
    ASSERT_NE(nullptr, a);
    for (RwInt32 e : {0, 2}) {
        RwChar *copy = static_cast<RwChar *>(RwMalloc(3, 0));
        strcpy(copy, e ? "yz" : "x");
        RwUserDataArraySetElement(a, e, static_cast<RwUInt32>(reinterpret_cast<uintptr_t>(copy)));
    }
}

template <class T>
void *Self(T *object)
{
    return object;
}

// Tags the object (or the part of it that carrierOf names), writes, destroys
// and reads it back, and checks the tag came through.
template <class T>
void ExpectRoundTrip(T *object, RwPluginObjectKind kind, void *(*carrierOf)(T *),
                     const T *(*write)(const T *, RwStream *), T *(*read)(RwStream *), RwUInt32 type,
                     RwBool (*destroy)(T *))
{
    const Bytes tagged = Build().U32(1).U32(4).Text("tag", 4).U32(3).U32(3).U32(2).Text("x", 2).U32(0).U32(3).Text("yz", 3);
    Tag(RwUserDataGetExtension(carrierOf(object), kind));
    Bytes bytes = Written(static_cast<const T *>(object), write);
    destroy(object);
    T *copy = ReadChunk(bytes, type, read);
    ASSERT_NE(nullptr, copy);
    EXPECT_EQ(tagged, PayloadOf(RwUserDataGetExtension(carrierOf(copy), kind)));
    destroy(copy);
}

TEST_F(UserData, MaterialsTexturesAndWorldSectorsRoundTrip)
{
    RwMaterial *m = RwMaterialCreate();
    ExpectRoundTrip(m, rwKINDMATERIAL, Self<RwMaterial>, RwMaterialStreamWrite, RwMaterialStreamRead, 7, RwMaterialDestroy);
    RwTextureCallBackRead oldRead = RwTextureGetReadCallback();
    RwTextureSetReadCallback(MakeTexture);
    RwTexture *t = MakeTexture("t", nullptr);
    ExpectRoundTrip(t, rwKINDTEXTURE, Self<RwTexture>, RwTextureStreamWrite, RwTextureStreamRead, 6, RwTextureDestroy);
    RwTextureSetReadCallback(oldRead);
    const RwBBox box = {{1, 1, 1}, {-1, -1, -1}};
    RwWorld *w = RwWorldCreate(&box);
    ExpectRoundTrip(w, rwKINDWORLDSECTOR, +[](RwWorld *o) -> void * { return o->rootSector; }, RwWorldStreamWrite,
                    RwWorldStreamRead, 0x0B, RwWorldDestroy);
}

TEST_F(UserData, SlotsAreReusedAfterRemovalAndBadRequestsRefused)
{
    RwGeometry *g = RwGeometryCreateEmpty(1.0f);
    RwUserDataExtension *ext = RwUserDataGetExtension(g, rwKINDGEOMETRY);
    EXPECT_EQ(0, RwUserDataGeometryAddArray(g, "a", rwUSERDATAINT, 1));
    EXPECT_EQ(1, RwUserDataGeometryAddArray(g, nullptr, rwUSERDATAFLOAT, 0));
    EXPECT_EQ(2, RwUserDataGeometryAddArray(g, "c", rwUSERDATASTRING, 2));
    EXPECT_EQ(g, RwUserDataGeometryRemoveArray(g, 0));
    EXPECT_EQ(3, ext->numArrays);
    EXPECT_EQ(2, RwUserDataGeometryGetArrayCount(g));
    EXPECT_STREQ("c", RwUserDataGeometryGetArray(g, 1)->name);
    EXPECT_EQ(2, RwUserDataGeometryAddArray(g, "d", rwUSERDATAINT, 4));
    EXPECT_EQ(3, ext->numArrays);
    for (RwInt32 bad : {-1, 3}) {
        RwUserDataGeometryRemoveArray(g, bad);
        EXPECT_EQ(nullptr, RwUserDataGeometryGetArray(g, bad));
    }
    EXPECT_EQ(3, RwUserDataGeometryGetArrayCount(g));
    const RwInt32 refused[][2] = {{0, 1}, {4, 1}, {-1, 1}, {1, -1}, {3, 0x40000000}};
    for (const auto &r : refused) {
        EXPECT_EQ(-1, RwUserDataGeometryAddArray(g, "x", static_cast<RwUserDataFormat>(r[0]), r[1]));
    }
    // A failed table growth leaves the table; a failed name copy adds no
    // array (it could never be found), the grown slot staying free.
    rwTestMemory.failHint = rwUSERDATAHINT;
    EXPECT_EQ(-1, RwUserDataGeometryAddArray(g, "e", rwUSERDATAINT, 1));
    EXPECT_EQ(3, ext->numArrays);
    rwTestMemory.failHint = rwUSERDATANAMEHINT;
    EXPECT_EQ(-1, RwUserDataGeometryAddArray(g, "e", rwUSERDATAINT, 1));
    rwTestMemory.failHint = 0;
    EXPECT_EQ(3, RwUserDataGeometryGetArrayCount(g));
    EXPECT_EQ(nullptr, RwUserDataGeometryGetArray(g, 3)->data);
    RwGeometryDestroy(g);
}

TEST_F(UserData, CopiesAreDeepAndAFailedCopyLeavesNothing)
{
    RwFrame *f = RwFrameCreate();
    Tag(RwUserDataGetExtension(f, rwKINDFRAME));
    RwUserDataFrameAddArray(f, "n", rwUSERDATAINT, 1);
    // Blocks the copy may be given hold stale bytes: its null element stays null.
    void *stale[16];
    for (void *&block : stale) {
        memset(block = RwMalloc(12, 0), 0xA5, 12);
    }
    for (void *block : stale) {
        RwFree(block);
    }
    RwFrame *copy = RwFrameCloneHierarchy(f);
    ASSERT_NE(nullptr, copy);
    EXPECT_EQ(0u, RwUserDataArrayGetElement(RwUserDataFrameGetArray(copy, 0), 1));
    reinterpret_cast<RwChar *>(RwUserDataArrayGetElement(RwUserDataFrameGetArray(copy, 0), 0))[0] = 'Q';
    RwUserDataArraySetElement(RwUserDataFrameGetArray(copy, 1), 0, 9);
    EXPECT_EQ("x", Str(RwUserDataArrayGetElement(RwUserDataFrameGetArray(f, 0), 0)));
    EXPECT_EQ(0u, RwUserDataArrayGetElement(RwUserDataFrameGetArray(f, 1), 0));
    EXPECT_EQ(2, RwUserDataFrameGetArrayCount(copy));
    // Swapping two strings: the one replaced goes back to the caller, so each
    // is held once and freed once with the frame.
    RwUserDataArray *tag = RwUserDataFrameGetArray(copy, 0);
    const RwUInt32 first = RwUserDataArrayGetElement(tag, 0);
    RwUserDataArraySetElement(tag, 0, RwUserDataArrayGetElement(tag, 2));
    RwUserDataArraySetElement(tag, 2, first);
    EXPECT_EQ("yz", Str(RwUserDataArrayGetElement(tag, 0)));
    EXPECT_EQ("Q", Str(RwUserDataArrayGetElement(tag, 2)));
    RwFrameDestroy(copy);
    // A clone whose arrays cannot all be copied is no clone, at every
    // allocation that can fail.
    RwFrame *child = RwFrameCreate();
    RwFrameAddChild(f, child);
    Tag(RwUserDataGetExtension(child, rwKINDFRAME));
    const Bytes payload = PayloadOf(RwUserDataGetExtension(f, rwKINDFRAME));
    const Bytes childPayload = PayloadOf(RwUserDataGetExtension(child, rwKINDFRAME));
    RwInt32 whole = 0;
    for (RwInt32 fail = 0; fail < 24; ++fail) {
        const RwInt32 live = rwTestMemory.live;
        rwTestMemory.failAfter = fail;
        copy = RwFrameCloneHierarchy(f);
        rwTestMemory.failAfter = -1;
        if (copy) {
            ++whole;
            EXPECT_EQ(payload, PayloadOf(RwUserDataGetExtension(copy, rwKINDFRAME))) << fail;
            ASSERT_NE(nullptr, copy->child) << fail;
            EXPECT_EQ(childPayload, PayloadOf(RwUserDataGetExtension(copy->child, rwKINDFRAME))) << fail;
            RwFrameDestroyHierarchy(copy);
        }
        EXPECT_EQ(live, rwTestMemory.live) << fail;
    }
    EXPECT_GT(whole, 0);
    RwFrameDestroyHierarchy(f);
}

TEST_F(UserData, TruncatedOrHostileBlocksFailBeforeAllocatingWithNothingLeaked)
{
    Bytes bytes = WithBlock(EmptyGeometry(), Payload());
    for (size_t n = 0; n < bytes.size(); ++n) {
        ASSERT_EQ(nullptr, ReadChunk(bytes, 0x0F, RwGeometryStreamRead, n)) << n;
        ASSERT_EQ(blocks, rwTestMemory.live) << n;
    }
    const Bytes hostile[] = {
        Build().U32(0x7FFFFFFF).U32(0).U32(1).U32(0),                 // array count
        Build().U32(1).U32(0xFFFFFFF0u).U32(1).U32(0),                // name length
        Build().U32(1).U32(0).U32(1).U32(0x40000001),                 // element count
        Build().U32(1).U32(0).U32(3).U32(1).U32(0x7FFFFFFF),          // string length
        Build().U32(1).U32(0).U32(1).U32(0xFFFFFFFFu),                // negative element count
        Build().U32(2).U32(0).U32(4).U32(0).U32(0).U32(1).U32(0),    // format 4
    };
    for (const Bytes &payload : hostile) {
        bytes = WithBlock(EmptyGeometry(), payload);
        EXPECT_LT(LargestRequestReading(bytes, [](RwStream *s) {
                      EXPECT_TRUE(RwStreamFindChunk(s, 0x0F, nullptr, nullptr));
                      EXPECT_EQ(nullptr, RwGeometryStreamRead(s));
                  }), size_t(4096));
        EXPECT_EQ(blocks, rwTestMemory.live);
    }
}

TEST_F(UserData, UnterminatedTextIsTerminatedAndSlackSkipped)
{
    // Name and string stored without their zeros, then 5 bytes of slack.
    Bytes bytes = WithBlock(EmptyGeometry(), Build().U32(1).U32(2).Text("ab", 2).U32(3).U32(1).U32(2).Text("cd", 2).Text("12345", 5));
    RwGeometry *g = ReadChunk(bytes, 0x0F, RwGeometryStreamRead);
    ASSERT_NE(nullptr, g);
    EXPECT_STREQ("ab", RwUserDataGeometryGetArray(g, 0)->name);
    EXPECT_EQ("cd", Str(RwUserDataArrayGetElement(RwUserDataGeometryGetArray(g, 0), 0)));
    RwGeometryDestroy(g);
    // A count of zero or less reads nothing more, and nothing is written back.
    bytes = WithBlock(EmptyGeometry(), Build().U32(0xFFFFFFFFu).U32(77));
    g = ReadChunk(bytes, 0x0F, RwGeometryStreamRead);
    ASSERT_NE(nullptr, g);
    EXPECT_EQ(nullptr, RwUserDataGetExtension(g, rwKINDGEOMETRY)->arrays);
    EXPECT_EQ(EmptyGeometry(), Written(g, RwGeometryStreamWrite));
    RwGeometryDestroy(g);
}

}  // namespace
