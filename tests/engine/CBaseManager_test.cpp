// Singleton slot: the full object, also through a second base; cleared only by its holder.
#include <gtest/gtest.h>

#include "engine/CBaseManager.h"

namespace {

struct FirstBase {
    virtual ~FirstBase() = default;
    int padding[3] = {};
};

class Binder : public FirstBase, public CBaseManager<Binder> {
public:
    int value = 7;
};

TEST(BaseManager, SlotHoldsTheFullObjectAndOnlyItsHolderClearsIt)
{
    EXPECT_EQ(nullptr, Binder::GetInstance());
    Binder *first = new Binder;
    EXPECT_EQ(first, Binder::GetInstance());
    EXPECT_EQ(7, Binder::GetInstance()->value);
    Binder *second = new Binder;
    EXPECT_EQ(second, Binder::GetInstance());
    delete first;
    EXPECT_EQ(second, Binder::GetInstance());
    delete second;
    EXPECT_EQ(nullptr, Binder::GetInstance());
}

} // namespace
