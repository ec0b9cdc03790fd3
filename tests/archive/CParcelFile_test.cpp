// File records of the packed archive, field by field.
#include <gtest/gtest.h>

#include <cstring>

#include "LeBytes.h"
#include "archive/CParcelFile.h"
#include "archive/CParcelReader.h"
#include "archive/CParcelWriter.h"

TEST(ParcelRecords, FileRecordIsWrittenFieldByField)
{
    CParcelFile f;
    ASSERT_TRUE(f.SetName("a.txt"));
    EXPECT_FALSE(f.SetName(std::string(256, 'n').c_str()));
    f.m_attributes = 0x20;
    f.m_time.dwLowDateTime = 0x11223344;
    f.m_time.dwHighDateTime = 0x55667788;
    f.m_sizeLow = 5;
    f.m_sizeHigh = 0;
    f.m_region = 7;
    CParcelWriter w;
    f.WriteRecord(w);
    Bytes expected;
    expected.Name("a.txt");
    expected.U32s({0x20, 0x11223344, 0x55667788, 5, 0, 7});
    EXPECT_EQ(expected.b, w.Bytes());

    // Junk after the terminator is ignored and cleared.
    std::memset(&expected.b[6], 0xAB, 250);
    CParcelReader r(expected.b.data(), expected.b.size());
    CParcelFile g;
    ASSERT_TRUE(g.ReadRecord(r));
    EXPECT_STREQ(g.m_name, "a.txt");
    EXPECT_EQ(g.m_name[255], 0);
    EXPECT_EQ(g.m_attributes, 0x20u);
    EXPECT_EQ(g.m_time.dwHighDateTime, 0x55667788u);
    EXPECT_EQ(g.m_sizeLow, 5u);
    EXPECT_EQ(g.m_region, 7u);
}
