// A model file read whole through the engine's main archive, with a memory stream on its bytes.
#include "engine/KivModelFile.h"

#include "archive/CParcel.h"
#include "engine/CKivBase.h"
#include "engine/KivFileRead.h"
#include "gfx/core/stream.h"
#include "gfx/world/clump.h"

KivModelFile::~KivModelFile()
{
    Close();
}

void KivModelFile::Close()
{
    if (m_stream)
        RwStreamClose(m_stream, nullptr);
    m_stream = nullptr;
}

int KivModelFile::Open(const char *fileName)
{
    Close();
    CKivBase *base = CKivBase::GetInstance();
    if (KivReadWholeFile(base ? base->GetParcel() : nullptr, fileName, m_bytes, &m_size) != kKivReadOk)
        return 0;
    return Rewind() ? 1 : 0;
}

RwStream *KivModelFile::Rewind()
{
    Close();
    if (!m_bytes)
        return nullptr;
    RwMemory memory = {m_bytes.get(), m_size};
    m_stream = RwStreamOpen(rwSTREAMMEMORY, rwSTREAMREAD, &memory);
    return m_stream;
}

RwClump *KivModelFile::ReadClump()
{
    RwStream *stream = Rewind();
    if (!stream || !RwStreamFindChunk(stream, rwID_CLUMP, nullptr, nullptr))
        return nullptr;
    return RwClumpStreamRead(stream);
}
