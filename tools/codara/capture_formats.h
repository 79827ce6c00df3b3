// Reading IR captures from the text formats people exchange.
//
// One input text may hold any mix of:
//   - LIRC mode2 lines ("pulse 889", "space 889"; "timeout"/"carrier" lines carry no edge),
//     one capture running over many lines;
//   - ir-ctl compact text ("+889 -889 +1778 ... # timeout 133889") and plain duration
//     lists ("889 889 1778", "889,889,1778"), one capture per line;
//   - Pronto learned codes ("0000 006D 0022 0002 ..."), on one line or wrapped over several.
// '#' starts a comment in every format.
//
// Whatever the format, a capture is what a receiver hands the decoder: it begins with a
// mark, a space longer than the decoder's longest edge ends it (that silence becomes the next
// capture's gap), and a space after the last mark is dropped.
#ifndef CODARA_TOOL_CAPTURE_FORMATS_H
#define CODARA_TOOL_CAPTURE_FORMATS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace codara_cli {

// The decoder takes at most this many edges...
inline constexpr std::size_t kMaxEdges = 256;
// ...and no edge longer than this (a longer space ends a capture, a longer mark is an error).
inline constexpr uint32_t kMaxEdgeUs = 14000;
// Largest duration a number may give (LIRC's 24-bit maximum).
inline constexpr uint32_t kMaxDurationUs = 16777215;

enum class Format { Mode2, IrCtl, Raw, Pronto };

struct Capture {
  Format format = Format::Raw;
  std::size_t line = 0;         // 1-based line where the capture starts
  std::vector<uint16_t> edges;  // mark first; 1..kMaxEdgeUs each; at most kMaxEdges
  uint32_t gap_before_us = 0;   // silence before the capture when the input gives it, else 0
  std::string error;            // non-empty: the capture is unusable (edges empty) and why
};

// Splits `text` into captures in input order, with unusable ones reported in place.
// Never throws on any input.
std::vector<Capture> parse_captures(std::string_view text);

// "mode2", "ir-ctl", "raw", "pronto".
const char *format_name(Format f);

// Milliseconds of silence before a capture, as the decoder's `elapsed` field wants them.
uint16_t elapsed_ms(const Capture &c);

}  // namespace codara_cli

#endif
