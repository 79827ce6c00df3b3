// Full decode path (all default analyzers, handler lookup, hash, Pronto) for each
// row of the comparison table and for the mixed corpus; also counts heap
// allocations inside the loop, which must stay zero.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <vector>

#include "bench/codara_decode_corpus.h"
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

// One decode per iteration; a row of several frames is decoded round-robin.
void BM_Decode(benchmark::State &state, const decode_bench::Row &row) {
  std::vector<ir_packet> packets;
  size_t edges = 0;
  for (const auto &f : row.frames) {
    packets.push_back(decode_bench::packet(f));
    edges += f.edges.size();
  }
  ir_prot p{};
  // Callers silence the log around work that is expected to warn (an unknown
  // signal logs one W line per decode).
  const int level = get_loglevel();
  set_loglevel(0);
  ir_decode_packet(&packets[0], &p);  // one-time registration outside the timing
  const long before = g_allocs.load();
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ir_decode_packet(&packets[i], &p));
    benchmark::ClobberMemory();
    if (++i == packets.size()) i = 0;
  }
  const long allocs = g_allocs.load() - before;
  set_loglevel(level);
  state.counters["edges"] = static_cast<double>(edges) / static_cast<double>(packets.size());
  state.counters["allocs"] = static_cast<double>(allocs);
  if (packets.size() == 1) state.SetLabel(enum_to_str(static_cast<rc_proto>(p.protocol)));
}

// The rows are built after main starts: building them encodes through the library.
const bool registered = [] {
  static const std::vector<decode_bench::Row> rows = decode_bench::rows();
  for (const auto &row : rows) benchmark::RegisterBenchmark(("BM_Decode/" + row.name).c_str(), BM_Decode, row);
  return true;
}();

}  // namespace
