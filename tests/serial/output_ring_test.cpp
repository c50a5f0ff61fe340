// The output buffer on its own: bytes across its end, a full buffer, and the runs it hands out.
#include "serial/output_ring.h"

#include <gtest/gtest.h>

#include <string>

namespace {

DWORD Put(OutputRing& ring, const std::string& bytes) {
    return ring.Put(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
}

std::string Text(const OutputRing::Run& run) {
    return std::string(reinterpret_cast<const char*>(run.Bytes), run.Count);
}

TEST(OutputRing, WrappedBytesGoOutAsOneRunInOrder) {
    OutputRing ring;
    ring.Allocate(8);
    ASSERT_EQ(Put(ring, "abcdef"), 6u);
    ring.Advance(5); // a write took five: the tail stands at 5
    ASSERT_EQ(Put(ring, "ghij"), 4u);
    EXPECT_EQ(ring.Head(), 2u) << "the bytes wrapped";
    EXPECT_EQ(ring.Used(), 5u);
    EXPECT_EQ(ring.Free(), 3u);

    const OutputRing::Run run = ring.NextRun();
    EXPECT_EQ(Text(run), "fghij") << "rotated to start at index 0";
    ring.Advance(run.Count);
    EXPECT_EQ(ring.Used(), 0u);
    EXPECT_EQ(ring.Head(), 0u) << "an emptied buffer starts again at 0";
    EXPECT_EQ(ring.Tail(), 0u);
    EXPECT_EQ(ring.NextRun().Count, 0u);
}

TEST(OutputRing, AFullBufferTakesNoMoreUntilBytesGoOut) {
    OutputRing ring;
    ring.Allocate(8);
    ASSERT_EQ(Put(ring, "01234"), 5u);
    ring.Advance(3);
    EXPECT_EQ(Put(ring, "56789abcdef"), 6u) << "only what fits goes in";
    EXPECT_TRUE(ring.Full());
    EXPECT_EQ(ring.Used(), 8u);
    EXPECT_EQ(ring.Free(), 0u);
    EXPECT_EQ(Put(ring, "X"), 0u);

    const OutputRing::Run run = ring.NextRun();
    EXPECT_EQ(Text(run), "3456789a");
    ring.Advance(2); // a short write
    EXPECT_FALSE(ring.Full());
    EXPECT_EQ(ring.Used(), 6u);
    EXPECT_EQ(Text(ring.NextRun()), "56789a");

    ring.Flush();
    EXPECT_EQ(ring.Used(), 0u);
    EXPECT_FALSE(ring.Full());
}

} // namespace
