#include <gtest/gtest.h>
TEST(TypeLib, Placeholder) { }
