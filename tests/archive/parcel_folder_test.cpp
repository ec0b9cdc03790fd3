// Folder and file records of the packed archive, their trees and path splitting.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/CParcelFolder.h"
#include "archive/CParcelReader.h"
#include "archive/CParcelWriter.h"
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

TEST(ParcelRecords, FileRecordIsWrittenFieldByField)
{
    CParcelFile f;
    ASSERT_TRUE(f.SetName("a.txt"));
    f.m_attributes = 0x20;
    f.m_time.dwLowDateTime = 0x11223344;
    f.m_time.dwHighDateTime = 0x55667788;
    f.m_sizeLow = 5;
    f.m_sizeHigh = 0;
    f.m_region = 7;
    CParcelWriter w;
    f.WriteRecord(w);
    ASSERT_EQ(w.Size(), 280u);
    const uint8_t *b = w.Data();
    EXPECT_EQ(memcmp(b, "a.txt\0", 6), 0);
    for (int i = 6; i < 256; ++i)
        ASSERT_EQ(b[i], 0) << i;
    const uint8_t tail[] = {0x20, 0, 0, 0, 0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55,
                            5,    0, 0, 0, 0,    0,    0,    0,    7,    0,    0,    0};
    EXPECT_EQ(memcmp(b + 256, tail, sizeof tail), 0);
    CParcelReader r(b, w.Size());
    CParcelFile g;
    ASSERT_TRUE(g.ReadRecord(r));
    EXPECT_STREQ(g.m_name, "a.txt");
    EXPECT_EQ(g.m_region, 7u);
    EXPECT_EQ(g.m_time.dwHighDateTime, 0x55667788u);
}

TEST(ParcelRecords, BytesAfterTheTerminatorAreIgnored)
{
    std::vector<uint8_t> rec(280, 0xAB);
    memcpy(rec.data(), "x\0", 2);
    CParcelReader r(rec.data(), rec.size());
    CParcelFile f;
    ASSERT_TRUE(f.ReadRecord(r));
    EXPECT_STREQ(f.m_name, "x");
    EXPECT_EQ(f.m_name[255], 0);
}

TEST(ParcelRecords, UnterminatedOrShortRecordsAreRefused)
{
    std::vector<uint8_t> rec(280, 'x');
    CParcelReader r(rec.data(), rec.size());
    CParcelFile f;
    EXPECT_FALSE(f.ReadRecord(r));
    std::vector<uint8_t> shortRec(279, 0);
    CParcelReader s(shortRec.data(), shortRec.size());
    EXPECT_FALSE(f.ReadRecord(s));
    std::vector<uint8_t> folder(268, 0);
    memcpy(folder.data(), "nobackslash", 11);
    CParcelReader t(folder.data(), folder.size());
    CParcelFolder d;
    EXPECT_FALSE(d.ReadRecord(t));
}

TEST(ParcelRecords, FolderRecordIs268Bytes)
{
    CParcelFolder d;
    ASSERT_TRUE(d.SetName("Data\\"));
    CParcelWriter w;
    d.WriteRecord(w);
    ASSERT_EQ(w.Size(), 268u);
    EXPECT_EQ(w.Data()[256], 16);
    EXPECT_FALSE(d.SetName(std::string(256, 'd').c_str()));
}

TEST(ParcelFolderTree, SubfoldersAreTheRightChildAndItsLeftChain)
{
    CBTree<CParcelFolder *, ParcelFolderCompValue> tree;
    std::vector<CParcelFolder *> all;
    for (const char *n : {"", "a\\", "a\\x\\", "b\\", "a\\y\\", "c\\", "a\\x\\deep\\"}) {
        CParcelFolder *f = new CParcelFolder;
        f->SetName(n);
        tree.Insert(f);
        all.push_back(f);
    }
    auto *root = tree.Find("");
    ASSERT_NE(root, nullptr);
    std::vector<std::string> top;
    for (auto *n = root->right; n; n = n->left)
        top.push_back(n->value->m_name);
    EXPECT_EQ(top, (std::vector<std::string>{"a\\", "b\\", "c\\"}));
    auto *a = tree.Find("A\\");
    std::vector<std::string> inA;
    for (auto *n = a->right; n; n = n->left)
        inA.push_back(n->value->m_name);
    EXPECT_EQ(inA, (std::vector<std::string>{"a\\x\\", "a\\y\\"}));
    EXPECT_EQ(tree.Find("a\\x\\deep"), nullptr); // keys end in a backslash
    EXPECT_NE(tree.Find("A\\X\\DEEP\\"), nullptr);
    for (CParcelFolder *f : all)
        delete f;
}

TEST(ParcelFolderTree, BalancedRebuildWritesMiddleFirst)
{
    CParcelFolder d;
    for (const char *n : {"a", "b", "c", "d", "e", "f", "g"}) {
        CParcelFile *f = new CParcelFile;
        f->SetName(n);
        ASSERT_TRUE(d.AddFile(f));
    }
    CParcelFile dup;
    dup.SetName("D");
    EXPECT_FALSE(d.AddFile(&dup));
    ASSERT_TRUE(d.RebuildBalanced());
    EXPECT_STREQ(d.m_files.GetRoot()->value->m_name, "d");
    EXPECT_STREQ(d.m_files.GetRoot()->left->value->m_name, "b");
    EXPECT_STREQ(d.m_files.GetRoot()->right->value->m_name, "f");
    EXPECT_EQ(d.m_files.GetCount(), 7);
    CParcelFile *c = d.FindFile("C");
    ASSERT_NE(c, nullptr);
    d.RemoveFile(c);
    delete c;
    EXPECT_EQ(d.FindFile("c"), nullptr);
    EXPECT_EQ(d.m_files.GetCount(), 6);
}
