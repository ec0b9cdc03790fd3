// Folder records of the packed archive and the balanced file tree.
#include <gtest/gtest.h>

#include <string>

#include "LeBytes.h"
#include "archive/CParcelFolder.h"
#include "archive/CParcelWriter.h"

TEST(ParcelRecords, FolderRecordIsWrittenFieldByField)
{
    CParcelFolder d;
    ASSERT_TRUE(d.SetName("Data\\"));
    EXPECT_FALSE(d.SetName(std::string(256, 'd').c_str()));
    d.m_time.dwLowDateTime = 0x11223344;
    d.m_time.dwHighDateTime = 0x55667788;
    CParcelWriter w;
    d.WriteRecord(w);
    Bytes expected;
    expected.Name("Data\\");
    expected.U32s({16, 0x11223344, 0x55667788});
    EXPECT_EQ(expected.b, w.Bytes());
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
}
