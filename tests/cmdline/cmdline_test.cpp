#include <gtest/gtest.h>
TEST(Cmdline, Placeholder) {}
