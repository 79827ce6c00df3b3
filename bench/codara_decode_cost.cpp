// Decodes one row of the decode benchmark's captures (default: the mixed corpus) a
// fixed number of times and prints how many frames it decoded, for counting the
// instructions of ir_decode_packet under callgrind (scripts/decode-cost.sh).
//   bench_codara_decode_cost [ROW [LEVEL [extended]]]
// "extended" registers the extended protocols first, as the tools do.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench/codara_decode_corpus.h"
#include "codara/codara.h"
#include "codara/logging.h"

int main(int argc, char **argv) {
  const char *want = argc > 1 ? argv[1] : "mixed";
  const int level = argc > 2 ? std::atoi(argv[2]) : 0;
  if (argc > 3 && std::strcmp(argv[3], "extended") == 0) codara_register_extended();
  for (const auto &row : decode_bench::rows()) {
    if (row.name != want) continue;
    std::vector<ir_packet> packets;
    for (const auto &f : row.frames) packets.push_back(decode_bench::packet(f));
    ir_prot p{};  // building the rows encoded, so registration is already done
    FILE *devnull = std::fopen("/dev/null", "w");
    for (auto &f : logfds) f = devnull;
    set_loglevel(level);
    // Enough frames that one-off costs vanish; every row decodes the same number.
    const size_t frames = 4000;
    for (size_t i = 0; i < frames; ++i) ir_decode_packet(&packets[i % packets.size()], &p);
    std::printf("frames %zu\n", frames);
    return 0;
  }
  std::fprintf(stderr, "no row named %s\n", want);
  return 2;
}
