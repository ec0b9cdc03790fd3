// Path splitting inside a packed archive: directory part, name part, folder keys.
#include <gtest/gtest.h>

#include <string>

#include "archive/ParcelPath.h"

namespace {

struct Split {
    std::string dir, name;
};

Split SplitOf(const char *path)
{
    Split s;
    ParcelSplitPath(path, &s.dir, &s.name);
    return s;
}

} // namespace

TEST(ParcelPath, SplitsAtTheLastBackslashOnly)
{
    EXPECT_EQ(SplitOf("Data\\Configs\\Item.cfb").dir, "Data\\Configs\\");
    EXPECT_EQ(SplitOf("Data\\Configs\\Item.cfb").name, "Item.cfb");
    EXPECT_EQ(SplitOf("Data/Configs/Item.cfb").dir, "");
    EXPECT_EQ(SplitOf("Data/Configs/Item.cfb").name, "Data/Configs/Item.cfb");
    EXPECT_EQ(SplitOf("a\\").dir, "a\\");
    EXPECT_EQ(SplitOf("a\\").name, "");
    // A lone leading backslash is no separator.
    EXPECT_EQ(SplitOf("\\foo").dir, "");
    EXPECT_EQ(SplitOf("\\foo").name, "\\foo");
    EXPECT_EQ(SplitOf("\\a\\b").dir, "\\a\\");
    EXPECT_EQ(SplitOf("").name, "");
}

TEST(ParcelPath, FolderKeysNamesAndExtensions)
{
    EXPECT_EQ(ParcelFolderKey(""), "");
    EXPECT_EQ(ParcelFolderKey("a\\b"), "a\\b\\");
    EXPECT_EQ(ParcelFolderKey("a\\b\\"), "a\\b\\");
    EXPECT_EQ(ParcelFolderName("a\\b\\c\\"), "c");
    EXPECT_EQ(ParcelFolderName("a\\"), "a");
    EXPECT_EQ(ParcelFolderName(""), "");
    EXPECT_EQ(ParcelExtension("face.tar.png"), "png");
    EXPECT_EQ(ParcelExtension("noext"), "");
    EXPECT_EQ(ParcelExtension("dot."), "");
    EXPECT_TRUE(ParcelNameFits(std::string(255, 'x')));
    EXPECT_FALSE(ParcelNameFits(std::string(256, 'x')));
}
