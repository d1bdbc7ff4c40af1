#include "config/misc.h"

#include <gtest/gtest.h>

TEST(Trim, Placeholder) { char t[] = " a "; EXPECT_STREQ(kestrad_trim(t), "a"); }
