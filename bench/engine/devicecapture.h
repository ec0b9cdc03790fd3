// One frame of the calls made on a Direct3D 9 device, captured from the device itself and replayed straight to it.
#pragma once

#include <windows.h>
#include <d3d9.h>

#include <string>
#include <vector>

// Recording swaps the device's method table for a copy whose state, draw and
// frame entries note each call before passing it on, so every holder of the
// device pointer is seen. The vertex and index buffers bound while attached
// get such a copy too: their locks are noted with the bytes written, so a
// replay uploads what the frame uploaded. Each recorded state call is
// compared with what the device already holds; one that changes nothing is
// counted as redundant. One capture may be attached at a time.
class DeviceCapture {
public:
    DeviceCapture() = default;
    DeviceCapture(const DeviceCapture &) = delete;
    DeviceCapture &operator=(const DeviceCapture &) = delete;
    ~DeviceCapture();

    bool Attach(IDirect3DDevice9 *device);
    // Gives the device and every buffer its own table back; the recording stays.
    void Detach();
    // Forgets what was recorded and records from here until Stop.
    void Start();
    void Stop();
    // Sends the recorded calls to the device in their order (Present included
    // unless the picture is to be read back first).
    void Replay(bool present = true) const;
    // Only the recorded Present calls.
    void ReplayPresent() const;

    struct Counts {
        int calls;        // every device call recorded, buffer locks included
        int draws;
        int stateCalls;   // calls that set a device state
        int redundant;    // state calls that set what the device already held
        int unreplayed;   // calls the replay cannot repeat
    };
    Counts GetCounts() const;
    // "SetRenderState 3, SetTexture 1": the redundant calls by method.
    std::string RedundantByMethod() const;
    std::string UnreplayedByMethod() const;
    std::string CallsByMethod() const;

    // What the hooks reach; not for callers.
    struct Call {
        int op;
        DWORD a[6];
        IUnknown *object;   // referenced while recorded
        size_t data;        // offset of the call's bytes in the byte store
        size_t size;
        size_t data2;       // second block (vertices of an indexed draw from memory)
        size_t size2;
        bool redundant;
    };
    void Note(const Call &call, const void *bytes = nullptr, const void *bytes2 = nullptr);
    bool recording = false;
    IDirect3DDevice9 *device = nullptr;

private:
    void Clear();
    std::vector<Call> m_calls;
    std::vector<BYTE> m_bytes;
};
