#pragma once
// One line's report lines on their way to the broker, on disk until the broker has acknowledged
// them. The file begins with two header slots, written in turn, that say how far the broker has
// acknowledged; records follow, each a length, a CRC-32 and its sequence number and payload. A
// record torn by a crash (the last one) is cut off when the spool is opened again.

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

struct SpooledRecord {
    std::uint64_t Seq = 0;
    std::uint64_t End = 0; // where the next record begins
    std::string Payload;
};

class LineSpool {
public:
    // Up to this many bytes of unacknowledged records per line; past it report lines are refused.
    static constexpr std::uint64_t Limit = 256ull << 20;
    static constexpr std::uint64_t HeaderSize = 64;

    explicit LineSpool(std::string path, std::uint64_t limit = Limit);
    ~LineSpool();
    LineSpool(const LineSpool&) = delete;
    LineSpool& operator=(const LineSpool&) = delete;

    enum class Access { ReadWrite, ReadOnly };
    // Opens or creates the file and recovers it. False, with Error() set, when that fails. Read
    // only, an existing file is read as it is: a torn end is left, nothing can be acknowledged.
    bool Open(Access access = Access::ReadWrite);
    bool IsOpen() const { return fd_ >= 0; }
    bool ReadOnly() const { return readOnly_; }
    const std::string& Error() const { return error_; }
    const std::string& Path() const { return path_; }

    // The sequence number the next record gets: one past the last ever spooled, from 1.
    std::uint64_t NextSeq() const { return nextSeq_; }
    // Appends the record with NextSeq(). False, leaving the spool as it was, when it would pass
    // the limit (Full() then says so) or the write failed (Error()).
    bool Append(std::string_view payload);
    // Appends a record taken from another spool of the line, with its own sequence number; false
    // as Append.
    bool Adopt(const SpooledRecord& record);
    // The next sequence number is at least one past seq: numbers given by another spool of the
    // same line are not given again.
    void ContinueAfter(std::uint64_t seq) { nextSeq_ = std::max(nextSeq_, seq + 1); }
    bool Full() const { return full_; }
    // A report line that could not be spooled keeps its number all the same, so that consumers
    // see the gap where lines were not forwarded.
    void SkipSeq() { ++nextSeq_; }
    // Flushes appended records to the disk, if any were appended since the last flush.
    void Sync();

    // The first unacknowledged record's offset, and the end of the records.
    std::uint64_t AckedOffset() const { return ackedOffset_; }
    std::uint64_t EndOffset() const { return end_; }
    std::uint64_t Waiting() const { return waiting_; }
    // The record at offset; false at the end or on a read error.
    bool Read(std::uint64_t offset, SpooledRecord& record) const;
    // Every record before `end` is acknowledged; `seq` is the last of them.
    void Acknowledge(std::uint64_t end, std::uint64_t seq);
    // Writes the acknowledged position to the header, and empties a file whose records are all
    // acknowledged once it has grown past a few MiB.
    void SaveProgress();

private:
    bool Put(std::uint64_t seq, std::string_view payload);
    bool WriteHeader();
    bool Recover();
    // Empties the file of its records, all acknowledged; false, leaving them, when that fails.
    bool Compact();

    std::string path_;
    std::uint64_t limit_;
    int fd_ = -1;
    std::string error_;
    std::uint64_t nextSeq_ = 1;
    std::uint64_t end_ = HeaderSize;
    std::uint64_t ackedOffset_ = HeaderSize;
    std::uint64_t ackedSeq_ = 0;
    std::uint64_t savedOffset_ = HeaderSize;
    std::uint64_t generation_ = 0;
    std::uint64_t waiting_ = 0;
    bool dirty_ = false;
    bool full_ = false;
    bool readOnly_ = false;
};

std::uint32_t Crc32(std::string_view bytes, std::uint32_t crc = 0);
