// The receive ring on its own: wrapping, a full ring, and the stretches it hands out.
#include "serial/receive_ring.h"

#include <gtest/gtest.h>

#include <string>

namespace {

DWORD Put(ReceiveRing& ring, const std::string& bytes) {
    return ring.Put(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
}

std::string TakeAll(ReceiveRing& ring) {
    std::string taken;
    BYTE c = 0;
    while (ring.Take(c))
        taken += static_cast<char>(c);
    return taken;
}

std::string Text(const ReceiveRing::Window& w) {
    return std::string(reinterpret_cast<const char*>(w.Bytes), w.Count);
}

// A ring whose head, tail and scan position all stand at position.
void MoveTo(ReceiveRing& ring, DWORD position) {
    ring.Allocate();
    ASSERT_EQ(Put(ring, std::string(position, '.')), position);
    ring.MarkScanned(position);
    ASSERT_EQ(TakeAll(ring).size(), position);
}

TEST(ReceiveRing, BytesAcrossTheEndComeOutInOrderAndStretchesStopAtTheEnd) {
    ReceiveRing ring;
    MoveTo(ring, ReceiveRing::Size - 2);
    EXPECT_EQ(ring.WriteWindow().Count, 2u) << "the free stretch ends at the ring's end";
    ASSERT_EQ(Put(ring, "ABCDEF"), 6u);
    EXPECT_EQ(ring.Unread(), 6u);

    const auto first = ring.ScanWindow();
    EXPECT_EQ(Text(first), "AB");
    EXPECT_EQ(first.Position, ReceiveRing::Size - 2);
    ring.MarkScanned(first.Count);
    const auto second = ring.ScanWindow();
    EXPECT_EQ(Text(second), "CDEF");
    EXPECT_EQ(second.Position, 0u);
    EXPECT_EQ(ring.UnreadThrough(1), 4u) << "counted from the tail across the end";

    EXPECT_EQ(TakeAll(ring), "ABCDEF");
    EXPECT_EQ(ring.Unread(), 0u);
}

TEST(ReceiveRing, FullRingTakesNoMoreAndKeepsUnscannedBytes) {
    ReceiveRing ring;
    MoveTo(ring, 100);
    EXPECT_EQ(Put(ring, std::string(9000, 'x')), ReceiveRing::Size);
    EXPECT_TRUE(ring.Full());
    EXPECT_TRUE(ring.NoRoom());
    EXPECT_EQ(ring.Unread(), ReceiveRing::Size);
    EXPECT_EQ(Put(ring, "y"), 0u);

    BYTE c = 0;
    ASSERT_TRUE(ring.Take(c));
    EXPECT_FALSE(ring.Full());
    EXPECT_EQ(ring.Room(), 0u) << "a taken byte not yet scanned must not be overwritten";
    ring.MarkScanned(ReceiveRing::Size);
    EXPECT_EQ(ring.Room(), 1u);
    EXPECT_EQ(Put(ring, "yz"), 1u);
}

TEST(ReceiveRing, ReadAheadLeavesTheTailUntilTheDeliveryEnds) {
    ReceiveRing ring;
    ring.Allocate();
    Put(ring, "hello");
    ring.BeginDelivery(true);
    for (int take : {3, 2}) {
        ring.BeginHandler();
        BYTE c = 0;
        for (int i = 0; i < take; ++i)
            ASSERT_TRUE(ring.Take(c));
        ring.EndHandler();
    }
    EXPECT_EQ(ring.Unread(), 5u);
    EXPECT_EQ(ring.EndDelivery(true), 3u) << "the largest take counts";
    EXPECT_EQ(TakeAll(ring), "lo");
}

} // namespace
