// Samsung-32 timings, shared by its analyzer and codec: NEC's 564 us unit with an
// 8-unit leader mark and space (the shape of a NECx frame).
#pragma once
#include "libcodara/timings/nec.h"

namespace codara::samsung {

constexpr uint16_t kLeaderMark = nec::kShortLeaderMark;  // 4512
constexpr uint16_t kLeaderSpace = nec::kLeaderSpace;     // 4512
constexpr uint16_t kMark = nec::kShortEdge;
constexpr uint16_t kZeroSpace = nec::kShortEdge;
constexpr uint16_t kOneSpace = nec::kLongEdge;           // 1692

// What the encoder sends: the rounder durations of Samsung remotes. Exact multiples
// of the unit would score the same for the NEC analyzer, which wins ties.
constexpr uint16_t kSentLeaderMark = nec::kSentLeaderSpace;  // 4500
constexpr uint16_t kSentLeaderSpace = nec::kSentLeaderSpace;
constexpr uint16_t kSentMark = nec::kSentBitMark;             // 560
constexpr uint16_t kSentZeroSpace = nec::kSentZeroSpace;
constexpr uint16_t kSentOneSpace = nec::kSentOneSpace;        // 1690

constexpr int kBits = 32;
constexpr uint16_t kPeriodMs = 108;
constexpr uint16_t kHashMaxEdge = 2100;

}  // namespace codara::samsung
