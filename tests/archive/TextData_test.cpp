#include <gtest/gtest.h>

#include "archive/CBTree.h"
#include "archive/TextData.h"

TEST(TextData, SetOfCopiedNamesFindsThemInAnyLetterCase)
{
    EXPECT_EQ(nullptr, TextData::Create(nullptr));
    TextData::Destroy(nullptr);
    CBTree<TextData *, TextDataCompValue> set;
    char name[] = "b.png";
    for (const char *n : {(const char *)name, "A.png", "c.png"})
        set.Insert(TextData::Create(n));
    name[0] = 'X'; // the set holds its own copy
    EXPECT_NE(nullptr, set.Find("B.PNG"));
    EXPECT_NE(nullptr, set.Find("a.png"));
    EXPECT_NE(nullptr, set.Find("C.PNG"));
    EXPECT_EQ(nullptr, set.Find("d.png"));
    EXPECT_EQ(nullptr, set.Find("X.png"));
    // In order, case-insensitively: A, b, c.
    auto *n = set.First();
    EXPECT_STREQ("A.png", n->value->text);
    EXPECT_STREQ("b.png", set.Next(n)->value->text);
    while (set.GetRoot()) {
        TextData *t = set.GetRoot()->value;
        set.Remove(set.GetRoot());
        TextData::Destroy(t);
    }
}
