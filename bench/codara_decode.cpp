// Full decode path (all default analyzers, handler lookup, hash, Pronto) for
// captures of typical lengths; also counts heap allocations inside the loop.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <vector>

#include "codara/codara.h"
#include "codara/logging.h"

namespace {
std::atomic<long> g_allocs{0};
}

// Counts every malloc of the process while forwarding to the C library.
extern "C" void *__libc_malloc(size_t n);
extern "C" void *malloc(size_t n) noexcept {
  g_allocs.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(n);
}

namespace {

std::vector<uint16_t> capture(int edges) {
  switch (edges) {
    case 3:  // NEC repeat frame
      return {9000, 2250, 560};
    case 25: {  // Sony 12-bit
      std::vector<uint16_t> e{2400, 600};
      for (int b = 0; b < 12; ++b) {
        e.push_back(b % 3 ? 600 : 1200);
        if (b < 11) e.push_back(600);
      }
      return e;
    }
    case 67: {  // NEC 32-bit
      std::vector<uint16_t> e{9000, 4500};
      for (int b = 0; b < 32; ++b) {
        e.push_back(560);
        e.push_back((0xF708FB04u >> b) & 1 ? 1690 : 560);
      }
      e.push_back(560);
      return e;
    }
    default: {  // 99: Panasonic 48-bit: maker 0x02 0x20, D 0x12, S 0x34, F 0x56, check
      constexpr uint64_t bits = 0x02ull | 0x20ull << 8 | 0x12ull << 16 | 0x34ull << 24 | 0x56ull << 32 |
                                uint64_t{0x12 ^ 0x34 ^ 0x56} << 40;
      std::vector<uint16_t> e{3600, 1600};
      for (int b = 0; b < 48; ++b) {
        e.push_back(445);
        e.push_back((bits >> b) & 1 ? 1335 : 445);
      }
      e.push_back(400);
      return e;
    }
  }
}

void BM_DecodePacket(benchmark::State &state) {
  const int edges = static_cast<int>(state.range(0));
  const auto e = capture(edges);
  ir_packet pk{};
  std::copy(e.begin(), e.end(), pk.buf);
  pk.len = static_cast<uint16_t>(e.size());
  pk.elapsed = 200;
  ir_prot p{};
  // Callers silence the log around work that is expected to warn (an unknown
  // signal logs one W line per decode).
  const int level = get_loglevel();
  set_loglevel(0);
  ir_decode_packet(&pk, &p);  // one-time registration outside the timing
  const long before = g_allocs.load();
  for (auto _ : state) {
    benchmark::DoNotOptimize(ir_decode_packet(&pk, &p));
    benchmark::ClobberMemory();
  }
  const long allocs = g_allocs.load() - before;
  set_loglevel(level);
  state.counters["decodes_per_s"] = benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["s_per_edge"] =
      benchmark::Counter(edges, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["allocs"] = static_cast<double>(allocs);
  state.SetLabel(enum_to_str(static_cast<rc_proto>(p.protocol)));
}

}  // namespace

BENCHMARK(BM_DecodePacket)->Arg(3)->Arg(25)->Arg(67)->Arg(99);
