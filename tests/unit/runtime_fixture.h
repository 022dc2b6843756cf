// A fresh runtime for each test.
#pragma once
#include <gtest/gtest.h>

#include "boot/init.h"
#include "runtime/memory.h"

struct RuntimeTest : ::testing::Test {
    void SetUp() override { vyx::init_runtime(); }
    void TearDown() override { vyx::shutdown_runtime(); }
};
