#include <gtest/gtest.h>
TEST(InProcess, Placeholder) {}
