// Feeds arbitrary text through the capture parsers and every capture they accept through the
// decoder; then takes the same bytes as a raw edge list, so the decoders also meet captures
// no text format would produce. Any sanitizer report or broken invariant is a finding.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "capture_formats.h"
#include "codara/codara.h"
#include "codara/logging.h"

namespace {

void decode(const uint16_t *edges, std::size_t n, uint16_t elapsed) {
  ir_packet pkt{};
  std::memcpy(pkt.buf, edges, n * sizeof *edges);
  pkt.len = uint16_t(n);
  pkt.elapsed = elapsed;
  ir_prot p{};
  int rc = ir_decode_packet(&pkt, &p);
  if (rc >= 0 && (p.len > IR_MAX_EDGES || p.pronto_len > IR_MAX_EDGES)) std::abort();
  if (rc == RC_PROTO_INVALID && p.hash != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  static const bool quiet = [] {
    set_loglevel(0);
    return true;
  }();
  (void)quiet;

  std::string_view text(reinterpret_cast<const char *>(data), size);
  for (const codara_cli::Capture &c : codara_cli::parse_captures(text)) {
    if (!c.error.empty()) {
      if (!c.edges.empty()) std::abort();
      continue;
    }
    if (c.edges.empty() || c.edges.size() > codara_cli::kMaxEdges || c.edges.size() % 2 == 0) std::abort();
    for (uint16_t e : c.edges)
      if (e == 0 || e > codara_cli::kMaxEdgeUs) std::abort();
    decode(c.edges.data(), c.edges.size(), codara_cli::elapsed_ms(c));
  }

  // The bytes as little-endian edges, each folded into the range the decoder accepts.
  uint16_t edges[IR_MAX_EDGES];
  std::size_t n = 0;
  for (std::size_t i = 2; i + 1 < size && n < IR_MAX_EDGES; i += 2)
    edges[n++] = uint16_t((data[i] | data[i + 1] << 8) % (codara_cli::kMaxEdgeUs + 1));
  if (size >= 2) decode(edges, n, uint16_t(data[0] | data[1] << 8));
  return 0;
}
