// Tests of the toon plug-in's data: ink and paint dictionaries, the toon and material chunks, binding by name.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "gfx/core/started_engine.h"
#include "gfx/core/texture.h"
#include "gfx/plugins/toon/toon.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "gfx/world/material.h"
#include "gfx/world/mesh.h"
#include "gfx/world/world.h"
#include "support/hostile_reals.h"
#include "support/stream_bytes.h"
#include "toon_standin.h"

namespace {

RwBool attached = FALSE;

void Attach()
{
    RwWorldPluginAttach();
    attached = RwToonPluginAttach();
}

::testing::Environment *const engine = ::testing::AddGlobalTestEnvironment(new StartedEngine(Attach));

void Name(Build &b, const char *name)
{
    char buffer[32] = {};
    std::strncpy(buffer, name, 31);
    b.Text(buffer, 32);
}

void Colour(Build &b, RwUInt32 rgba) { b.U32(rgba); }

// One ink entry; an old version carries no near and far factors.
void Ink(Build &b, const char *name, RwUInt32 version, float width, RwUInt32 rgba)
{
    const bool current = version >= 0x12340002;
    b.Header(1, current ? 52 : 44).U32(version);
    Name(b, name);
    PutReals(b.bytes, {width});
    Colour(b, rgba);
    if (current) {
        PutReals(b.bytes, {0.5f, 2.0f});
    }
}

Bytes InkFile(RwUInt32 version = 0x56780001)
{
    Build b;
    b.Header(1, 8).U32(version).U32(2);
    Ink(b, "outline", 0x12340001, 3.0f, 0xFF0000FF);
    Ink(b, "thin", 0x12340002, 1.5f, 0x80402010);
    return b;
}

// A texture chunk naming an image no read callback can find.
void MissingTexture(Build &b)
{
    b.Header(6, 12 + 4 + 12 + 8 + 12 + 4 + 12).Header(1, 4).U32(0x1106);
    b.Header(2, 8).Text("nothere\0", 8).Header(2, 4).Text("\0\0\0\0", 4).Header(3, 0);
}

Bytes PaintFile()
{
    Build b;
    b.Header(1, 8).U32(0xBCDE0001).U32(2);
    b.Header(1, 40).U32(0x43210001).U32(0);
    Name(b, "flat");
    b.Header(1, 40).U32(0x43210001).U32(1);
    Name(b, "shade");
    MissingTexture(b);
    return b;
}

TEST(ToonPlugin, AttachesAndBuildsDevicePartAtOpen)
{
    EXPECT_TRUE(attached);
    EXPECT_EQ(1, toonStandInCreates);
    EXPECT_EQ(0, toonStandInDestroys);
    EXPECT_EQ(1.0f, RwToonGetInkScale());
}

RwToonInkDictionary *ReadInks(Bytes &bytes) { return ReadWith(bytes, RwToonInkDictionaryStreamRead); }

TEST(ToonDictionary, InksReadWithOldAndCurrentVersions)
{
    Bytes bytes = InkFile();
    RwToonInkDictionary *d = ReadInks(bytes);
    ASSERT_NE(nullptr, d);
    ASSERT_EQ(2, d->count);
    const RwToonInk *old = d->inks[0];
    EXPECT_STREQ("outline", old->name);
    EXPECT_EQ(3.0f, old->width);
    EXPECT_EQ(0xFF, old->colour.red);
    EXPECT_EQ(0xFF, old->colour.alpha);
    EXPECT_EQ(1.0f, old->nearFactor);
    EXPECT_EQ(1.0f, old->farFactor);
    EXPECT_EQ(1, old->refCount);
    const RwToonInk *thin = d->inks[1];
    EXPECT_EQ(0.5f, thin->nearFactor);
    EXPECT_EQ(2.0f, thin->farFactor);
    EXPECT_EQ(0x10, thin->colour.red);
    EXPECT_EQ(0x80, thin->colour.alpha);
    EXPECT_EQ(thin, RwToonInkDictionaryFindInk(d, "thin"));
    EXPECT_EQ(nullptr, RwToonInkDictionaryFindInk(d, "thick"));
    RwToonInkDictionaryDestroy(d);
    EXPECT_EQ(0x80000000u, TakeErrorCode());
}

// Newer versions are reported and read on; names compare on their first 31 characters.
TEST(ToonDictionary, VersionsCountsAndNameLengths)
{
    const char *const kLong = "abcdefghijklmnopqrstuvwxyz01234X";
    struct Case {
        RwUInt32 fileVersion, inkVersion;
        const char *ink, *find;
        RwUInt32 error;
        bool found;
    } const cases[] = {
        {0x56780002, 0x12340003, "new", "new", 0x80000004u, true},
        {0x56780001, 0, nullptr, "outline", 0x80000000u, false},
        {0x56780001, 0x12340002, kLong, "abcdefghijklmnopqrstuvwxyz01234Y", 0x80000000u, true},
        {0x56780001, 0x12340002, kLong, "abcdefghijklmnopqrstuvwxyz0123", 0x80000000u, false},
    };
    for (const Case &c : cases) {
        Build b;
        b.Header(1, 8).U32(c.fileVersion).U32(c.ink ? 1 : 0);
        if (c.ink) {
            Ink(b, c.ink, c.inkVersion, 1.0f, 0);
        }
        TakeError();
        RwToonInkDictionary *d = ReadInks(b.bytes);
        ASSERT_NE(nullptr, d) << c.find;
        EXPECT_EQ(c.ink ? 1 : 0, d->count);
        EXPECT_EQ(c.found, RwToonInkDictionaryFindInk(d, c.find) != nullptr) << c.find;
        EXPECT_EQ(c.error, TakeErrorCode()) << c.find;
        RwToonInkDictionaryDestroy(d);
    }
}

TEST(ToonDictionary, PaintsWithoutTextureAndWithAMissingOne)
{
    Bytes bytes = PaintFile();
    RwStream *s = OpenRead(bytes);
    RwToonPaintDictionary *d = RwToonPaintDictionaryStreamRead(s);
    EXPECT_EQ(0u, Unread(s));
    RwStreamClose(s, nullptr);
    TakeError();
    ASSERT_NE(nullptr, d);
    ASSERT_EQ(2, d->count);
    EXPECT_STREQ("flat", d->paints[0]->name);
    EXPECT_EQ(0, d->paints[0]->type);
    EXPECT_EQ(1, d->paints[1]->type);
    EXPECT_EQ(nullptr, d->paints[1]->texture);
    EXPECT_EQ(d->paints[1], RwToonPaintDictionaryFindPaint(d, "shade"));
    RwToonPaintDictionaryDestroy(d);
}

// Dictionaries grow past their first few entries and keep every one.
TEST(ToonDictionary, HundredEntriesAreAllKeptAndFound)
{
    const int kEntries = 100;
    Build inks, paints;
    inks.Header(1, 8).U32(0x56780001).U32(kEntries);
    paints.Header(1, 8).U32(0xBCDE0001).U32(kEntries);
    char name[32];
    for (int i = 0; i < kEntries; i++) {
        std::snprintf(name, sizeof(name), "entry%d", i);
        Ink(inks, name, 0x12340002, 1.0f + static_cast<float>(i), 0);
        paints.Header(1, 40).U32(0x43210001).U32(0);
        Name(paints, name);
    }
    RwToonInkDictionary *inkDictionary = ReadInks(inks.bytes);
    RwToonPaintDictionary *paintDictionary = ReadWith(paints.bytes, RwToonPaintDictionaryStreamRead);
    ASSERT_NE(nullptr, inkDictionary);
    ASSERT_NE(nullptr, paintDictionary);
    EXPECT_EQ(kEntries, inkDictionary->count);
    EXPECT_EQ(kEntries, paintDictionary->count);
    for (int i = 0; i < kEntries; i++) {
        std::snprintf(name, sizeof(name), "entry%d", i);
        const RwToonInk *ink = RwToonInkDictionaryFindInk(inkDictionary, name);
        ASSERT_NE(nullptr, ink) << name;
        EXPECT_EQ(1.0f + static_cast<float>(i), ink->width) << name;
        EXPECT_EQ(paintDictionary->paints[i], RwToonPaintDictionaryFindPaint(paintDictionary, name)) << name;
    }
    RwToonInkDictionaryDestroy(inkDictionary);
    RwToonPaintDictionaryDestroy(paintDictionary);
    TakeError();
}

// A paint holds one reference to its texture and gives it up with its last
// own reference.
TEST(ToonDictionary, LastPaintReferenceReleasesItsTexture)
{
    RwTexture *texture = RwTextureCreate(nullptr);
    ASSERT_NE(nullptr, texture);
    const RwInt32 live = rwTestMemory.live;
    RwToonPaint *paint = RwToonPaintCreate();
    ASSERT_NE(nullptr, paint);
    paint->texture = RwTextureAddRef(texture);   // the paint's reference besides the test's
    paint->type = rwTOONPAINTTEXTURED;
    EXPECT_EQ(paint, RwToonAddRef(paint));
    RwToonPaintRelease(paint);
    EXPECT_EQ(2, texture->refCount);
    RwToonPaintRelease(paint);
    EXPECT_EQ(1, texture->refCount);
    EXPECT_EQ(live, rwTestMemory.live);
    EXPECT_TRUE(RwTextureDestroy(texture));
}

TEST(ToonDictionary, TruncationAtEveryOffsetFailsWithoutLeaks)
{
    for (Bytes bytes : {InkFile(), PaintFile()}) {
        const bool ink = bytes == InkFile();
        for (size_t n = 0; n < bytes.size(); ++n) {
            const RwInt32 live = rwTestMemory.live;
            void *d = ink ? static_cast<void *>(ReadWith(bytes, RwToonInkDictionaryStreamRead, n))
                          : static_cast<void *>(ReadWith(bytes, RwToonPaintDictionaryStreamRead, n));
            TakeError();
            EXPECT_EQ(nullptr, d) << n;
            EXPECT_EQ(live, rwTestMemory.live) << n;
        }
    }
    // A missing paint texture is no failure on any stream.
    Bytes inks = InkFile(), paints = PaintFile();
    ExpectCustomReadsAsMemory(inks, RwToonInkDictionaryStreamRead, RwToonInkDictionaryDestroy, "inks");
    ExpectCustomReadsAsMemory(paints, RwToonPaintDictionaryStreamRead, RwToonPaintDictionaryDestroy, "paints");
}

TEST(ToonDictionary, NonFiniteInkWidthsAndFactorsAreRefused)
{
    // The old ink's width, then the current ink's width, near and far factors.
    ExpectNonFiniteRefused(InkFile(), {68, 124, 132, 136}, RwToonInkDictionaryStreamRead);
}

TEST(ToonDictionary, HugeCountIsRefusedBeforeAllocating)
{
    Bytes bytes = Build().Header(1, 8).U32(0x56780001).U32(0x7FFFFFFF);
    const size_t largest = LargestRequestReading(bytes, [](RwStream *s) {
        EXPECT_EQ(nullptr, RwToonInkDictionaryStreamRead(s));
    });
    EXPECT_LT(largest, 64u);
    TakeError();
    // A paint's texture chunk claiming far more than the stream holds.
    Build paint;
    paint.Header(1, 8).U32(0xBCDE0001).U32(1).Header(1, 40).U32(0x43210001).U32(1);
    Name(paint, "shade");
    paint.Header(6, 0x40000000).Header(1, 4).U32(0x1106);
    const size_t texture = LargestRequestReading(paint.bytes, [](RwStream *s) {
        EXPECT_EQ(nullptr, RwToonPaintDictionaryStreamRead(s));
    });
    EXPECT_EQ(static_cast<RwInt32>(E_RW_READ), TakeError().errorCode);
    EXPECT_LT(texture, paint.bytes.size());
}

// The toon chunk payload from its fields: two triangles over four vertices
// sharing edge (1, 2), five edges of which the first is a crease, two inks.
struct ToonFields {
    RwUInt32 version = 0xABCD0002;
    RwInt32 v = 4, t = 2;
    std::vector<RwUInt16> tris = {0, 1, 2, 2, 1, 3};
    RwInt32 e = 5, c = 1;
    std::vector<RwUInt16> edges = {1, 2, 0, 1, 1, 65535, 4, 65535, 0, 1, 0, 65535, 65535, 0, 65535, 65535,
                                   2, 0, 0, 65535, 0, 65535, 65535, 65535, 1, 3, 1, 65535, 65535, 65535, 0, 4,
                                   3, 2, 1, 65535, 65535, 65535, 3, 65535};
    RwInt32 n = 2;
    std::vector<RwUInt8> edgeInks = {0, 1, 0, 1, 0, 0, 1, 1, 0, 0};

    Bytes Payload() const
    {
        Build b;
        b.U32(version).U32(static_cast<RwUInt32>(v)).U32(static_cast<RwUInt32>(t));
        for (size_t i = 0; i < tris.size(); i += 2) {
            b.U32(tris[i] | (i + 1 < tris.size() ? static_cast<RwUInt32>(tris[i + 1]) << 16 : 0));
        }
        if (tris.size() % 2) {
            b.bytes.resize(b.bytes.size() - 2);
        }
        for (RwInt32 i = 0; i < v; ++i) {
            PutReals(b.bytes, {1.0f + static_cast<float>(i)});
        }
        b.U32(static_cast<RwUInt32>(e)).U32(static_cast<RwUInt32>(c));
        for (size_t i = 0; i < edges.size(); i += 2) {
            b.U32(edges[i] | static_cast<RwUInt32>(edges[i + 1]) << 16);
        }
        for (RwInt32 i = 0; i < 3 * (t + v); ++i) {
            PutReals(b.bytes, {0.25f * static_cast<float>(i)});
        }
        b.U32(static_cast<RwUInt32>(n));
        Name(b, "outline");
        Name(b, "thin");
        b.bytes.insert(b.bytes.end(), edgeInks.begin(), edgeInks.end());
        Name(b, "shade");
        return b;
    }
};

RwToonGeo *ReadToon(Bytes &bytes, size_t n = static_cast<size_t>(-1), RwInt32 owner = 4)
{
    const RwInt32 size = static_cast<RwInt32>(bytes.size());
    return ReadWith(bytes, [&](RwStream *s) { return RwToonGeoStreamRead(s, size, owner); }, n);
}

TEST(ToonGeo, ChunkReadsAndWritesBackByteForByte)
{
    Bytes bytes = ToonFields().Payload();
    ASSERT_EQ((4u + 2 * 2) * 16 + (5 + 2) * 18 + 56, bytes.size());
    RwToonGeo *toon = ReadToon(bytes);
    ASSERT_NE(nullptr, toon);
    EXPECT_EQ(static_cast<RwInt32>(bytes.size()), RwToonGeoStreamGetSize(toon));
    EXPECT_EQ(3, toon->triangles[1].vertex[2]);
    EXPECT_EQ(4.0f, toon->widthFactors[3]);
    EXPECT_EQ(1, toon->numCreaseEdges);
    EXPECT_EQ(4, toon->edges[0].link[2]);
    EXPECT_EQ(0.75f, toon->triangleNormals[1].x);
    EXPECT_EQ(0.25f * 8, toon->vertexNormals[0].z);
    EXPECT_STREQ("thin", toon->inkNames[1]);
    EXPECT_EQ(nullptr, toon->inks[0]);
    EXPECT_EQ(1, toon->edgeInks[3].crease);
    EXPECT_STREQ("shade", toon->paintName);
    EXPECT_EQ(bytes, WrittenWith([&](RwStream *w) { return RwToonGeoStreamWrite(w, toon); }));
    RwToonGeoDestroy(toon);
}

TEST(ToonGeo, HostileChunksAreRefusedWithNothingLeaked)
{
    struct Case {
        const char *what;
        std::function<void(ToonFields &)> spoil;
        RwInt32 owner;
    };
    const Case cases[] = {
        {"version", [](ToonFields &f) { f.version = 0xABCD0001; }, 4},
        {"more vertices than the owner", [](ToonFields &) {}, 3},
        {"vertex count above 65535", [](ToonFields &f) { f.v = 65536; }, 70000},
        {"negative triangles", [](ToonFields &f) { f.t = -1; }, 4},
        {"triangle vertex", [](ToonFields &f) { f.tris[5] = 4; }, 4},
        {"edge vertex", [](ToonFields &f) { f.edges[1] = 4; }, 4},
        {"edge first triangle none", [](ToonFields &f) { f.edges[2] = 65535; }, 4},
        {"edge second triangle", [](ToonFields &f) { f.edges[3] = 2; }, 4},
        {"edge link", [](ToonFields &f) { f.edges[4] = 5; }, 4},
        {"crease count above edges", [](ToonFields &f) { f.c = 6; }, 4},
        {"negative edges", [](ToonFields &f) { f.e = -5; }, 4},
        {"edges beyond the chunk", [](ToonFields &f) { f.e = 0x10000000; }, 4},
        {"negative inks", [](ToonFields &f) { f.n = -1; }, 4},
        {"inks beyond the chunk", [](ToonFields &f) { f.n = 0x4000000; }, 4},
    };
    for (const Case &c : cases) {
        ToonFields f;
        c.spoil(f);
        Bytes bytes = f.Payload();
        const RwInt32 live = rwTestMemory.live;
        rwTestMemory.largest = 0;
        EXPECT_EQ(nullptr, ReadToon(bytes, static_cast<size_t>(-1), c.owner)) << c.what;
        EXPECT_NE(0u, TakeErrorCode()) << c.what;
        EXPECT_EQ(live, rwTestMemory.live) << c.what;
        EXPECT_LT(rwTestMemory.largest, 4096u) << c.what;
    }
    Bytes good = ToonFields().Payload();
    for (size_t n = 0; n < good.size(); ++n) {
        const RwInt32 live = rwTestMemory.live;
        EXPECT_EQ(nullptr, ReadToon(good, n)) << n;
        EXPECT_EQ(live, rwTestMemory.live) << n;
        TakeError();
    }
}

TEST(ToonGeo, NonFiniteWidthsOrNormalsAreRefusedAndInksBeyondTheListRead)
{
    Bytes good = ToonFields().Payload();
    const RwInt32 size = static_cast<RwInt32>(good.size());
    // Widths follow the head and triangles; the normals follow the edges.
    ExpectNonFiniteRefused(good, {24, 36, 128, 152 + 44}, [&](RwStream *s) { return RwToonGeoStreamRead(s, size, 4); });
    // An edge whose inks lie beyond the list draws none; the rest still draw.
    ToonFields far;
    far.edgeInks[8] = 2;
    far.edgeInks[9] = 255;
    Bytes bytes = far.Payload();
    RwToonGeo *toon = ReadToon(bytes);
    ASSERT_NE(nullptr, toon);
    EXPECT_EQ(255, toon->edgeInks[4].crease);
    EXPECT_EQ(bytes, WrittenWith([&](RwStream *w) { return RwToonGeoStreamWrite(w, toon); }));
    RwToonGeoDestroy(toon);
}

TEST(ToonGeo, RidesInTheGeometryChunkAndNotInCopies)
{
    RwGeometry *geometry = RwGeometryCreate(4, 0, rwGEOMETRYPOSITIONS);
    ASSERT_NE(nullptr, geometry);
    EXPECT_EQ(0, RwToonGeoStreamGetSize(RwToonGeometryGetToonGeo(geometry)));
    Bytes payload = ToonFields().Payload();
    RwToonGeo *toon = ReadToon(payload);
    RwGeometry *small = RwGeometryCreate(3, 0, rwGEOMETRYPOSITIONS);
    EXPECT_FALSE(RwToonGeometrySetToonGeo(small, toon));
    RwGeometryDestroy(small);
    ASSERT_TRUE(RwToonGeometrySetToonGeo(geometry, toon));
    EXPECT_EQ(geometry, toon->geometry);
    Bytes bytes = WrittenWith([&](RwStream *w) { return RwGeometryStreamWrite(geometry, w); });
    RwGeometryDestroy(geometry);
    RwGeometry *read =
        ReadWith(bytes, [](RwStream *s) { return RwStreamSkip(s, 12) ? RwGeometryStreamRead(s) : nullptr; });
    ASSERT_NE(nullptr, read);
    RwToonGeo *back = RwToonGeometryGetToonGeo(read);
    ASSERT_NE(nullptr, back);
    EXPECT_EQ(read, back->geometry);
    EXPECT_EQ(5, back->numEdges);
    RwGeometryDestroy(read);
}

// A material chunk body with this toon extension payload (none when empty).
Bytes MaterialWithToon(const Bytes &toon)
{
    RwMaterial *m = RwMaterialCreate();
    Bytes bytes = WrittenWith([&](RwStream *w) { return RwMaterialStreamWrite(m, w); });
    RwMaterialDestroy(m);
    bytes.resize(bytes.size() - 12);
    Build ext;
    ext.Header(3, toon.empty() ? 0 : 12 + static_cast<RwUInt32>(toon.size()));
    if (!toon.empty()) {
        ext.Header(0x12E, static_cast<RwUInt32>(toon.size()));
        ext.bytes.insert(ext.bytes.end(), toon.begin(), toon.end());
    }
    bytes.insert(bytes.end(), ext.bytes.begin(), ext.bytes.end());
    return Bytes(bytes.begin() + 12, bytes.end());
}

RwMaterial *ReadMaterial(Bytes &body) { return ReadWith(body, RwMaterialStreamRead); }

TEST(ToonMaterial, ChunkVersions)
{
    struct Case {
        Bytes payload;
        bool ok;
        RwInt32 hasPaint;
        const char *name;
        RwInt32 extra;
    };
    Build current, oldNamed, oldBare, newer;
    current.U32(0x67890002).U32(1);
    Name(current, "skin");
    current.U32(77);
    oldNamed.U32(0x67890001).U32(1);
    Name(oldNamed, "cloth");
    oldBare.U32(0x67890001).U32(0);
    newer.U32(0x67890003).U32(1);
    Name(newer, "x");
    newer.U32(0);
    const Case cases[] = {
        {current, true, 1, "skin", 77},
        {oldNamed, true, 1, "cloth", 0},
        {oldBare, true, 0, "", 0},
        {newer, false, 0, "", 0},
        {Bytes(oldNamed.bytes.begin(), oldNamed.bytes.end() - 1), false, 0, "", 0},
    };
    for (const Case &c : cases) {
        Bytes body = MaterialWithToon(c.payload);
        RwMaterial *m = ReadMaterial(body);
        TakeError();
        ASSERT_EQ(c.ok, m != nullptr) << c.name;
        if (!m) {
            continue;
        }
        const RwToonMaterial *t = RwToonMaterialGetToonMaterial(m);
        ASSERT_NE(nullptr, t);
        EXPECT_EQ(c.hasPaint, t->hasPaint);
        EXPECT_STREQ(c.name, t->paintName);
        EXPECT_EQ(c.extra, t->extra);
        Bytes again = WrittenWith([&](RwStream *w) { return RwMaterialStreamWrite(m, w); });
        EXPECT_EQ(44u, again.size() - MaterialWithToon(Bytes()).size() - 24);
        RwMaterialDestroy(m);
    }
}

// A geometry of four vertices with the toon data above and one material of its own paint "own".
RwGeometry *ToonGeometry()
{
    RwGeometry *g = RwGeometryCreate(4, 2, rwGEOMETRYPOSITIONS);
    RwMaterial *m = RwMaterialCreate();
    RwToonMaterialSetPaintName(m, "own");
    for (RwInt32 i = 0; i < 2; ++i) {
        g->triangles[i] = {{0, 1, 2}, 0};
        RwGeometryTriangleSetMaterial(g, &g->triangles[i], m);
    }
    RwMaterialDestroy(m);
    RwGeometryUnlock(g);
    Bytes payload = ToonFields().Payload();
    RwToonGeometrySetToonGeo(g, ReadToon(payload));
    return g;
}

RwToonPaintDictionary *Paints(std::initializer_list<const char *> names)
{
    Build b;
    b.Header(1, 8).U32(0xBCDE0001).U32(static_cast<RwUInt32>(names.size()));
    for (const char *name : names) {
        b.Header(1, 40).U32(0x43210001).U32(0);
        Name(b, name);
    }
    return ReadWith(b.bytes, RwToonPaintDictionaryStreamRead);
}

TEST(ToonBinding, InksAndPaintsOutliveTheirDictionariesWhileBound)
{
    const RwInt32 live = rwTestMemory.live;
    RwGeometry *g = ToonGeometry();
    RwToonGeo *toon = RwToonGeometryGetToonGeo(g);
    Bytes inkBytes = InkFile();
    RwToonInkDictionary *inks = ReadInks(inkBytes);
    RwToonPaintDictionary *paints = Paints({"shade", "own"});
    RwToonGeoApplyInkDictionary(toon, inks);
    RwToonGeoApplyPaintDictionary(toon, paints);
    EXPECT_EQ(inks->inks[0], toon->inks[0]);
    EXPECT_EQ(inks->inks[1], toon->inks[1]);
    EXPECT_EQ(2, toon->inks[0]->refCount);
    EXPECT_EQ(paints->paints[0], toon->paint);
    RwToonMaterial *own = RwToonMaterialGetToonMaterial(RwGeometryGetMaterial(g, 0));
    EXPECT_EQ(paints->paints[1], own->paint);
    EXPECT_EQ(2, own->paint->refCount);
    RwToonGeoApplyInkDictionary(toon, inks);
    EXPECT_EQ(2, toon->inks[0]->refCount);
    RwToonInkDictionaryDestroy(inks);
    RwToonPaintDictionaryDestroy(paints);
    EXPECT_EQ(1, toon->inks[1]->refCount);
    EXPECT_STREQ("thin", toon->inks[1]->name);
    EXPECT_STREQ("own", own->paint->name);
    // A dictionary without the names keeps what is bound; one without the material's paint unbinds it.
    RwToonPaintDictionary *other = Paints({"other"});
    RwToonGeoApplyPaintDictionary(toon, other);
    EXPECT_STREQ("shade", toon->paint->name);
    EXPECT_EQ(nullptr, own->paint);
    RwToonPaintDictionaryDestroy(other);
    RwGeometryDestroy(g);
    EXPECT_EQ(live, rwTestMemory.live);
}

TEST(ToonBinding, EnableNeedsToonDataAndSavesTheRenderCallbackOnce)
{
    RwAtomic *a = RwAtomicCreate();
    RwGeometry *plain = RwGeometryCreate(4, 0, rwGEOMETRYPOSITIONS);
    RwAtomicSetGeometry(a, plain, 0);
    const RwAtomicCallBackRender before = a->renderCallBack;
    RxPipeline *pipeline = a->pipeline;
    EXPECT_FALSE(RwToonAtomicEnable(a));
    EXPECT_FALSE(RwToonAtomicEnable(nullptr));
    EXPECT_EQ(before, a->renderCallBack);
    EXPECT_EQ(pipeline, a->pipeline);
    RwGeometry *g = ToonGeometry();
    RwAtomicSetGeometry(a, g, 0);
    EXPECT_TRUE(RwToonAtomicEnable(a));
    EXPECT_TRUE(RwToonAtomicEnable(a));
    EXPECT_EQ(RwToonAtomicRenderCallBack, a->renderCallBack);
    EXPECT_EQ(before, RwToonGeometryGetToonGeo(g)->savedRenderCallBack);
    RwAtomicDestroy(a);
    RwGeometryDestroy(g);
    RwGeometryDestroy(plain);
}

} // namespace
