// A texture trailer: named textures with durations that play in a loop on a material.
#include "engine/CKivTextureTrailer.h"

#include <cmath>
#include <cstring>
#include <new>

namespace {

// Negative durations count as zero: they must not feed time back into the loop.
float Length(const CKivTextureTrailer::Frame &frame)
{
    return frame.duration > 0.0f ? frame.duration : 0.0f;
}

} // namespace

CKivTextureTrailer::CKivTextureTrailer() : m_time(0.0f), m_current(0) {}

CKivTextureTrailer::~CKivTextureTrailer()
{
    Clear();
}

// 0 when memory runs out for a new frame, with the trailer as it was.
int CKivTextureTrailer::AddFrame(const char *name, RwTexture *texture, float seconds)
{
    if (!name)
        name = "";
    Frame *frame = FindFrame(name);
    if (frame) {
        frame->texture = texture;
        frame->duration = seconds;
    } else {
        Frame added = {};
        std::strncpy(added.name, name, kNameSize - 1);
        added.texture = texture;
        added.duration = seconds;
        try {
            m_frames.push_back(added);
        } catch (const std::bad_alloc &) {
            return 0;
        }
    }
    m_current = 0;
    return 1;
}

CKivTextureTrailer::Frame *CKivTextureTrailer::FindFrame(const char *name)
{
    if (!name)
        return nullptr;
    for (Frame &frame : m_frames) {
        if (!std::strncmp(frame.name, name, kNameSize - 1) && std::strlen(name) < kNameSize)
            return &frame;
    }
    return nullptr;
}

void CKivTextureTrailer::Reset()
{
    m_time = 0.0f;
    m_current = 0;
}

void CKivTextureTrailer::Update(float dt)
{
    if (m_current >= m_frames.size())
        m_current = 0;
    if (m_frames.empty())
        return;
    m_time += dt;
    float round = 0.0f;
    for (const Frame &frame : m_frames)
        round += Length(frame);
    if (!(round > 0.0f))
        return;
    // Every whole round from here ends on this same frame; fmod is exact.
    if (m_time > round) {
        const float rest = std::fmod(m_time, round);
        m_time = rest > 0.0f ? rest : round;
    }
    while (Length(m_frames[m_current]) < m_time) {
        m_time -= Length(m_frames[m_current]);
        m_current = (m_current + 1) % m_frames.size();
    }
}

RwTexture *CKivTextureTrailer::GetCurrentTexture() const
{
    return m_current < m_frames.size() ? m_frames[m_current].texture : nullptr;
}

void CKivTextureTrailer::Clear()
{
    m_frames.clear();
    m_current = 0;
}
