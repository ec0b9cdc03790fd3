// Strip headers: the stripifier that walks a material's triangles into strips and the joiner that links them.
#include <cstring>

#include "gfx/core/error.h"
#include "gfx/core/memory.h"
#include "gfx/core/modules.h"
#include "mesh.h"
#include "meshbuild.h"

namespace {

struct StripTri {
    RwUInt16 v[3];
    RwUInt8 used;
    RwUInt8 tested;                   // the used flag of a trial build
    RwInt32 edge[3];                  // (v0, v1), (v1, v2), (v2, v0)
    RwInt32 prev;                     // bucket links
    RwInt32 next;
    RwInt32 freeCount;                // free neighbours: the bucket it is in
};

// An edge joins at most two triangles, which run along it in opposite
// directions.
struct StripEdge {
    RwUInt16 a;
    RwUInt16 b;
    RwInt32 tri[2];                   // -1: none
    RwInt32 chain;                    // next edge with the same hash, older
};

// Strips found so far, one after another in one index array.
struct StripSet {
    RwUInt16 *indices;
    RwInt32 *start;
    RwInt32 *length;
    RwUInt8 *joined;                  // per strip: already in the joined strip
    RwInt32 count;
    RwInt32 used;                     // indices taken
};

struct Stripper {
    StripTri *tris;
    StripEdge *edges;
    RwInt32 *hashHead;
    RwUInt32 hashMask;
    RwInt32 numEdges;
    RwInt32 bucket[4];
    bool trial;
    RwUInt16 *forward;                // scratch strips, room for 2n + 3 each
    RwUInt16 *backward;
};

RwUInt32 EdgeHash(const Stripper &s, RwUInt16 a, RwUInt16 b)
{
    return ((static_cast<RwUInt32>(a) * 0x9E3779B1u) ^ (static_cast<RwUInt32>(b) * 0x85EBCA77u)) & s.hashMask;
}

// Enters edge (a, b) of triangle t: it joins the newest edge stored as
// (b, a) that still has room, else it becomes a new edge.
void AddEdge(Stripper &s, RwInt32 t, RwInt32 k, RwUInt16 a, RwUInt16 b)
{
    for (RwInt32 e = s.hashHead[EdgeHash(s, b, a)]; e >= 0; e = s.edges[e].chain) {
        StripEdge &edge = s.edges[e];
        // A degenerate triangle must not become its own neighbour.
        if (edge.a == b && edge.b == a && edge.tri[1] < 0 && edge.tri[0] != t) {
            edge.tri[1] = t;
            s.tris[t].edge[k] = e;
            s.tris[t].freeCount++;
            s.tris[edge.tri[0]].freeCount++;
            return;
        }
    }
    const RwInt32 e = s.numEdges++;
    const RwUInt32 h = EdgeHash(s, a, b);
    s.edges[e] = {a, b, {t, -1}, s.hashHead[h]};
    s.hashHead[h] = e;
    s.tris[t].edge[k] = e;
}

void BucketRemove(Stripper &s, RwInt32 t)
{
    StripTri &tri = s.tris[t];
    if (tri.prev >= 0) {
        s.tris[tri.prev].next = tri.next;
    } else {
        s.bucket[tri.freeCount] = tri.next;
    }
    if (tri.next >= 0) {
        s.tris[tri.next].prev = tri.prev;
    }
    tri.prev = tri.next = -1;
}

void BucketPush(Stripper &s, RwInt32 t)
{
    StripTri &tri = s.tris[t];
    tri.prev = -1;
    tri.next = s.bucket[tri.freeCount];
    if (tri.next >= 0) {
        s.tris[tri.next].prev = t;
    }
    s.bucket[tri.freeCount] = t;
}

bool IsFree(const Stripper &s, RwInt32 t)
{
    return t >= 0 && !(s.trial ? s.tris[t].tested : s.tris[t].used);
}

RwInt32 FreeOnEdge(const Stripper &s, RwInt32 e)
{
    return (IsFree(s, s.edges[e].tri[0]) ? 1 : 0) + (IsFree(s, s.edges[e].tri[1]) ? 1 : 0);
}

// Marks t used; a real take also moves each free neighbour one bucket down.
void Take(Stripper &s, RwInt32 t)
{
    if (s.trial) {
        s.tris[t].tested = 1;
        return;
    }
    s.tris[t].used = 1;
    BucketRemove(s, t);
    for (RwInt32 e : s.tris[t].edge) {
        const StripEdge &edge = s.edges[e];
        const RwInt32 other = edge.tri[0] == t ? edge.tri[1] : edge.tri[0];
        if (other >= 0 && !s.tris[other].used) {
            BucketRemove(s, other);
            s.tris[other].freeCount--;
            BucketPush(s, other);
        }
    }
}

// Continues the strip across edge e, whose vertices are its last two
// indices; returns the number of triangles taken.
RwInt32 Extend(Stripper &s, RwUInt16 *strip, RwInt32 *length, RwInt32 e)
{
    RwInt32 taken = 0;
    RwInt32 n = *length;
    for (;;) {
        const StripEdge &edge = s.edges[e];
        const RwInt32 t = IsFree(s, edge.tri[0]) ? edge.tri[0] : IsFree(s, edge.tri[1]) ? edge.tri[1] : -1;
        if (t < 0) {
            break;
        }
        Take(s, t);
        ++taken;
        const StripTri &tri = s.tris[t];
        RwInt32 k = 0;
        while (tri.edge[k] != e) {
            ++k;
        }
        const RwUInt16 last = strip[n - 1];
        const RwUInt16 w = tri.v[(k + 2) % 3];
        RwInt32 cont = tri.edge[(k + 2) % 3];
        RwInt32 other = tri.edge[(k + 1) % 3];
        if (tri.v[(k + 1) % 3] == last) {
            cont = tri.edge[(k + 1) % 3];
            other = tri.edge[(k + 2) % 3];
        }
        if (FreeOnEdge(s, cont) > 0) {
            strip[n++] = w;
            e = cont;
            continue;
        }
        if (FreeOnEdge(s, other) == 0 || (n & 1)) {
            strip[n++] = w;
            break;
        }
        // Swap: repeat the index before the last so that the strip turns
        // onto the third edge with its winding kept.
        strip[n] = strip[n - 2];
        strip[n + 1] = w;
        n += 2;
        e = other;
    }
    *length = n;
    return taken;
}

// Builds the strip through t starting at its vertex `start`; a real build
// appends it to the set. Returns the triangles it takes.
RwInt32 BuildFrom(Stripper &s, RwInt32 t, RwInt32 start, StripSet *set)
{
    const StripTri &tri = s.tris[t];
    RwInt32 fl = 3;
    for (RwInt32 i = 0; i < 3; ++i) {
        s.forward[i] = tri.v[(start + i) % 3];
    }
    Take(s, t);
    RwInt32 taken = 1 + Extend(s, s.forward, &fl, tri.edge[(start + 1) % 3]);
    RwInt32 bl = 0;
    if (FreeOnEdge(s, tri.edge[start]) > 0) {
        s.backward[0] = s.forward[1];
        s.backward[1] = s.forward[0];
        bl = 2;
        taken += Extend(s, s.backward, &bl, tri.edge[start]);
        if (bl & 1) {
            s.backward[bl] = s.backward[bl - 1];
            ++bl;
        }
    }
    if (set) {
        RwUInt16 *out = set->indices + set->used;
        RwInt32 n = 0;
        for (RwInt32 i = bl - 1; i >= 2; --i) {
            out[n++] = s.backward[i];
        }
        std::memcpy(out + n, s.forward, sizeof(RwUInt16) * static_cast<size_t>(fl));
        n += fl;
        set->start[set->count] = set->used;
        set->length[set->count] = n;
        set->count++;
        set->used += n;
    }
    return taken;
}

// The side to start from: both other edges lead on when possible, else the
// edges with fewer free triangles are left behind.
RwInt32 ChooseStart(const Stripper &s, RwInt32 t)
{
    const StripTri &tri = s.tris[t];
    const RwInt32 f0 = FreeOnEdge(s, tri.edge[0]);
    const RwInt32 f1 = FreeOnEdge(s, tri.edge[1]);
    const RwInt32 f2 = FreeOnEdge(s, tri.edge[2]);
    if (f2 >= 2 && f1 >= 2) {
        return 1;
    }
    if (f0 >= 2 && f2 >= 2) {
        return 2;
    }
    if (f1 >= 2 && f0 >= 2) {
        return 0;
    }
    if (f1 < f0) {
        return f2 < f0 ? 2 : 1;
    }
    return f1 <= f2 ? 1 : 0;
}

// Turns n triangles into strips (set's arrays have room for 4n + 3 indices
// and n strips). Mode 0 builds each strip once from the chosen side; any
// other mode tries the three sides and keeps the one that takes most.
bool Stripify(RwBuildMeshTriangle *const *tris, RwInt32 n, RwUInt32 mode, StripSet *set)
{
    RwUInt32 hashSize = 16;
    while (hashSize < 6u * static_cast<RwUInt32>(n)) {
        hashSize <<= 1;
    }
    const size_t bytes = sizeof(StripTri) * n + sizeof(StripEdge) * 3 * n + sizeof(RwInt32) * hashSize +
                         2 * sizeof(RwUInt16) * (2 * n + 4);
    RwUInt8 *block = static_cast<RwUInt8 *>(RwMalloc(bytes, rwMEMHINT_MESHTEMP));
    if (!block) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NOMEM);
        return false;
    }
    Stripper s;
    s.tris = reinterpret_cast<StripTri *>(block);
    s.edges = reinterpret_cast<StripEdge *>(s.tris + n);
    s.hashHead = reinterpret_cast<RwInt32 *>(s.edges + 3 * n);
    s.forward = reinterpret_cast<RwUInt16 *>(s.hashHead + hashSize);
    s.backward = s.forward + 2 * n + 4;
    s.hashMask = hashSize - 1;
    s.numEdges = 0;
    s.trial = false;
    std::memset(s.hashHead, 0xFF, sizeof(RwInt32) * hashSize);
    for (RwInt32 &b : s.bucket) {
        b = -1;
    }
    for (RwInt32 t = 0; t < n; ++t) {
        StripTri &tri = s.tris[t];
        std::memcpy(tri.v, tris[t]->vertIndex, sizeof tri.v);
        tri.used = tri.tested = 0;
        tri.freeCount = 0;
        tri.prev = tri.next = -1;
    }
    for (RwInt32 t = 0; t < n; ++t) {
        const RwUInt16 *v = s.tris[t].v;
        AddEdge(s, t, 0, v[0], v[1]);
        AddEdge(s, t, 1, v[1], v[2]);
        AddEdge(s, t, 2, v[2], v[0]);
    }
    for (RwInt32 t = 0; t < n; ++t) {
        BucketPush(s, t);
    }

    RwInt32 remaining = n;
    while (remaining > 0) {
        RwInt32 b = 0;
        while (b < 4 && s.bucket[b] < 0) {
            ++b;
        }
        if (b == 4) {
            break;   // every free triangle sits in a bucket; cannot happen
        }
        const RwInt32 t = s.bucket[b];
        if (b == 0) {
            remaining -= BuildFrom(s, t, 0, set);
            continue;
        }
        RwInt32 start = ChooseStart(s, t);
        if (mode != 0) {
            RwInt32 best = -1;
            RwInt32 bestStart = start;
            s.trial = true;
            for (RwInt32 k = 0; k < 3; ++k) {
                for (RwInt32 i = 0; i < n; ++i) {
                    s.tris[i].tested = s.tris[i].used;
                }
                const RwInt32 score = BuildFrom(s, t, (start + k) % 3, nullptr);
                if (score > best) {
                    best = score;
                    bestStart = (start + k) % 3;
                }
            }
            s.trial = false;
            start = bestStart;
        }
        remaining -= BuildFrom(s, t, start, set);
    }
    RwFree(block);
    return true;
}

void Append(RwUInt16 *joined, RwInt32 *length, RwUInt16 index, RwInt32 times)
{
    for (RwInt32 i = 0; i < times; ++i) {
        joined[(*length)++] = index;
    }
}

// Joins the strips into one whose extra triangles are all degenerate: every
// strip starts at an even position, so each keeps its winding.
RwInt32 JoinStrips(StripSet *set, RwUInt16 *joined)
{
    RwUInt8 *taken = set->joined;
    std::memset(taken, 0, static_cast<size_t>(set->count));
    RwInt32 n = 0;
    RwInt32 left = set->count;
    RwInt32 next = 0;
    for (;;) {
        const RwUInt16 *strip = set->indices + set->start[next];
        std::memcpy(joined + n, strip, sizeof(RwUInt16) * static_cast<size_t>(set->length[next]));
        n += set->length[next];
        taken[next] = 1;
        if (--left == 0) {
            break;
        }
        const RwUInt16 last = joined[n - 1];
        const RwUInt16 before = joined[n - 2];
        RwInt32 onLast = -1;
        RwInt32 onBefore = -1;
        RwInt32 first = -1;
        for (RwInt32 i = 0; i < set->count && onLast < 0; ++i) {
            if (taken[i]) {
                continue;
            }
            const RwUInt16 head = set->indices[set->start[i]];
            if (first < 0) {
                first = i;
            }
            if (head == last) {
                onLast = i;
            } else if (head == before && onBefore < 0) {
                onBefore = i;
            }
        }
        const bool even = (n & 1) == 0;
        if (onLast >= 0) {
            next = onLast;
            if (!even) {
                Append(joined, &n, last, 1);
            }
        } else if (onBefore >= 0) {
            next = onBefore;
            Append(joined, &n, before, even ? 2 : 1);
        } else {
            next = first;
            const RwUInt16 head = set->indices[set->start[first]];
            Append(joined, &n, last, 1);
            Append(joined, &n, head, even ? 1 : 2);
        }
    }
    return n;
}

}  // namespace

RwMeshHeader *RwMeshBuildTriStrips(RwMeshBuilder *builder, RwUInt32 data)
{
    const RwInt32 n = builder->numTriangles;
    RwBuildMeshTriangle **sorted = RwMeshBuilderSortTriangles(builder);
    if (!sorted) {
        return nullptr;
    }
    const RwInt32 runs = RwMeshCountMaterialRuns(sorted, n);
    // Per run: its strips, then the joined strip, kept until the header exists.
    // A run's strips hold at most 4 indices per triangle; joining adds at most
    // 3 per strip.
    const size_t stripRoom = 4 * static_cast<size_t>(n) + 3;
    const size_t joinedRoom = 7 * static_cast<size_t>(n) + 3;
    const size_t bytes = sizeof(RwInt32) * (3 * static_cast<size_t>(runs) + 2 * n) +
                         sizeof(RwUInt16) * (stripRoom + joinedRoom) + n;
    RwUInt8 *scratch = static_cast<RwUInt8 *>(RwMalloc(bytes, rwMEMHINT_MESHTEMP));
    if (!scratch) {
        RwErrorRaise(rwID_COREPLUGIN, E_RW_NOMEM);
        RwFree(sorted);
        return nullptr;
    }
    RwInt32 *runFirst = reinterpret_cast<RwInt32 *>(scratch);   // first sorted record of the run
    RwInt32 *runStart = runFirst + runs;                        // its joined strip
    RwInt32 *runLength = runStart + runs;
    RwInt32 *stripStart = runLength + runs;
    RwInt32 *stripLength = stripStart + n;
    RwUInt16 *stripIndices = reinterpret_cast<RwUInt16 *>(stripLength + n);
    RwUInt16 *joined = stripIndices + stripRoom;
    RwUInt8 *stripJoined = reinterpret_cast<RwUInt8 *>(joined + joinedRoom);

    RwInt32 run = 0;
    RwInt32 total = 0;
    bool ok = true;
    for (RwInt32 i = 0; i < n && ok;) {
        RwInt32 end = i + 1;
        while (end < n && sorted[end]->material == sorted[i]->material) {
            ++end;
        }
        StripSet set = {stripIndices, stripStart, stripLength, stripJoined, 0, 0};
        ok = Stripify(sorted + i, end - i, data, &set);
        if (ok) {
            runFirst[run] = i;
            runStart[run] = total;
            runLength[run] = JoinStrips(&set, joined + total);
            total += runLength[run];
            ++run;
        }
        i = end;
    }
    RwMeshHeader *header = ok ? RwMeshHeaderAllocate(rwMESHHEADERTRISTRIP, runs, static_cast<RwUInt32>(total))
                              : nullptr;
    if (header) {
        RwMesh *meshes = RwMeshHeaderGetMeshes(header);
        RwUInt16 *next = reinterpret_cast<RwUInt16 *>(meshes + runs);
        for (RwInt32 r = 0; r < runs; ++r) {
            meshes[r].indices = next;
            meshes[r].numIndices = static_cast<RwUInt32>(runLength[r]);
            meshes[r].material = sorted[runFirst[r]]->material;
            std::memcpy(next, joined + runStart[r], sizeof(RwUInt16) * static_cast<size_t>(runLength[r]));
            next += runLength[r];
        }
    }
    RwFree(scratch);
    RwFree(sorted);
    return header;
}
