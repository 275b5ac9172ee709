#include <gtest/gtest.h>

#include "support/run_vorlo.hpp"

TEST(CliSmoke, NoArgumentsShowsHelpAndExits64) {
    RunResult r = RunVorlo({});
    EXPECT_EQ(r.exitCode, 64);
    EXPECT_EQ(r.out.rfind("\r\nVorlo", 0), 0u);
}
