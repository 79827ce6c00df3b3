// Sharp and Denon timings (one pulse-distance family), shared by their analyzers:
// 264 us marks, spaces of 792 us (0) and 1848 us (1).
#pragma once
#include "libcodara/timings/timing.h"

namespace codara::sharp {

constexpr uint16_t kMark = 264;
constexpr uint16_t kZeroSpace = 3 * kMark;  // 792
constexpr uint16_t kOneSpace = 7 * kMark;   // 1848

constexpr uint16_t kMarkSplit = midpoint(kMark, kZeroSpace);       // 528
constexpr uint16_t kSpaceSplit = midpoint(kZeroSpace, kOneSpace);  // 1320

// Repeat frames follow the previous capture within this window (ms).
constexpr uint16_t kRepeatWindowMin = 36;
constexpr uint16_t kRepeatWindowMax = 50;

}  // namespace codara::sharp

namespace codara::sharp {

// A frame: 5 address bits, 8 command bits, 2 bits that tell the frame apart from its
// check frame (sent after it with the command inverted), least significant first,
// then a closing mark; the pair is separated by 165 marks' worth of silence.
constexpr int kAddressBits = 5;
constexpr int kCommandBits = 8;
constexpr int kFrameBits = 15;
constexpr int kFrameEdges = 2 * kFrameBits + 1;
constexpr uint16_t kGapMs = 44;  // 165 x 264 us
constexpr uint16_t kHashMaxEdge = 2400;

}  // namespace codara::sharp
