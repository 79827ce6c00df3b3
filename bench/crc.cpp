// Throughput of the bit-by-bit 32-bit CRC over a 64 KiB buffer (bytes/s).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "zivra/crc.h"

namespace {

void BM_crc32_slow_64k(benchmark::State &state) {
  std::vector<uint8_t> buf(64 * 1024);
  uint32_t x = 1;
  for (auto &b : buf) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
  for (auto _ : state) {
    uint32_t crc = crc32_slow(buf.data(), static_cast<uint32_t>(buf.size()), 0xFFFFFFFF);
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(buf.size()));
}
BENCHMARK(BM_crc32_slow_64k);

}  // namespace
