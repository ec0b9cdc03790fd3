// Times loading a world of about a million triangles and a clump of 100,000 vertices from memory, against memcpy.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "gfx/core/engine.h"
#include "gfx/core/frame.h"
#include "gfx/core/memory.h"
#include "gfx/core/stream.h"
#include "gfx/world/clump.h"
#include "gfx/world/geometry.h"
#include "gfx/world/world.h"
#include "bench/benchmode.h"

typedef std::vector<unsigned char> Bytes;

static void U32(Bytes &b, RwUInt32 v)
{
    for (int i = 0; i < 4; ++i) {
        b.push_back(static_cast<unsigned char>(v >> (8 * i)));
    }
}

static void F32(Bytes &b, float f)
{
    RwUInt32 u;
    std::memcpy(&u, &f, 4);
    U32(b, u);
}

static void Header(Bytes &b, RwUInt32 type, size_t size)
{
    U32(b, type);
    U32(b, static_cast<RwUInt32>(size));
    U32(b, 0x1C020055);
}

static Bytes Chunk(RwUInt32 type, const Bytes &body)
{
    Bytes b;
    Header(b, type, body.size());
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

static Bytes Cat(const Bytes &a, const Bytes &b)
{
    Bytes out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

static const RwUInt32 kFormat = 0x40010018;   // normals, pre-lit colours, one texture set, plane extents
static const int kVerts = 16384;
static const int kPolys = 32000;
static const int kDepth = 5;                  // 32 sectors

// A grid sector of kVerts vertices between x0 and x1.
static Bytes Sector(float x0, float x1)
{
    Bytes s;
    U32(s, 0);
    U32(s, kPolys);
    U32(s, kVerts);
    for (float f : {x0, 0.0f, 0.0f, x1, 1.0f, 0.0f}) {
        F32(s, f);
    }
    U32(s, 0);
    U32(s, 0);
    for (int i = 0; i < kVerts; ++i) {
        F32(s, x0 + (x1 - x0) * static_cast<float>(i % 128) / 128.0f);
        F32(s, static_cast<float>(i / 128) / 128.0f);
        F32(s, 0.0f);
    }
    for (int i = 0; i < kVerts; ++i) {
        U32(s, 0x007F0000);
    }
    for (int i = 0; i < kVerts; ++i) {
        U32(s, 0xFF808080);
    }
    for (int i = 0; i < kVerts; ++i) {
        F32(s, static_cast<float>(i % 128) / 128.0f);
        F32(s, static_cast<float>(i / 128) / 128.0f);
    }
    for (int i = 0; i < kPolys; ++i) {
        const int q = i / 2;
        const int a = (q / 127) * 128 + q % 127;
        const int v[2][3] = {{a, a + 1, a + 128}, {a + 1, a + 129, a + 128}};
        const RwUInt32 lo = static_cast<RwUInt32>(v[i & 1][0]) | (static_cast<RwUInt32>(v[i & 1][1]) << 16);
        U32(s, lo);
        U32(s, static_cast<RwUInt32>(v[i & 1][2]));
    }
    Bytes ext;
    Header(ext, 3, 0);
    return Cat(Chunk(9, Chunk(1, s)), ext);
}

static Bytes Tree(float x0, float x1, int depth)
{
    if (depth == 0) {
        return Sector(x0, x1);
    }
    const float mid = (x0 + x1) / 2;
    Bytes s;
    U32(s, 0);
    F32(s, mid);
    U32(s, depth == 1);
    U32(s, depth == 1);
    F32(s, mid);
    F32(s, mid);
    return Chunk(10, Cat(Cat(Chunk(1, s), Tree(x0, mid, depth - 1)), Tree(mid, x1, depth - 1)));
}

static Bytes WorldBody()
{
    const int sectors = 1 << kDepth;
    Bytes s;
    U32(s, 0);
    for (int i = 0; i < 3; ++i) {
        F32(s, 0.0f);
    }
    U32(s, sectors * kPolys);
    U32(s, sectors * kVerts);
    U32(s, sectors - 1);
    U32(s, sectors);
    U32(s, 0);
    U32(s, kFormat);
    for (float f : {64.0f, 2.0f, 1.0f, 0.0f, 0.0f, -1.0f}) {
        F32(s, f);
    }
    Bytes matStruct;
    U32(matStruct, 1);
    U32(matStruct, 0xFFFFFFFF);
    Bytes mat;
    U32(mat, 0);
    U32(mat, 0xFFFFFFFF);
    for (int i = 0; i < 5; ++i) {
        U32(mat, 0);
    }
    Bytes ext;
    Header(ext, 3, 0);
    const Bytes matList = Chunk(8, Cat(Chunk(1, matStruct), Chunk(7, Cat(Chunk(1, mat), ext))));
    return Cat(Cat(Cat(Chunk(1, s), matList), Tree(0.0f, 64.0f, kDepth)), ext);
}

static Bytes Written(RwBool (*write)(RwStream *, const void *), const void *object)
{
    RwMemory memory = {nullptr, 0};
    RwStream *out = RwStreamOpen(rwSTREAMMEMORY, rwSTREAMWRITE, &memory);
    write(out, object);
    RwStreamClose(out, &memory);
    Bytes b(memory.start, memory.start + memory.length);
    RwFree(memory.start);
    return b;
}

// A clump chunk body with one frame and two atomics of 50,000 vertices each.
static Bytes ClumpBody()
{
    const RwInt32 v = 50000;
    const RwInt32 t = 99000;
    RwGeometry *g = RwGeometryCreate(v, t, rwGEOMETRYTEXTURED | rwGEOMETRYNORMALS | rwGEOMETRYPRELIT);
    RwMorphTarget *m = RwGeometryGetMorphTarget(g, 0);
    for (RwInt32 i = 0; i < v; ++i) {
        m->verts[i] = {static_cast<float>(i % 250), static_cast<float>(i / 250), 0.0f};
        m->normals[i] = {0.0f, 0.0f, 1.0f};
        g->preLitLum[i] = {128, 128, 128, 255};
        g->texCoords[0][i] = {m->verts[i].x / 250.0f, m->verts[i].y / 200.0f};
    }
    for (RwInt32 i = 0; i < t; ++i) {
        const RwInt32 q = i / 2;
        const RwUInt16 a = static_cast<RwUInt16>((q / 249) * 250 + q % 249);
        g->triangles[i] = (i & 1) ? RwTriangle{{static_cast<RwUInt16>(a + 1), static_cast<RwUInt16>(a + 251),
                                                static_cast<RwUInt16>(a + 250)}, 0xFFFF}
                                  : RwTriangle{{a, static_cast<RwUInt16>(a + 1), static_cast<RwUInt16>(a + 250)},
                                               0xFFFF};
    }
    m->boundingSphere = {{125.0f, 100.0f, 0.0f}, 160.0f};
    RwGeometryUnlock(g);
    const Bytes geometry = Written([](RwStream *s, const void *o) {
        return RwGeometryStreamWrite(static_cast<const RwGeometry *>(o), s) ? TRUE : FALSE;
    }, g);
    RwGeometryDestroy(g);
    Bytes ext;
    Header(ext, 3, 0);
    Bytes counts;
    U32(counts, 2);
    U32(counts, 0);
    U32(counts, 0);
    Bytes frames;
    U32(frames, 1);
    for (float f : {1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f}) {
        F32(frames, f);
    }
    U32(frames, 0xFFFFFFFF);
    U32(frames, 0);
    Bytes geomCount;
    U32(geomCount, 2);
    Bytes geoms = Chunk(1, geomCount);
    geoms = Cat(Cat(geoms, geometry), geometry);
    Bytes body = Cat(Cat(Chunk(1, counts), Chunk(14, Cat(Chunk(1, frames), ext))), Chunk(0x1A, geoms));
    for (RwUInt32 i = 0; i < 2; ++i) {
        Bytes atomic;
        U32(atomic, 0);
        U32(atomic, i);
        U32(atomic, 5);
        U32(atomic, 0);
        body = Cat(body, Chunk(0x14, Cat(Chunk(1, atomic), ext)));
    }
    return Cat(body, ext);
}

static double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(f.QuadPart);
}

// Best of a few runs of load over the bytes, in MB/s.
template <typename Load>
static double Rate(Bytes &bytes, Load load)
{
    double best = 1e30;
    for (int run = 0; run < 15; ++run) {
        LARGE_INTEGER t0, t1;
        QueryPerformanceCounter(&t0);
        load(bytes);
        QueryPerformanceCounter(&t1);
        const double s = Seconds(t0, t1);
        best = s < best ? s : best;
    }
    return static_cast<double>(bytes.size()) / best / 1e6;
}

template <typename Read>
static bool Report(const char *what, Bytes &bytes, Read read)
{
    bool ok = true;
    const double load = Rate(bytes, [&](Bytes &b) {
        RwMemory memory = {b.data(), static_cast<RwUInt32>(b.size())};
        RwStream *s = RwStreamOpen(rwSTREAMMEMORY, rwSTREAMREAD, &memory);
        ok = ok && read(s);
        RwStreamClose(s, nullptr);
    });
    // The loader fills freshly allocated memory, so the fair copy does too:
    // same bytes, into a block from the same allocator, freed again as the
    // loaded object is. A copy into memory already mapped is shown beside it.
    const double freshRate = Rate(bytes, [](Bytes &b) {
        void *fresh = RwMalloc(b.size(), 0);
        std::memcpy(fresh, b.data(), b.size());
        RwFree(fresh);
    });
    // Only mapping the fresh pages in, for the floor under both.
    const double touchRate = Rate(bytes, [](Bytes &b) {
        void *fresh = RwMalloc(b.size(), 0);
        std::memset(fresh, 0, b.size());
        RwFree(fresh);
    });
    static Bytes copy;
    copy.resize(bytes.size());
    const double warmRate = Rate(bytes, [](Bytes &b) { std::memcpy(copy.data(), b.data(), b.size()); });
    printf("%s: %.1f MB, load %.0f MB/s, memcpy to fresh memory %.0f MB/s (ratio %.2f)%s\n"
           "    memcpy to mapped memory %.0f MB/s (ratio %.2f), clearing fresh memory alone %.0f MB/s\n",
           what, bytes.size() / 1e6, load, freshRate, load / freshRate, ok ? "" : " (LOAD FAILED)", warmRate,
           load / warmRate, touchRate);
    return ok;
}

int main()
{
    KivBenchSayDirect3DMode(false);
    RwEngineOpenParams params = {nullptr};
    if (!RwEngineInit(nullptr, 0, 0) || !RwWorldPluginAttach() || !RwEngineOpen(&params) || !RwEngineStart()) {
        return 1;
    }
    Bytes raw = WorldBody();
    RwMemory memory = {raw.data(), static_cast<RwUInt32>(raw.size())};
    RwStream *in = RwStreamOpen(rwSTREAMMEMORY, rwSTREAMREAD, &memory);
    RwWorld *built = RwWorldStreamRead(in);
    RwStreamClose(in, nullptr);
    if (!built) {
        printf("world did not load\n");
        return 1;
    }
    // The timed stream carries its sector meshes, as saved worlds do.
    Bytes world = Written([](RwStream *s, const void *o) {
        return RwWorldStreamWrite(static_cast<const RwWorld *>(o), s) ? TRUE : FALSE;
    }, built);
    RwWorldDestroy(built);
    world.erase(world.begin(), world.begin() + 12);
    Bytes clump = ClumpBody();
    const bool ok = Report("world, 1,024,000 triangles", world, [](RwStream *s) {
        RwWorld *w = RwWorldStreamRead(s);
        return w && RwWorldDestroy(w);
    }) && Report("clump, 100,000 vertices", clump, [](RwStream *s) {
        RwClump *c = RwClumpStreamRead(s);
        return c && RwClumpDestroy(c);
    });
    RwEngineStop();
    RwEngineClose();
    RwEngineTerm();
    return ok ? 0 : 1;
}
