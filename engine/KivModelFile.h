// A model file read whole through the engine's main archive, with a memory stream on its bytes.
#pragma once

#include <windows.h>

#include <memory>

struct RwStream;
struct RwClump;

class KivModelFile
{
public:
    KivModelFile() = default;
    // Closes the stream and frees the bytes.
    ~KivModelFile();
    KivModelFile(const KivModelFile &) = delete;
    KivModelFile &operator=(const KivModelFile &) = delete;

    // 0 when the file cannot be read or no stream opens on it.
    int Open(const char *fileName);
    // A fresh stream from the first byte.
    RwStream *Rewind();
    RwStream *Stream() const { return m_stream; }
    // The model of the file: its clump chunk read from the first byte, or null.
    RwClump *ReadClump();

private:
    void Close();

    std::unique_ptr<unsigned char[]> m_bytes;
    DWORD m_size = 0;
    RwStream *m_stream = nullptr;
};
