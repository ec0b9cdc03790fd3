// Counts the draw calls that reach the device while it is in place: the work a frame did.
#pragma once

#include "gfx/d3d9/countingdevice.h"
#include "gfx/d3d9/d3d9device.h"

class DrawCount {
public:
    DrawCount() : m_counting(rwD3D9Driver.device), m_real(rwD3D9Driver.device) { rwD3D9Driver.device = &m_counting; }
    ~DrawCount() { rwD3D9Driver.device = m_real; }
    DrawCount(const DrawCount &) = delete;
    DrawCount &operator=(const DrawCount &) = delete;

    int Draws() const
    {
        return m_counting.Count("DrawPrimitive") + m_counting.Count("DrawIndexedPrimitive") +
               m_counting.Count("DrawPrimitiveUP") + m_counting.Count("DrawIndexedPrimitiveUP");
    }

private:
    CountingDevice m_counting;
    IDirect3DDevice9 *m_real;
};
