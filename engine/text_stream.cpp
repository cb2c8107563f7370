#include "text_stream.h"

#include "mod_global.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace text {

namespace {

constexpr std::size_t kMaxChunk = 64 * 1024;
constexpr std::size_t kOutputBuffer = 256 * 1024;
std::size_t pageBufferSize = 256 * 1024;
std::size_t chunkSize = kMaxChunk;
// Bytes of a line kept back when the buffer moves on, so that a tag cut in two by the
// buffer's end is still found.
constexpr std::int64_t kTagOverlap = 13;

bool MatchesIgnoringCase(const char* data, const char* lowerPattern, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i)
        if (modGlobal::AsciiLower(data[i]) != lowerPattern[i])
            return false;
    return true;
}

// Position of the first occurrence of the lower-case pattern in [data, data + size), or -1.
std::int64_t FindIgnoringCase(const char* data, std::size_t size, const char* lowerPattern,
                              std::size_t length) {
    const char* at = data;
    const char* const end = data + size;
    while (end - at >= static_cast<std::ptrdiff_t>(length)) {
        at = static_cast<const char*>(std::memchr(at, lowerPattern[0], end - at));
        if (at == nullptr || end - at < static_cast<std::ptrdiff_t>(length))
            return -1;
        if (MatchesIgnoringCase(at, lowerPattern, length))
            return at - data;
        ++at;
    }
    return -1;
}

} // namespace

namespace {

struct SpareBuffer {
    std::unique_ptr<char[]> data;
    std::size_t capacity;
};

std::vector<SpareBuffer>& SpareBuffers() {
    static thread_local std::vector<SpareBuffer> spares;
    return spares;
}

} // namespace

Buffer::Buffer(std::size_t size) : size_(size) {
    auto& spares = SpareBuffers();
    for (auto it = spares.begin(); it != spares.end(); ++it) {
        if (it->capacity >= size) {
            capacity_ = it->capacity;
            data_ = it->data.release();
            spares.erase(it);
            return;
        }
    }
    capacity_ = size;
    data_ = std::make_unique_for_overwrite<char[]>(size).release();
}

Buffer::~Buffer() {
    SpareBuffers().push_back({std::unique_ptr<char[]>(data_), capacity_});
}

void SetBufferSizes(std::size_t pageBuffer, std::size_t chunk) {
    pageBufferSize = std::max<std::size_t>(pageBuffer, 4 * kTagOverlap);
    chunkSize = std::clamp<std::size_t>(chunk, 1, kMaxChunk);
}

FileSink::FileSink(Disk& disk, int fd) : disk_(disk), fd_(fd), buffer_(kOutputBuffer) {}

bool FileSink::Write(const char* data, std::size_t size) {
    if (error_ != 0)
        return false;
    if (used_ + size > buffer_.size()) {
        if (!Flush())
            return false;
        if (size >= buffer_.size()) {
            error_ = disk_.WriteAll(fd_, data, size);
            return error_ == 0;
        }
    }
    std::memcpy(buffer_.data() + used_, data, size);
    used_ += size;
    return true;
}

bool FileSink::Flush() {
    if (error_ != 0)
        return false;
    error_ = disk_.WriteAll(fd_, buffer_.data(), used_);
    used_ = 0;
    return error_ == 0;
}

CompareSink::CompareSink(Disk& disk, int fd) : disk_(disk), fd_(fd), ahead_(chunkSize) {}

bool CompareSink::Write(const char* data, std::size_t size) {
    while (size > 0 && !differs_) {
        if (aheadUsed_ == aheadLength_) {
            std::size_t got = 0;
            if (const int error = disk_.Read(fd_, ahead_.data(), ahead_.size(), compared_, got))
                error_ = error;
            if (got == 0) {
                differs_ = true;
                break;
            }
            aheadUsed_ = 0;
            aheadLength_ = got;
        }
        const std::size_t length = std::min(size, aheadLength_ - aheadUsed_);
        if (std::memcmp(ahead_.data() + aheadUsed_, data, length) != 0) {
            differs_ = true;
            break;
        }
        aheadUsed_ += length;
        compared_ += static_cast<off_t>(length);
        data += length;
        size -= length;
    }
    return error_ == 0;
}

bool CompareSink::Differs() {
    if (differs_)
        return true;
    struct stat st {};
    if (disk_.StatusOf(fd_, st) != 0)
        return true;
    return st.st_size != compared_;
}

PageScanner::PageScanner(Disk& disk, int fd) : disk_(disk), fd_(fd), buffer_(pageBufferSize) {}

bool PageScanner::Refill(std::int64_t keepFrom) {
    if (error_ != 0 || endOfFile_)
        return false;
    const std::size_t keep =
        static_cast<std::size_t>(base_ + static_cast<std::int64_t>(length_) - keepFrom);
    std::memmove(buffer_.data(), buffer_.data() + (keepFrom - base_), keep);
    base_ = keepFrom;
    length_ = keep;
    std::size_t got = 0;
    if (const int error =
            disk_.Read(fd_, buffer_.data() + length_, buffer_.size() - length_, -1, got)) {
        error_ = error;
        return false;
    }
    length_ += got;
    endOfFile_ = got == 0;
    return !endOfFile_;
}

bool PageScanner::AtEnd() {
    if (position_ < base_ + static_cast<std::int64_t>(length_))
        return false;
    return !Refill(position_);
}

void PageScanner::SearchTags(std::int64_t from, std::int64_t to, std::int64_t lineStart,
                             Line& line) {
    const std::int64_t regionStart = std::max({lineStart, from - kTagOverlap, base_});
    const char* const data = buffer_.data() - base_; // indexable by file offset
    if (line.opening < 0) {
        const std::int64_t at = FindIgnoringCase(data + regionStart, to - regionStart,
                                                 kOpeningKeyword, kOpeningKeywordLength);
        if (at >= 0)
            line.opening = regionStart + at;
    }
    if (line.closing < 0) {
        const std::int64_t at =
            FindIgnoringCase(data + regionStart, to - regionStart, kClosingTag, kClosingTagLength);
        if (at >= 0)
            line.closing = regionStart + at;
    }
    if (line.opening >= 0 && line.tagEnd < 0) {
        const std::int64_t start =
            std::max(line.opening + static_cast<std::int64_t>(kOpeningKeywordLength), from);
        if (start < to) {
            const void* found = std::memchr(data + start, '>', to - start);
            if (found != nullptr)
                line.tagEnd = static_cast<const char*>(found) - data;
        }
    }
    if (line.tagEnd >= 0 && line.closingAfterTag < 0) {
        const std::int64_t start = std::max(line.tagEnd + 1, regionStart);
        const std::int64_t at =
            start < to ? FindIgnoringCase(data + start, static_cast<std::size_t>(to - start),
                                          kClosingTag, kClosingTagLength)
                       : -1;
        if (at >= 0)
            line.closingAfterTag = start + at;
    }
}

std::int64_t PageScanner::Find(char wanted, std::int64_t from, NextByte& known) {
    const std::int64_t bufferEnd = base_ + static_cast<std::int64_t>(length_);
    if (known.at >= from && known.from <= from)
        return known.at;
    std::int64_t searchFrom = from;
    if (known.at < 0 && known.from <= from && known.to > from) {
        if (known.to >= bufferEnd)
            return -1;
        searchFrom = known.to; // only the bytes read since are new
    }
    const char* const data = buffer_.data() - base_;
    const void* hit =
        std::memchr(data + searchFrom, wanted, static_cast<std::size_t>(bufferEnd - searchFrom));
    known.from = from;
    known.to = bufferEnd;
    known.at = hit == nullptr ? -1 : static_cast<const char*>(hit) - data;
    return known.at;
}

bool PageScanner::NextLine(Line& line) {
    if (error_ != 0 || AtEnd())
        return false;
    line = Line{};
    line.start = position_;
    std::int64_t scanned = position_;
    for (;;) {
        const char* const data = buffer_.data() - base_;
        const std::int64_t bufferEnd = base_ + static_cast<std::int64_t>(length_);
        const std::int64_t cr = Find('\r', scanned, nextCR_);
        const std::int64_t lf = Find('\n', scanned, nextLF_);
        std::int64_t lineEnd = bufferEnd;
        if (cr >= 0)
            lineEnd = cr;
        if (lf >= 0 && lf < lineEnd)
            lineEnd = lf;
        SearchTags(scanned, lineEnd, line.start, line);

        if (lineEnd < bufferEnd && data[lineEnd] == '\n') {
            line.end = lineEnd;
            line.next = lineEnd + 1;
            line.lineEnd = LineEnd::LF;
            break;
        }
        if (lineEnd + 1 < bufferEnd) { // a CR with the byte after it in view
            line.end = lineEnd;
            const bool crlf = data[lineEnd + 1] == '\n';
            line.next = lineEnd + (crlf ? 2 : 1);
            line.lineEnd = crlf ? LineEnd::CRLF : LineEnd::CR;
            break;
        }
        // The buffer ends inside the line, or right after a CR: read on. A short line is
        // kept whole so it can be copied from the buffer; of a long one only the overlap.
        const std::int64_t keepFrom =
            (bufferEnd - line.start) <= static_cast<std::int64_t>(buffer_.size() / 2)
                ? line.start
                : std::min(lineEnd, bufferEnd - kTagOverlap);
        if (!Refill(keepFrom)) {
            if (error_ != 0)
                return false;
            line.end = lineEnd;
            if (lineEnd < bufferEnd) { // a CR as the page's very last byte
                line.next = lineEnd + 1;
                line.lineEnd = LineEnd::CR;
            } else {
                line.next = lineEnd;
                line.lineEnd = LineEnd::None;
            }
            break;
        }
        scanned = lineEnd;
    }
    position_ = line.next;
    return true;
}

bool PageScanner::CopyRange(std::int64_t from, std::int64_t to, OutputSink& sink) {
    char chunk[kMaxChunk];
    while (from < to) {
        const std::int64_t bufferEnd = base_ + static_cast<std::int64_t>(length_);
        if (from >= base_ && from < bufferEnd) {
            const std::int64_t upTo = std::min(to, bufferEnd);
            if (!sink.Write(buffer_.data() + (from - base_), static_cast<std::size_t>(upTo - from)))
                return false;
            from = upTo;
            continue;
        }
        const std::size_t want = static_cast<std::size_t>(
            std::min<std::int64_t>(to - from, static_cast<std::int64_t>(chunkSize)));
        std::size_t got = 0;
        const int error = disk_.Read(fd_, chunk, want, from, got);
        if (error != 0 || got == 0) {
            error_ = error != 0 ? error : EIO; // the page ended early: it was cut short
            return false;
        }
        if (!sink.Write(chunk, got))
            return false;
        from += static_cast<std::int64_t>(got);
    }
    return true;
}

bool PageScanner::ReadRange(std::int64_t from, std::size_t size, std::string& out) {
    class StringSink : public OutputSink {
      public:
        explicit StringSink(std::string& target) : target_(target) {}
        bool Write(const char* data, std::size_t n) override {
            target_.append(data, n);
            return true;
        }
        bool Failed() const override { return false; }

      private:
        std::string& target_;
    } sink(out);
    out.clear();
    return CopyRange(from, from + static_cast<std::int64_t>(size), sink);
}

bool ClosingTagFinder::Feed(const char* data, std::size_t size) {
    // The end of the last piece joined to the start of this one: a tag cut in two.
    char seam[2 * kClosingTagLength];
    const std::size_t head = std::min(size, kClosingTagLength - 1);
    std::memcpy(seam, carried_, carriedLength_);
    std::memcpy(seam + carriedLength_, data, head);
    if (FindIgnoringCase(seam, carriedLength_ + head, kClosingTag, kClosingTagLength) >= 0 ||
        FindIgnoringCase(data, size, kClosingTag, kClosingTagLength) >= 0)
        return true;
    const std::size_t total = carriedLength_ + head;
    const std::size_t keep = std::min(total, kClosingTagLength - 1);
    if (size >= kClosingTagLength - 1)
        std::memcpy(carried_, data + size - keep, keep);
    else
        std::memmove(carried_, seam + total - keep, keep);
    carriedLength_ = keep;
    return false;
}

bool IncludeFile::ContainsClosingTag(bool& found) {
    found = false;
    ClosingTagFinder finder;
    char chunk[kMaxChunk];
    off_t offset = 0;
    for (;;) {
        std::size_t got = 0;
        if ((error_ = disk_.Read(fd_, chunk, chunkSize, offset, got)) != 0)
            return false;
        if (got == 0)
            return true;
        offset += static_cast<off_t>(got);
        if (finder.Feed(chunk, got)) {
            found = true;
            return true;
        }
    }
}

bool IncludeFile::CopyLines(OutputSink& sink, const std::string& lineEnd, bool& nested) {
    nested = false;
    ClosingTagFinder finder;
    char chunk[kMaxChunk];
    off_t offset = 0;
    bool afterCR = false;
    bool lineOpen = false;
    for (;;) {
        std::size_t n = 0;
        if ((error_ = disk_.Read(fd_, chunk, chunkSize, offset, n)) != 0)
            return false;
        if (n == 0)
            break;
        offset += static_cast<off_t>(n);
        if (finder.Feed(chunk, n)) {
            nested = true;
            return true;
        }
        std::size_t i = 0;
        while (i < n) {
            const char c = chunk[i];
            if (c == '\n' && afterCR) { // the LF of a CR+LF
                afterCR = false;
                ++i;
                continue;
            }
            afterCR = false;
            if (c == '\r' || c == '\n') {
                if (!sink.Write(lineEnd))
                    return false;
                lineOpen = false;
                afterCR = c == '\r';
                ++i;
                continue;
            }
            std::size_t j = i;
            while (j < n && chunk[j] != '\r' && chunk[j] != '\n')
                ++j;
            if (!sink.Write(chunk + i, j - i))
                return false;
            lineOpen = true;
            i = j;
        }
    }
    return !lineOpen || sink.Write(lineEnd);
}

} // namespace text
