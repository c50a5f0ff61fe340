#include "broker/line_spool.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::uint32_t HeaderMagic = 0x31505354; // "TSP1"
constexpr std::uint64_t SlotSize = 32;
constexpr std::uint64_t RecordPrefix = 8; // length, CRC
constexpr std::uint64_t SeqSize = 8;
// An emptied file is cut back only past this, so that a line at a steady rate does not pay a
// truncate and a header flush for every few report lines.
constexpr std::uint64_t CompactAfter = 4u << 20;

void PutU32(char* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<char>(value >> (8 * i));
}

void PutU64(char* at, std::uint64_t value) {
    for (int i = 0; i < 8; ++i)
        at[i] = static_cast<char>(value >> (8 * i));
}

std::uint32_t GetU32(const char* at) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(at[i]);
    return value;
}

std::uint64_t GetU64(const char* at) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(at[i]);
    return value;
}

bool ReadExactly(int fd, char* buffer, std::size_t size, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got =
            ::pread(fd, buffer + done, size - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

bool WriteExactly(int fd, const char* buffer, std::size_t size, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t put =
            ::pwrite(fd, buffer + done, size - done, static_cast<off_t>(offset + done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

std::string SystemText(int error) {
    return std::strerror(error);
}

} // namespace

std::uint32_t Crc32(std::string_view bytes, std::uint32_t crc) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (const char b : bytes)
        crc = table[(crc ^ static_cast<unsigned char>(b)) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

LineSpool::LineSpool(std::string path, std::uint64_t limit)
    : path_(std::move(path)), limit_(limit) {}

LineSpool::~LineSpool() {
    if (fd_ >= 0) {
        SaveProgress();
        Sync();
        ::close(fd_);
    }
}

bool LineSpool::Open(Access access) {
    if (fd_ >= 0)
        return true;
    readOnly_ = access == Access::ReadOnly;
    fd_ = readOnly_ ? ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW)
                    : ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) {
        error_ = "Unable to open " + path_ + ": " + SystemText(errno);
        return false;
    }
    if (!Recover()) {
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    return true;
}

bool LineSpool::Recover() {
    struct stat info {};
    if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
        error_ = path_ + " is not a regular file";
        return false;
    }
    const auto size = static_cast<std::uint64_t>(info.st_size);
    // The newer of the two header slots that is whole; none in a new or torn-at-birth file.
    char header[HeaderSize] = {};
    if (size >= HeaderSize && ReadExactly(fd_, header, HeaderSize, 0)) {
        for (int slot = 0; slot < 2; ++slot) {
            const char* at = header + slot * SlotSize;
            if (GetU32(at) != HeaderMagic ||
                GetU32(at + 4) != Crc32(std::string_view(at + 8, SlotSize - 8)))
                continue;
            const std::uint64_t generation = GetU64(at + 8);
            if (generation < generation_)
                continue;
            generation_ = generation;
            ackedOffset_ = GetU64(at + 16);
            ackedSeq_ = GetU64(at + 24);
        }
    }
    ackedOffset_ = std::max(ackedOffset_, HeaderSize);
    nextSeq_ = ackedSeq_ + 1;
    // Records past the acknowledged ones, up to the first that is not whole: a crash mid-append
    // leaves at most the last one torn, and it is cut off. The header may point past the records
    // when the disk lost what the header had already acknowledged: then nothing is waiting.
    std::uint64_t offset = std::min(ackedOffset_, std::max(size, HeaderSize));
    SpooledRecord record;
    waiting_ = 0;
    while (offset < size && Read(offset, record)) {
        offset = record.End;
        nextSeq_ = std::max(nextSeq_, record.Seq + 1);
        // Acknowledged before a compaction that the crash interrupted.
        if (record.Seq <= ackedSeq_)
            ackedOffset_ = offset;
        else
            ++waiting_;
    }
    ackedOffset_ = std::min(ackedOffset_, offset);
    end_ = offset;
    savedOffset_ = ackedOffset_;
    if (readOnly_)
        return true;
    if (end_ != size && ::ftruncate(fd_, static_cast<off_t>(end_)) != 0) {
        error_ = "Unable to cut the torn end off " + path_ + ": " + SystemText(errno);
        return false;
    }
    if (size < HeaderSize && !WriteHeader()) {
        error_ = "Unable to write " + path_ + ": " + SystemText(errno);
        return false;
    }
    return true;
}

bool LineSpool::Read(std::uint64_t offset, SpooledRecord& record) const {
    char prefix[RecordPrefix + SeqSize];
    if (!ReadExactly(fd_, prefix, sizeof prefix, offset))
        return false;
    const std::uint32_t length = GetU32(prefix);
    if (length < SeqSize || length > limit_ + SeqSize)
        return false;
    std::string body(length, '\0');
    if (!ReadExactly(fd_, body.data(), length, offset + RecordPrefix))
        return false;
    if (Crc32(body) != GetU32(prefix + 4))
        return false;
    record.Seq = GetU64(body.data());
    record.Payload.assign(body, SeqSize);
    record.End = offset + RecordPrefix + length;
    return true;
}

bool LineSpool::Append(std::string_view payload) {
    return Put(nextSeq_, payload);
}

bool LineSpool::Adopt(const SpooledRecord& record) {
    return Put(record.Seq, record.Payload);
}

bool LineSpool::Put(std::uint64_t seq, std::string_view payload) {
    if (fd_ < 0 || readOnly_)
        return false;
    const std::uint64_t size = RecordPrefix + SeqSize + payload.size();
    if (end_ - ackedOffset_ + size > limit_) {
        full_ = true;
        return false;
    }
    full_ = false;
    std::string record(RecordPrefix + SeqSize, '\0');
    PutU64(record.data() + RecordPrefix, seq);
    record.append(payload);
    const std::string_view body(record.data() + RecordPrefix, record.size() - RecordPrefix);
    PutU32(record.data(), static_cast<std::uint32_t>(body.size()));
    PutU32(record.data() + 4, Crc32(body));
    bool written = WriteExactly(fd_, record.data(), record.size(), end_);
    // A disk that filled up while the broker was away: once the broker has every record, the
    // file is emptied at once, not only past a few MiB, and the space it frees takes the record.
    if (!written && ackedOffset_ == end_ && end_ > HeaderSize && Compact())
        written = WriteExactly(fd_, record.data(), record.size(), end_);
    if (!written) {
        error_ = "Unable to write " + path_ + ": " + SystemText(errno);
        // What a failed write left past the end is not a record: the next append overwrites it.
        return false;
    }
    end_ += record.size();
    ContinueAfter(seq);
    ++waiting_;
    dirty_ = true;
    return true;
}

void LineSpool::Sync() {
    if (fd_ >= 0 && dirty_) {
        ::fdatasync(fd_);
        dirty_ = false;
    }
}

void LineSpool::Acknowledge(std::uint64_t end, std::uint64_t seq) {
    if (end <= ackedOffset_ || end > end_)
        return;
    ackedOffset_ = end;
    ackedSeq_ = std::max(ackedSeq_, seq);
    if (waiting_ > 0)
        --waiting_;
}

bool LineSpool::WriteHeader() {
    ++generation_;
    char slot[SlotSize] = {};
    PutU32(slot, HeaderMagic);
    PutU64(slot + 8, generation_);
    PutU64(slot + 16, ackedOffset_);
    PutU64(slot + 24, ackedSeq_);
    PutU32(slot + 4, Crc32(std::string_view(slot + 8, SlotSize - 8)));
    // The slot not written last: a write torn by a power cut leaves the other one whole.
    const std::uint64_t at = (generation_ % 2) * SlotSize;
    if (!WriteExactly(fd_, slot, SlotSize, at))
        return false;
    savedOffset_ = ackedOffset_;
    dirty_ = true;
    return true;
}

void LineSpool::SaveProgress() {
    if (fd_ < 0 || readOnly_ || ackedOffset_ == savedOffset_)
        return;
    if (ackedOffset_ == end_ && end_ > CompactAfter && Compact())
        return;
    if (!WriteHeader())
        error_ = "Unable to write " + path_ + ": " + SystemText(errno);
}

bool LineSpool::Compact() {
    // All acknowledged: the header is made to say so and flushed before the records go; after a
    // crash in between, the records up to its seq are known to be acknowledged.
    ackedOffset_ = HeaderSize;
    if (WriteHeader() && ::fdatasync(fd_) == 0 &&
        ::ftruncate(fd_, static_cast<off_t>(HeaderSize)) == 0) {
        end_ = HeaderSize;
        return true;
    }
    ackedOffset_ = end_;
    return false;
}
