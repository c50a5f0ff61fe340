#include "ui/report_store.h"

#include <algorithm>
#include <cstring>
#include <new>

bool ReportStore::Append(std::string_view line) {
    const std::uint64_t end = size_ + line.size();
    const std::size_t blocksNeeded = static_cast<std::size_t>((end + BlockSize - 1) / BlockSize);
    try {
        // Everything that can fail comes first, so a failure leaves the store as it was.
        std::vector<std::unique_ptr<char[]>> added;
        for (std::size_t b = blocks_.size(); b < blocksNeeded; ++b)
            added.push_back(std::make_unique_for_overwrite<char[]>(BlockSize));
        if (blocksNeeded > blocks_.capacity())
            blocks_.reserve(std::max(blocksNeeded, 2 * blocks_.capacity()));
        ends_.push_back(end);
        for (auto& block : added)
            blocks_.push_back(std::move(block));
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::size_t copied = 0;
    while (copied < line.size()) {
        const std::size_t at = static_cast<std::size_t>(size_ % BlockSize);
        const std::size_t part = std::min(line.size() - copied, BlockSize - at);
        std::memcpy(blocks_[static_cast<std::size_t>(size_ / BlockSize)].get() + at,
                    line.data() + copied, part);
        copied += part;
        size_ += part;
    }
    for (ReportStoreListener* listener : listeners_)
        listener->LinesAdded();
    return true;
}

void ReportStore::Clear() {
    std::vector<std::unique_ptr<char[]>>().swap(blocks_);
    std::deque<std::uint64_t>().swap(ends_);
    size_ = 0;
    for (ReportStoreListener* listener : listeners_)
        listener->LinesCleared();
}

std::string ReportStore::Bytes(std::size_t line, std::size_t from, std::size_t count) const {
    const std::size_t length = LineLength(line);
    from = std::min(from, length);
    count = std::min(count, length - from);
    std::string bytes(count, '\0');
    std::uint64_t at = Start(line) + from;
    std::size_t copied = 0;
    while (copied < count) {
        const std::size_t offset = static_cast<std::size_t>(at % BlockSize);
        const std::size_t part = std::min(count - copied, BlockSize - offset);
        std::memcpy(bytes.data() + copied,
                    blocks_[static_cast<std::size_t>(at / BlockSize)].get() + offset, part);
        copied += part;
        at += part;
    }
    return bytes;
}

void ReportStore::AddListener(ReportStoreListener* listener) {
    listeners_.push_back(listener);
}

void ReportStore::RemoveListener(ReportStoreListener* listener) {
    std::erase(listeners_, listener);
}
