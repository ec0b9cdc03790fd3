// Runs the viewer headless on its sample scene, from loose files and from the packed archive, and checks the pictures.
#include <gtest/gtest.h>

#include <windows.h>

#include <png.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "support/run_program.h"

namespace {

int RunViewer(const std::string &arguments)
{
    return KivRunProgram(KIV_VIEWER_EXE, arguments);
}

struct Picture {
    unsigned width = 0, height = 0;
    std::vector<png_byte> rgb;
    const png_byte *At(unsigned x, unsigned y) const { return &rgb[3 * (y * width + x)]; }
};

bool ReadPicture(const std::string &path, Picture *p)
{
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        return false;
    }
    image.format = PNG_FORMAT_RGB;
    p->width = image.width;
    p->height = image.height;
    p->rgb.resize(PNG_IMAGE_SIZE(image));
    return png_image_finish_read(&image, nullptr, p->rgb.data(), 0, nullptr) != 0;
}

// One run in each archive mode on the same tree (the pack fixture writes it
// and packs it): the two pictures must agree.
TEST(Viewer, DrawsTheSampleSceneTheSameFromLooseFilesAndFromThePack)
{
    const std::string packed = KivWinePath(KIV_VIEWER_PACKED), tree = packed + "\\tree";
    const std::string pngs[2] = {packed + "\\loose.png", packed + "\\packed.png"};
    const std::string folders[2] = {" --sample \"" + tree + "\"", " --packed --sample \"" + packed + "\""};
    Picture pictures[2];
    for (int i = 0; i < 2; i++) {
        DeleteFileA(pngs[i].c_str());
        ASSERT_EQ(0, RunViewer("--frames 3 --png \"" + pngs[i] + "\"" + folders[i])) << pngs[i];
        ASSERT_TRUE(ReadPicture(pngs[i], &pictures[i])) << pngs[i];
    }
    const Picture &picture = pictures[0];
    ASSERT_EQ(1024u, picture.width);
    ASSERT_EQ(768u, picture.height);
    ASSERT_EQ(picture.rgb.size(), pictures[1].rgb.size());
    int differ = 0;
    for (size_t i = 0; i < picture.rgb.size(); i++) {
        differ += std::abs(picture.rgb[i] - pictures[1].rgb[i]) > 2;
    }
    EXPECT_EQ(0, differ) << "channels that differ between the loose and the packed picture";
    std::set<unsigned> colours;
    for (size_t i = 0; i + 2 < picture.rgb.size(); i += 3 * 97) {
        colours.insert(picture.rgb[i] << 16 | picture.rgb[i + 1] << 8 | picture.rgb[i + 2]);
    }
    EXPECT_GT(colours.size(), 8u);
    // Sky above, grass below, the model (orange cloth) where the camera looks,
    // the dialog's blue background at the top left with white Korean text.
    struct Probe {
        unsigned x, y;
        int r, g, b;   // -1: any
    } probes[] = {{900, 40, 110, 150, 200}, {180, 180, 40, 50, 120}};
    for (const Probe &p : probes) {
        const png_byte *c = picture.At(p.x, p.y);
        EXPECT_TRUE(std::abs(c[0] - p.r) < 10 && std::abs(c[1] - p.g) < 10 && std::abs(c[2] - p.b) < 10)
            << p.x << "," << p.y << ": " << int(c[0]) << " " << int(c[1]) << " " << int(c[2]);
    }
    const png_byte *grass = picture.At(900, 700);
    const png_byte *model = picture.At(512, 420);
    EXPECT_TRUE(grass[1] > grass[0] + 40 && grass[1] > grass[2] + 40) << int(grass[0]) << " " << int(grass[1]);
    EXPECT_TRUE(model[0] > model[1] && model[1] > model[2] && model[0] > 60)
        << int(model[0]) << " " << int(model[1]) << " " << int(model[2]);
    int text = 0;
    for (unsigned y = 36; y < 56; y++) {
        for (unsigned x = 38; x < 120; x++) {
            text += picture.At(x, y)[0] > 100;   // the background has little red
        }
    }
    EXPECT_GT(text, 30) << "the static's four syllables";
}

// An unknown argument, two modes at once, a folder without the pack.
TEST(Viewer, RefusesWhatItCannotRun)
{
    const std::string tree = KivWinePath(KIV_VIEWER_PACKED) + "\\tree";
    const std::string cases[] = {"--frames 1 --unknown", "--packed --write-sample x",
                                 "--frames 1 --packed --sample \"" + tree + "\""};
    for (const std::string &arguments : cases) {
        EXPECT_EQ(1, RunViewer(arguments)) << arguments;
    }
}

}  // namespace
