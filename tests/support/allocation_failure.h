// Allocation-failure injection for the tests: run a call once for every
// reservation it makes, with that one reservation failing, and check that
// the call reports failure and leaves nothing reserved.
#pragma once

#include <gtest/gtest.h>

#include "core/memory.h"

namespace engine_test {

// Arms the failure of reservation `nth` for the lifetime of the guard.
class FailNthAllocation {
public:
    explicit FailNthAllocation(long nth) { engine::testing::fail_nth_allocation(nth); }
    ~FailNthAllocation() { engine::testing::fail_nth_allocation(0); }
    FailNthAllocation(const FailNthAllocation &) = delete;
    FailNthAllocation &operator=(const FailNthAllocation &) = delete;
    bool failed() const { return engine::testing::allocation_failed(); }
};

// Number of reservations `call` makes when none fails.
template <class Call>
long count_allocations(Call &&call) {
    engine::testing::fail_nth_allocation(0);
    call();
    return engine::testing::allocations_attempted();
}

// Runs `call` with reservation n failing, for n = 1 .. the number it makes
// when nothing fails. `check(result)` asserts the failure result. After each
// run `cleanup(result)` releases whatever a successful call would hand out
// (a handle, say); then no reservation of the library may remain.
template <class Call, class Check, class Cleanup>
void expect_each_allocation_failure(Call &&call, Check &&check, Cleanup &&cleanup) {
    const long baseline = engine::testing::live_allocations();
    long total = 0;
    {
        FailNthAllocation none(0);
        auto result = call();
        total = engine::testing::allocations_attempted();
        cleanup(result);
    }
    ASSERT_EQ(engine::testing::live_allocations(), baseline) << "leak on the success path";
    ASSERT_GT(total, 0) << "the call reserves nothing: nothing to inject";
    for (long n = 1; n <= total; ++n) {
        SCOPED_TRACE(testing::Message() << "reservation " << n << " of " << total << " fails");
        decltype(call()) result{};
        {
            FailNthAllocation guard(n);
            result = call();
            EXPECT_TRUE(guard.failed());
        }
        check(result);
        cleanup(result);
        EXPECT_EQ(engine::testing::live_allocations(), baseline) << "leak after failure";
    }
}

template <class Call, class Check>
void expect_each_allocation_failure(Call &&call, Check &&check) {
    expect_each_allocation_failure(std::forward<Call>(call), std::forward<Check>(check),
                                   [](const auto &) {});
}

}  // namespace engine_test
