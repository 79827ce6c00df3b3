// Pictures of IR captures as SVG, shared by the codara and zivra tools and zivra's web page.
//
//   std::vector<tools_common::PlotCapture> caps;
//   caps.push_back(tools_common::plot_capture("remote.mode2:3", edges, n, &decoded));
//   std::string svg = tools_common::render_svg(caps, {});
//
// Each capture is one row, stacked top to bottom on one shared time scale, so two presses
// of a button line up and their jitter or toggle bits stand out:
//   - a caption: the capture's label, then protocol, scancode and the decoder's fields;
//   - marks as filled blocks and spaces as gaps, to scale; an edge longer than
//     `PlotOptions::long_edge_us` keeps `kept_us` to scale at each end and has its middle
//     cut out, drawn as a break marker labelled with the edge's true length;
//   - for a decoded frame of a protocol whose layout is known, its bit cells (or XMP's
//     nibbles) with their values, placed where the decoder reads them;
//   - a time axis in microseconds from the capture's first mark (no ticks inside a break).
// The result is a standalone SVG document: no script, no external references, every text
// XML-escaped (bytes that are not UTF-8 become U+FFFD). The functions never throw on any
// input other than memory exhaustion and print nothing.
#ifndef ZIVRA_TOOLS_SIGNAL_SVG_H
#define ZIVRA_TOOLS_SIGNAL_SVG_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "codara/codara.h"

namespace tools_common {

struct PlotCapture {
  std::string label;            // where it came from, e.g. "samples/hand/rc5.irctl:1" or "#3"
  std::vector<uint32_t> edges;  // microseconds, mark first, alternating mark and space
  uint32_t gap_before_ms = 0;   // silence before the capture, shown in the caption when non-zero
  bool decoded = false;         // false: drawn without bit cells, captioned as not decoded
  std::string protocol;         // short protocol name as enum_to_str() gives it, e.g. "NEC32"
  uint32_t scancode = 0;
  std::string description;      // the decoder's one-line description ("NEC32         -- ADDR: ...")
};

struct PlotOptions {
  std::string title;           // heading above the rows; empty: none
  double px_per_us = 0.04;     // horizontal scale; values outside (0, 1] fall back to 0.04
  uint32_t long_edge_us = 4000;  // edges longer than this are drawn broken...
  uint32_t kept_us = 1000;       // ...keeping this much to scale at each end
};

// A row from a capture and, when non-null, the result ir_decode_packet() gave for it.
// `result` counts as decoded when its protocol is neither INVALID nor UNKNOWN and its
// hash is non-zero.
PlotCapture plot_capture(std::string label, const uint16_t *edges, std::size_t n, uint16_t gap_before_ms,
                         const ir_prot *result);

// One SVG document with a row per capture (an empty list gives a document saying so).
std::string render_svg(const std::vector<PlotCapture> &captures, const PlotOptions &options);

// One bit cell of a decoded frame, in microseconds from the capture's first mark. Cells
// may start before 0 (RC5's first bit begins with a space the receiver cannot see).
struct BitCell {
  int64_t start_us = 0;
  int64_t end_us = 0;
  std::string value;  // "0", "1", or a hex digit for a nibble
};

// The cells the picture shows for a decoded capture; empty when the protocol's layout is
// not known or the capture is not decoded.
std::vector<BitCell> bit_cells(const PlotCapture &capture);

}  // namespace tools_common

#endif
