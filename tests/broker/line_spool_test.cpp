// A line's spool on disk: what it holds survives a restart, a record torn by a crash is cut off
// without costing the whole ones before it, and the sequence numbers go on.

#include "broker/line_spool.h"
#include "tests/capture/restricted_writes.h"

#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::pair<std::uint64_t, std::string>> Unacknowledged(const LineSpool& spool) {
    std::vector<std::pair<std::uint64_t, std::string>> records;
    SpooledRecord record;
    for (std::uint64_t at = spool.AckedOffset(); at < spool.EndOffset(); at = record.End) {
        if (!spool.Read(at, record))
            break;
        records.emplace_back(record.Seq, record.Payload);
    }
    return records;
}

class LineSpoolTest : public ::testing::Test {
protected:
    std::string Path() const { return dir_.path().toStdString() + "/line1.spool"; }
    QTemporaryDir dir_;
};

} // namespace

TEST_F(LineSpoolTest, ATornLastRecordIsCutOffAndTheWholeOnesAreKeptWithTheirSeq) {
    off_t tornAt = 0;
    {
        LineSpool spool(Path());
        ASSERT_TRUE(spool.Open()) << spool.Error();
        ASSERT_TRUE(spool.Append("first"));
        ASSERT_TRUE(spool.Append("second"));
        tornAt = static_cast<off_t>(spool.EndOffset());
        ASSERT_TRUE(spool.Append("third, torn by the crash"));
    }
    // The crash: the last record's write stopped half-way.
    ASSERT_EQ(::truncate(Path().c_str(), tornAt + 13), 0);

    LineSpool spool(Path());
    ASSERT_TRUE(spool.Open()) << spool.Error();
    const std::vector<std::pair<std::uint64_t, std::string>> kept = {{1, "first"}, {2, "second"}};
    EXPECT_EQ(Unacknowledged(spool), kept);
    EXPECT_EQ(spool.Waiting(), 2u);
    // The torn record's number is given again: it never reached a reader.
    ASSERT_TRUE(spool.Append("after the restart"));
    const std::vector<std::pair<std::uint64_t, std::string>> after = {
        {1, "first"}, {2, "second"}, {3, "after the restart"}};
    EXPECT_EQ(Unacknowledged(spool), after);
}

TEST_F(LineSpoolTest, AcknowledgedRecordsStayGoneAfterARestartAndTheSeqGoesOn) {
    {
        LineSpool spool(Path());
        ASSERT_TRUE(spool.Open());
        for (const char* text : {"a", "b", "c"})
            ASSERT_TRUE(spool.Append(text));
        SpooledRecord record;
        ASSERT_TRUE(spool.Read(spool.AckedOffset(), record));
        ASSERT_TRUE(spool.Read(record.End, record));
        spool.Acknowledge(record.End, record.Seq);
        spool.SaveProgress();
    }
    LineSpool spool(Path());
    ASSERT_TRUE(spool.Open());
    const std::vector<std::pair<std::uint64_t, std::string>> left = {{3, "c"}};
    EXPECT_EQ(Unacknowledged(spool), left);
    EXPECT_EQ(spool.NextSeq(), 4u);
    struct stat info {};
    ASSERT_EQ(::stat(Path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(LineSpoolTest, AnEmptiedSpoolIsCutBackAndKeepsCounting) {
    const std::string big(1 << 20, 'x');
    {
        LineSpool spool(Path());
        ASSERT_TRUE(spool.Open());
        for (int i = 0; i < 6; ++i)
            ASSERT_TRUE(spool.Append(big));
        spool.Acknowledge(spool.EndOffset(), 6);
        spool.SaveProgress();
        EXPECT_EQ(spool.EndOffset(), LineSpool::HeaderSize);
    }
    LineSpool spool(Path());
    ASSERT_TRUE(spool.Open());
    EXPECT_EQ(spool.Waiting(), 0u);
    EXPECT_EQ(spool.NextSeq(), 7u);
}

TEST_F(LineSpoolTest, PastItsLimitASpoolRefusesAndSaysItIsFull) {
    LineSpool spool(Path(), 100);
    ASSERT_TRUE(spool.Open());
    ASSERT_TRUE(spool.Append(std::string(60, 'a')));
    EXPECT_FALSE(spool.Append(std::string(60, 'b')));
    EXPECT_TRUE(spool.Full());
    EXPECT_EQ(spool.Waiting(), 1u);
    EXPECT_EQ(spool.NextSeq(), 2u);
}

TEST_F(LineSpoolTest, ASpoolThatFilledItsDiskTakesLinesAgainOnceTheBrokerHasAllOfThem) {
    LineSpool spool(Path());
    ASSERT_TRUE(spool.Open());
    const FileSizeLimit disk(4096);
    const std::string line(100, 'r');
    while (spool.Append(line)) {
    }
    EXPECT_FALSE(spool.Full());
    EXPECT_FALSE(spool.Error().empty());
    const std::uint64_t refusedSeq = spool.NextSeq();
    spool.Acknowledge(spool.EndOffset(), refusedSeq - 1);
    spool.SaveProgress();
    ASSERT_TRUE(spool.Append(line)) << spool.Error();
    EXPECT_EQ(Unacknowledged(spool),
              (std::vector<std::pair<std::uint64_t, std::string>>{{refusedSeq, line}}));
}
