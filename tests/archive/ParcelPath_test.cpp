// Path splitting inside a packed archive: directory part, name part, folder keys.
#include <gtest/gtest.h>

#include <string>

#include "archive/ParcelPath.h"

TEST(ParcelPath, SplitsAtTheLastBackslashOnly)
{
    const struct {
        const char *path, *dir, *name;
    } cases[] = {
        {"Data\\Configs\\Item.cfb", "Data\\Configs\\", "Item.cfb"},
        {"Data/Configs/Item.cfb", "", "Data/Configs/Item.cfb"},
        {"a\\", "a\\", ""},
        // A lone leading backslash is no separator.
        {"\\foo", "", "\\foo"},
        {"\\a\\b", "\\a\\", "b"},
        {"", "", ""},
    };
    for (const auto &c : cases) {
        std::string dir = "?", name = "?";
        ParcelSplitPath(c.path, &dir, &name);
        EXPECT_EQ(c.dir, dir) << c.path;
        EXPECT_EQ(c.name, name) << c.path;
    }
}

TEST(ParcelPath, FolderKeysNamesAndExtensions)
{
    EXPECT_EQ(ParcelFolderKey(""), "");
    EXPECT_EQ(ParcelFolderKey("a\\b"), "a\\b\\");
    EXPECT_EQ(ParcelFolderKey("a\\b\\"), "a\\b\\");
    EXPECT_EQ(ParcelFolderName("a\\b\\c\\"), "c");
    EXPECT_EQ(ParcelFolderName(""), "");
    EXPECT_EQ(ParcelExtension("face.tar.png"), "png");
    EXPECT_EQ(ParcelExtension("noext"), "");
    EXPECT_EQ(ParcelExtension("dot."), "");
    EXPECT_TRUE(ParcelNameFits(std::string(255, 'x')));
    EXPECT_FALSE(ParcelNameFits(std::string(256, 'x')));
}
