// Saving and loading a full 1 000-button configuration at each revision's block
// size: exchanges, simulated wall time (1 ms per report each way) and the
// CPU time per exchange: on the host in all (library, sim and dongle model)
// and the library's own share (the sim's time subtracted).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

#include "zivra/logging.h"

// The fixture of the generation-4 tests: a sim dongle of one revision.
#include "tests/gen4_complete/dongle.cpp"

namespace {

double cpu_seconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

// Progress bars go to standard output; keep them out of the report.
struct QuietStdout {
  QuietStdout() : saved(dup(1)) {
    fflush(stdout);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
  }
  ~QuietStdout() {
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
  }
  int saved;
};

std::vector<uint32_t> thousand() { return std::vector<uint32_t>(1000, 300); }

void run(benchmark::State &state, bool save) {
  const int minor = static_cast<int>(state.range(0));
  set_loglevel(0);
  gen4t::Dongle d(minor);
  zivra_sim::set_report_us(1000);
  zivra_sim::set_cpu_accounting(true);
  auto img = gen4t::make_image(thousand());
  std::string path = gen4t::temp_path("bench_" + std::to_string(minor) + ".cfg");
  gen4t::write_file(path, img);
  d.set_image(img);
  size_t exchanges = 0;
  uint64_t sim_us = 0;
  double cpu = 0, sim_cpu = 0;
  for (auto _ : state) {
    d.clear_trace();
    uint64_t t0 = gen4t::sim_now_us();
    double c0 = cpu_seconds();
    uint64_t s0 = zivra_sim::sim_cpu_ns();
    int rc;
    {
      QuietStdout q;
      rc = save ? zv_save_config(path.c_str()) : zv_load_config(path.c_str());
    }
    cpu += cpu_seconds() - c0;
    sim_cpu += static_cast<double>(zivra_sim::sim_cpu_ns() - s0) / 1e9;
    sim_us += gen4t::sim_now_us() - t0;
    exchanges += d.trace().size();
    if (rc != 0) state.SkipWithError("transfer failed");
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["exchanges"] = static_cast<double>(exchanges) / n;
  state.counters["sim_ms"] = static_cast<double>(sim_us) / n / 1000.0;
  const double ex = exchanges ? static_cast<double>(exchanges) : 1;
  state.counters["cpu_us_per_exchange"] = cpu * 1e6 / ex;
  state.counters["lib_us_per_exchange"] = (cpu - sim_cpu) * 1e6 / ex;
  state.counters["image_bytes"] = static_cast<double>(img.size());
  remove(path.c_str());
}

void BM_SaveConfig(benchmark::State &state) { run(state, true); }
void BM_LoadConfig(benchmark::State &state) { run(state, false); }

// 4.0: 15-byte reads, byte-wise loading; 4.3: 15-byte blocks; 4.5: 47-byte blocks.
BENCHMARK(BM_SaveConfig)->Arg(0)->Arg(3)->Arg(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadConfig)->Arg(0)->Arg(3)->Arg(5)->Unit(benchmark::kMillisecond);

}  // namespace
