// Packed-archive operations of CParcel: placeholders that fail like the Windows calls.
#include "CParcel.h"

#include <cstring>

BOOL CParcel::PackedOpen(DWORD mode, LPCSTR path, DWORD, DWORD)
{
    m_mode = mode;
    m_readOnly = 0;
    m_root[0] = 0;
    if (path) {
        std::strncpy(m_root, path, MAX_PATH - 1);
        m_root[MAX_PATH - 1] = 0;
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
}

void CParcel::PackedClose()
{
    m_folders.Clear();
    m_storage = nullptr;
    if (m_archive != INVALID_HANDLE_VALUE)
        ::CloseHandle(m_archive);
    m_archive = INVALID_HANDLE_VALUE;
}

HANDLE CParcel::PackedCreateFile(LPCSTR name, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)
{
    RecordRequested(name);
    RecordFailed(name);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

BOOL CParcel::PackedCloseHandle(HANDLE)
{
    return TRUE;
}

BOOL CParcel::PackedReadFile(HANDLE, LPVOID, DWORD, LPDWORD read, LPOVERLAPPED)
{
    if (read)
        *read = 0;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

BOOL CParcel::PackedWriteFile(HANDLE, LPCVOID, DWORD, LPDWORD written, LPOVERLAPPED)
{
    if (written)
        *written = 0;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

DWORD CParcel::PackedSetFilePointer(HANDLE, LONG, PLONG, DWORD)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
}

BOOL CParcel::PackedDeleteFile(LPCSTR)
{
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
}

BOOL CParcel::PackedCreateDirectory(LPCSTR, LPSECURITY_ATTRIBUTES)
{
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
}

BOOL CParcel::PackedRemoveDirectory(LPCSTR)
{
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
}

DWORD_PTR CParcel::PackedGetFileInfo(LPCSTR, DWORD, SHFILEINFOA *info, UINT infoSize, UINT)
{
    if (info && infoSize >= sizeof(SHFILEINFOA))
        std::memset(info, 0, sizeof(SHFILEINFOA));
    return 0;
}

DWORD CParcel::PackedGetFileSize(HANDLE, LPDWORD)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return INVALID_FILE_SIZE;
}

BOOL CParcel::PackedGetFileTime(HANDLE, LPFILETIME, LPFILETIME, LPFILETIME)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

HANDLE CParcel::PackedFindFirstFile(LPCSTR, LPWIN32_FIND_DATAA)
{
    SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

BOOL CParcel::PackedFindNextFile(HANDLE, LPWIN32_FIND_DATAA)
{
    SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
}

BOOL CParcel::PackedFindClose(HANDLE find)
{
    if (find == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

void CParcel::PackedSetOptions(DWORD option0, DWORD option1, DWORD option2)
{
    m_options[0] = option0;
    m_options[1] = option1;
    m_options[2] = option2;
}

HMMIO CParcel::PackedMmioOpen(LPCSTR name, LPMMIOINFO, DWORD)
{
    RecordRequested(name);
    RecordFailed(name);
    return nullptr;
}

MMRESULT CParcel::PackedMmioClose(HMMIO, UINT)
{
    return MMSYSERR_INVALHANDLE;
}

LONG CParcel::PackedMmioRead(HMMIO, HPSTR, LONG)
{
    return -1;
}

LONG CParcel::PackedMmioSeek(HMMIO, LONG, int)
{
    return -1;
}

MMRESULT CParcel::PackedMmioAscend(HMMIO, LPMMCKINFO, UINT)
{
    return MMSYSERR_INVALHANDLE;
}

MMRESULT CParcel::PackedMmioDescend(HMMIO, LPMMCKINFO, const MMCKINFO *, UINT)
{
    return MMSYSERR_INVALHANDLE;
}

MMRESULT CParcel::PackedMmioAdvance(HMMIO, LPMMIOINFO, UINT)
{
    return MMSYSERR_INVALHANDLE;
}

MMRESULT CParcel::PackedMmioSetInfo(HMMIO, LPCMMIOINFO, UINT)
{
    return MMSYSERR_INVALHANDLE;
}

MMRESULT CParcel::PackedMmioGetInfo(HMMIO, LPMMIOINFO, UINT)
{
    return MMSYSERR_INVALHANDLE;
}

BOOL CParcel::PackedFlush(int)
{
    return FALSE;
}

void CParcel::PackedSetFileSize(HANDLE, DWORD, DWORD)
{
}

BOOL CParcel::PackedGetFileLocation(LPCSTR name, LPDWORD, LPDWORD)
{
    RecordFailed(name);
    return FALSE;
}

CParcelFolder *CParcel::PackedFindFolder(LPCSTR)
{
    return nullptr;
}
