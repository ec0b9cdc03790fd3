// The sample scene drawn in this process on a device whose loss is first reported at any check of a frame.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "engine/CKivBase.h"
#include "gfx/d3d9/d3d9testdevice.h"
#include "support/run_program.h"
#include "viewer/samplescene.h"

namespace {

size_t Differing(const std::vector<DWORD> &a, const std::vector<DWORD> &b)
{
    if (a.size() != b.size())
        return a.size() + b.size();
    size_t n = 0;
    for (size_t i = 0; i < a.size(); i++)
        n += !NearColour(a[i], b[i], 2);
    return n;
}

}  // namespace

// Frames step no time, so that every frame drawn with the device usable shows
// what the first does. The loss is first reported at one device check of a
// frame in turn - before its first scene, inside the shadow's camera texture,
// the main camera and the GUI's many updates - once lasting that one check,
// once several with the first resets refused; the frames after it, once the
// device is back, must show that picture again.
TEST(SampleScene, ALossFirstSeenAtAnyCheckOfAFrameLeavesTheFramesAfterItAsBefore)
{
    char before[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, before);
    const std::string folder = KivWinePath(KIV_VIEWER_PACKED) + "\\loss";
    CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str()));
    ASSERT_TRUE(KivSampleWriteTooltipSkin());
    HWND window = KivTestCreateWindow(1024, 768);
    CKivBase *base = new CKivBase;
    ASSERT_EQ(1, base->Init(window, GetModuleHandleA(nullptr), 1024, 768, "kiv test", 0, 0));
    ASSERT_TRUE(KivSampleWriteTree(folder.c_str()));
    {
        KivSampleScene scene(base);
        ASSERT_TRUE(scene.Build());
        KivPlaceCamera(RwCameraGetFrame(scene.Camera()), KivOrbit());
        IDirect3DDevice9 *real = rwD3D9Driver.device;
        RecordingDevice device(real);
        device.recording = false;
        rwD3D9Driver.device = &device;
        // The engine gets its own device back however the test ends.
        struct GiveBack {
            IDirect3DDevice9 *real;
            ~GiveBack() { rwD3D9Driver.device = real; }
        } giveBack = {real};
        // One frame, and its picture when asked for; how many device checks it made.
        auto frame = [&](std::vector<DWORD> *picture) {
            const int checks = device.checks;
            scene.Draw(0.0f);
            if (picture)
                *picture = ReadPixels(real, rwD3D9Driver.defaultColorSurface);
            scene.Show();
            return device.checks - checks;
        };
        std::vector<DWORD> straight, again;
        frame(nullptr);
        const int checks = frame(&straight);
        frame(&again);
        EXPECT_EQ(0u, Differing(straight, again)) << "frames without a loss repeat";
        EXPECT_GT(std::set<DWORD>(straight.begin(), straight.end()).size(), 100u) << "the scene is drawn";
        // The GUI's updates follow the scene's cameras and repeat one pattern:
        // every check up to them, a stride through them and the frame's last.
        // KIV_LOSS_EVERY_CHECK=1 sweeps every check (by hand; a few minutes).
        const char *every = std::getenv("KIV_LOSS_EVERY_CHECK");
        std::vector<int> positions;
        for (int at = 1; at <= checks; at++) {
            if ((every && *every == '1') || at <= 14 || at % 137 == 14 || at > checks - 3)
                positions.push_back(at);
        }
        ASSERT_GT(checks, 100);
        for (int at : positions) {
            for (int several = 0; several < 2; several++) {
                device.loseAtCheck = at;
                device.lostChecks = several * 3;
                device.refusedResets = several * 2;
                frame(nullptr);
                ASSERT_EQ(0, device.loseAtCheck);
                for (int skipped = 0; skipped < 2 && device.lost; skipped++)
                    frame(nullptr);
                ASSERT_FALSE(device.lost);
                frame(&again);
                EXPECT_EQ(0u, Differing(straight, again))
                    << "loss at check " << at << " of " << checks << (several ? ", lasting several" : "");
            }
        }
    }
    base->Shutdown();
    delete base;
    DestroyWindow(window);
    SetCurrentDirectoryA(before);
}
