// Folder records of the packed archive, the folder tree's shape and the balanced file tree.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive/CParcelFolder.h"
#include "archive/CParcelReader.h"
#include "archive/CParcelWriter.h"

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

TEST(ParcelRecords, FolderPathWithoutItsBackslashIsRefused)
{
    std::vector<uint8_t> folder(268, 0);
    memcpy(folder.data(), "nobackslash", 11);
    CParcelReader t(folder.data(), folder.size());
    CParcelFolder d;
    EXPECT_FALSE(d.ReadRecord(t));
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
