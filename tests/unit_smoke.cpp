#include "lindrel.h"
#include <gtest/gtest.h>
#include <string>

TEST(smoke, text)
{
    char b[48];
    EXPECT_EQ(std::string(b, text_e(b, 5e-5)), "5.0000000e-005");
}
