#pragma once
// One production line's report lines as its views hold them: the bytes of every line packed one
// after another into large blocks, and where each line ends. There is no object per line, so a
// line costs its text and eight bytes, and a long line costs no more than its bytes. Past its
// limit the oldest lines go, as a terminal's scrollback drops its oldest lines; the report file
// keeps every line.
//
// A line's capture thread appends while the GUI thread's views read: every call takes the
// store's lock, and lines keep their numbers, so a view reading a line that has gone meanwhile
// reads nothing rather than another line.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// Told of every change on the thread that made it, under the store's lock: it must not block or
// call the store, and a view does its work later on the GUI thread.
class ReportStoreListener {
public:
    virtual void LinesChanged() = 0;

protected:
    ~ReportStoreListener() = default;
};

class ReportStore {
public:
    static constexpr std::size_t DefaultLimit = std::size_t{64} << 20;

    ReportStore() = default;
    ReportStore(const ReportStore&) = delete;
    ReportStore& operator=(const ReportStore&) = delete;

    // Adds the line at the end. False, with nothing changed, when there is no memory for it: the
    // line's report must still reach its file.
    bool Append(std::string_view line);
    // Empties the store and gives its memory back.
    void Clear();
    // The bytes of report text held at most. Past it the oldest lines go, a sixteenth of the
    // limit at once, so that views lay out again seldom; the newest line always stays.
    void SetLimit(std::size_t bytes);
    std::size_t Limit() const;

    // Lines are numbered from the first one appended since the last Clear. The lines held are
    // those from FirstLine() to before LineCount(); a number outside them has length 0.
    struct Extent {
        std::size_t First = 0;
        std::size_t End = 0;
        std::uint64_t Generation = 0; // counts the Clears: other numbers mean other lines
    };
    Extent Lines() const;
    std::size_t FirstLine() const { return Lines().First; }
    std::size_t LineCount() const { return Lines().End; }
    std::size_t HeldBytes() const;
    std::size_t LineLength(std::size_t line) const;
    // Calls length(n, bytes) for the lines from first to before end that are held, in order.
    void ForEachLength(std::size_t first, std::size_t end,
                       const std::function<void(std::size_t, std::size_t)>& length) const;
    // At most count bytes of the line, from its byte from on.
    std::string Bytes(std::size_t line, std::size_t from, std::size_t count) const;
    std::string Line(std::size_t line) const { return Bytes(line, 0, SIZE_MAX); }

    void AddListener(ReportStoreListener* listener);
    void RemoveListener(ReportStoreListener* listener);

private:
    // Large enough that a block holds thousands of lines, small enough that a new one is quick.
    static constexpr std::size_t BlockSize = std::size_t{1} << 20;

    bool Held(std::size_t line) const { return line >= first_ && line < first_ + ends_.size(); }
    // Where the line starts, counted in bytes from the first line ever appended.
    std::uint64_t Start(std::size_t line) const {
        return line == first_ ? firstByte_ : ends_[line - first_ - 1];
    }
    std::size_t Length(std::size_t line) const {
        return Held(line) ? static_cast<std::size_t>(ends_[line - first_] - Start(line)) : 0;
    }
    char* At(std::uint64_t byte) const {
        return blocks_[static_cast<std::size_t>(byte / BlockSize - firstBlock_)].get() +
               byte % BlockSize;
    }
    void DropOldest();
    void Tell() const;

    mutable std::mutex mutex_;
    // A line may run on from one block into the next; only the last block has room left.
    std::deque<std::unique_ptr<char[]>> blocks_;
    std::uint64_t firstBlock_ = 0; // the number of the first block held
    // Each held line's end, as a count of bytes from the first line's start.
    std::deque<std::uint64_t> ends_;
    std::size_t first_ = 0;       // the number of the first line held
    std::uint64_t firstByte_ = 0; // where it starts
    std::uint64_t size_ = 0;      // the bytes ever appended since the last Clear
    std::uint64_t generation_ = 0;
    std::size_t limit_ = DefaultLimit;
    std::vector<ReportStoreListener*> listeners_;
};
