#include "sources/query_guard.h"

#include <gtest/gtest.h>

namespace {

TEST(PaginationGuardTest, PagesEndWithinTheLimitAndNeverRepeatAKey)
{
    TPaginationGuard guard;
    for (int page = 1; page < TPaginationGuard::MaxPages; ++page)
        ASSERT_EQ(guard.Answered("key " + std::to_string(page)), "") << page;
    EXPECT_NE(guard.Answered("one page too many"), "");
    EXPECT_EQ(guard.Answered(""), "") << "the last page needs no key";

    TPaginationGuard resumed(TPaginationGuard::MaxPages - 1); // pages an earlier run stored
    EXPECT_NE(resumed.Answered("key"), "");
    resumed.Restart();
    EXPECT_EQ(resumed.Answered("key"), "");
    EXPECT_NE(resumed.Answered("key"), "") << "asked before";
    resumed.Restart();
    EXPECT_EQ(resumed.Answered("key"), "") << "a query asked again from its start may meet its keys again";

    TPaginationGuard longKeys;
    EXPECT_EQ(longKeys.Answered(std::string(TPaginationGuard::MaxKeyBytes, 'k')), "");
    EXPECT_NE(longKeys.Answered(std::string(TPaginationGuard::MaxKeyBytes + 1, 'k')), "");
}

} // namespace
