#include <gtest/gtest.h>

#include <cstring>

#include "archive/CBTree.h"
#include "archive/TextData.h"

TEST(TextData, CopiesTheName)
{
    char name[] = "Data/Configs/Item.cfb";
    TextData *data = TextData::Create(name);
    ASSERT_NE(nullptr, data);
    name[0] = 'X';
    EXPECT_STREQ("Data/Configs/Item.cfb", data->text);
    TextData::Destroy(data);
    TextData::Destroy(nullptr);
    EXPECT_EQ(nullptr, TextData::Create(nullptr));
}

TEST(TextData, SetFindsNamesInAnyLetterCase)
{
    CBTree<TextData *, TextDataCompValue> set;
    const char *names[] = {"b.png", "A.png", "c.png"};
    for (const char *n : names)
        set.Insert(TextData::Create(n));
    EXPECT_NE(nullptr, set.Find("B.PNG"));
    EXPECT_NE(nullptr, set.Find("a.png"));
    EXPECT_EQ(nullptr, set.Find("d.png"));
    // In order, case-insensitively: A, b, c.
    auto *n = set.First();
    EXPECT_STREQ("A.png", n->value->text);
    n = set.Next(n);
    EXPECT_STREQ("b.png", n->value->text);
    while (set.GetRoot()) {
        TextData *t = set.GetRoot()->value;
        set.Remove(set.GetRoot());
        TextData::Destroy(t);
    }
}
