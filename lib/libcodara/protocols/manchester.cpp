// Bi-phase (Manchester) decoding and encoding shared by the bi-phase codecs.
#include <cstring>

#include "codara/codara.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/protocols/manchester");

extern "C" {

int manchester_decode(uint16_t *buf, int len, uint32_t bit_count, uint32_t *bits, uint32_t *bits_collected,
                      int T, int T2) {
  *bits_collected = 0;
  if (bit_count == 0 || len <= 0) return 0;
  const int threshold = (T + T2) >> 1;
  int i = 0;
  uint32_t local = 0;
  for (;;) {
    // A lone half-bit at the very end is not a bit.
    if (i == len - 1 && i % 2 == 0 && buf[i] < threshold) return i;
    ++*bits_collected;
    ++local;
    const uint32_t prev = *bits & 1u;
    if (buf[i] <= threshold) {
      // Two half-bits: no transition at the boundary, same value as before.
      *bits = (*bits << 1) | prev;
      i += 2;
    } else {
      // A full-bit interval spans a boundary: the value flips.
      *bits = (*bits << 1) | (prev ^ 1u);
      i += 1;
    }
    if (local >= bit_count) return i < len ? i : len;
    if (i >= len) return len;
  }
}

void compress_times(int32_t *times, int tlen, uint16_t *buf, uint16_t *len) {
  *len = 0;
  if (tlen <= 0) {
    buf[(*len)++] = static_cast<uint16_t>(times[0]);
    return;
  }
  int i = 0;
  while (i < tlen - 1 && times[i] < 0) ++i;  // a frame starts with a mark
  auto magnitude = [](int32_t v) { return static_cast<uint32_t>(v < 0 ? -static_cast<int64_t>(v) : v); };
  if (i == tlen - 1) {
    buf[(*len)++] = static_cast<uint16_t>(magnitude(times[i]));
    return;
  }
  bool mark = times[i] >= 0;
  uint32_t sum = magnitude(times[i]);
  for (++i; i < tlen; ++i) {
    const bool m = times[i] >= 0;
    if (m != mark) {
      buf[(*len)++] = static_cast<uint16_t>(sum);
      sum = 0;
      mark = m;
    }
    sum += magnitude(times[i]);
  }
  buf[(*len)++] = static_cast<uint16_t>(sum);
}

void encode_manchester(uint32_t value, int numBits, int pulseWidth, uint16_t *buf, uint16_t *len) {
  int32_t times[256];
  memset(times, 0, sizeof(times));
  *len = 0;
  const int n = numBits > 32 ? 32 : numBits;
  int t = 0;
  for (int b = n - 1; b >= 0; --b) {
    if ((value >> b) & 1u) {
      times[t++] = pulseWidth;
      times[t++] = -pulseWidth;
    } else {
      times[t++] = -pulseWidth;
      times[t++] = pulseWidth;
    }
  }
  compress_times(times, t, buf, len);
}

}  // extern "C"
