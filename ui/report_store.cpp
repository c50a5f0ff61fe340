#include "ui/report_store.h"

#include <algorithm>
#include <cstring>
#include <new>

bool ReportStore::Append(std::string_view line) {
    std::lock_guard lock(mutex_);
    const std::uint64_t end = size_ + line.size();
    const std::uint64_t blocksNeeded = (end + BlockSize - 1) / BlockSize;
    try {
        // Everything that can fail comes first, so a failure leaves the store as it was.
        std::vector<std::unique_ptr<char[]>> added;
        for (std::uint64_t b = firstBlock_ + blocks_.size(); b < blocksNeeded; ++b)
            added.push_back(std::make_unique_for_overwrite<char[]>(BlockSize));
        ends_.push_back(end);
        for (auto& block : added)
            blocks_.push_back(std::move(block));
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::size_t copied = 0;
    while (copied < line.size()) {
        const std::size_t part =
            std::min(line.size() - copied, BlockSize - static_cast<std::size_t>(size_ % BlockSize));
        std::memcpy(At(size_), line.data() + copied, part);
        copied += part;
        size_ += part;
    }
    if (size_ - firstByte_ > limit_)
        DropOldest();
    Tell();
    return true;
}

void ReportStore::DropOldest() {
    const std::uint64_t keep = limit_ - limit_ / 16;
    while (ends_.size() > 1 && size_ - firstByte_ > keep) {
        firstByte_ = ends_.front();
        ends_.pop_front();
        ++first_;
    }
    while (!blocks_.empty() && (firstBlock_ + 1) * BlockSize <= firstByte_) {
        blocks_.pop_front();
        ++firstBlock_;
    }
}

void ReportStore::Clear() {
    std::lock_guard lock(mutex_);
    std::deque<std::unique_ptr<char[]>>().swap(blocks_);
    std::deque<std::uint64_t>().swap(ends_);
    firstBlock_ = 0;
    first_ = 0;
    firstByte_ = 0;
    size_ = 0;
    ++generation_;
    Tell();
}

void ReportStore::SetLimit(std::size_t bytes) {
    std::lock_guard lock(mutex_);
    limit_ = std::max<std::size_t>(bytes, 1);
    if (size_ - firstByte_ > limit_) {
        DropOldest();
        Tell();
    }
}

std::size_t ReportStore::Limit() const {
    std::lock_guard lock(mutex_);
    return limit_;
}

ReportStore::Extent ReportStore::Lines() const {
    std::lock_guard lock(mutex_);
    return {first_, first_ + ends_.size(), generation_};
}

std::size_t ReportStore::HeldBytes() const {
    std::lock_guard lock(mutex_);
    return static_cast<std::size_t>(size_ - firstByte_);
}

std::size_t ReportStore::LineLength(std::size_t line) const {
    std::lock_guard lock(mutex_);
    return Length(line);
}

void ReportStore::ForEachLength(std::size_t first, std::size_t end,
                                const std::function<void(std::size_t, std::size_t)>& length) const {
    // A few thousand lines a lock, so that a long count never holds up the capture thread.
    constexpr std::size_t Stride = 4096;
    for (std::size_t line = first; line < end;) {
        std::lock_guard lock(mutex_);
        line = std::max(line, first_);
        const std::size_t stop = std::min({end, line + Stride, first_ + ends_.size()});
        if (line >= stop)
            return;
        for (; line < stop; ++line)
            length(line, Length(line));
    }
}

std::string ReportStore::Bytes(std::size_t line, std::size_t from, std::size_t count) const {
    std::lock_guard lock(mutex_);
    const std::size_t length = Length(line);
    from = std::min(from, length);
    count = std::min(count, length - from);
    std::string bytes(count, '\0');
    std::uint64_t at = count > 0 ? Start(line) + from : 0;
    std::size_t copied = 0;
    while (copied < count) {
        const std::size_t part =
            std::min(count - copied, BlockSize - static_cast<std::size_t>(at % BlockSize));
        std::memcpy(bytes.data() + copied, At(at), part);
        copied += part;
        at += part;
    }
    return bytes;
}

void ReportStore::AddListener(ReportStoreListener* listener) {
    std::lock_guard lock(mutex_);
    listeners_.push_back(listener);
}

void ReportStore::RemoveListener(ReportStoreListener* listener) {
    std::lock_guard lock(mutex_);
    std::erase(listeners_, listener);
}

void ReportStore::Tell() const {
    for (ReportStoreListener* listener : listeners_)
        listener->LinesChanged();
}
