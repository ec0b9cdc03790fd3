// The shared batch of immediate-mode triangles that both kinds of shadow lay onto the world.
#pragma once

#include "gfx/core/im3d.h"

// One fixed array of 3000 vertices, drawn as a triangle list whenever it fills.
class KivShadowBatch
{
public:
    enum { kCapacity = 3000 };

    // Appends a triangle, drawing the batch first when it would overflow.
    void Add(const RwIm3DVertex vertices[3]);
    // Draws what is held and empties the batch.
    void Flush();
    int GetBatches() const { return m_batches; }
    int GetCount() const { return m_count; }
    void Reset() { m_batches = m_count = 0; }

private:
    int m_batches = 0;
    int m_count = 0;
};

KivShadowBatch &KivGetShadowBatch();

struct RwRaster;
// The states both shadows lay their triangles with: no depth writes, the
// raster clamped and filtered, vertex alpha, the given blend; and back.
void KivShadowStatesBegin(RwRaster *raster, RwUInt32 srcBlend, RwUInt32 destBlend);
void KivShadowStatesEnd();
