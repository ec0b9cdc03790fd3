// Finite reals: readers check what they hand to geometry, lighting or timing.
#include "finite.h"

#include <cstring>

#include "error.h"

RwBool RwRealsFinite(const RwReal *values, RwUInt32 count)
{
    // All exponent bits set is an infinity or a NaN. Vertex arrays are long:
    // the verdict is gathered without branches and taken once.
    RwUInt32 bad = 0;
    for (RwUInt32 i = 0; i < count; ++i) {
        RwUInt32 bits;
        std::memcpy(&bits, &values[i], sizeof bits);
        bad |= static_cast<RwUInt32>((bits & 0x7F800000u) == 0x7F800000u);
    }
    return bad ? FALSE : TRUE;
}

RwBool RwStreamRealsFinite(const RwReal *values, RwUInt32 count)
{
    if (RwRealsFinite(values, count)) {
        return TRUE;
    }
    RwErrorRaise(0, E_RW_NONFINITE);
    return FALSE;
}
