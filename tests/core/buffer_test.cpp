#include "core/buffer.h"

#include <gtest/gtest.h>

#include "support/allocation_failure.h"

namespace {

using engine::Buffer;

TEST(Buffer, ReservesZeroesGrowsAndReleases) {
    const long before = engine::testing::live_allocations();
    {
        Buffer<int> b;
        EXPECT_TRUE(b.empty());
        ASSERT_TRUE(b.allocate_zeroed(100));
        EXPECT_EQ(b.size(), 100u);
        for (std::size_t i = 0; i < b.size(); ++i) EXPECT_EQ(b[i], 0);
        b[99] = 7;
        ASSERT_TRUE(b.resize(1000));
        EXPECT_EQ(b[99], 7);
        Buffer<int> moved = std::move(b);
        EXPECT_TRUE(b.empty());
        EXPECT_EQ(moved[99], 7);
        EXPECT_EQ(engine::testing::live_allocations(), before + 1);
    }
    EXPECT_EQ(engine::testing::live_allocations(), before);
}

TEST(Buffer, ZeroCountStillGivesAPointer) {
    Buffer<std::int64_t> b;
    ASSERT_TRUE(b.allocate(0));
    EXPECT_NE(b.data(), nullptr);
}

TEST(Buffer, OversizedRequestFailsWithoutReserving) {
    Buffer<std::int64_t> b;
    EXPECT_FALSE(b.allocate(SIZE_MAX / 4));
    EXPECT_TRUE(b.empty());
}

TEST(Buffer, FailedResizeKeepsContent) {
    Buffer<char> b;
    ASSERT_TRUE(b.allocate_filled(10, 'x'));
    {
        engine_test::FailNthAllocation guard(1);
        EXPECT_FALSE(b.resize(1 << 20));
        EXPECT_TRUE(guard.failed());
    }
    EXPECT_EQ(b.size(), 10u);
    EXPECT_EQ(b[9], 'x');
}

}  // namespace
