// Failed writes and stopped processes for archive tests: a hook on the archive's file seam.
#pragma once

#include <windows.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "EngineRead.h"
#include "archive/CParcel.h"
#include "archive/ParcelIo.h"

typedef std::map<std::string, std::string> Contents;

inline std::string Pattern(size_t n, uint32_t seed)
{
    std::string b(n, '\0');
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        b[i] = (char)(seed >> 16);
    }
    return b;
}

// What the seam does at the call it is set on (counted from 0 over every
// write, end-of-file change and flush of the archive file).
enum Fault {
    FAULT_NONE,
    // That call fails; the later ones go through.
    FAULT_FAIL,
    // That call and every later one never reach the file: what a process that
    // ends there leaves on disk.
    FAULT_STOP,
    // As FAULT_STOP, after the whole sectors of the first half of that write
    // reached the file (a disk writes a sector whole or not at all).
    FAULT_TEAR,
    // The process ends there, after the same torn part.
    FAULT_EXIT,
    // The power fails there. Writes that were not forced to disk may have
    // reached it in any order: of those since the last forcing call only the
    // latest did (CutImage gives what the disk then holds).
    FAULT_CUT,
};

class Injector {
public:
    // A cut needs the archive's path, to see what was forced to disk.
    Injector(int target = -1, Fault fault = FAULT_NONE, const std::string &path = std::string())
        : m_target(target), m_fault(fault), m_path(path)
    {
        if (m_fault == FAULT_CUT)
            m_forced = ReadAll();
        ParcelSetIoHook(&Injector::Hook, this);
    }
    ~Injector() { ParcelSetIoHook(nullptr, nullptr); }
    Injector(const Injector &) = delete;
    Injector &operator=(const Injector &) = delete;

    int Calls() const { return (int)m_calls.size(); }
    ParcelIoCall Call(int i) const { return m_calls[(size_t)i]; }
    bool Hit() const { return m_hit; }

    enum { EXIT_CODE = 41 };

    std::string CutImage() const
    {
        std::string image = m_forced;
        if (m_lastCall == PARCEL_IO_WRITE) {
            if (image.size() < m_lastAt + m_lastBytes.size())
                image.resize(m_lastAt + m_lastBytes.size(), '\0');
            image.replace(m_lastAt, m_lastBytes.size(), m_lastBytes);
        } else if (m_lastCall == PARCEL_IO_SET_END) {
            image.resize(m_lastAt, '\0');
        }
        return image;
    }

private:
    std::string ReadAll() const
    {
        HANDLE h = CreateFileA(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        std::string bytes;
        if (h == INVALID_HANDLE_VALUE)
            return bytes;
        bytes.resize(GetFileSize(h, nullptr));
        DWORD done = 0;
        if (!bytes.empty())
            ::ReadFile(h, &bytes[0], (DWORD)bytes.size(), &done, nullptr);
        CloseHandle(h);
        return bytes;
    }

    // Keeps what a cut needs: the file as last forced, and the latest change since.
    void Journal(ParcelIoCall call, HANDLE file, const void *buffer, DWORD count)
    {
        if (call == PARCEL_IO_FLUSH) {
            m_forced = ReadAll();
            m_lastCall = PARCEL_IO_FLUSH;
            return;
        }
        LONG high = 0;
        m_lastAt = SetFilePointer(file, 0, &high, FILE_CURRENT);
        m_lastCall = call;
        m_lastBytes.assign(call == PARCEL_IO_WRITE ? static_cast<const char *>(buffer) : "",
                           call == PARCEL_IO_WRITE ? count : 0);
    }

    static DWORD TornPart(HANDLE file, DWORD count)
    {
        LONG high = 0;
        const DWORD pos = SetFilePointer(file, 0, &high, FILE_CURRENT);
        const DWORD half = pos + count / 2;
        const DWORD sector = half - half % 512;
        return sector > pos ? sector - pos : 0;
    }

    static BOOL Hook(void *context, ParcelIoCall call, HANDLE file, const void *buffer, DWORD count)
    {
        Injector *in = static_cast<Injector *>(context);
        if (in->m_stopped)
            return FALSE;
        const int index = in->Calls();
        in->m_calls.push_back(call);
        if (index != in->m_target) {
            if (in->m_fault == FAULT_CUT)
                in->Journal(call, file, buffer, count);
            return TRUE;
        }
        in->m_hit = true;
        if (in->m_fault == FAULT_CUT) {
            in->m_stopped = true;
            return FALSE;
        }
        if ((in->m_fault == FAULT_TEAR || in->m_fault == FAULT_EXIT) && call == PARCEL_IO_WRITE) {
            DWORD done = 0;
            const DWORD part = TornPart(file, count);
            if (part)
                ::WriteFile(file, buffer, part, &done, nullptr);
        }
        if (in->m_fault == FAULT_EXIT)
            TerminateProcess(GetCurrentProcess(), EXIT_CODE);
        if (in->m_fault != FAULT_FAIL)
            in->m_stopped = true;
        return FALSE;
    }

    int m_target;
    Fault m_fault;
    bool m_stopped = false;
    bool m_hit = false;
    std::vector<ParcelIoCall> m_calls;
    std::string m_path;
    std::string m_forced;
    ParcelIoCall m_lastCall = PARCEL_IO_FLUSH;
    DWORD m_lastAt = 0;
    std::string m_lastBytes;
};

// Every entry the archive lists, in every folder, with the bytes it reads.
inline void ListInto(CParcel &p, const std::string &folder, Contents *out)
{
    WIN32_FIND_DATAA d;
    memset(&d, 0, sizeof d);
    HANDLE f = p.FindFirstFile((folder + "*.*").c_str(), &d);
    if (f == INVALID_HANDLE_VALUE)
        return;
    std::vector<std::string> names, folders;
    do {
        if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            folders.push_back(folder + d.cFileName + "\\");
        else
            names.push_back(folder + d.cFileName);
        memset(&d, 0, sizeof d);
    } while (p.FindNextFile(f, &d));
    p.FindClose(f);
    for (const std::string &n : names)
        (*out)[n] = ReadWhole(p, n.c_str());
    for (const std::string &sub : folders)
        ListInto(p, sub, out);
}

inline Contents Listed(CParcel &p)
{
    Contents c;
    ListInto(p, "", &c);
    return c;
}
