// A scratch folder of real files below the temporary folder, removed with
// everything in it afterwards.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class ScratchFolder
{
public:
    ScratchFolder()
    {
        char base[MAX_PATH];
        GetTempPathA(MAX_PATH, base);
        for (unsigned i = 0;; ++i) {
            m_path = std::string(base) + "kivtmp" + std::to_string(GetCurrentProcessId()) + "_" +
                     std::to_string(GetTickCount() + i);
            if (CreateDirectoryA(m_path.c_str(), nullptr))
                break;
        }
    }
    ~ScratchFolder() { RemoveAll(m_path); }

    // Without a trailing backslash.
    const std::string &Path() const { return m_path; }
    // With a trailing backslash, as a device prefix.
    std::string Prefix() const { return m_path + "\\"; }
    std::string Full(const std::string &relative) const { return m_path + "\\" + relative; }

    void Folder(const std::string &relative) const { CreateDirectoryA(Full(relative).c_str(), nullptr); }

    void File(const std::string &relative, const std::string &contents) const
    {
        HANDLE h = CreateFileA(Full(relative).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        WriteFile(h, contents.data(), static_cast<DWORD>(contents.size()), &written, nullptr);
        CloseHandle(h);
    }

    void File(const std::string &relative, const std::vector<unsigned char> &bytes) const
    {
        File(relative, std::string(bytes.begin(), bytes.end()));
    }

    // The file's bytes, also while someone else holds it open for writing.
    std::string Read(const std::string &relative) const
    {
        HANDLE h = CreateFileA(Full(relative).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return std::string();
        std::string contents(GetFileSize(h, nullptr), '\0');
        DWORD read = 0;
        if (!contents.empty())
            ReadFile(h, &contents[0], static_cast<DWORD>(contents.size()), &read, nullptr);
        CloseHandle(h);
        return contents;
    }

    bool Exists(const std::string &relative) const
    {
        return GetFileAttributesA(Full(relative).c_str()) != INVALID_FILE_ATTRIBUTES;
    }

private:
    static void RemoveAll(const std::string &dir)
    {
        WIN32_FIND_DATAA data;
        HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                const std::string name = data.cFileName;
                if (name == "." || name == "..")
                    continue;
                const std::string full = dir + "\\" + name;
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    RemoveAll(full);
                else
                    DeleteFileA(full.c_str());
            } while (FindNextFileA(find, &data));
            FindClose(find);
        }
        RemoveDirectoryA(dir.c_str());
    }

    std::string m_path;
};

// Runs a test body with the working directory switched to a folder.
class WorkingDirectory
{
public:
    explicit WorkingDirectory(const std::string &dir)
    {
        GetCurrentDirectoryA(MAX_PATH, m_previous);
        SetCurrentDirectoryA(dir.c_str());
    }
    ~WorkingDirectory() { SetCurrentDirectoryA(m_previous); }

private:
    char m_previous[MAX_PATH];
};
