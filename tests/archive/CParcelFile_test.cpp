// File records of the packed archive, field by field.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "archive/CParcelFile.h"
#include "archive/CParcelReader.h"
#include "archive/CParcelWriter.h"

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
}
