#include <gtest/gtest.h>
TEST(Resources, Placeholder) {}
