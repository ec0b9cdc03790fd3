// A texture trailer: named textures with durations that play in a loop on a material.
#pragma once

#include <cstddef>
#include <vector>

struct RwTexture;

class CKivTextureTrailer
{
public:
    static const int kNameSize = 64;   // frame names, terminator included

    struct Frame {
        char name[kNameSize];
        RwTexture *texture;   // not owned; may be null
        float duration;       // seconds
    };

    CKivTextureTrailer();
    virtual ~CKivTextureTrailer();
    CKivTextureTrailer(const CKivTextureTrailer &) = delete;
    CKivTextureTrailer &operator=(const CKivTextureTrailer &) = delete;

    // A frame of that name takes the texture and duration, else one is
    // appended (longer names are cut); either way playing restarts at the
    // first frame without resetting the time.
    int AddFrame(const char *name, RwTexture *texture, float seconds);
    Frame *FindFrame(const char *name);
    void Reset();
    // Loops through the frames; a trailer without any positive duration
    // stays where it is, and a long step skips whole rounds at once.
    void Update(float dt);
    RwTexture *GetCurrentTexture() const;
    int GetFrameCount() const { return static_cast<int>(m_frames.size()); }
    int GetCurrentIndex() const { return static_cast<int>(m_current); }
    float GetTime() const { return m_time; }
    void Clear();

private:
    float m_time;
    std::vector<Frame> m_frames;
    std::size_t m_current;   // m_frames.size() when there is none
};
