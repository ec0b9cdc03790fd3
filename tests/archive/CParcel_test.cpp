#include <gtest/gtest.h>
TEST(Parcel, Placeholder) {}
