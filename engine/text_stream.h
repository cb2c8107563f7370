#pragma once

// Streaming text access for the pass: pages are read through a fixed buffer and handed out
// line by line as byte offsets, so no page, line or include file is ever held in memory
// as a whole. Lines end at CR+LF, CR or LF; every other byte passes through unchanged.

#include "disk.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>

namespace text {

inline constexpr char kOpeningKeyword[] = "<reririduruv="; // 13 characters
inline constexpr std::size_t kOpeningKeywordLength = 13;
inline constexpr char kClosingTag[] = "</reririduruv>"; // 14 characters
inline constexpr std::size_t kClosingTagLength = 14;

enum class LineEnd { None, CR, CRLF, LF };

// Sizes of the page buffer and of the read chunks. Tests and the fuzz target make them
// tiny, so that every tag and line end also falls across a buffer's edge.
void SetBufferSizes(std::size_t pageBuffer, std::size_t chunk);

// A buffer handed from one page to the next instead of being allocated and cleared for
// every page, which cost more than reading the page itself.
class Buffer {
  public:
    explicit Buffer(std::size_t size);
    ~Buffer();
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    char* data() { return data_; }
    const char* data() const { return data_; }
    std::size_t size() const { return size_; }

  private:
    char* data_;
    std::size_t size_;
    std::size_t capacity_;
};

// Where written bytes go: the new page, or a comparison against the page.
class OutputSink {
  public:
    virtual ~OutputSink() = default;
    virtual bool Write(const char* data, std::size_t size) = 0;
    bool Write(const std::string& text) { return Write(text.data(), text.size()); }
    // True once a write could not be carried out.
    virtual bool Failed() const = 0;
    // Why, where the system said (an errno value); else 0.
    virtual int Error() const { return 0; }
};

// Buffered writer to an open file; the descriptor stays owned by the caller.
class FileSink : public OutputSink {
  public:
    FileSink(Disk& disk, int fd);
    bool Write(const char* data, std::size_t size) override;
    bool Failed() const override { return error_ != 0; }
    int Error() const override { return error_; }
    bool Flush();

  private:
    Disk& disk_;
    int fd_;
    Buffer buffer_;
    std::size_t used_ = 0;
    int error_ = 0;
};

// Compares everything written against the bytes of a file, without writing anything. It
// reads the file in chunks ahead of the writes, so a page costs a few reads, not one for
// every piece written.
class CompareSink : public OutputSink {
  public:
    CompareSink(Disk& disk, int fd);
    bool Write(const char* data, std::size_t size) override;
    bool Failed() const override { return error_ != 0; }
    int Error() const override { return error_; }
    // True when the written bytes differ from the file's (also in length).
    bool Differs();

  private:
    Disk& disk_;
    int fd_;
    off_t compared_ = 0;
    bool differs_ = false;
    int error_ = 0;
    Buffer ahead_;
    std::size_t aheadUsed_ = 0;   // bytes of ahead_ already compared
    std::size_t aheadLength_ = 0; // bytes read into ahead_
};

// One line of a page, as offsets into the page file.
struct Line {
    std::int64_t start = 0; // first byte of the line
    std::int64_t end = 0;   // one past its last byte, before the line end
    std::int64_t next = 0;  // first byte of the next line
    LineEnd lineEnd = LineEnd::None;
    std::int64_t opening = -1; // first "<reririduruv=" (any letter case), or -1
    std::int64_t tagEnd = -1;  // first ">" at or after the opening keyword, or -1
    std::int64_t closing = -1; // first "</reririduruv>" (any letter case), or -1
    // The first closing tag after the ">" that ends the opening tag, or -1: the one that
    // ends a block on its opening line.
    std::int64_t closingAfterTag = -1;
};

class PageScanner {
  public:
    PageScanner(Disk& disk, int fd);

    // The next line with its tag positions; false at the end of the page or on a read
    // error (see Failed).
    bool NextLine(Line& line);
    bool AtEnd();
    bool Failed() const { return error_ != 0; }
    int Error() const { return error_; }

    // Sends the page's bytes [from, to) to the sink; false on a read or write failure.
    bool CopyRange(std::int64_t from, std::int64_t to, OutputSink& sink);
    // The page's bytes [from, from + size), for short pieces such as an include name.
    bool ReadRange(std::int64_t from, std::size_t size, std::string& out);

  private:
    // What is known of where the next CR or LF lies, so a page with only one kind of line
    // end is not searched to the buffer's end for the other at every line.
    struct NextByte {
        std::int64_t at = -1; // its offset, or -1: none in [from, to)
        std::int64_t from = 0;
        std::int64_t to = 0;
    };

    bool Refill(std::int64_t keepFrom);
    void SearchTags(std::int64_t from, std::int64_t to, std::int64_t lineStart, Line& line);
    std::int64_t Find(char wanted, std::int64_t from, NextByte& known);

    Disk& disk_;
    int fd_;
    Buffer buffer_;
    NextByte nextCR_;
    NextByte nextLF_;
    std::int64_t base_ = 0;     // file offset of buffer_[0]
    std::size_t length_ = 0;    // valid bytes in buffer_
    std::int64_t position_ = 0; // file offset where the next line starts
    bool endOfFile_ = false;
    int error_ = 0;
};

// Finds a closing tag in bytes handed over piece by piece, also one cut in two between
// pieces.
class ClosingTagFinder {
  public:
    // True once a closing tag has been seen.
    bool Feed(const char* data, std::size_t size);

  private:
    char carried_[kClosingTagLength] = {};
    std::size_t carriedLength_ = 0;
};

// How an include file's content is examined and copied. Both look at every byte, so an
// include file that gains a closing tag between the check and the copy is still caught.
class IncludeFile {
  public:
    IncludeFile(Disk& disk, int fd) : disk_(disk), fd_(fd) {}
    // Looks for a closing tag on any line; sets found. False on a read error.
    bool ContainsClosingTag(bool& found);
    // Writes every line of the file followed by lineEnd, and stops where a closing tag
    // shows up, setting nested. False on a read or write error.
    bool CopyLines(OutputSink& sink, const std::string& lineEnd, bool& nested);
    // Why a read failed (an errno value).
    int Error() const { return error_; }

  private:
    Disk& disk_;
    int fd_;
    int error_ = 0;
};

} // namespace text
