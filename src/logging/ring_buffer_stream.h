#pragma once
// The in-memory log: an output stream over a string buffer that keeps only
// the most recent text, at most about 10 MiB of it.

#include <cstddef>
#include <new>
#include <ostream>
#include <sstream>
#include <string>

class RingBufferStream : public std::ostream {
public:
    static constexpr std::size_t max_size = 10485760;  // 10 MiB
    static constexpr std::size_t trim_step = 1048576;  // 1 MiB

    class RingBuffer : public std::stringbuf {
    public:
        // Opened with `ate` so that replacing the text after a trim leaves the
        // put position at its end and later writes keep appending.
        RingBuffer() : std::stringbuf(std::ios::in | std::ios::out | std::ios::ate) {}
        ~RingBuffer() override = default;

        // Bytes held; cheap (no copy of the text).
        std::size_t size() const { return static_cast<std::size_t>(pptr() - pbase()); }

    protected:
        int sync() override;
        // Writes trim as well, so the bound holds even when nobody flushes.
        std::streamsize xsputn(const char* s, std::streamsize n) override;
        int_type overflow(int_type c) override;

    private:
        void trim();
    };

    RingBufferStream();
    ~RingBufferStream() override = default;

    // A copy of the whole text held, oldest first. Callers that share the
    // stream between threads hold their own lock around writes and this call.
    std::string str() const { return buffer_.str(); }
    std::size_t size() const { return buffer_.size(); }

private:
    RingBuffer buffer_;
};

// The one process-wide memory log that the logger's memory sink writes into.
// It is never destroyed, so a record written late in process shut-down (from
// another library's static destructor) cannot reach a dead object.
extern RingBufferStream& in_memory_log_stream;
