#include <gtest/gtest.h>
TEST(ElzabEndToEnd, Placeholder) {}
