// The store of a line's report lines: every byte kept, also of a line longer than a block.

#include "ui/report_store.h"

#include <gtest/gtest.h>

TEST(ReportStoreTest, KeepsEveryLineByteForByteAcrossItsBlocks) {
    ReportStore store;
    const std::string first = "07-Dec-26\t15:04:09\tLOT 42 \x80\xff OK";
    const std::string huge(3 * 1024 * 1024 + 7, 'L');
    ASSERT_TRUE(store.Append(first));
    ASSERT_TRUE(store.Append(""));
    ASSERT_TRUE(store.Append(huge));
    ASSERT_TRUE(store.Append("after"));
    ASSERT_EQ(store.LineCount(), 4u);
    EXPECT_EQ(store.Line(0), first);
    EXPECT_EQ(store.Line(1), "");
    EXPECT_EQ(store.Line(2), huge);
    EXPECT_EQ(store.Bytes(2, huge.size() - 3, 10), "LLL");
    EXPECT_EQ(store.Line(3), "after");
    store.Clear();
    EXPECT_EQ(store.LineCount(), 0u);
    ASSERT_TRUE(store.Append("new"));
    EXPECT_EQ(store.Line(0), "new");
}
