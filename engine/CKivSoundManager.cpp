// The engine's sound: the event project "Data/sound/sound.fev", its groups, the started sounds, volumes, the listener, one 2-D channel.
#include "engine/CKivSoundManager.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "archive/CParcel.h"
#include "engine/CKivBase.h"
#include "engine/CKivCamera.h"
#include "engine/CKivSound3D.h"
#include "engine/CKivWorld.h"
#include "engine/KivFileRead.h"
#include "gfx/core/camera.h"
#include "gfx/core/frame.h"

namespace {

const char kSoundPath[] = "Data/sound/";
const char kProjectName[] = "sound.fev";
const unsigned char kScrambleKey = 0x7D;

// Names beginning with b, g, m in any case are music; an unreadable name is an effect.
int KindOf(EvsEvent *event)
{
    const char *name = nullptr;
    if (EvsEventGetInfo(event, nullptr, &name, nullptr) != EVS_OK || !name)
        return CKivSound2D::kEffect;
    const char lower[] = "bgm";
    for (int i = 0; i < 3; i++) {
        if ((name[i] | 0x20) != lower[i])
            return CKivSound2D::kEffect;
    }
    return CKivSound2D::kMusic;
}

// The events' WAV files come through the engine's archive like every other
// data file; memory running out there is a failed read, never an exception
// through the sound layer, which would leave its play half-made.
bool ReadMedia(void *user, const char *path, void *buffer, uint32_t capacity, uint32_t *size)
{
    DWORD length = 0;
    const bool ok = KivReadFileInto(static_cast<CParcelBase *>(user), path, buffer, capacity, &length) == kKivReadOk;
    *size = length;
    return ok;
}

bool ReadOsFile(const char *path, std::unique_ptr<unsigned char[]> &bytes, DWORD *size)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const DWORD length = GetFileSize(file, nullptr);
    DWORD read = 0;
    if (length != INVALID_FILE_SIZE)
        bytes.reset(new (std::nothrow) unsigned char[length ? length : 1]);
    const bool ok = bytes && (length == 0 || ReadFile(file, bytes.get(), length, &read, nullptr)) && read == length;
    CloseHandle(file);
    *size = read;
    return ok;
}

int Hundredths(uint32_t ms)
{
    return static_cast<int>((ms + 5) / 10);
}

} // namespace

CKivSoundManager::CKivSoundManager()
    : m_initialised(0), m_system(nullptr), m_mixer(nullptr), m_project(nullptr), m_sample(nullptr), m_channel(0),
      m_world(nullptr), m_lastListenerCamera(nullptr), m_musicVolume(1.0f), m_effectVolume(1.0f)
{
    m_debugText[0] = '\0';
}

CKivSoundManager::~CKivSoundManager()
{
    Release();
}

int CKivSoundManager::Init()
{
    if (m_initialised)
        return 1;
    if (!m_system && !OpenSystem())
        return 0;
    // Without the project the system stays for the 2-D channel; events stay off.
    if (!LoadProject())
        return 0;
    m_initialised = 1;
    EvsMixerSetSpatial(m_mixer, 1.0f, 1.0f, 0.01f);
    return 1;
}

// The event system on the default driver's speakers; nothing stays made when a step fails.
int CKivSoundManager::OpenSystem()
{
    uint32_t caps = 0;
    EvsSpeakers speakers = EVS_SPEAKERS_STEREO;
    const bool ok = EvsSystemCreate(&m_system) == EVS_OK && EvsSystemGetMixer(m_system, &m_mixer) == EVS_OK &&
                    EvsMixerGetDriverInfo(m_mixer, 0, &caps, nullptr, nullptr, &speakers) == EVS_OK &&
                    EvsMixerSetSpeakers(m_mixer, speakers) == EVS_OK &&
                    EvsSystemInit(m_system, 128, EVS_INIT_SPATIAL, nullptr, 0) == EVS_OK &&
                    EvsSystemSetMediaPath(m_system, kSoundPath) == EVS_OK;
    if (!ok) {
        Release();
        return 0;
    }
    return 1;
}

// "sound.fev" through the engine's archive, whose files also serve the events' WAVs.
int CKivSoundManager::LoadProject()
{
    CKivBase *base = CKivBase::GetInstance();
    CParcel *parcel = base ? base->GetParcel() : nullptr;
    if (!parcel)
        return 0;
    EvsSystemSetMediaReader(m_system, ReadMedia, parcel);
    char path[sizeof(kSoundPath) + sizeof(kProjectName)];
    snprintf(path, sizeof(path), "%s%s", kSoundPath, kProjectName);
    std::unique_ptr<unsigned char[]> bytes;
    DWORD size = 0;
    if (KivReadWholeFile(parcel, path, bytes, &size) != kKivReadOk)
        return 0;
    EvsLoadInfo info = {};
    info.size = sizeof(info);
    info.dataLength = size;
    return EvsSystemLoadProject(m_system, bytes.get(), &info, &m_project) == EVS_OK ? 1 : 0;
}

void CKivSoundManager::Release()
{
    DeleteAllSounds();
    while (!m_groups.empty())
        FreeEventGroup(m_groups.begin()->first);
    ReleaseChannel();
    EvsProjectRelease(m_project);
    m_project = nullptr;
    EvsSystemRelease(m_system);
    m_system = nullptr;
    m_mixer = nullptr;
    m_initialised = 0;
}

void CKivSoundManager::LoadEventGroup(int group)
{
    if (!m_initialised || m_groups.count(group))
        return;
    EvsGroup *loaded = nullptr;
    if (EvsProjectGetGroup(m_project, group, true, &loaded) != EVS_OK ||
        EvsGroupLoadData(loaded, EVS_RESOURCES_ALL, 0) != EVS_OK)
        return;
    // A group nobody holds would never be freed.
    try {
        m_groups[group] = loaded;
    } catch (const std::bad_alloc &) {
        EvsGroupFreeData(loaded, nullptr, true);
    }
}

void CKivSoundManager::FreeEventGroup(int group)
{
    auto found = m_groups.find(group);
    if (found == m_groups.end())
        return;
    // Its sounds go first: their events die with the group's data.
    for (auto it = m_sounds.begin(); it != m_sounds.end();) {
        auto next = std::next(it);
        if (it->second->GetGroup() == group)
            EraseSound(it);
        it = next;
    }
    EvsGroupFreeData(found->second, nullptr, true);
    m_groups.erase(found);
}

CKivSound2D *CKivSoundManager::CreateSound(int group, int event, bool placed)
{
    auto found = m_initialised ? m_groups.find(group) : m_groups.end();
    EvsEvent *instance = nullptr;
    if (found == m_groups.end() || EvsGroupGetEvent(found->second, event, 0, &instance) != EVS_OK ||
        m_sounds.count(instance))
        return nullptr;
    const int kind = KindOf(instance);
    const float volume = kind == CKivSound2D::kMusic ? m_musicVolume : m_effectVolume;
    CKivSound2D *sound = placed ? new (std::nothrow) CKivSound3D(this, group, event, instance, kind, volume)
                                : new (std::nothrow) CKivSound2D(group, event, instance, kind, volume);
    try {
        if (sound)
            m_sounds[instance] = sound;
    } catch (const std::bad_alloc &) {
        delete sound;
        return nullptr;
    }
    return sound;
}

// The one start of a play, once volume and position are set.
KivSoundHandle CKivSoundManager::Start(CKivSound2D *sound)
{
    if (!sound)
        return 0;
    EvsEvent *event = sound->GetEvent();
    if (EvsEventStart(event) != EVS_OK) {
        EraseSound(m_sounds.find(event));
        return 0;
    }
    return reinterpret_cast<KivSoundHandle>(event);
}

KivSoundHandle CKivSoundManager::PlayEvent(int group, int event)
{
    return Start(CreateSound(group, event, false));
}

KivSoundHandle CKivSoundManager::PlayEvent3D(int group, int event, float x, float y, float z)
{
    CKivSound3D *sound = static_cast<CKivSound3D *>(CreateSound(group, event, true));
    if (!sound)
        return 0;
    sound->SetPosition(x, y, z);
    EvsSystemUpdate(m_system);
    return Start(sound);
}

KivSoundHandle CKivSoundManager::PlayEventOnObject(int group, int event, const char *clumpName)
{
    CKivSound3D *sound = static_cast<CKivSound3D *>(CreateSound(group, event, true));
    if (!sound)
        return 0;
    sound->Follow(clumpName);
    EvsSystemUpdate(m_system);
    return Start(sound);
}

CKivSound2D *CKivSoundManager::FindSound(KivSoundHandle handle) const
{
    auto found = m_sounds.find(reinterpret_cast<EvsEvent *>(handle));
    return found == m_sounds.end() ? nullptr : found->second;
}

static int Playing(EvsEvent *event)
{
    uint32_t state = 0;
    return EvsEventGetState(event, &state) == EVS_OK && (state & EVS_STATE_PLAYING) ? 1 : 0;
}

int CKivSoundManager::IsPlaying(KivSoundHandle handle)
{
    CKivSound2D *sound = m_initialised ? FindSound(handle) : nullptr;
    return sound ? Playing(sound->GetEvent()) : 0;
}

int CKivSoundManager::IsEventPlaying(int group, int event)
{
    if (!m_initialised)
        return 0;
    for (auto &entry : m_sounds) {
        if (entry.second->GetGroup() == group && entry.second->GetEventIndex() == event)
            return Playing(entry.first);
    }
    return 0;
}

void CKivSoundManager::StopSound(KivSoundHandle handle)
{
    CKivSound2D *sound = m_initialised ? FindSound(handle) : nullptr;
    if (sound)
        EvsEventStop(sound->GetEvent());
}

void CKivSoundManager::StopEvent(int group, int event)
{
    for (auto &entry : m_sounds) {
        if (entry.second->GetGroup() == group && entry.second->GetEventIndex() == event)
            EvsEventStop(entry.first);
    }
}

void CKivSoundManager::StopAllEvents()
{
    for (auto &entry : m_sounds)
        EvsEventStop(entry.first);
}

void CKivSoundManager::EraseSound(std::map<EvsEvent *, CKivSound2D *>::iterator it)
{
    if (it == m_sounds.end())
        return;
    EvsEventStop(it->first);
    delete it->second;
    m_sounds.erase(it);
}

void CKivSoundManager::DeleteAllSounds()
{
    while (!m_sounds.empty())
        EraseSound(m_sounds.begin());
}

void CKivSoundManager::SetSoundVolume(KivSoundHandle handle, float volume)
{
    CKivSound2D *sound = m_initialised ? FindSound(handle) : nullptr;
    if (sound)
        sound->SetVolume(volume);
}

void CKivSoundManager::ApplyKindVolume(int kind, float volume)
{
    for (auto &entry : m_sounds) {
        if (entry.second->GetKind() == kind)
            entry.second->SetVolume(volume);
    }
}

void CKivSoundManager::SetMusicVolume(float volume)
{
    if (!m_initialised)
        return;
    m_musicVolume = volume;
    ApplyKindVolume(CKivSound2D::kMusic, volume);
    if (m_channel)
        EvsChannelSetVolume(m_mixer, m_channel, volume);
}

void CKivSoundManager::SetEffectVolume(float volume)
{
    if (!m_initialised)
        return;
    m_effectVolume = volume;
    ApplyKindVolume(CKivSound2D::kEffect, volume);
}

void CKivSoundManager::FadeOutSound(KivSoundHandle handle, float rate)
{
    CKivSound2D *sound = m_initialised ? FindSound(handle) : nullptr;
    if (sound)
        sound->FadeTo(0.0f, rate);
}

void CKivSoundManager::FadeOutEvent(int group, int event, float rate)
{
    for (auto &entry : m_sounds) {
        if (entry.second->GetGroup() == group && entry.second->GetEventIndex() == event)
            entry.second->FadeTo(0.0f, rate);
    }
}

void CKivSoundManager::Update(float seconds)
{
    if (!m_initialised) {
        // The 2-D channel runs on the event system's clock, with or without a project.
        if (m_system)
            EvsSystemUpdate(m_system);
        return;
    }
    for (auto it = m_sounds.begin(); it != m_sounds.end();) {
        auto next = std::next(it);
        if (!it->second->Update(seconds))
            EraseSound(it);
        it = next;
    }
    CKivCamera *camera = m_world ? m_world->GetCamera() : nullptr;
    RwCamera *graphics = camera ? camera->GetCamera() : nullptr;
    RwFrame *frame = graphics ? RwCameraGetFrame(graphics) : nullptr;
    if (frame) {
        const RwMatrix *m = RwFrameGetWorldMatrix(frame);
        const EvsVector position = {m->pos.x, m->pos.y, m->pos.z};
        const EvsVector still = {0.0f, 0.0f, 0.0f};
        const EvsVector forward = {m->at.x, m->at.y, m->at.z};
        const EvsVector up = {m->up.x, m->up.y, m->up.z};
        EvsMixerSetListener(m_mixer, 0, &position, &still, &forward, &up);
        m_lastListenerCamera = camera;
    }
    EvsSystemUpdate(m_system);
}

void CKivSoundManager::Set3DSettings(float doppler, float distanceFactor, float rolloff)
{
    if (m_initialised)
        EvsMixerSetSpatial(m_mixer, doppler, distanceFactor, rolloff);
}

void CKivSoundManager::Get3DSettings(float *doppler, float *distanceFactor, float *rolloff)
{
    if (m_initialised)
        EvsMixerGetSpatial(m_mixer, doppler, distanceFactor, rolloff);
}

const char *CKivSoundManager::GetDebugText()
{
    m_debugText[0] = '\0';
    if (!m_initialised)
        return m_debugText;
    EvsVector listener = {};
    float rolloff = 0.0f;
    EvsMixerGetListener(m_mixer, 0, &listener, nullptr, nullptr, nullptr);
    EvsMixerGetSpatial(m_mixer, nullptr, nullptr, &rolloff);
    snprintf(m_debugText, sizeof(m_debugText),
             " Listener : %.4f, %.4f, %.4f  \n rolloff : %.4f \n played sound : %d \n", listener.x, listener.y,
             listener.z, rolloff, GetSoundCount());
    return m_debugText;
}

void CKivSoundManager::ReleaseChannel()
{
    if (m_channel && m_mixer)
        EvsChannelStop(m_mixer, m_channel);
    m_channel = 0;
    EvsSampleRelease(m_sample);
    m_sample = nullptr;
}

// Replaces the channel's sound; the layer's result.
int CKivSoundManager::PlayOnChannel(const char *path, uint32_t mode, const EvsSampleInfo *info, int percent)
{
    ReleaseChannel();
    if (!m_mixer)
        return EVS_ERR_UNINITIALISED;
    EvsResult result = EvsMixerCreateSample(m_mixer, path, mode, info, &m_sample);
    if (result == EVS_OK)
        result = EvsMixerPlaySample(m_mixer, m_sample, false, &m_channel);
    if (result != EVS_OK) {
        ReleaseChannel();
        return result;
    }
    EvsChannelSetVolume(m_mixer, m_channel, percent / 100.0f);
    return EVS_OK;
}

int CKivSoundManager::PlaySample(const char *path, int percent)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    ReleaseChannel();
    if (!m_mixer || !path || !GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return FALSE;
    EvsSampleInfo info = {};
    info.size = sizeof(info);
    info.length = data.nFileSizeLow;
    return PlayOnChannel(path, EVS_MODE_2D, &info, percent) == EVS_OK ? TRUE : FALSE;
}

int CKivSoundManager::PlayStream(const char *path, int percent)
{
    EvsSampleInfo info = {};
    return PlayOnChannel(path, EVS_MODE_2D | EVS_MODE_STREAM, &info, percent);
}

void CKivSoundManager::StopStream()
{
    if (IsStreamPlaying())
        EvsChannelStop(m_mixer, m_channel);
}

int CKivSoundManager::IsStreamPlaying()
{
    bool playing = false;
    if (m_mixer && m_channel)
        EvsChannelIsPlaying(m_mixer, m_channel, &playing);
    return playing ? 1 : 0;
}

int CKivSoundManager::GetStreamLength()
{
    uint32_t ms = 0;
    if (!IsStreamPlaying() || EvsSampleGetLength(m_sample, &ms) != EVS_OK)
        return 0;
    return Hundredths(ms);
}

int CKivSoundManager::GetStreamPosition()
{
    uint32_t ms = 0;
    if (!IsStreamPlaying() || EvsChannelGetPosition(m_mixer, m_channel, &ms) != EVS_OK)
        return 0;
    return Hundredths(ms);
}

void CKivSoundManager::ScrambleBuffer(const void *source, void *destination, int length)
{
    const unsigned char *from = static_cast<const unsigned char *>(source);
    unsigned char *to = static_cast<unsigned char *>(destination);
    if (!from || !to || length <= 0)
        return;
    // Both ends at once, so the same buffer may be both.
    for (int i = 0, j = length - 1; i <= j; i++, j--) {
        const unsigned char head = from[i];
        const unsigned char tail = from[j];
        to[i] = tail ^ kScrambleKey;
        to[j] = head ^ kScrambleKey;
    }
}

int CKivSoundManager::ScrambleFile(const char *path)
{
    std::unique_ptr<unsigned char[]> bytes;
    DWORD size = 0;
    if (!path || !*path || !ReadOsFile(path, bytes, &size))
        return 0;
    ScrambleBuffer(bytes.get(), bytes.get(), static_cast<int>(size));
    std::string target;
    try {
        target = path;
    } catch (const std::bad_alloc &) {
        return 0;
    }
    target.back() = 'b';
    const DWORD attributes = GetFileAttributesA(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesA(target.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    HANDLE file = CreateFileA(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD written = 0;
    const bool ok = (size == 0 || WriteFile(file, bytes.get(), size, &written, nullptr)) && written == size;
    CloseHandle(file);
    return ok ? 1 : 0;
}
