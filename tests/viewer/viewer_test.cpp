// Runs the viewer headless on its sample scene, from loose files and from the packed archive, and checks the pictures.
#include <gtest/gtest.h>

#include <windows.h>

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/scratch_folder.h"

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

// Channels more than 2 apart; every channel when the sizes differ.
size_t DifferingChannels(const Picture &a, const Picture &b)
{
    if (a.rgb.size() != b.rgb.size()) {
        return std::max(a.rgb.size(), b.rgb.size());
    }
    size_t n = 0;
    for (size_t i = 0; i < a.rgb.size(); i++) {
        n += std::abs(a.rgb[i] - b.rgb[i]) > 2;
    }
    return n;
}

bool Near(const png_byte *c, int r, int g, int b, int tolerance)
{
    return std::abs(c[0] - r) <= tolerance && std::abs(c[1] - g) <= tolerance && std::abs(c[2] - b) <= tolerance;
}

bool IsGrass(const png_byte *c)
{
    return c[1] > c[0] + 8 && c[1] > c[2] + 8;   // shadowed grass too
}

// The avatar stands right of the model: found by its red shirt. Each row from
// the shirt's top down as far again is crossed from either side; where the
// grass ends, the sample's dark ink (25, 20, 35) must begin.
struct Outline {
    int shirt = 0, crossings = 0, inked = 0;
};

Outline AvatarOutline(const Picture &p)
{
    const int left = 600, right = 900;
    int x0 = right, x1 = left, y0 = 560, y1 = 250;
    Outline o;
    for (int y = 250; y < 560; y++) {
        for (int x = left; x < right; x++) {
            const png_byte *c = p.At(x, y);
            if (c[0] > 150 && c[1] < 90 && c[2] < 90) {
                o.shirt++;
                x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
            }
        }
    }
    for (int y = y0; o.shirt && y <= 2 * y1 - y0 && y < static_cast<int>(p.height); y++) {
        for (int side : {1, -1}) {
            const int start = side > 0 ? x0 - 60 : x1 + 60;
            int x = start;
            while (x >= left && x < right && IsGrass(p.At(x, y))) {
                x += side;
            }
            if (x == start || x < left || x >= right) {
                continue;
            }
            o.crossings++;
            for (int d = 0; d < 3; d++) {
                if (Near(p.At(x + side * d, y), 25, 20, 35, 15)) {
                    o.inked++;
                    break;
                }
            }
        }
    }
    return o;
}

// The scene script's figure: untextured, so pale and grey (stone is warmer, sky and grass coloured).
int PalePixels(const Picture &p, unsigned left, unsigned top, unsigned right, unsigned bottom)
{
    int n = 0;
    for (unsigned y = top; y < bottom; y++) {
        for (unsigned x = left; x < right; x++) {
            const png_byte *c = p.At(x, y);
            const int lo = std::min({c[0], c[1], c[2]}), hi = std::max({c[0], c[1], c[2]});
            n += lo >= 170 && hi - lo <= 12;
        }
    }
    return n;
}

// A file that exists and holds nothing.
bool IsEmptyFile(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) && data.nFileSizeLow == 0 &&
           data.nFileSizeHigh == 0;
}

// One run in each archive mode on the same tree (the pack fixture writes it
// and packs it): the two pictures must agree.
TEST(Viewer, DrawsTheSampleSceneTheSameFromLooseFilesAndFromThePack)
{
    const std::string packed = KivWinePath(KIV_VIEWER_PACKED), tree = packed + "\\tree";
    const std::string pngs[2] = {packed + "\\loose.png", packed + "\\packed.png"};
    const std::string folders[2] = {" --sample \"" + tree + "\"", " --packed --sample \"" + packed + "\""};
    // Where each run's "Lua.log" goes: its working folder.
    const std::string logs[2] = {tree + "\\Lua.log", packed + "\\Lua.log"};
    Picture pictures[2];
    for (int i = 0; i < 2; i++) {
        DeleteFileA(pngs[i].c_str());
        ASSERT_EQ(0, RunViewer("--frames 3 --png \"" + pngs[i] + "\"" + folders[i])) << pngs[i];
        ASSERT_TRUE(ReadPicture(pngs[i], &pictures[i])) << pngs[i];
        EXPECT_TRUE(IsEmptyFile(logs[i])) << logs[i] << ": the scripts logged an error";
    }
    const Picture &picture = pictures[0];
    ASSERT_EQ(1024u, picture.width);
    ASSERT_EQ(768u, picture.height);
    EXPECT_EQ(0u, DifferingChannels(picture, pictures[1]))
        << "channels that differ between the loose and the packed picture";
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
        EXPECT_TRUE(Near(c, p.r, p.g, p.b, 9))
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
    // The script's marching figure stands left of the model, before the stone block.
    const int figure = PalePixels(picture, 250, 230, 420, 420);
    EXPECT_GT(figure, 2000);
    EXPECT_GT(figure * 10, 9 * PalePixels(picture, 0, 0, 1024, 768)) << "pale pixels away from the figure";
    const Outline outline = AvatarOutline(picture);
    EXPECT_GT(outline.shirt, 500);
    EXPECT_GT(outline.crossings, 100);
    EXPECT_GE(outline.inked * 20, outline.crossings * 19) << outline.inked << " of " << outline.crossings;
}

// The scene drawn with the device reset before every second frame (nine
// resets, more than the device has light slots) shows every frame as the
// run without resets does: lit, inked, shadowed, with the dialog's text.
TEST(Viewer, DeviceResetsEveryFewFramesLeaveEveryFrameAsItWas)
{
    const int frames = 18;
    const std::string packed = KivWinePath(KIV_VIEWER_PACKED), tree = packed + "\\tree";
    const std::string folders[2] = {packed + "\\straight", packed + "\\resets"};
    for (int i = 0; i < 2; i++) {
        CreateDirectoryA(folders[i].c_str(), nullptr);
        const std::string resets = i ? " --reset-every 2" : "";
        ASSERT_EQ(0, RunViewer("--frames " + std::to_string(frames) + resets + " --pngs \"" + folders[i] +
                               "\" --sample \"" + tree + "\""));
    }
    for (int frame = 1; frame <= frames; frame++) {
        char name[16];
        std::snprintf(name, sizeof name, "\\%03d.png", frame);
        Picture pictures[2];
        for (int i = 0; i < 2; i++) {
            ASSERT_TRUE(ReadPicture(folders[i] + name, &pictures[i])) << folders[i] << name;
        }
        EXPECT_EQ(0u, DifferingChannels(pictures[0], pictures[1])) << "frame " << frame;
    }
}

// The last line a program printed, without its line end.
std::string LastLine(const std::string &printed)
{
    std::string text = printed;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text.substr(text.find_last_of('\n') + 1);
}

// The lines of what a program printed that begin with the prefix.
int Lines(const std::string &printed, const std::string &prefix)
{
    int n = 0;
    for (size_t at = 0; at < printed.size(); at = printed.find('\n', at) + 1) {
        n += printed.compare(at, prefix.size(), prefix) == 0;
        if (printed.find('\n', at) == std::string::npos)
            break;
    }
    return n;
}

// A counted run ends by saying how many frames it drew and where the last
// went, and fails saying so when the picture cannot be written.
TEST(Viewer, SaysHowManyFramesItDrewAndWhereTheLastWent)
{
    const std::string packed = KivWinePath(KIV_VIEWER_PACKED), sample = " --sample \"" + packed + "\\tree\"";
    const std::string png = packed + "\\counted.png", lost = packed + "\\no such folder\\counted.png";
    DeleteFileA(png.c_str());
    std::string printed;
    ASSERT_EQ(0, KivRunProgramPrinting(KIV_VIEWER_EXE, "--frames 2 --png \"" + png + "\"" + sample, &printed))
        << printed;
    EXPECT_EQ("viewer: drew 2 frames; the last is in " + KivPrinted(png), LastLine(printed));
    EXPECT_EQ(1, Lines(printed, "viewer: ")) << printed;
    Picture picture;
    EXPECT_TRUE(ReadPicture(png, &picture));
    EXPECT_EQ(1, KivRunProgramPrinting(KIV_VIEWER_EXE, "--frames 2 --png \"" + lost + "\"" + sample, &printed));
    EXPECT_EQ("viewer: drew 2 frames but could not write the last to " + KivPrinted(lost), LastLine(printed));
}

// An unknown argument, two modes at once, a folder without the pack, frame counts it cannot reach.
TEST(Viewer, RefusesWhatItCannotRun)
{
    const std::string tree = KivWinePath(KIV_VIEWER_PACKED) + "\\tree";
    const std::string cases[] = {"--frames 1 --unknown", "--packed --write-sample x",
                                 "--frames 1 --packed --sample \"" + tree + "\""};
    for (const std::string &arguments : cases) {
        EXPECT_EQ(1, RunViewer(arguments)) << arguments;
    }
    // A frame count the run cannot reach, or pictures without one, would run
    // until Escape on a display nobody may see: refused, saying why, as is a
    // reset count that is no whole number from 1.
    const std::string counts[] = {"--frames 0", "--frames -2", "--frames 2x", "--frames \"\"",
                                  "--png \"" + tree + "\\never.png\"", "--pngs \"" + tree + "\"",
                                  "--frames 1 --reset-every 0"};
    for (const std::string &arguments : counts) {
        std::string printed;
        EXPECT_EQ(1, KivRunProgramPrinting(KIV_VIEWER_EXE, arguments + " --sample \"" + tree + "\"", &printed, 30000))
            << arguments;
        EXPECT_NE(std::string::npos, printed.find("--frames N")) << arguments << ": " << printed;
    }
}

// --pngs says where the frames went, or, once, the first it could not write
// (a folder in the way of its file) and fails; a folder that is not there is
// refused before anything is drawn.
TEST(Viewer, SaysWhereItsFramesWentOrWhichItCouldNotWrite)
{
    const std::string packed = KivWinePath(KIV_VIEWER_PACKED), sample = " --sample \"" + packed + "\\tree\"";
    const std::string written = packed + "\\frames-written", blocked = packed + "\\frames-blocked";
    CreateDirectoryA(written.c_str(), nullptr);
    CreateDirectoryA(blocked.c_str(), nullptr);
    CreateDirectoryA((blocked + "\\002.png").c_str(), nullptr);
    std::string printed;
    ASSERT_EQ(0, KivRunProgramPrinting(KIV_VIEWER_EXE, "--frames 1 --pngs \"" + written + "\"" + sample, &printed))
        << printed;
    EXPECT_NE(std::string::npos, printed.find("viewer: wrote frames 1 to 1 into " + KivPrinted(written))) << printed;
    EXPECT_EQ("viewer: drew 1 frame (--png FILE writes the last)", LastLine(printed));
    EXPECT_EQ(1, KivRunProgramPrinting(KIV_VIEWER_EXE, "--frames 4 --pngs \"" + blocked + "\"" + sample, &printed));
    EXPECT_EQ("viewer: could not write frame 2 into " + KivPrinted(blocked) + "; no later frame was written", LastLine(printed));
    EXPECT_EQ(1, Lines(printed, "viewer: ")) << printed;
    EXPECT_EQ(1, KivRunProgramPrinting(KIV_VIEWER_EXE, "--frames 4 --pngs \"" + blocked + "\\none\"" + sample, &printed));
    EXPECT_EQ("viewer: there is no folder " + KivPrinted(blocked) + "\\none for --pngs; make it first", LastLine(printed));
    EXPECT_EQ(1, Lines(printed, "viewer: ")) << printed;
}

// A folder holding the user's files is never the sample's: the tree, the
// engine's logs (beside the archive too) and --write-sample's removal of them
// would overwrite or delete what is there. Refused, naming it, nothing changed.
TEST(Viewer, LeavesAFolderOfTheUsersAsItWas)
{
    ScratchFolder scratch;
    scratch.Folder("Data");
    scratch.Folder("Data\\Scripts");
    const char *const files[] = {"Texture.txt", "Object.txt", "Lua.log", "cloth.png", "Data\\Scripts\\Sample.lua"};
    for (const char *file : files)
        scratch.File(file, std::string("mine: ") + file);
    // A file of the mark's name and length, but not its line, is the user's too.
    const std::string notTheMark(std::strlen("kiv sample folder: written by the viewer, which may write into it again\n"), '.');
    scratch.File(".kiv-sample", notTheMark);
    const std::string folder = "\"" + scratch.Path() + "\"";
    for (const std::string &arguments : {"--write-sample " + folder, "--frames 1 --sample " + folder}) {
        std::string printed;
        EXPECT_EQ(1, KivRunProgramPrinting(KIV_VIEWER_EXE, arguments, &printed, 60000)) << arguments;
        EXPECT_EQ(0u, printed.find("viewer: the folder " + KivPrinted(scratch.Path()) + " holds files that are not the "
                                   "viewer's")) << arguments << ": " << printed;
    }
    // A sound archive there is only read, but the engine writes its logs beside it.
    ASSERT_TRUE(CopyFileA((KivWinePath(KIV_VIEWER_PACKED) + "\\data.pcl").c_str(), scratch.Full("data.pcl").c_str(), FALSE));
    std::string printed;
    EXPECT_EQ(1, KivRunProgramPrinting(KIV_VIEWER_EXE, "--packed --frames 1 --sample " + folder, &printed, 60000));
    EXPECT_NE(std::string::npos, printed.find("holds files that are not the viewer's")) << printed;
    for (const char *file : files)
        EXPECT_EQ(std::string("mine: ") + file, scratch.Read(file)) << file;
    EXPECT_EQ(notTheMark, scratch.Read(".kiv-sample"));
    EXPECT_FALSE(scratch.Exists("Data\\Interface"));
    // An empty folder of the user's is the sample's to write into.
    scratch.Folder("empty");
    EXPECT_EQ(0, RunViewer("--write-sample \"" + scratch.Full("empty") + "\""));
    EXPECT_TRUE(scratch.Exists("empty\\.kiv-sample"));
}

// A refusal names what was refused before the usage text.
TEST(Viewer, NamesWhatItRefused)
{
    const std::string tree = "--sample \"" + KivWinePath(KIV_VIEWER_PACKED) + "\\tree\"";
    const struct {
        const char *arguments, *named;
    } cases[] = {
        {"--frames 1 --unknown", "viewer: unknown argument '--unknown'"},
        {"--frames 2x", "viewer: --frames needs a whole number from 1, not '2x'"},
        {"--png never.png", "viewer: --png needs --frames N"},
        {"--frames 1 --packed --write-sample x", "viewer: --write-sample writes loose files"},
        {"--frames", "viewer: --frames needs a value"},
        // An empty value (an unset variable) is no value: never the default, nor nowhere.
        {"--frames 1 --png \"\"", "viewer: --png needs a value"},
        {"--frames 1 --pngs \"\"", "viewer: --pngs needs a value"},
        {"--frames 1 --sample \"\"", "viewer: --sample needs a value"},
        {"--write-sample \"\"", "viewer: --write-sample needs a value"},
        {"--frames \" 5\"", "viewer: --frames needs a whole number from 1, not ' 5'"},
        {"--frames +5", "viewer: --frames needs a whole number from 1, not '+5'"},
        {"--write-sample x --frames 2", "viewer: --write-sample only writes the tree"},
        {"--write-sample x --reset-every 2", "viewer: --write-sample only writes the tree"},
    };
    for (const auto &c : cases) {
        std::string printed;
        EXPECT_EQ(1, KivRunProgramPrinting(KIV_VIEWER_EXE, tree + " " + c.arguments, &printed, 30000));
        EXPECT_EQ(0u, printed.find(c.named)) << c.arguments << ": " << printed;
    }
    // A refusal longer than the message buffer is cut at the buffer's end,
    // nothing read past it; the usage follows.
    {
        std::string printed;
        EXPECT_EQ(1, KivRunProgramPrinting(KIV_VIEWER_EXE, "--frames " + std::string(3000, '7') + "x", &printed, 30000));
        EXPECT_EQ(0u, printed.find("viewer: --frames needs a whole number from 1, not '777")) << printed.substr(0, 80);
        EXPECT_EQ(2047u, printed.find("usage: viewer")) << printed.substr(2000, 80);
    }
    // A name the code page cannot hold is refused as it was given, never
    // turned into a look-alike ("cafe") that names another folder.
    ScratchFolder scratch;
    const std::string folder = scratch.Path();
    std::wstring arguments(folder.size(), L'\0');
    arguments.resize(static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, folder.data(), static_cast<int>(folder.size()),
                                                             &arguments[0], static_cast<int>(arguments.size()))));
    arguments = L"--write-sample \"" + arguments + L"\\caf\u00e9\"";
    std::string printed;
    EXPECT_EQ(1, KivRunProgramPrinting(KIV_VIEWER_EXE, arguments, &printed, 60000));
    EXPECT_EQ(0u, printed.find("viewer: '" + KivPrinted(folder) + "\\caf\xc3\xa9' has letters the system code page (949) "
                               "cannot hold")) << printed;
    EXPECT_FALSE(scratch.Exists("cafe"));
}

}  // namespace
