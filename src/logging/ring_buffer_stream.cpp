#include "logging/ring_buffer_stream.h"

RingBufferStream::RingBufferStream() : std::ostream(nullptr)
{
    // The base is constructed before the member buffer: attach it now.
    init(&buffer_);
}

std::streamsize RingBufferStream::RingBuffer::xsputn(const char* s, std::streamsize n)
{
    if (n <= 0) return 0;
    text_.append(s, static_cast<std::size_t>(n));
    trim();
    return n;
}

RingBufferStream::RingBuffer::int_type RingBufferStream::RingBuffer::overflow(int_type c)
{
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    text_.push_back(traits_type::to_char_type(c));
    trim();
    return c;
}

void RingBufferStream::RingBuffer::trim()
{
    const std::size_t n = text_.size();
    if (n <= max_size) return;
    // Drop whole mebibytes from the front until at most max_size is left, in
    // one move rather than one per mebibyte.
    const std::size_t steps = (n - max_size + trim_step - 1) / trim_step;
    std::size_t cut = steps * trim_step < n ? steps * trim_step : n;
    // The kept text should start with a whole record: move the cut on to the
    // end of the line it falls in, unless that line runs on for more than
    // another mebibyte (one huge record): then cut inside it, but never
    // inside a UTF-8 character.
    if (cut < n && text_[cut - 1] != '\n') {
        const std::size_t eol = text_.find('\n', cut);
        if (eol != std::string::npos && eol - cut < trim_step) {
            cut = eol + 1;
        } else {
            while (cut < n && (static_cast<unsigned char>(text_[cut]) & 0xC0) == 0x80) ++cut;
        }
    }
    text_.erase(0, cut);
}

namespace {
// Built in place in static storage and never destroyed (see the header).
alignas(RingBufferStream) unsigned char memory_log_storage[sizeof(RingBufferStream)];
}  // namespace

RingBufferStream& in_memory_log_stream = *new (memory_log_storage) RingBufferStream;
