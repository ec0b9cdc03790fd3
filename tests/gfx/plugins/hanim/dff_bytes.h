// `.dff` clump streams assembled from parts for tests: frames made in the test
// (their node records written by the plug-in), geometries in their written
// form, one atomic each; and the first hierarchy below a clump's root.
#pragma once

#include <vector>

#include "gfx/plugins/hanim/hanim.h"
#include "gfx/world/clump.h"
#include "support/chunk_bytes.h"

// Frame list chunk of the frames, parents first.
inline Bytes DffFrameList(const std::vector<RwFrame *> &frames)
{
    using chunkbytes::Cat;
    using chunkbytes::Chunk;
    Build s;
    s.U32(static_cast<RwUInt32>(frames.size()));
    for (RwFrame *f : frames) {
        const RwMatrix &m = f->modelling;
        PutReals(s.bytes, {m.right.x, m.right.y, m.right.z, m.up.x, m.up.y, m.up.z, m.at.x, m.at.y, m.at.z, m.pos.x,
                           m.pos.y, m.pos.z});
        RwInt32 parent = -1;
        for (size_t i = 0; i < frames.size(); ++i) {
            parent = frames[i] == RwFrameGetParent(f) ? static_cast<RwInt32>(i) : parent;
        }
        s.U32(static_cast<RwUInt32>(parent)).U32(0);
    }
    Bytes body = Chunk(1, s);
    for (RwFrame *f : frames) {
        Bytes record;
        if (RwHAnimFrameStreamGetSize(f) > 0) {
            record = Chunk(rwID_HANIMPLUGIN, WrittenWith([&](RwStream *w) { return RwHAnimFrameStreamWrite(f, w); }));
        }
        body = Cat({body, Chunk(3, record)});
    }
    return Chunk(rwID_FRAMELIST, body);
}

// Clump chunk: the frame list, the geometry chunks, then atomic i on frame
// atomicFrames[i] drawing geometry i, each with that extension data.
inline Bytes DffClump(const Bytes &frameList, const std::vector<Bytes> &geometries,
                      const std::vector<RwUInt32> &atomicFrames, const Bytes &atomicExtension = {})
{
    using chunkbytes::Cat;
    using chunkbytes::Chunk;
    Bytes list = Chunk(1, Build().U32(static_cast<RwUInt32>(geometries.size())));
    for (const Bytes &g : geometries) {
        list = Cat({list, g});
    }
    Bytes atomics;
    for (size_t i = 0; i < atomicFrames.size(); ++i) {
        const Bytes s = Build().U32(atomicFrames[i]).U32(static_cast<RwUInt32>(i)).U32(rwATOMICRENDER | 1).U32(0);
        atomics = Cat({atomics, Chunk(rwID_ATOMIC, Cat({Chunk(1, s), Chunk(3, atomicExtension)}))});
    }
    const Bytes counts = Build().U32(static_cast<RwUInt32>(atomicFrames.size())).U32(0).U32(0);
    return Chunk(rwID_CLUMP,
                 Cat({Chunk(1, counts), frameList, Chunk(rwID_GEOMETRYLIST, list), atomics, Chunk(3, {})}));
}

// The animation as read back from its `.anm` stream form; the original is destroyed.
inline RwAnimAnimation *AnimThroughStream(RwAnimAnimation *anim)
{
    Bytes bytes = WrittenWith([&](RwStream *w) { return RwAnimAnimationStreamWrite(anim, w); });
    RwAnimAnimationDestroy(anim);
    return ReadChunkWith(bytes, 0x1B, RwAnimAnimationStreamRead);
}

// The clump of a stream holding a clump chunk.
inline RwClump *ReadDff(Bytes &bytes)
{
    return ReadChunkWith(bytes, rwID_CLUMP, RwClumpStreamRead);
}

// Depth first below the frame, children before siblings; the frame itself is
// not examined.
inline RwHAnimHierarchy *DffFindHierarchy(RwFrame *frame)
{
    for (RwFrame *c = frame->child; c; c = c->next) {
        if (RwHAnimHierarchy *h = RwHAnimFrameGetHierarchy(c)) {
            return h;
        }
        if (RwHAnimHierarchy *h = DffFindHierarchy(c)) {
            return h;
        }
    }
    return nullptr;
}
