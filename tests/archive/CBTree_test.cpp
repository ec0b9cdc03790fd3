#include <gtest/gtest.h>
#include "archive/CBTree.h"
TEST(CBTree, Empty) { }
