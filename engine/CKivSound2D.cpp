// One started sound event: its volume, its fade and whether it still plays.
#include "engine/CKivSound2D.h"

#include "evsound/evsound.h"

CKivSound2D::CKivSound2D(int group, int eventIndex, EvsEvent *event, int kind, float volume)
    : m_event(event), m_group(group), m_eventIndex(eventIndex), m_kind(kind), m_fading(0), m_fadeTarget(0.0f),
      m_fadeRate(0.0f)
{
    SetVolume(volume);
}

CKivSound2D::~CKivSound2D() {}

void CKivSound2D::SetVolume(float volume)
{
    unsigned char flags = 0;
    if (EvsEventGetProperty(m_event, EVS_PROPERTY_USER, &flags) == EVS_OK && (flags & 0x08))
        volume *= 0.5f;
    EvsEventSetVolume(m_event, volume);
}

void CKivSound2D::FadeTo(float target, float rate)
{
    m_fading = 1;
    m_fadeTarget = target;
    m_fadeRate = rate;
}

int CKivSound2D::Update(float seconds)
{
    uint32_t state = 0;
    if (EvsEventGetState(m_event, &state) != EVS_OK || !(state & EVS_STATE_PLAYING))
        return 0;
    float volume = 0.0f;
    EvsEventGetVolume(m_event, &volume);
    if (!m_fading)
        return 1;
    const float step = seconds * m_fadeRate;
    const float difference = m_fadeTarget - volume;
    if ((difference < 0.0f ? -difference : difference) <= step) {
        volume = m_fadeTarget;
        m_fading = 0;
    } else {
        volume += difference > 0.0f ? step : -step;
    }
    if (volume <= 0.0f)
        return 0;
    EvsEventSetVolume(m_event, volume);
    return 1;
}
