#pragma once
// One production line's report lines as its views hold them: the bytes of every line packed one
// after another into large blocks, and where each line ends. There is no object per line, so a
// line costs its text and eight bytes, and a long line costs no more than its bytes.

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Told at once of every change; a view does its own work later, when the event loop is free.
class ReportStoreListener {
public:
    virtual void LinesAdded() = 0;
    virtual void LinesCleared() = 0;

protected:
    ~ReportStoreListener() = default;
};

class ReportStore {
public:
    ReportStore() = default;
    ReportStore(const ReportStore&) = delete;
    ReportStore& operator=(const ReportStore&) = delete;

    // Adds the line at the end. False, with nothing changed, when there is no memory for it: the
    // line's report must still reach its file.
    bool Append(std::string_view line);
    // Empties the store and gives its memory back.
    void Clear();

    std::size_t LineCount() const { return ends_.size(); }
    std::size_t LineLength(std::size_t line) const {
        return static_cast<std::size_t>(ends_[line] - Start(line));
    }
    // At most count bytes of the line, from its byte from on.
    std::string Bytes(std::size_t line, std::size_t from, std::size_t count) const;
    std::string Line(std::size_t line) const { return Bytes(line, 0, LineLength(line)); }

    void AddListener(ReportStoreListener* listener);
    void RemoveListener(ReportStoreListener* listener);

private:
    // Large enough that a block holds thousands of lines, small enough that a new one is quick.
    static constexpr std::size_t BlockSize = std::size_t{1} << 20;

    std::uint64_t Start(std::size_t line) const { return line == 0 ? 0 : ends_[line - 1]; }

    // A line may run on from one block into the next; only the last block has room left.
    std::vector<std::unique_ptr<char[]>> blocks_;
    // Each line's end, as a count of bytes from the first line's start.
    std::deque<std::uint64_t> ends_;
    std::uint64_t size_ = 0;
    std::vector<ReportStoreListener*> listeners_;
};
