// The unit tests' fixture: the shared Daemon, taken apart after each test, which fails when a
// release or switch worker is still running by then.
#pragma once

#include <gtest/gtest.h>

#include "tests/support/Daemon.h"

namespace orvix::test {

class DaemonTest : public ::testing::Test, public Daemon {
protected:
    void TearDown() override { EXPECT_TRUE(stop()) << "a release or switch worker did not end"; }
};

}  // namespace orvix::test
