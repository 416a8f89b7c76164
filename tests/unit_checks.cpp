// The allocation report, also for failures that no run can provoke.
#include "function.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

// The product is shown as a 32-bit signed value, wrapping as it would.
TEST(Checks, AllocationReportShowsSizeCountAndWrappedProduct) {
    EXPECT_NO_THROW(malloc_error(true, 1296, 3, "m"));
    const struct {
        int size, count;
        const char* shown;
    } cases[] = {{1296, 3, "Size(1296byte) \x81\x7E Number(3):3888byte\n"},
                 {256, 8388608, "Size(256byte) \x81\x7E Number(8388608):-2147483648byte\n"},
                 {256, 16777216, "Size(256byte) \x81\x7E Number(16777216):0byte\n"},
                 {268, -5, "Size(268byte) \x81\x7E Number(-5):-1340byte\n"},
                 {20, INT_MAX, "Size(20byte) \x81\x7E Number(2147483647):-20byte\n"}};
    for (const auto& c : cases) {
        for (auto check : {malloc_error, realloc_error}) {
            try {
                check(false, c.size, c.count, "malloc error!(RSD Data Base)");
                ADD_FAILURE() << "no report";
            } catch (const RunEnd& end) {
                EXPECT_EQ(end.status, EXIT_REPORT);
                EXPECT_EQ(end.report, std::string("\nmalloc error!(RSD Data Base)\n") + c.shown);
            }
        }
    }
}

}  // namespace
