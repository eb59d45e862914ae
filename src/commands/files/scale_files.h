#pragma once
// What the folder, backup and download commands share: the packing of the
// backup options and the bounds of their loops.
//
// Contract:
// - pack_backup_flags(value): 3 bytes, one bit per character of `value` (its
//   lowest bit), character i in bit 7 - i % 8 of byte i / 8; characters past
//   the 24th are ignored, missing ones give 0. Zero bytes count as characters
//   (a zero byte gives a 0 bit), so every position keeps its place.
// - scale_file_limits() are process-wide; tests shorten them. Every loop of
//   these commands ends at a stop request (-9) and at its deadline.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

std::vector<std::byte> pack_backup_flags(const std::vector<std::byte>& value);

struct scale_file_limit_values {
    std::chrono::milliseconds listing_pause{500};  // between folder-listing requests answered 172
    std::chrono::milliseconds listing_deadline{std::chrono::minutes(2)};  // one whole folder listing
    std::chrono::milliseconds preparation_pause{2000};  // after every preparation status poll
    std::chrono::milliseconds preparation_deadline{std::chrono::minutes(15)};  // the whole preparation poll
    // The largest download: packet offsets are 32-bit.
    std::uint64_t max_download_size = 0xFFFFFFFFull;
};
scale_file_limit_values& scale_file_limits();
