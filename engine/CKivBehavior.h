// A named sequence of motions with blend times and loop flags, and an optional sound event.
#pragma once

#include <string>
#include <vector>

struct KivBehaviorMotion {
    std::string name;       // motion name, as the animation manager takes it
    float blendTime;        // seconds this motion overlaps the previous one
    int loopFlags;
};

class CKivBehavior
{
public:
    // soundIndex -1: no sound.
    // Unnamed when memory runs out for the name.
    CKivBehavior(const char *name, int soundIndex);
    virtual ~CKivBehavior() = default;

    int SetName(const char *name);
    // Appends the motion when the engine's animation manager can have it;
    // the total duration grows by the part that does not overlap.
    int AddMotion(const char *motionName, float blendTime, int loopFlags);

    const char *GetName() const { return m_name.c_str(); }
    const std::vector<KivBehaviorMotion> &GetMotions() const { return m_motions; }
    int GetSoundIndex() const { return m_soundIndex; }
    float GetDuration() const { return m_duration; }

private:
    std::string m_name;
    std::vector<KivBehaviorMotion> m_motions;   // in the order added
    int m_soundIndex;
    float m_duration;                           // seconds, blends overlapped
};
