// A sound event placed in the world, standing still or following a clump of the sound manager's world.
#pragma once

#include <string>

#include "engine/CKivSound2D.h"

class CKivSoundManager;
class CKivClump;

class CKivSound3D : public CKivSound2D
{
public:
    CKivSound3D(CKivSoundManager *manager, int group, int eventIndex, EvsEvent *event, int kind, float volume);
    ~CKivSound3D() override;
    // Also 0 when the followed clump is no longer in the manager's world.
    int Update(float seconds) override;

    void SetPosition(float x, float y, float z);
    // Follows the named clump (at most 259 characters are kept); places the
    // sound at it and returns 1 when the manager's world has it.
    int Follow(const char *clumpName);
    const char *GetFollowedName() const { return m_followed.c_str(); }
    float GetX() const { return m_position[0]; }
    float GetY() const { return m_position[1]; }
    float GetZ() const { return m_position[2]; }

private:
    CKivClump *FindFollowed() const;
    void PlaceAt(CKivClump *clump);

    CKivSoundManager *m_manager;
    float m_position[3];
    std::string m_followed;
};
