// The named store of the GUI's fonts and sprites.
#pragma once

#include <windows.h>
#include <d3dx9math.h>

#include <map>
#include <string>

class CKivGuiResourceManager {
public:
    enum : int { kFont = 1, kSprite = 2 };

    CKivGuiResourceManager() = default;
    virtual ~CKivGuiResourceManager();
    CKivGuiResourceManager(const CKivGuiResourceManager &) = delete;
    CKivGuiResourceManager &operator=(const CKivGuiResourceManager &) = delete;

    // 1 when made and registered; 0 when the name is taken or creation fails.
    int AddFont(const char *idString, const char *face, const char *name, int height, int weight,
                const D3DXCOLOR &textColour, int outline, const D3DXCOLOR &outlineColour);
    // Takes the object when it inserts it; a name in use leaves the map as it was.
    int AddResource(const char *name, int type, void *object);
    void *GetResource(const char *name, int *typeOut) const;
    int HasResource(const char *name) const;
    // The new count; 1 for a name not registered.
    int AddRef(const char *name);
    // The new count; 0 for a name not registered. Nothing is freed here.
    int ReleaseRef(const char *name);
    // 1 when loaded and registered; 0 when the name exists (its count is
    // raised) or the image cannot be read.
    int AddImage(const char *file, const char *folder, const char *name);
    int AddScene(const char *name);
    int ReleaseAll();
    int OnLostDevice();
    int OnResetDevice();

private:
    struct Record {
        std::string name;
        int type;
        int count;
        void *object;
    };
    std::map<std::string, Record, std::less<>> m_resources;   // found by a caller's name without a copy
};
