// Tests of event project loading, its hostile-input checks, and the project generator.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "evsound/projectbuild.h"
#include "tests/evsound/evs_fixture.h"
#include "tests/evsound/project_bytes.h"

namespace {

class Project : public EvsTest {
protected:
    void SetUp() override
    {
        EvsTest::SetUp();
        ASSERT_EQ(EVS_OK, EvsSystemCreate(&system));
        ASSERT_EQ(EVS_OK, EvsSystemInit(system, 32, EVS_INIT_SPATIAL, NULL, 0));
    }
    std::vector<uint8_t> bytes{std::begin(kEvsProject), std::end(kEvsProject)};
    EvsProject *project = NULL;
};

// A project of one group with one event whose fields a test chooses.
std::vector<uint8_t> OneEvent(const std::string &name, uint8_t flags, const std::string &path)
{
    std::vector<uint8_t> b = {'E', 'V', 'S', 'P', 1, 0, 1, 0, 1, 0};
    b.push_back(static_cast<uint8_t>(name.size()));
    b.insert(b.end(), name.begin(), name.end());
    b.insert(b.end(), {100, 0, 0, 0, flags, 0});
    b.push_back(static_cast<uint8_t>(path.size()));
    b.insert(b.end(), path.begin(), path.end());
    return b;
}

TEST_F(Project, LoadsGroupsAndEventsByIndex)
{
    ASSERT_EQ(EVS_OK, EvsTestLoad(system, bytes, &project));
    int32_t count = 0;
    EXPECT_EQ(EVS_OK, EvsProjectGetGroupCount(project, &count));
    EXPECT_EQ(3, count);
    EvsGroup *group = NULL;
    EXPECT_EQ(EVS_ERR_INDEX, EvsProjectGetGroup(project, 3, true, &group));
    EXPECT_EQ(NULL, group);
    ASSERT_EQ(EVS_OK, EvsProjectGetGroup(project, 0, true, &group));
    EvsEvent *hit = NULL, *again = NULL;
    ASSERT_EQ(EVS_OK, EvsGroupGetEvent(group, 1, 0, &hit));
    EXPECT_EQ(EVS_OK, EvsGroupGetEvent(group, 1, 0, &again));
    EXPECT_EQ(hit, again);
    EXPECT_EQ(EVS_ERR_INDEX, EvsGroupGetEvent(group, 2, 0, &again));
    const char *name = NULL;
    int32_t index = -1;
    uint32_t duration = 0;
    uint8_t user = 0;
    EXPECT_EQ(EVS_OK, EvsEventGetInfo(hit, &index, &name, &duration));
    EXPECT_STREQ("hit", name);
    EXPECT_EQ(1, index);
    EXPECT_EQ(500u, duration);
    EXPECT_EQ(EVS_OK, EvsEventGetProperty(hit, EVS_PROPERTY_USER, &user));
    EXPECT_EQ(0x08, user);
    EXPECT_EQ(EVS_ERR_INDEX, EvsEventGetProperty(hit, 13, &user));
    ASSERT_EQ(EVS_OK, EvsProjectGetGroup(project, 1, false, &group));
    EXPECT_EQ(EVS_OK, EvsGroupGetEventCount(group, &count));
    EXPECT_EQ(0, count);
    EXPECT_EQ(EVS_ERR_ALREADY, EvsTestLoad(system, bytes, &project));
}

TEST_F(Project, EveryTruncationAndAnyTrailingByteFail)
{
    int32_t held = EvsLiveBlocks();
    for (size_t n = 1; n < bytes.size(); ++n) {
        std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + n);
        EXPECT_EQ(EVS_ERR_FORMAT, EvsTestLoad(system, cut, &project)) << n;
        EXPECT_EQ(NULL, project);
        EXPECT_EQ(held, EvsLiveBlocks()) << n;
    }
    bytes.push_back(0);
    EXPECT_EQ(EVS_ERR_FORMAT, EvsTestLoad(system, bytes, &project));
}

TEST_F(Project, MalformedFieldsFail)
{
    struct Case { size_t at; uint8_t value; } patches[] = {
        {0, 'X'}, {4, 2}, {6, 0xFF}, {7, 0xFF}, {8, 0xFF}, {9, 0xFF}, {10, 0}, {10, 64}, {12, 0},
        {23, 0x03}, {25, 0x80}, {34, 0xFF},
    };
    for (const Case &c : patches) {
        std::vector<uint8_t> bad = bytes;
        bad[c.at] = c.value;
        EXPECT_EQ(EVS_ERR_FORMAT, EvsTestLoad(system, bad, &project)) << c.at;
    }
    const char *paths[] = {"../town.wav", "a/../../b.wav", "/abs.wav", "\\abs.wav", "c:town.wav", "a\\..\\b"};
    for (const char *path : paths) {
        EXPECT_EQ(EVS_ERR_FORMAT, EvsTestLoad(system, OneEvent("x", 0, path), &project)) << path;
    }
    EXPECT_EQ(EVS_ERR_FORMAT, EvsTestLoad(system, OneEvent(std::string("a\0b", 3), 0, ""), &project));
    EXPECT_EQ(EVS_ERR_FORMAT, EvsTestLoad(system, OneEvent("x", 0, std::string("a\0b", 3)), &project));
    EXPECT_EQ(EVS_OK, EvsTestLoad(system, OneEvent("x", 1, "sub/..x/ok.wav"), &project));
}

// An event name of the longest length loads and builds; one byte more fails.
TEST_F(Project, TheLongestEventNameLoadsAndOneMoreFails)
{
    const std::string name(EVS_MAX_NAME, 'n');
    EXPECT_EQ(EVS_ERR_FORMAT, EvsTestLoad(system, OneEvent(name + "n", 0, ""), &project));
    EXPECT_EQ(EVS_OK, EvsTestLoad(system, OneEvent(name, 0, ""), &project));
    const std::string text = "group\nevent " + name + " 1\n";
    void *image = NULL;
    uint32_t size = 0;
    EXPECT_EQ(EVS_OK, EvsProjectBuild(text.data(), static_cast<uint32_t>(text.size()), &image, &size, NULL));
    EvsProjectFreeImage(image);
}

TEST_F(Project, LoadInformationAndStateChecked)
{
    EvsLoadInfo info = EvsTestLoadInfo(sizeof(kEvsProject));
    EvsLoadInfo small = info, keyed = info, empty = info;
    small.size = 40;
    keyed.key = "secret";
    empty.dataLength = 0;
    EXPECT_EQ(EVS_ERR_INVALID_PARAM, EvsSystemLoadProject(system, kEvsProject, &small, &project));
    EXPECT_EQ(EVS_ERR_INVALID_PARAM, EvsSystemLoadProject(system, kEvsProject, &keyed, &project));
    EXPECT_EQ(EVS_ERR_INVALID_PARAM, EvsSystemLoadProject(system, kEvsProject, &empty, &project));
    EXPECT_EQ(EVS_ERR_INVALID_PARAM, EvsSystemLoadProject(system, NULL, &info, &project));
    EvsSystem *fresh = NULL;
    ASSERT_EQ(EVS_OK, EvsSystemCreate(&fresh));
    EXPECT_EQ(EVS_ERR_UNINITIALISED, EvsSystemLoadProject(fresh, kEvsProject, &info, &project));
    EvsSystemRelease(fresh);
    for (int32_t fail = 0; fail < 6; ++fail) {   // project, groups, three event tables
        EvsFailAllocationsAfter(fail);
        EvsResult result = EvsSystemLoadProject(system, kEvsProject, &info, &project);
        EvsFailAllocationsAfter(-1);
        EXPECT_EQ(fail < 5 ? EVS_ERR_MEMORY : EVS_OK, result) << fail;
        EvsProjectRelease(project);
    }
}

std::string FileBytes(const char *name)
{
    std::ifstream in(name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The description of that project (generated.txt), built in the program and at
// build time, as the sample tree's project is made.
TEST(ProjectBuild, WritesTheLayoutByteForByte)
{
    const std::string text = FileBytes("generated.txt");
    void *image = NULL;
    uint32_t size = 0;
    ASSERT_EQ(EVS_OK, EvsProjectBuild(text.data(), static_cast<uint32_t>(text.size()), &image, &size, NULL));
    const std::string built(static_cast<const char *>(image), size);
    EvsProjectFreeImage(image);
    const std::string expected(reinterpret_cast<const char *>(kEvsProject), sizeof(kEvsProject));
    EXPECT_EQ(expected, built);
    EXPECT_EQ(expected, FileBytes("generated.fev"));
}

TEST(ProjectBuild, FaultsNameTheirLine)
{
    struct Case { const char *text; int32_t line; } cases[] = {
        {"event x 1\n", 1},
        {"group\nevent\n", 2},
        {"group\nevent n -5\n", 2},
        {"group\nevent n 1 user=256\n", 2},
        {"group\n\nevent n 1 wav=../a.wav\n", 3},
        {"group\nevent n 1 wav=\n", 2},
        {"group\nevent n 1 fast\n", 2},
        {"group 2\n", 1},
        {"gruop\n", 1},
        {"group\nevent 0123456789012345678901234567890123456789012345678901234567890123 1\n", 2},
    };
    int32_t live = EvsLiveBlocks();
    for (const Case &c : cases) {
        void *image = NULL;
        uint32_t size = 0;
        int32_t line = 0;
        EXPECT_EQ(EVS_ERR_FORMAT, EvsProjectBuild(c.text, strlen(c.text), &image, &size, &line)) << c.text;
        EXPECT_EQ(c.line, line) << c.text;
        EXPECT_EQ(NULL, image);
    }
    EXPECT_EQ(live, EvsLiveBlocks());
}

} // namespace
