// One record of the archive's storage table: a region of the file, or a spare slot.
#include "archive/CParcelBox.h"

CParcelBox::CParcelBox()
    : m_state(PARCEL_BOX_SPARE), m_offsetLow(0), m_offsetHigh(0), m_sizeLow(0), m_sizeHigh(0),
      m_reserved(0), m_region(nullptr), m_free(nullptr), m_spare(nullptr),
      m_onDisk(false), m_held(false)
{
}
