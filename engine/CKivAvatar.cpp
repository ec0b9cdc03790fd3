// The avatar: a character clump assembled from a numbered body, skins, faces, script-made emotions and items.
#include "engine/CKivAvatar.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include <lua.hpp>

#include "archive/CParcel.h"
#include "engine/CKivAvatarAtomic.h"
#include "engine/CKivAvatarItem.h"
#include "engine/CKivBase.h"
#include "engine/CKivEngineScriptBinder.h"
#include "engine/CKivTextureTrailer.h"
#include "engine/KivEngineLock.h"
#include "engine/KivFileRead.h"
#include "engine/KivPreparedTextures.h"
#include "engine/KivThreadBlock.h"
#include "engine/KivUserData.h"
#include "gfx/core/texture.h"
#include "gfx/world/clump.h"

const char *const CKivAvatar::kPartNames[kPartCount] = {"head", "spine", "arml", "armr", "leg"};

namespace {

const char kSkinFolder[] = "Data/Avatar/Skins/";
const char kFaceFolder[] = "Data/Avatar/SkinFaces/";
const char kHeadAtomic[] = "_headShape";

std::string g_dataFolder;
// Each thread's own: a list a call returns stays as it was while another
// thread (the loading thread dressing its characters) makes the same calls.
struct ThreadLists {
    int displaced[CKivAvatar::kDisplacedSize];
    int slots[CKivAvatar::kSlotListSize];
};
KivThreadBlock g_lists(sizeof(ThreadLists));

ThreadLists *Lists()
{
    return static_cast<ThreadLists *>(g_lists.Get());
}

// Lower case, cut to the names' buffer size.
std::string Lower(const char *name)
{
    std::string lower(name ? name : "");
    if (lower.size() > CKivAvatar::kNameSize - 1)
        lower.resize(CKivAvatar::kNameSize - 1);
    for (char &c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

RwTexture *FindTexture(const char *name)
{
    RwTextureDictionary *dict = RwTextureDictionaryGetCurrent();
    return dict ? RwTextureDictionaryFindTexture(dict, name) : nullptr;
}

// Drops one reference of each.
void DropTextures(std::vector<RwTexture *> *textures)
{
    CKivBase *base = CKivBase::GetInstance();
    if (base)
        base->Lock();
    for (RwTexture *texture : *textures)
        RwTextureDestroy(texture);
    textures->clear();
    if (base)
        base->Unlock();
}

// The item's slot numbers that fit the list, zero-filled.
const int *ListSlots(int *slots, const CKivAvatarItem *item)
{
    std::memset(slots, 0, sizeof(ThreadLists::slots));
    if (!item)
        return slots;
    int n = 0;
    for (int slot : item->GetSlots()) {
        if (n < CKivAvatar::kSlotListSize && slot >= 0 && slot < CKivAvatar::kSlotListSize)
            slots[n++] = slot;
    }
    return slots;
}

} // namespace

CKivAvatar::CKivAvatar()
    : m_skinId(-1), m_faceId(-1), m_body(-1), m_skin(-1), m_face(-1), m_variant(0), m_variants{0, 0, 0},
      m_savedVariant(0), m_savedVariants{0, 0, 0}, m_savedSkin(0), m_emotionTimer(0.0f), m_emotionDuration(0.0f),
      m_emotionRepeat(10), m_bodyHidden(0)
{
}

CKivAvatar::~CKivAvatar()
{
    Release();
}

int CKivAvatar::LoadScripts(const char *dataFolder)
{
    try {
        g_dataFolder = dataFolder ? dataFolder : "";
    } catch (const std::bad_alloc &) {
        return 0;
    }
    CKivEngineScriptBinder *binder = CKivBase::GetScriptBinder();
    if (!binder)
        return 1;
    binder->RunFile("Data/Avatar/Scripts/AvatarEmotion.lua", "AvatarEmotion");
    binder->RunFile("Data/Avatar/Scripts/MonsterEmotion.lua", "MonsterEmotion");
    binder->RunFile("Data/Avatar/Scripts/AvatarBehavior.lua", "AvatarBehavior");
    binder->RunFile("Data/Avatar/Items/Item.lua", "Item");
    return 1;
}

const char *CKivAvatar::GetDataFolder()
{
    return g_dataFolder.c_str();
}

void CKivAvatar::PartSkinName(int part, char *name, int size) const
{
    PartSkinName(m_body, m_skin, part, name, size);
}

void CKivAvatar::FaceFrameName(int frame, char *name, int size) const
{
    FaceFrameName(m_body, m_skin, m_face, frame, name, size);
}

void CKivAvatar::PartSkinName(int body, int skin, int part, char *name, int size) const
{
    if (m_variant)
        snprintf(name, size, "_%d%s_%d+tk%d+tk%d+tk%d", body, kPartNames[part], skin, m_variants[0], m_variants[1],
                 m_variants[2]);
    else
        snprintf(name, size, "_%d%s_%d", body, kPartNames[part], skin);
}

void CKivAvatar::FaceFrameName(int body, int skin, int face, int frame, char *name, int size) const
{
    if (m_variant)
        snprintf(name, size, "_%dface%d_%02d_%d+tk%d+tk%d+tk%d", body, face, frame, skin, m_variants[0],
                 m_variants[1], m_variants[2]);
    else
        snprintf(name, size, "_%dface%d_%02d_%d", body, face, frame, skin);
}

// What Create will read, decoded before its hold: the skins, the faces and
// the textures the body's model names.
void CKivAvatar::PrepareTextures(KivPreparedTextures *prepared, int body, int skin, int face) const
{
    if (!prepared->Active())
        return;
    char name[kNameSize], path[kNameSize], images[kNameSize];
    for (int part = 0; part < kPartCount; part++) {
        PartSkinName(body, skin, part, name, sizeof(name));
        prepared->Want(name, kSkinFolder);
    }
    for (int frame = 1; frame <= kFaceFrames; frame++) {
        FaceFrameName(body, skin, face, frame, name, sizeof(name));
        prepared->Want(name, kFaceFolder);
    }
    if (ModelPaths(body, path, images)) {
        CKivBase *base = CKivBase::GetInstance();
        std::unique_ptr<unsigned char[]> bytes;
        DWORD size = 0;
        KivReadWholeFile(base ? base->GetParcel() : nullptr, path, bytes, &size);
        prepared->WantStream(bytes.get(), size, images);
    }
    prepared->Decode(nullptr, 1);
}

// The body's model file and the folder of its textures; 0 when they do not fit.
int CKivAvatar::ModelPaths(int body, char (&path)[kNameSize], char (&images)[kNameSize])
{
    const int n = snprintf(path, sizeof(path), "%sObjects/%d.dff", g_dataFolder.c_str(), body);
    const int m = snprintf(images, sizeof(images), "%sObjects/Textures/", g_dataFolder.c_str());
    return n >= 0 && n < kNameSize && m >= 0 && m < kNameSize;
}

// Remembers every texture it got, so Release drops exactly those references.
// The room for them comes first: without it nothing is read, and 0.
int CKivAvatar::ReadTextures()
{
    CKivBase *base = CKivBase::GetInstance();
    if (!base)
        return 1;
    try {
        m_readTextures.reserve(m_readTextures.size() + kPartCount + kFaceFrames);
    } catch (const std::bad_alloc &) {
        return 0;
    }
    char name[kNameSize];
    for (int part = 0; part < kPartCount; part++) {
        PartSkinName(part, name, sizeof(name));
        if (RwTexture *texture = base->ReadTexture(name, kSkinFolder))
            m_readTextures.push_back(texture);
    }
    for (int frame = 1; frame <= kFaceFrames; frame++) {
        FaceFrameName(frame, name, sizeof(name));
        if (RwTexture *texture = base->ReadTexture(name, kFaceFolder))
            m_readTextures.push_back(texture);
    }
    return 1;
}

void CKivAvatar::ReleaseTextures()
{
    DropTextures(&m_readTextures);
}

int CKivAvatar::Create(int body, int skin, int face)
{
    EngineLoad load;
    if (load.Refused())
        return 0;
    KivPreparedTextures prepared;
    PrepareTextures(&prepared, body, skin, face);
    EngineLock lock;
    m_body = body;
    m_skin = skin;
    m_face = face;
    ReadTextures();
    SetBody(body);
    SetSkin(skin);
    SetFace(face);
    return 1;
}

// Create takes the lock after preparing its pictures: not held around it.
int CKivAvatar::CreateVariant(int body, int skin, int face, int variant1, int variant2, int variant3)
{
    {
        EngineLock lock;
        m_variant = 1;
        m_variants[0] = static_cast<unsigned char>(variant1);
        m_variants[1] = static_cast<unsigned char>(variant2);
        m_variants[2] = static_cast<unsigned char>(variant3);
        m_savedSkin = skin;
        m_savedVariant = m_variant;
        std::memcpy(m_savedVariants, m_variants, sizeof(m_variants));
    }
    return Create(body, skin, face);
}

void CKivAvatar::ClearPartTextures(int headOnly)
{
    for (int part = 0; part < (headOnly ? 1 : kPartCount); part++)
        SetMaterialTexture(kPartNames[part], nullptr);
}

int CKivAvatar::SetBody(int body)
{
    EngineLock lock;
    m_body = body;
    char path[kNameSize], images[kNameSize];
    if (!ModelPaths(body, path, images))
        return 0;
    // The old model's part atomics go with it, before the new model comes.
    DetachItemAtomics();
    DeletePartAtomics();
    if (!Load(path, images))
        return 0;
    ClearPartTextures(0);
    if (!CapturePartAtomics())
        return 0;
    char function[64];
    snprintf(function, sizeof(function), "SetAvatarBehavior%d", body);
    return CallScript(function, "BodyNumber", body, nullptr);
}

int CKivAvatar::SetSkin(int skin)
{
    EngineLock lock;
    ClearPartTextures(0);
    m_skinId = m_body * 10 + skin;
    m_skin = skin;
    char name[kNameSize];
    for (int part = 0; part < kPartCount; part++) {
        PartSkinName(part, name, sizeof(name));
        SetMaterialTexture(kPartNames[part], FindTexture(name));
    }
    return 1;
}

int CKivAvatar::SetFace(int face)
{
    EngineLock lock;
    ClearPartTextures(1);
    DeleteEmotions();
    m_faceId = m_body * 1000 + m_skin * 100 + face;
    m_face = face;
    char function[64];
    snprintf(function, sizeof(function), "SetAvatarEmotion%d", m_body);
    if (!CallScript(function, "BodyNumber", m_body, nullptr))
        return 0;
    if (!m_currentEmotion.empty())
        PlayEmotion(m_currentEmotion.c_str(), m_emotionDuration, m_emotionRepeat);
    return 1;
}

void CKivAvatar::SetVariant(int skin, int variant1, int variant2, int variant3, int save)
{
    EngineLock lock;
    if (!m_variant)
        return;
    // The new textures first: a texture both sets share keeps living. Without
    // memory for them the avatar keeps its variant and its textures.
    unsigned char kept[3];
    std::memcpy(kept, m_variants, sizeof(kept));
    m_variants[0] = static_cast<unsigned char>(variant1);
    m_variants[1] = static_cast<unsigned char>(variant2);
    m_variants[2] = static_cast<unsigned char>(variant3);
    std::vector<RwTexture *> old;
    old.swap(m_readTextures);
    if (!ReadTextures()) {
        old.swap(m_readTextures);
        std::memcpy(m_variants, kept, sizeof(kept));
        return;
    }
    if (save) {
        m_savedSkin = skin;
        m_savedVariant = m_variant;
        std::memcpy(m_savedVariants, m_variants, sizeof(m_variants));
    }
    DropTextures(&old);
    SetSkin(m_skin);
    SetFace(m_face);
}

void CKivAvatar::RestoreVariant()
{
    EngineLock lock;
    SetVariant(m_savedSkin, m_savedVariants[0], m_savedVariants[1], m_savedVariants[2], 1);
}

namespace {

// A call of the avatar scripts, made inside lua_cpcall: Lua running out of
// memory for the pushes is then an error of the call rather than a panic.
struct ScriptCall {
    CKivClump *avatar;
    const char *function;
    const char *label;
    int number;
    const int *itemArgs;
    void **slot;   // the avatar's userdata, emptied once the call is over
    int status;
};

void LogScriptError(const ScriptCall &call)
{
    char line[64];
    snprintf(line, sizeof(line), "%s : %d", call.label, call.number);
    CScriptBinder::LogError(line);
    CKivBase::GetScriptBinder()->LogTopError();
}

int RunScriptCall(lua_State *L)
{
    ScriptCall *call = static_cast<ScriptCall *>(lua_touserdata(L, 1));
    call->slot = static_cast<void **>(lua_newuserdata(L, sizeof(void *)));
    *call->slot = call->avatar;
    luaL_getmetatable(L, CKivEngineScriptBinder::kAvatarMeta);
    lua_setmetatable(L, -2);
    lua_getglobal(L, call->function);
    lua_pushvalue(L, -2);
    int args = 1;
    if (call->itemArgs) {
        lua_pushinteger(L, call->itemArgs[0]);
        lua_pushinteger(L, call->itemArgs[1]);
        lua_pushboolean(L, call->itemArgs[2]);
        args = 4;
    }
    call->status = lua_pcall(L, args, 0, 0);
    if (call->status != 0)
        LogScriptError(*call);
    return 0;
}

} // namespace

int CKivAvatar::CallScript(const char *function, const char *label, int number, const int *itemArgs)
{
    EngineLock lock;
    CKivEngineScriptBinder *binder = CKivBase::GetScriptBinder();
    lua_State *L = binder ? binder->GetState() : nullptr;
    if (!L)
        return 0;
    ScriptCall call = {static_cast<CKivClump *>(this), function, label, number, itemArgs, nullptr, 0};
    const int top = lua_gettop(L);
    const int status = lua_cpcall(L, RunScriptCall, &call);
    // The script may keep the userdata: it must not reach the avatar once the call is over.
    if (call.slot)
        *call.slot = nullptr;
    if (status != 0)
        LogScriptError(call);
    lua_settop(L, top);
    return status == 0 && call.status == 0;
}

// Memory running out leaves no part list: the atomics stay the model's.
int CKivAvatar::CapturePartAtomics()
{
    struct Capture {
        std::vector<CKivAvatarAtomic *> *parts;
        int whole;
    } capture = {&m_parts, 1};
    try {
        CKivAvatarAtomic::ForParts(
            GetClump(),
            [](RwAtomic *atomic, const char *frameName, void *data) {
                Capture *c = static_cast<Capture *>(data);
                if (!c->whole)
                    return;
                CKivAvatarAtomic *part = nullptr;
                try {
                    c->parts->reserve(c->parts->size() + 1);
                    part = new CKivAvatarAtomic;
                } catch (const std::bad_alloc &) {
                    c->whole = 0;
                    return;
                }
                // The atomic only once the part is whole: a part deleted
                // with it would destroy the model's atomic.
                if (!part->SetFrameName(frameName)) {
                    delete part;
                    c->whole = 0;
                    return;
                }
                part->SetAtomic(atomic);
                c->parts->push_back(part);
            },
            &capture);
    } catch (const std::bad_alloc &) {
        capture.whole = 0;
    }
    if (!capture.whole)
        DeletePartAtomics();
    return capture.whole;
}

// Atomics in the model stay for it to destroy; detached ones go with their holder.
void CKivAvatar::DeletePartAtomics()
{
    for (CKivAvatarAtomic *part : m_parts) {
        if (part->GetAtomic() && part->GetAtomic()->clump)
            part->SetAtomic(nullptr);
        delete part;
    }
    m_parts.clear();
}

void CKivAvatar::AttachBodyParts()
{
    if (m_bodyHidden)
        return;
    for (CKivAvatarAtomic *part : m_parts) {
        if (part->GetAtomic() && !part->GetAtomic()->clump) {
            if (RwFrame *frame = FindFrame(part->GetFrameName()))
                AttachAtomic(part->GetAtomic(), frame);
        }
    }
}

void CKivAvatar::DetachItemAtomics()
{
    for (const auto &entry : m_items) {
        for (CKivAvatarAtomic *atomic : entry.second->GetAtomics())
            DetachAtomic(atomic->GetAtomic());
    }
}

void CKivAvatar::AttachItems()
{
    for (const auto &entry : m_items) {
        for (const std::string &replaced : entry.second->GetReplacedParts()) {
            if (RwAtomic *atomic = FindAtomic(replaced.c_str()))
                DetachAtomic(atomic);
        }
        for (CKivAvatarAtomic *atomic : entry.second->GetAtomics())
            AttachAtomic(atomic->GetAtomic(), FindFrame(atomic->GetFrameName()));
    }
}

void CKivAvatar::ReapplyToon()
{
    if (GetToon())
        SetToon(GetToon());
}

// Scripts add emotions frame by frame: memory running out adds nothing, so
// no emotion is left without a trailer or without its first frame.
int CKivAvatar::AddEmotion(const char *name, int frame, float seconds)
{
    EngineLock lock;
    try {
        const std::string key = Lower(name);
        auto found = m_emotions.find(key);
        std::unique_ptr<CKivTextureTrailer> made;
        if (found == m_emotions.end())
            made.reset(new CKivTextureTrailer);
        CKivTextureTrailer *trailer = made ? made.get() : found->second;
        char frameKey[CKivTextureTrailer::kNameSize];
        snprintf(frameKey, sizeof(frameKey), "%s%d_%d", key.c_str(), frame, trailer->GetFrameCount());
        char texture[kNameSize];
        FaceFrameName(frame, texture, sizeof(texture));
        if (!trailer->AddFrame(frameKey, FindTexture(texture), seconds))
            return 0;
        // A new emotion is registered last, whole.
        if (made) {
            m_emotions.emplace(key, made.get());
            made.release();
        }
    } catch (const std::bad_alloc &) {
        return 0;
    }
    return 1;
}

// A name too long for the short strings' room needs memory to be lowered.
CKivTextureTrailer *CKivAvatar::FindEmotion(const char *name) const
{
    try {
        auto it = m_emotions.find(Lower(name));
        return it == m_emotions.end() ? nullptr : it->second;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

int CKivAvatar::RemoveEmotion(const char *name)
{
    EngineLock lock;
    auto it = m_emotions.end();
    try {
        it = m_emotions.find(Lower(name));
    } catch (const std::bad_alloc &) {
        return 0;
    }
    if (it == m_emotions.end())
        return 0;
    RemoveTextureTrailer(it->second);
    delete it->second;
    m_emotions.erase(it);
    return 1;
}

void CKivAvatar::DeleteEmotions()
{
    for (const auto &emotion : m_emotions) {
        RemoveTextureTrailer(emotion.second);
        delete emotion.second;
    }
    m_emotions.clear();
}

// Without memory for the name the emotions stay as they were, and 0.
int CKivAvatar::SetEmotion(const char *name)
{
    std::string base, key;
    try {
        base = Lower(name);
        key = base;
    } catch (const std::bad_alloc &) {
        return 0;
    }
    m_baseEmotion.swap(base);
    return PlayKey(std::move(key), 0.0f, 10);
}

int CKivAvatar::PlayEmotion(const char *name, float duration, int repeatCount)
{
    std::string key;
    try {
        key = Lower(name);
    } catch (const std::bad_alloc &) {
        return 0;
    }
    return PlayKey(std::move(key), duration, repeatCount);
}

// The lowered name is made by the caller: nothing here allocates.
int CKivAvatar::PlayKey(std::string &&key, float duration, int repeatCount)
{
    m_currentEmotion = std::move(key);
    m_emotionTimer = 0.0f;
    m_emotionDuration = duration;
    m_emotionRepeat = repeatCount;
    auto found = m_emotions.find(m_currentEmotion);
    if (found == m_emotions.end())
        return 0;
    found->second->Reset();
    return SetTextureTrailer(kHeadAtomic, found->second);
}

void CKivAvatar::ReturnToBaseEmotion()
{
    PlayEmotion(m_baseEmotion.c_str(), 0.0f, 0);
    m_emotionRepeat = 10;
}

int CKivAvatar::Update(float dt)
{
    EngineLock lock;
    if (m_currentEmotion != m_baseEmotion) {
        m_emotionTimer += dt;
        if (m_emotionTimer >= m_emotionDuration) {
            m_emotionTimer -= m_emotionDuration;
            ReturnToBaseEmotion();
        }
    }
    return CKivClump::Update(dt);
}

const int *CKivAvatar::AttachItem(int itemId, int itemNumber, int second, int flag)
{
    EngineLock lock;
    char function[64];
    snprintf(function, sizeof(function), "AttachItem%d", itemNumber);
    const int args[3] = {itemId, second, flag ? 1 : 0};
    ThreadLists *lists = Lists();
    if (!lists)
        return nullptr;
    std::memset(lists->displaced, 0, sizeof(lists->displaced));
    return CallScript(function, "ItemNumber", itemNumber, args) ? lists->displaced : nullptr;
}

int CKivAvatar::AttachItemObject(CKivAvatarItem *item)
{
    EngineLock lock;
    if (!item)
        return 0;
    // The item's map node is made before anything changes: memory running
    // out leaves the worn items as they were, and the item goes like a
    // refused one. Nothing after it allocates.
    std::map<int, CKivAvatarItem *>::node_type node;
    try {
        std::map<int, CKivAvatarItem *> made;
        made.emplace(item->GetKey(), item);
        node = made.extract(made.begin());
    } catch (const std::bad_alloc &) {
        delete item;
        return 0;
    }
    DetachItemAtomics();
    AttachBodyParts();
    // Only AttachItem reads the list, and it made the thread's block first.
    ThreadLists *lists = Lists();
    if (lists)
        std::memset(lists->displaced, 0, sizeof(lists->displaced));
    int displaced = 0;
    for (auto it = m_items.begin(); it != m_items.end();) {
        if (!it->second->SharesSlot(item)) {
            ++it;
            continue;
        }
        if (lists && displaced < kDisplacedSize - 1)
            lists->displaced[displaced++] = it->first;
        delete it->second;
        it = m_items.erase(it);
    }
    // A key still worn keeps its item; the newcomer is not attached.
    const int inserted = m_items.insert(std::move(node)).inserted;
    if (!inserted)
        delete item;
    AttachItems();
    ReapplyToon();
    return inserted;
}

int CKivAvatar::RemoveItem(int key)
{
    EngineLock lock;
    auto it = m_items.find(key);
    if (it == m_items.end())
        return 1;
    DetachItemAtomics();
    delete it->second;
    m_items.erase(it);
    AttachBodyParts();
    AttachItems();
    ReapplyToon();
    return 1;
}

int CKivAvatar::HasItem(int key) const
{
    return m_items.count(key) != 0;
}

CKivAvatarItem *CKivAvatar::GetItem(int key) const
{
    auto it = m_items.find(key);
    return it == m_items.end() ? nullptr : it->second;
}

CKivAvatarItem *CKivAvatar::FindItemByValue(int value) const
{
    for (const auto &entry : m_items) {
        if (entry.second->GetValue() == value)
            return entry.second;
    }
    return nullptr;
}

int CKivAvatar::ItemHasMode(int value) const
{
    CKivAvatarItem *item = FindItemByValue(value);
    return item && item->GetDisplayMode() > 0;
}

int CKivAvatar::AnyItemHasMode() const
{
    for (const auto &entry : m_items) {
        if (entry.second->GetDisplayMode() > 0)
            return 1;
    }
    return 0;
}

// Lists the slots without wearing the item: the worn items and their atomics stay as they are.
const int *CKivAvatar::GetItemSlots(int itemId, int itemNumber)
{
    EngineLock lock;
    ThreadLists *lists = Lists();
    if (!lists)
        return nullptr;
    if (HasItem(itemId))
        return ListSlots(lists->slots, GetItem(itemId));
    std::map<int, CKivAvatarItem *> worn;
    worn.swap(m_items);
    const int attached = AttachItem(itemId, itemNumber, 0, 0) != nullptr;
    ListSlots(lists->slots, attached && !m_items.empty() ? m_items.begin()->second : nullptr);
    DetachItemAtomics();
    DeleteItems();
    m_items.swap(worn);
    AttachBodyParts();
    AttachItems();
    ReapplyToon();
    return lists->slots;
}

void CKivAvatar::RebuildParts()
{
    EngineLock lock;
    DetachItemAtomics();
    AttachBodyParts();
    AttachItems();
    ReapplyToon();
}

void CKivAvatar::SetBodyHidden(int hidden)
{
    EngineLock lock;
    if (hidden && !m_bodyHidden) {
        for (CKivAvatarAtomic *part : m_parts) {
            if (part->GetAtomic() && part->GetAtomic()->clump && FindFrame(part->GetFrameName()))
                DetachAtomic(part->GetAtomic());
        }
    }
    m_bodyHidden = hidden;
}

void CKivAvatar::ResetColor()
{
    const RwRGBA white = {255, 255, 255, 255};
    SetColor(&white);
    for (const auto &entry : m_items)
        entry.second->ResetColor();
}

void CKivAvatar::DeleteItems()
{
    for (const auto &entry : m_items)
        delete entry.second;
    m_items.clear();
}

// Under the render lock, as the clump's own teardown: a frame in progress
// draws the avatar whole.
void CKivAvatar::Release()
{
    EngineLock lock;
    SetBodyHidden(0);
    DetachItemAtomics();
    AttachBodyParts();
    DeletePartAtomics();
    DeleteItems();
    DeleteEmotions();
    ClearPartTextures(0);
    ReleaseTextures();
    Destroy();
}
