// Background texture loading: placeholder textures at once, the real rasters swapped in by a worker thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>

#include "engine/KivImageDecode.h"

class CParcelBase;
struct RwImage;
struct RwRaster;
struct RwTexture;
struct RwTextureDictionary;

// A request fills only the placeholder it made: it holds a reference to that
// texture, and swaps the picture in only while someone else holds it too and
// it still shows the placeholder raster. Names and dictionaries are reused.
struct TextureRequest {
    RwTexture *texture;     // the placeholder, one reference the request's own
    RwRaster *placeholder;  // the raster the request made for it
    char name[260];
    char imagePath[260];
    int mode;
    ColourKey key;
    int cancelled;          // set under the loader's lock while the request is being loaded
    TextureRequest *next;   // in the queue or the list being loaded
};

class TextureLoader
{
public:
    // Reads the two placeholder images and starts the worker (pass every interval ms).
    explicit TextureLoader(int interval);
    ~TextureLoader();
    TextureLoader(const TextureLoader &) = delete;
    TextureLoader &operator=(const TextureLoader &) = delete;

    // A placeholder named name in the current dictionary, queued for loading;
    // null when no placeholder could be made.
    RwTexture *Request(const char *name, const char *imagePath, int mode);
    // Drops every request whose placeholder is in the dictionary (every
    // request for null), queued or being loaded.
    void Cancel(RwTextureDictionary *dictionary);
    // Takes every queued request: loads each (discard 0) or drops it.
    void Drain(int discard);
    // Requests queued or being loaded.
    int GetPendingCount();
    int IsRunning() const { return m_thread != nullptr; }

    // "name+tkR+tkG+tkB": base = text before the first "+tk", missing numbers 0.
    static void ParseColourKey(const char *name, char *base, size_t baseSize, ColourKey *key);

private:
    static DWORD WINAPI WorkerMain(void *loader);
    TextureRequest *TakeFirst();
    void Finish(TextureRequest *request);
    // Under the render lock: gives up the request's reference and deletes it.
    static void Release(TextureRequest *request);
    bool IsWanted(const TextureRequest *request);
    void LoadRequest(TextureRequest *request);
    int ReadRequestFile(const TextureRequest *request, unsigned char **bytes, DWORD *size);
    bool ReadPieces(CParcelBase *parcel, HANDLE handle, std::unique_ptr<unsigned char[]> &buffer, DWORD *done);
    // Under both locks: deletes the queued requests of the dictionary (all of them for null).
    void DropQueued(RwTextureDictionary *dictionary);
    // Under both locks: flags the requests being loaded for the dictionary (all of them for null).
    void CancelActive(RwTextureDictionary *dictionary);

    CRITICAL_SECTION m_lock;          // the queue and the active list
    CRITICAL_SECTION m_readLock;      // the loader archive: the worker and Drain may both read
    int m_interval;
    RwImage *m_worldImage;
    RwImage *m_modelImage;
    // Linked through the requests themselves: queueing, called from the
    // library's texture read, never allocates and so never throws.
    TextureRequest *m_queueHead;
    TextureRequest *m_queueTail;
    TextureRequest *m_active;
    std::atomic<int> m_pending;
    std::atomic<int> m_stop;
    HANDLE m_wake;                    // set by destruction: the worker stops sleeping
    HANDLE m_thread;
};
