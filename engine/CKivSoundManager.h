// The engine's sound: the event project "Data/sound/sound.fev", its groups, the started sounds, volumes, the listener, one 2-D channel.
#pragma once

#include <cstdint>
#include <map>

#include "evsound/evsound.h"

class CKivSound2D;
class CKivWorld;

// A started sound is known by its event; 0 is none.
typedef uintptr_t KivSoundHandle;

class CKivSoundManager
{
public:
    CKivSoundManager();
    virtual ~CKivSoundManager();
    CKivSoundManager(const CKivSoundManager &) = delete;
    CKivSoundManager &operator=(const CKivSoundManager &) = delete;

    // TRUE when the event system and the project are set up. Otherwise every
    // later call but the 2-D channel's is a no-op returning 0; the channel
    // plays as long as the event system itself started. Init may be retried.
    int Init();
    void Release();
    int IsInitialised() const { return m_initialised; }

    void LoadEventGroup(int group);
    void FreeEventGroup(int group);
    int IsGroupLoaded(int group) const { return m_groups.count(group) != 0; }

    KivSoundHandle PlayEvent(int group, int event);
    KivSoundHandle PlayEvent3D(int group, int event, float x, float y, float z);
    KivSoundHandle PlayEventOnObject(int group, int event, const char *clumpName);
    int IsPlaying(KivSoundHandle handle);
    int IsEventPlaying(int group, int event);
    void StopSound(KivSoundHandle handle);
    void StopEvent(int group, int event);
    void StopAllEvents();
    void DeleteAllSounds();
    void SetSoundVolume(KivSoundHandle handle, float volume);
    void SetMusicVolume(float volume);
    void SetEffectVolume(float volume);
    float GetMusicVolume() const { return m_musicVolume; }
    float GetEffectVolume() const { return m_effectVolume; }
    void FadeOutSound(KivSoundHandle handle, float rate);
    void FadeOutEvent(int group, int event, float rate);
    void Update(float seconds);
    void Set3DSettings(float doppler, float distanceFactor, float rolloff);
    void Get3DSettings(float *doppler, float *distanceFactor, float *rolloff);
    const char *GetDebugText();

    // The single 2-D channel: a new sample or stream replaces the old one.
    int PlaySample(const char *path, int percent);
    int PlayStream(const char *path, int percent);
    void StopStream();
    int IsStreamPlaying();
    int GetStreamLength();
    int GetStreamPosition();

    // Reversed and XOR 0x7D; source and destination may be the same buffer.
    static void ScrambleBuffer(const void *source, void *destination, int length);
    // Writes the scrambled file beside path, its last character replaced by 'b'.
    static int ScrambleFile(const char *path);

    CKivWorld *GetWorld() const { return m_world; }
    void SetWorld(CKivWorld *world) { m_world = world; }
    int GetSoundCount() const { return static_cast<int>(m_sounds.size()); }
    CKivSound2D *FindSound(KivSoundHandle handle) const;
    EvsSystem *GetEventSystem() const { return m_system; }

private:
    int OpenSystem();
    int LoadProject();
    CKivSound2D *CreateSound(int group, int event, bool placed);
    KivSoundHandle Start(CKivSound2D *sound);
    void EraseSound(std::map<EvsEvent *, CKivSound2D *>::iterator it);
    void ApplyKindVolume(int kind, float volume);
    void ReleaseChannel();
    int PlayOnChannel(const char *path, uint32_t mode, const EvsSampleInfo *info, int percent);

    int m_initialised;
    EvsSystem *m_system;
    EvsMixer *m_mixer;
    EvsProject *m_project;
    EvsSample *m_sample;
    EvsChannel m_channel;
    std::map<int32_t, EvsGroup *> m_groups;
    CKivWorld *m_world;
    void *m_lastListenerCamera;
    float m_musicVolume;
    float m_effectVolume;
    std::map<EvsEvent *, CKivSound2D *> m_sounds;
    char m_debugText[512];
};
