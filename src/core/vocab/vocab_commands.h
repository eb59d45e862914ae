#pragma once
// The command tables: the frame bytes of every command that has a request of
// its own, the group permission of every command the dispatcher knows, and
// the barcode-structure templates.

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "core/vocab/types.h"

namespace vocab {

// Command bytes that open the body of a request: one byte, or the escape
// byte 0xFF followed by one byte. 154 entries: 119 host commands and 35
// internal steps. 29 host commands (0, 25, 30, 48, ...) have no frame of their
// own and are absent, so generic code must use find(), not at().
// Every frame is unique: the send operation recognises some frames by their
// bytes.
const std::map<CommandType, std::vector<std::byte>>& command_frames();

// Whether a command may run while the scale list holds more than one scale.
// 156 entries: every host command 0 to 145, -33, -34 and eight internal
// numbers (-21, -22, -24, -25, -26, -32, -35, -36). A number that is absent
// is unknown to the dispatcher (which answers 120); absent is not the same
// as false.
const std::map<CommandType, bool>& broadcast_validation();

// Barcode-structure template per barcode format number (`BCFormat`):
// keys 0 (the empty text), 6, 7, 8, 9, 15 and 255.
const std::map<int, std::string>& barcode_structures();

}  // namespace vocab
