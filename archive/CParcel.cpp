// The archive object: loose files through CParcelBase, or one packed archive file.
#include "CParcel.h"

#include <new>

static CParcel *s_parcel = nullptr;

// Memory running out is a failure like any other: the call returns its
// failure value and no exception leaves the archive. The calls allocate
// what can run out before they change anything.
template <class R, class F>
static R NoThrow(R failure, F &&call)
{
    try {
        return call();
    } catch (const std::bad_alloc &) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return failure;
    }
}

CParcel::CParcel() : m_importReport(nullptr), m_importContext(nullptr)
{
    CParcel::Reset();
}

CParcel::~CParcel()
{
    CParcel::Close();
}

void CParcel::Reset()
{
    CParcelBase::Reset();
    m_archive = INVALID_HANDLE_VALUE;
    m_readOnly = 0;
    m_longer = false;
    m_fresh = false;
    m_freshTables.clear();
    m_committed.clear();
    m_storage = nullptr;
    m_options[0] = 0;
    m_options[1] = 1;
    m_options[2] = 2;
}

// Opening again first lets go of an archive that is still open.
BOOL CParcel::Open(DWORD mode, LPCSTR path, DWORD flags, DWORD initialTableSize)
{
    if (m_mode) {
        PackedClose();
        m_mode = 0;
    }
    if (!mode)
        return CParcelBase::Open(mode, path, flags, initialTableSize);
    try {
        return PackedOpen(mode, path, flags, initialTableSize);
    } catch (const std::bad_alloc &) {
        // Whatever was read so far goes.
        PackedClose();
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
}

void CParcel::Close()
{
    if (m_mode)
        PackedClose();
    CParcelBase::Close();
}

HANDLE CParcel::CreateFile(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                           DWORD disposition, DWORD attributes, HANDLE templateFile)
{
    return NoThrow<HANDLE>(INVALID_HANDLE_VALUE, [&]() -> HANDLE {
        if (m_mode)
            return PackedCreateFile(name, access, share, security, disposition, attributes, templateFile);
        return CParcelBase::CreateFile(name, access, share, security, disposition, attributes, templateFile);
    });
}

BOOL CParcel::CloseHandle(HANDLE file)
{
    return m_mode ? PackedCloseHandle(file) : CParcelBase::CloseHandle(file);
}

BOOL CParcel::ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read, LPOVERLAPPED overlapped)
{
    return NoThrow<BOOL>(FALSE, [&]() -> BOOL {
        if (m_mode)
            return PackedReadFile(file, buffer, count, read, overlapped);
        return CParcelBase::ReadFile(file, buffer, count, read, overlapped);
    });
}

BOOL CParcel::WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written,
                        LPOVERLAPPED overlapped)
{
    return NoThrow<BOOL>(FALSE, [&]() -> BOOL {
        if (m_mode)
            return PackedWriteFile(file, buffer, count, written, overlapped);
        return CParcelBase::WriteFile(file, buffer, count, written, overlapped);
    });
}

DWORD CParcel::SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method)
{
    return NoThrow<DWORD>(INVALID_SET_FILE_POINTER, [&]() -> DWORD {
        if (m_mode)
            return PackedSetFilePointer(file, distance, distanceHigh, method);
        return CParcelBase::SetFilePointer(file, distance, distanceHigh, method);
    });
}

BOOL CParcel::DeleteFile(LPCSTR name)
{
    return NoThrow<BOOL>(FALSE, [&]() -> BOOL {
        return m_mode ? PackedDeleteFile(name) : CParcelBase::DeleteFile(name);
    });
}

BOOL CParcel::CreateDirectory(LPCSTR name, LPSECURITY_ATTRIBUTES security)
{
    return NoThrow<BOOL>(FALSE, [&]() -> BOOL {
        return m_mode ? PackedCreateDirectory(name, security) : CParcelBase::CreateDirectory(name, security);
    });
}

BOOL CParcel::RemoveDirectory(LPCSTR name)
{
    return NoThrow<BOOL>(FALSE, [&]() -> BOOL {
        return m_mode ? PackedRemoveDirectory(name) : CParcelBase::RemoveDirectory(name);
    });
}

DWORD_PTR CParcel::GetFileInfo(LPCSTR name, DWORD attributes, SHFILEINFOA *info, UINT infoSize, UINT flags)
{
    return NoThrow<DWORD_PTR>(0, [&]() -> DWORD_PTR {
        if (m_mode)
            return PackedGetFileInfo(name, attributes, info, infoSize, flags);
        return CParcelBase::GetFileInfo(name, attributes, info, infoSize, flags);
    });
}

DWORD CParcel::GetFileSize(HANDLE file, LPDWORD sizeHigh)
{
    return m_mode ? PackedGetFileSize(file, sizeHigh) : CParcelBase::GetFileSize(file, sizeHigh);
}

BOOL CParcel::GetFileTime(HANDLE file, LPFILETIME creation, LPFILETIME access, LPFILETIME write)
{
    if (m_mode)
        return PackedGetFileTime(file, creation, access, write);
    return CParcelBase::GetFileTime(file, creation, access, write);
}

HANDLE CParcel::FindFirstFile(LPCSTR pattern, LPWIN32_FIND_DATAA data)
{
    return NoThrow<HANDLE>(INVALID_HANDLE_VALUE, [&]() -> HANDLE {
        return m_mode ? PackedFindFirstFile(pattern, data) : CParcelBase::FindFirstFile(pattern, data);
    });
}

BOOL CParcel::FindNextFile(HANDLE find, LPWIN32_FIND_DATAA data)
{
    return NoThrow<BOOL>(FALSE, [&]() -> BOOL {
        return m_mode ? PackedFindNextFile(find, data) : CParcelBase::FindNextFile(find, data);
    });
}

BOOL CParcel::FindClose(HANDLE find)
{
    return m_mode ? PackedFindClose(find) : CParcelBase::FindClose(find);
}

void CParcel::SetOptions(DWORD option0, DWORD option1, DWORD option2)
{
    if (m_mode)
        PackedSetOptions(option0, option1, option2);
    else
        CParcelBase::SetOptions(option0, option1, option2);
}

HMMIO CParcel::MmioOpen(LPCSTR name, LPMMIOINFO info, DWORD flags)
{
    return NoThrow<HMMIO>(nullptr, [&]() -> HMMIO {
        return m_mode ? PackedMmioOpen(name, info, flags) : CParcelBase::MmioOpen(name, info, flags);
    });
}

MMRESULT CParcel::MmioClose(HMMIO mmio, UINT flags)
{
    return m_mode ? PackedMmioClose(mmio, flags) : CParcelBase::MmioClose(mmio, flags);
}

LONG CParcel::MmioRead(HMMIO mmio, HPSTR buffer, LONG count)
{
    return m_mode ? PackedMmioRead(mmio, buffer, count) : CParcelBase::MmioRead(mmio, buffer, count);
}

LONG CParcel::MmioSeek(HMMIO mmio, LONG offset, int origin)
{
    return m_mode ? PackedMmioSeek(mmio, offset, origin) : CParcelBase::MmioSeek(mmio, offset, origin);
}

MMRESULT CParcel::MmioAscend(HMMIO mmio, LPMMCKINFO chunk, UINT flags)
{
    return m_mode ? PackedMmioAscend(mmio, chunk, flags) : CParcelBase::MmioAscend(mmio, chunk, flags);
}

MMRESULT CParcel::MmioDescend(HMMIO mmio, LPMMCKINFO chunk, const MMCKINFO *parent, UINT flags)
{
    if (m_mode)
        return PackedMmioDescend(mmio, chunk, parent, flags);
    return CParcelBase::MmioDescend(mmio, chunk, parent, flags);
}

MMRESULT CParcel::MmioAdvance(HMMIO mmio, LPMMIOINFO info, UINT flags)
{
    return m_mode ? PackedMmioAdvance(mmio, info, flags) : CParcelBase::MmioAdvance(mmio, info, flags);
}

MMRESULT CParcel::MmioSetInfo(HMMIO mmio, LPCMMIOINFO info, UINT flags)
{
    return m_mode ? PackedMmioSetInfo(mmio, info, flags) : CParcelBase::MmioSetInfo(mmio, info, flags);
}

MMRESULT CParcel::MmioGetInfo(HMMIO mmio, LPMMIOINFO info, UINT flags)
{
    return m_mode ? PackedMmioGetInfo(mmio, info, flags) : CParcelBase::MmioGetInfo(mmio, info, flags);
}

BOOL CParcel::Flush(int level)
{
    return NoThrow<BOOL>(FALSE, [&]() -> BOOL {
        return m_mode ? PackedFlush(level) : CParcelBase::Flush(level);
    });
}

void CParcel::SetFileSize(HANDLE file, DWORD sizeLow, DWORD sizeHigh)
{
    if (m_mode)
        PackedSetFileSize(file, sizeLow, sizeHigh);
    else
        CParcelBase::SetFileSize(file, sizeLow, sizeHigh);
}

BOOL CParcel::GetFileLocation(LPCSTR name, LPDWORD offsetLow, LPDWORD offsetHigh)
{
    return NoThrow<BOOL>(FALSE, [&]() -> BOOL {
        if (m_mode)
            return PackedGetFileLocation(name, offsetLow, offsetHigh);
        return CParcelBase::GetFileLocation(name, offsetLow, offsetHigh);
    });
}

// Folders exist only inside an archive.
CParcelFolder *CParcel::FindFolder(LPCSTR path)
{
    return NoThrow<CParcelFolder *>(nullptr, [&]() -> CParcelFolder * {
        return m_mode ? PackedFindFolder(path) : nullptr;
    });
}

// A new object on every call: one made before stays with whoever holds it,
// who releases it with delete once the slot has moved on.
extern "C" CParcel *__cdecl CreateParcel(void)
{
    CParcel *parcel = new (std::nothrow) CParcel;
    if (parcel)
        s_parcel = parcel;
    return parcel;
}

extern "C" void __cdecl ReleaseParcel(void)
{
    CParcel *parcel = s_parcel;
    s_parcel = nullptr;
    delete parcel;
}
