// Nokia timings, shared by the Nokia analyzer and codec: a 412 / 276 us leader, then
// 164 us marks each followed by a space carrying two bits (276, 445, 614 or 783 us).
#pragma once
#include <cstdint>

namespace codara::nokia {

constexpr uint16_t kLeaderMark = 412;
constexpr uint16_t kLeaderSpace = 276;
constexpr uint16_t kMark = 164;
// Space of the symbols 0..3: 276 us and 169 us more per step.
constexpr uint16_t kSymbolSpace[4] = {276, 445, 614, 783};

constexpr int kSymbols = 12;  // device, sub-device, function: 8 bits each
constexpr uint16_t kPeriodMs = 100;
constexpr uint16_t kHashMaxEdge = 2400;

}  // namespace codara::nokia
