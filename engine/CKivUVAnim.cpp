// The engine's handle on one UV animation file: its dictionary, its first animation and the texture it scrolls.
#include "engine/CKivUVAnim.h"

#include <memory>

#include "archive/CParcel.h"
#include "engine/CKivBase.h"
#include "engine/KivEngineLock.h"
#include "engine/KivFileRead.h"
#include "gfx/core/image.h"
#include "gfx/core/stream.h"
#include "gfx/core/texture.h"
#include "gfx/plugins/dictionary/dictionary.h"
#include "gfx/plugins/uvanim/uvanim.h"

enum : RwUInt32 { kUVAnimDictionaryChunk = 0x2B };

CKivUVAnim::CKivUVAnim() : m_dictionary(nullptr), m_animation(nullptr), m_texture(nullptr)
{
}

CKivUVAnim::~CKivUVAnim()
{
    EngineLock lock;
    Release();
}

void CKivUVAnim::Release()
{
    EngineLock lock;
    if (m_dictionary) {
        RwDictionaryDestroy(m_dictionary);
        m_dictionary = nullptr;
    }
    m_animation = nullptr;
    if (m_texture) {
        CKivBase *base = CKivBase::GetInstance();
        if (base)
            base->BeginTextureUpdate();
        RwTextureDestroy(m_texture);
        if (base)
            base->EndTextureUpdate();
        m_texture = nullptr;
    }
}

void *CKivUVAnim::TakeFirstEntry(void *entry, void *animationSlot)
{
    *static_cast<RwAnimAnimation **>(animationSlot) = static_cast<RwAnimAnimation *>(entry);
    return nullptr;
}

int CKivUVAnim::Load(const char *fileName, const char *textureName, const char *texturePath)
{
    EngineLock lock;
    CKivBase *base = CKivBase::GetInstance();
    if (!base || !fileName || !textureName)
        return 0;
    // A second load replaces the first instead of leaking it.
    Release();
    if (texturePath)
        RwImageSetPath(texturePath);

    std::unique_ptr<unsigned char[]> bytes;
    DWORD size = 0;
    if (KivReadWholeFile(base->GetParcel(), fileName, bytes, &size) != kKivReadOk)
        return 0;
    RwMemory memory = {bytes.get(), size};
    RwStream *stream = RwStreamOpen(rwSTREAMMEMORY, rwSTREAMREAD, &memory);
    if (!stream)
        return 0;
    if (RwStreamFindChunk(stream, kUVAnimDictionaryChunk, nullptr, nullptr))
        m_dictionary = RwDictionaryStreamRead(RwUVAnimGetDictSchema(), stream);
    RwStreamClose(stream, nullptr);
    if (!m_dictionary)
        return 0;
    RwDictionaryForAllEntries(m_dictionary, TakeFirstEntry, &m_animation);
    if (!m_animation)
        return 0;

    m_texture = RwTextureRead(textureName, nullptr);
    return m_texture ? 1 : 0;
}
