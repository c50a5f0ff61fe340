// The trigger table on its own: handles beside restored triggers, and scanning the ring with it.
#include "serial/receive_ring.h"
#include "serial/trigger_table.h"

#include <gtest/gtest.h>

#include <string>

namespace {

DWORD AddData(TriggerTable& table, const std::string& pattern) {
    return table.AddData(reinterpret_cast<const BYTE*>(pattern.data()),
                         static_cast<DWORD>(pattern.size()), false);
}

TEST(TriggerTable, NewHandlesSkipRestoredOnesAndRemovedOnesAreNotReusedAtOnce) {
    TriggerSnapshot saved;
    saved.DataTriggers.resize(2);
    saved.DataTriggers[0].Handle = 8;
    saved.DataTriggers[1].Handle = 24;
    saved.StatusTriggers = {{16 | stModem, stModem, 0, true, false}};
    TriggerTable table;
    table.Clear();
    table.Restore(saved);
    EXPECT_EQ(AddData(table, "\n"), 32u) << "8, 16 (a status handle with its type) and 24 taken";
    EXPECT_EQ(table.Remove(8), TriggerKind::Data);
    EXPECT_EQ(table.Remove(16 | stModem), TriggerKind::Status);
    EXPECT_EQ(table.Remove(8), TriggerKind::None);
    EXPECT_EQ(AddData(table, "\n"), 40u) << "the sequence goes on before free handles are sought";
    EXPECT_EQ(AddData(table, std::string(MaxTriggerLength + 1, 'a')), 0u);
    EXPECT_EQ(table.DataCount(), 3u);
}

TEST(TriggerTable, PatternAcrossTheRingsEndIsFoundInTheSecondStretch) {
    ReceiveRing ring;
    ring.Allocate();
    const std::string filler(ReceiveRing::Size - 2, '.');
    ring.Put(reinterpret_cast<const BYTE*>(filler.data()), static_cast<DWORD>(filler.size()));
    ring.MarkScanned(ring.Unscanned());
    BYTE c = 0;
    while (ring.Take(c)) {
    }
    const std::string bytes = "xXYZy";
    ring.Put(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));

    TriggerTable table;
    table.Clear();
    const DWORD handle = AddData(table, "XYZ");
    const auto first = ring.ScanWindow();
    EXPECT_FALSE(table.ScanData(first.Bytes, first.Count).Matched);
    ring.MarkScanned(first.Count);
    const auto second = ring.ScanWindow();
    const auto found = table.ScanData(second.Bytes, second.Count);
    ASSERT_TRUE(found.Matched);
    EXPECT_EQ(second.Position + found.Index, 1u);
    EXPECT_EQ(found.Longest, 3u);

    std::size_t index = table.DataCount();
    DWORD matched = 0;
    WORD length = 0;
    ASSERT_TRUE(table.TakeMatched(index, matched, length));
    EXPECT_EQ(matched, handle);
    EXPECT_EQ(length, 3);
    EXPECT_FALSE(table.TakeMatched(index, matched, length)) << "handed over once";
}

} // namespace
