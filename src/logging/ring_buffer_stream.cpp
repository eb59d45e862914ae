#include "logging/ring_buffer_stream.h"

RingBufferStream::RingBufferStream() : std::ostream(nullptr)
{
    // The base is constructed before the member buffer: attach it now.
    init(&buffer_);
}

int RingBufferStream::RingBuffer::sync()
{
    trim();
    return 0;
}

std::streamsize RingBufferStream::RingBuffer::xsputn(const char* s, std::streamsize n)
{
    const std::streamsize written = std::stringbuf::xsputn(s, n);
    trim();
    return written;
}

RingBufferStream::RingBuffer::int_type RingBufferStream::RingBuffer::overflow(int_type c)
{
    const int_type result = std::stringbuf::overflow(c);
    trim();
    return result;
}

void RingBufferStream::RingBuffer::trim()
{
    const std::size_t n = size();
    if (n <= max_size) return;
    // Drop whole mebibytes from the front until at most max_size is left, in
    // one copy rather than one per mebibyte.
    const std::size_t steps = (n - max_size + trim_step - 1) / trim_step;
    std::size_t cut = steps * trim_step;
    if (cut > n) cut = n;
    std::string text = str();
    // Move the cut on to the next line end so that the kept text starts with
    // a whole record; with no line end left, at least never start inside a
    // UTF-8 character.
    if (cut > 0 && cut < text.size() && text[cut - 1] != '\n') {
        const std::size_t eol = text.find('\n', cut);
        if (eol != std::string::npos) {
            cut = eol + 1;
        } else {
            while (cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) ++cut;
        }
    }
    text.erase(0, cut);
    str(text);
}

namespace {
// Built in place in static storage and never destroyed (see the header).
alignas(RingBufferStream) unsigned char memory_log_storage[sizeof(RingBufferStream)];
}  // namespace

RingBufferStream& in_memory_log_stream = *new (memory_log_storage) RingBufferStream;
