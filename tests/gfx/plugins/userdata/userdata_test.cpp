// Tests of the user-data plug-in: its block on every object kind, the array operations, deep copies and hostile blocks.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "gfx/core/camera.h"
#include "gfx/core/started_engine.h"
#include "gfx/core/texture.h"
#include "gfx/plugins/userdata/userdata.h"
#include "gfx/world/geometry.h"
#include "gfx/world/light.h"
#include "gfx/world/world.h"
#include "support/stream_bytes.h"

namespace {

void Attach()
{
    ASSERT_TRUE(RwWorldPluginAttach());
    ASSERT_TRUE(RwUserDataPluginAttach());
}

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new StartedEngine(Attach));

// From the block's table: "count" integers {7, -2}, a nameless real array
// {1.5}, "names" strings {"ab", null}.
Bytes Payload()
{
    Build b;
    b.U32(3);
    b.U32(6).Text("count", 6).U32(1).U32(2).U32(7).U32(0xFFFFFFFEu);
    b.U32(0).U32(2).U32(1);
    PutReals(b.bytes, {1.5f});
    b.U32(6).Text("names", 6).U32(3).U32(2).U32(3).Text("ab", 3).U32(0);
    return b;
}

Bytes Cat(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The extension chunk holding one 0x11F block.
Bytes Extension(const Bytes &payload)
{
    Build b;
    b.Header(3, 12 + static_cast<RwUInt32>(payload.size())).Header(0x11F, static_cast<RwUInt32>(payload.size()));
    return Cat(b, payload);
}

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
// block holding the payload appended to that extension.
Bytes WithBlock(Bytes object, const Bytes &payload)
{
    size_t at = 12;
    while (at + 12 + Get32(object, at + 4) < object.size()) {
        at += 12 + Get32(object, at + 4);
    }
    EXPECT_EQ(3u, Get32(object, at));
    const RwUInt32 grow = 12 + static_cast<RwUInt32>(payload.size());
    Add32(object, 4, grow);
    Add32(object, at + 4, grow);
    PutHeader(object, 0x11F, static_cast<RwUInt32>(payload.size()));
    return Cat(object, payload);
}

Bytes Written(const std::function<bool(RwStream *)> &write)
{
    RwStream *s = OpenWriteMemory();
    EXPECT_TRUE(write(s));
    return CloseWritten(s);
}

Bytes EmptyGeometry()
{
    RwGeometry *g = RwGeometryCreateEmpty(1.0f);
    Bytes bytes = Written([g](RwStream *s) { return RwGeometryStreamWrite(g, s) != nullptr; });
    RwGeometryDestroy(g);
    return bytes;
}

RwGeometry *ReadGeometry(Bytes &bytes, size_t n = static_cast<size_t>(-1))
{
    RwStream *s = OpenRead(bytes, n);
    RwGeometry *g = RwStreamFindChunk(s, 0x0F, nullptr, nullptr) ? RwGeometryStreamRead(s) : nullptr;
    RwStreamClose(s, nullptr);
    return g;
}

std::string Str(RwUInt32 element)
{
    return element ? reinterpret_cast<const char *>(element) : "(null)";
}

Bytes PayloadOf(const RwUserDataExtension *ext)
{
    return Written([ext](RwStream *s) { return RwUserDataStreamWrite(s, ext) != nullptr; });
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
    RwGeometry *g = ReadGeometry(bytes);
    ASSERT_NE(nullptr, g);
    ASSERT_EQ(3, RwUserDataGeometryGetArrayCount(g));
    const RwUserDataArray *count = RwUserDataGeometryGetArray(g, 0);
    EXPECT_STREQ("count", RwUserDataArrayGetName(count));
    EXPECT_EQ(rwUSERDATAINT, RwUserDataArrayGetFormat(count));
    EXPECT_EQ(-2, static_cast<RwInt32>(RwUserDataArrayGetElement(count, 1)));
    const RwUserDataArray *real = RwUserDataGeometryGetArray(g, 1);
    EXPECT_EQ(nullptr, RwUserDataArrayGetName(real));
    const RwUInt32 bits = RwUserDataArrayGetElement(real, 0);
    float f;
    std::memcpy(&f, &bits, 4);
    EXPECT_EQ(1.5f, f);
    const RwUserDataArray *names = RwUserDataGeometryGetArray(g, 2);
    EXPECT_EQ(2, RwUserDataArrayGetNumElements(names));
    EXPECT_EQ("ab", Str(RwUserDataArrayGetElement(names, 0)));
    EXPECT_EQ(0u, RwUserDataArrayGetElement(names, 1));
    EXPECT_EQ(nullptr, RwUserDataGeometryGetArray(g, 3));
    EXPECT_EQ(bytes, Written([g](RwStream *s) { return RwGeometryStreamWrite(g, s) != nullptr; }));
    RwGeometryDestroy(g);
}

// Frame list of one frame, camera and light chunks carrying a block.
Bytes FrameListWith(const Bytes &payload)
{
    Build s;
    s.U32(1);
    PutReals(s.bytes, {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0});
    s.U32(0xFFFFFFFFu).U32(0);
    Build b;
    b.Header(1, static_cast<RwUInt32>(s.bytes.size()));
    return Cat(Cat(b, s), Extension(payload));
}

Bytes CameraWith(const Bytes &payload)
{
    Build b;
    b.Header(1, 32);
    PutReals(b.bytes, {1, 1, 0, 0, 0.1f, 100, 50});
    b.U32(1);
    return Cat(b, Extension(payload));
}

Bytes LightWith(const Bytes &payload)
{
    Build b;
    b.Header(1, 24);
    PutReals(b.bytes, {2, 1, 1, 1, 0});
    b.U32(0x00010003);
    return Cat(b, Extension(payload));
}

struct KindCase {
    const char *what;
    Bytes (*chunk)(const Bytes &);
    // Reads the chunk, hands back the object's extension and a destroyer.
    RwUserDataExtension *(*read)(RwStream *, std::function<void()> *destroy);
};

RwUserDataExtension *ReadFrame(RwStream *s, std::function<void()> *destroy)
{
    static RwFrameList list;
    if (!RwFrameListStreamRead(s, &list)) {
        return nullptr;
    }
    *destroy = [] {
        RwFrameDestroy(list.frames[0]);
        RwFrameListDeinitialize(&list);
    };
    return RwUserDataGetExtension(list.frames[0], rwKINDFRAME);
}

RwUserDataExtension *ReadCamera(RwStream *s, std::function<void()> *destroy)
{
    RwCamera *c = RwCameraStreamRead(s);
    *destroy = [c] { RwCameraDestroy(c); };
    return c ? RwUserDataGetExtension(c, rwKINDCAMERA) : nullptr;
}

RwUserDataExtension *ReadLight(RwStream *s, std::function<void()> *destroy)
{
    RwLight *l = RwLightStreamRead(s);
    *destroy = [l] { RwLightDestroy(l); };
    return l ? RwUserDataGetExtension(l, rwKINDLIGHT) : nullptr;
}

const KindCase kKinds[] = {
    {"frame", FrameListWith, ReadFrame},
    {"camera", CameraWith, ReadCamera},
    {"light", LightWith, ReadLight},
};

TEST_F(UserData, FramesCamerasAndLightsCarryTheBlockAndWriteItBack)
{
    for (const KindCase &k : kKinds) {
        SCOPED_TRACE(k.what);
        Bytes bytes = k.chunk(Payload());
        RwStream *s = OpenRead(bytes);
        std::function<void()> destroy;
        RwUserDataExtension *ext = k.read(s, &destroy);
        RwStreamClose(s, nullptr);
        ASSERT_NE(nullptr, ext);
        EXPECT_EQ(3, RwUserDataExtensionGetArrayCount(ext));
        EXPECT_EQ(Payload(), PayloadOf(ext));
        destroy();
    }
}

RwTexture *MakeTexture(const RwChar *name, const RwChar *)
{
    RwTexture *t = RwTextureCreate(nullptr);
    RwTextureSetName(t, name);
    return t;
}

// A string array {"x", null, "yz"} named "tag" on the object's extension.
void Tag(RwUserDataExtension *ext)
{
    const RwInt32 i = RwUserDataExtensionAddArray(ext, "tag", rwUSERDATASTRING, 3);
    ASSERT_GE(i, 0);
    RwUserDataArray *a = RwUserDataExtensionGetArray(ext, i);
    for (RwInt32 e : {0, 2}) {
        const char *text = e ? "yz" : "x";
        RwChar *copy = static_cast<RwChar *>(RwMalloc(strlen(text) + 1, 0));
        strcpy(copy, text);
        RwUserDataArraySetElement(a, e, static_cast<RwUInt32>(reinterpret_cast<uintptr_t>(copy)));
    }
}

TEST_F(UserData, MaterialsTexturesAndWorldSectorsRoundTrip)
{
    const Bytes tagged = [] {
        RwUserDataExtension ext = {0, nullptr};
        Tag(&ext);
        Bytes b = PayloadOf(&ext);
        RwUserDataExtensionEmpty(&ext);
        return b;
    }();
    RwMaterial *m = RwMaterialCreate();
    Tag(RwUserDataGetExtension(m, rwKINDMATERIAL));
    Bytes bytes = Written([m](RwStream *s) { return RwMaterialStreamWrite(m, s) != nullptr; });
    RwMaterialDestroy(m);
    RwStream *s = OpenRead(bytes);
    ASSERT_TRUE(RwStreamFindChunk(s, 7, nullptr, nullptr));
    m = RwMaterialStreamRead(s);
    RwStreamClose(s, nullptr);
    ASSERT_NE(nullptr, m);
    EXPECT_EQ(1, RwUserDataMaterialGetArrayCount(m));
    EXPECT_EQ(tagged, PayloadOf(RwUserDataGetExtension(m, rwKINDMATERIAL)));
    RwMaterialDestroy(m);

    RwTextureCallBackRead oldRead = RwTextureGetReadCallback();
    RwTextureSetReadCallback(MakeTexture);
    RwTexture *t = MakeTexture("t", nullptr);
    Tag(RwUserDataGetExtension(t, rwKINDTEXTURE));
    bytes = Written([t](RwStream *w) { return RwTextureStreamWrite(t, w) != nullptr; });
    RwTextureDestroy(t);
    s = OpenRead(bytes);
    ASSERT_TRUE(RwStreamFindChunk(s, 6, nullptr, nullptr));
    t = RwTextureStreamRead(s);
    RwStreamClose(s, nullptr);
    RwTextureSetReadCallback(oldRead);
    ASSERT_NE(nullptr, t);
    EXPECT_EQ(tagged, PayloadOf(RwUserDataGetExtension(t, rwKINDTEXTURE)));
    RwTextureDestroy(t);

    const RwBBox box = {{1, 1, 1}, {-1, -1, -1}};
    RwWorld *w = RwWorldCreate(&box);
    ASSERT_NE(nullptr, w);
    RwWorldSector *sector = reinterpret_cast<RwWorldSector *>(w->rootSector);
    Tag(RwUserDataGetExtension(sector, rwKINDWORLDSECTOR));
    bytes = Written([w](RwStream *ws) { return RwWorldStreamWrite(w, ws) != nullptr; });
    RwWorldDestroy(w);
    s = OpenRead(bytes);
    ASSERT_TRUE(RwStreamFindChunk(s, 0x0B, nullptr, nullptr));
    w = RwWorldStreamRead(s);
    RwStreamClose(s, nullptr);
    ASSERT_NE(nullptr, w);
    sector = reinterpret_cast<RwWorldSector *>(w->rootSector);
    EXPECT_EQ(tagged, PayloadOf(RwUserDataGetExtension(sector, rwKINDWORLDSECTOR)));
    RwWorldDestroy(w);
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
    EXPECT_EQ(nullptr, RwUserDataGeometryGetArray(g, 2)->data);
    EXPECT_EQ(2, RwUserDataGeometryAddArray(g, "d", rwUSERDATAINT, 4));
    EXPECT_EQ(3, ext->numArrays);
    for (RwInt32 bad : {-1, 3, 0x7FFFFFFF}) {
        RwUserDataGeometryRemoveArray(g, bad);
        EXPECT_EQ(nullptr, RwUserDataGeometryGetArray(g, bad));
    }
    EXPECT_EQ(3, RwUserDataGeometryGetArrayCount(g));
    struct {
        RwInt32 format;
        RwInt32 count;
    } const refused[] = {{0, 1}, {4, 1}, {-1, 1}, {1, -1}, {3, 0x40000000}};
    for (const auto &r : refused) {
        EXPECT_EQ(-1, RwUserDataGeometryAddArray(g, "x", static_cast<RwUserDataFormat>(r.format), r.count));
    }
    // A failed table growth leaves the table; a failed name copy still adds.
    rwTestMemory.failHint = rwUSERDATAHINT;
    EXPECT_EQ(-1, RwUserDataGeometryAddArray(g, "e", rwUSERDATAINT, 1));
    EXPECT_EQ(3, ext->numArrays);
    rwTestMemory.failHint = rwUSERDATANAMEHINT;
    EXPECT_EQ(3, RwUserDataGeometryAddArray(g, "e", rwUSERDATAINT, 1));
    EXPECT_EQ(nullptr, RwUserDataGeometryGetArray(g, 3)->name);
    rwTestMemory.failHint = 0;
    EXPECT_EQ(4, RwUserDataGeometryGetArrayCount(g));
    RwGeometryDestroy(g);
}

TEST_F(UserData, CopiesAreDeepAndAFailedCopyLeavesNothing)
{
    RwFrame *f = RwFrameCreate();
    Tag(RwUserDataGetExtension(f, rwKINDFRAME));
    RwUserDataFrameAddArray(f, "n", rwUSERDATAINT, 1);
    RwFrame *copy = RwFrameCloneHierarchy(f);
    ASSERT_NE(nullptr, copy);
    RwUserDataArray *tag = RwUserDataFrameGetArray(copy, 0);
    reinterpret_cast<RwChar *>(RwUserDataArrayGetElement(tag, 0))[0] = 'Q';
    RwUserDataArraySetElement(RwUserDataFrameGetArray(copy, 1), 0, 9);
    EXPECT_EQ("x", Str(RwUserDataArrayGetElement(RwUserDataFrameGetArray(f, 0), 0)));
    EXPECT_EQ(0u, RwUserDataArrayGetElement(RwUserDataFrameGetArray(f, 1), 0));
    EXPECT_EQ(PayloadOf(RwUserDataGetExtension(f, rwKINDFRAME)).size(),
              PayloadOf(RwUserDataGetExtension(copy, rwKINDFRAME)).size());
    RwFrameDestroy(copy);
    rwTestMemory.failHint = rwUSERDATANAMEHINT;
    copy = RwFrameCloneHierarchy(f);
    rwTestMemory.failHint = 0;
    ASSERT_NE(nullptr, copy);
    EXPECT_EQ(0, RwUserDataGetExtension(copy, rwKINDFRAME)->numArrays);
    EXPECT_EQ(nullptr, RwUserDataGetExtension(copy, rwKINDFRAME)->arrays);
    RwFrameDestroy(copy);
    RwFrameDestroy(f);
}

TEST_F(UserData, TruncatedBlocksFailWithNothingLeaked)
{
    Bytes bytes = WithBlock(EmptyGeometry(), Payload());
    for (size_t n = 0; n < bytes.size(); ++n) {
        ASSERT_EQ(nullptr, ReadGeometry(bytes, n)) << n;
        ASSERT_EQ(blocks, rwTestMemory.live) << n;
    }
    TakeError();
}

TEST_F(UserData, HostileCountsAreRefusedBeforeAllocating)
{
    const Bytes base = EmptyGeometry();
    const Bytes hostile[] = {
        Build().U32(0x7FFFFFFF).U32(0).U32(1).U32(0),                         // array count
        Build().U32(1).U32(0xFFFFFFF0u).U32(1).U32(0),                        // name length
        Build().U32(1).U32(0).U32(1).U32(0x40000001),                         // element count
        Build().U32(1).U32(0).U32(3).U32(1).U32(0x7FFFFFFF),                  // string length
        Build().U32(1).U32(0).U32(1).U32(0xFFFFFFFFu),                        // negative count
        Build().U32(2).U32(0).U32(4).U32(0).U32(0).U32(1).U32(0),            // format 4
    };
    for (const Bytes &payload : hostile) {
        Bytes bytes = WithBlock(base, payload);
        EXPECT_LT(LargestRequestReading(bytes, [](RwStream *s) {
                      RwGeometry *g = RwStreamFindChunk(s, 0x0F, nullptr, nullptr) ? RwGeometryStreamRead(s) : nullptr;
                      EXPECT_EQ(nullptr, g);
                  }),
                  size_t(4096));
        EXPECT_EQ(blocks, rwTestMemory.live);
    }
    TakeError();
}

TEST_F(UserData, UnterminatedTextIsTerminatedAndSlackSkipped)
{
    // Name "ab" stored without its zero, one string of 2 bytes without its
    // zero, then 5 bytes of slack the arrays do not use.
    Bytes payload = Build().U32(1).U32(2).Text("ab", 2).U32(3).U32(1).U32(2).Text("cd", 2).Text("\1\2\3\4\5", 5);
    Bytes bytes = WithBlock(EmptyGeometry(), payload);
    RwGeometry *g = ReadGeometry(bytes);
    ASSERT_NE(nullptr, g);
    const RwUserDataArray *a = RwUserDataGeometryGetArray(g, 0);
    EXPECT_STREQ("ab", a->name);
    EXPECT_EQ("cd", Str(RwUserDataArrayGetElement(a, 0)));
    RwGeometryDestroy(g);
    // Zero or fewer arrays read nothing more.
    bytes = WithBlock(EmptyGeometry(), Build().U32(0xFFFFFFFFu).U32(77));
    g = ReadGeometry(bytes);
    ASSERT_NE(nullptr, g);
    EXPECT_EQ(0, RwUserDataGetExtension(g, rwKINDGEOMETRY)->numArrays);
    EXPECT_EQ(EmptyGeometry(), Written([g](RwStream *s) { return RwGeometryStreamWrite(g, s) != nullptr; }));
    RwGeometryDestroy(g);
}

}  // namespace
