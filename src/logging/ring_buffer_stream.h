#pragma once
// The in-memory log: an output stream over a string buffer that keeps only
// the most recent text, at most about 10 MiB of it.

#include <cstddef>
#include <new>
#include <ostream>
#include <streambuf>
#include <string>

class RingBufferStream : public std::ostream {
public:
    static constexpr std::size_t max_size = 10485760;  // 10 MiB
    static constexpr std::size_t trim_step = 1048576;  // 1 MiB

    // No put area: every character and every block goes through overflow or
    // xsputn, so the bound is checked on each write, the line end that a
    // log record ends with included.
    class RingBuffer : public std::streambuf {
    public:
        std::size_t size() const { return text_.size(); }
        const std::string& text() const { return text_; }

    protected:
        int sync() override { return 0; }
        std::streamsize xsputn(const char* s, std::streamsize n) override;
        int_type overflow(int_type c) override;

    private:
        void trim();
        std::string text_;
    };

    RingBufferStream();
    ~RingBufferStream() override = default;

    // A copy of the whole text held, oldest first. Callers that share the
    // stream between threads hold their own lock around writes and this call.
    std::string str() const { return buffer_.text(); }
    std::size_t size() const { return buffer_.size(); }

private:
    RingBuffer buffer_;
};

// The one process-wide memory log that the logger's memory sink writes into.
// It is never destroyed, so a record written late in process shut-down (from
// another library's static destructor) cannot reach a dead object.
extern RingBufferStream& in_memory_log_stream;
