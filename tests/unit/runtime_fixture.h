// A fresh runtime for each test.
//
// Tests below the language hold bare nodes and buffers the way runtime code
// does between allocations, so the fixture keeps the collector off; tests of
// collection, and of code that must survive it, switch it on themselves (and
// the stress build collects at every allocation in the language-level suite).
#pragma once
#include <gtest/gtest.h>

#include "boot/init.h"
#include "runtime/collector.h"
#include "runtime/memory.h"

struct RuntimeTest : ::testing::Test {
    void SetUp() override {
        vyx::init_runtime();
        vyx::collector::active = false;
    }
    void TearDown() override { vyx::shutdown_runtime(); }
};
