// The engine sample's scene: a world with a model, an inked and shadowed avatar walking its script-made
// behaviour, a scripted figure, blob and projected shadows and a GUI dialog, drawn a frame at a time.
#pragma once

#include "gfx/core/camera.h"
#include "gfx/core/frame.h"

class CKivBase;

// Where the camera looks from: angles in degrees around the target.
struct KivOrbit {
    RwV3d target = {0.0f, 1.2f, 0.0f};
    RwReal yaw = 30.0f;
    RwReal pitch = 20.0f;
    RwReal distance = 9.0f;
};

// Turns the camera frame to look at the target from the orbit's angles.
void KivPlaceCamera(RwFrame *frame, const KivOrbit &orbit);

// The tooltip skin into the working folder, written before the engine starts:
// its manager loads it then.
bool KivSampleWriteTooltipSkin(void);
// The sample tree into the working folder (the engine must be started); false,
// saying so with the folder's name, when it cannot be written.
bool KivSampleWriteTree(const char *folder);

// The scene on an engine root, read from the working folder; the root outlives it.
class KivSampleScene {
public:
    explicit KivSampleScene(CKivBase *base);
    ~KivSampleScene();
    KivSampleScene(const KivSampleScene &) = delete;
    KivSampleScene &operator=(const KivSampleScene &) = delete;

    // Loads and builds everything; false, saying why, when the scene cannot be shown.
    bool Build(void);
    // One frame's update by the given seconds and its drawing, not yet shown.
    void Draw(float seconds);
    // Shows the drawn frame.
    void Show(void);
    RwCamera *Camera(void) const;

private:
    struct Parts;
    CKivBase *m_base;
    Parts *m_parts;
    bool m_built = false;
};
