// Decodes per second of each protocol's frame through the whole decode path (all
// default analyzers, the handler, the hash check and the Pronto form), and encodes
// per second of the protocols that encode.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "codara/codara.h"

namespace {

ir_packet frame_of(rc_proto proto, uint32_t scancode) {
  ir_packet pkt{};
  ir_encode(proto, scancode, &pkt);
  // A receiver does not see the space after the last mark.
  if (pkt.len % 2 == 0) --pkt.len;
  pkt.elapsed = 100;
  return pkt;
}

// XMP does not encode: 16 nibbles by their nominal timing.
ir_packet xmp_frame() {
  ir_packet pkt{};
  const int nib[16] = {1, 5, 2, 0, 4, 4, 5, 11, 1, 9, 0, 2, 3, 12, 7, 14};
  uint16_t n = 0;
  for (int k = 0; k < 16; ++k) {
    if (k == 8) {
      pkt.buf[n++] = 210;
      pkt.buf[n++] = 13800;
    }
    pkt.buf[n++] = 210;
    pkt.buf[n++] = static_cast<uint16_t>(760 + 136 * nib[k]);
  }
  pkt.buf[n++] = 210;
  pkt.len = n;
  pkt.elapsed = 100;
  return pkt;
}

void decode_frame(benchmark::State &state, ir_packet pkt, int want) {
  ir_prot p;
  if (ir_decode_packet(&pkt, &p) != want) {
    state.SkipWithError("frame does not decode as expected");
    return;
  }
  for (auto _ : state) {
    int rc = ir_decode_packet(&pkt, &p);
    benchmark::DoNotOptimize(rc);
    benchmark::DoNotOptimize(p.hash);
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["edges"] = pkt.len;
}

void BM_DecodeNec(benchmark::State &s) { decode_frame(s, frame_of(RC_PROTO_NEC, 0xF708FB04), RC_PROTO_NEC32); }
void BM_DecodeRc5(benchmark::State &s) { decode_frame(s, frame_of(RC_PROTO_RC5, 0x0535), RC_PROTO_RC5); }
void BM_DecodeRc6(benchmark::State &s) { decode_frame(s, frame_of(RC_PROTO_RC6_0, 0x800C), RC_PROTO_RC6_0); }
void BM_DecodeSony12(benchmark::State &s) {
  decode_frame(s, frame_of(RC_PROTO_SONY12, 0x15u << 20 | 0x01u << 27), RC_PROTO_SONY12);
}
void BM_DecodeSony20(benchmark::State &s) {
  decode_frame(s, frame_of(RC_PROTO_SONY20, 0x39u << 12 | 0x1Au << 19 | 0xC3u << 24), RC_PROTO_SONY20);
}
void BM_DecodePanasonic(benchmark::State &s) {
  decode_frame(s, frame_of(RC_PROTO_PANASONIC, 0x00BD3D80), RC_PROTO_PANASONIC);
}
void BM_DecodeXmp(benchmark::State &s) { decode_frame(s, xmp_frame(), RC_PROTO_XMP); }
void BM_DecodeZivra(benchmark::State &s) { decode_frame(s, frame_of(RC_PROTO_ZIVRA, 0x2A135), RC_PROTO_ZIVRA); }
void BM_DecodeNecRepeat(benchmark::State &s) {
  ir_packet pkt{};
  pkt.buf[0] = 9000;
  pkt.buf[1] = 2250;
  pkt.buf[2] = 560;
  pkt.len = 3;
  pkt.elapsed = 100;
  decode_frame(s, pkt, RC_PROTO_NEC_REPEAT);
}

BENCHMARK(BM_DecodeNec);
BENCHMARK(BM_DecodeNecRepeat);
BENCHMARK(BM_DecodeRc5);
BENCHMARK(BM_DecodeRc6);
BENCHMARK(BM_DecodeSony12);
BENCHMARK(BM_DecodeSony20);
BENCHMARK(BM_DecodePanasonic);
BENCHMARK(BM_DecodeXmp);
BENCHMARK(BM_DecodeZivra);

void BM_Encode(benchmark::State &state) {
  const auto proto = static_cast<rc_proto>(state.range(0));
  ir_packet pkt{};
  uint32_t code = 0x2A135;
  for (auto _ : state) {
    ir_encode(proto, code++ & 0xFFFFF, &pkt);
    benchmark::DoNotOptimize(pkt.len);
  }
  state.SetItemsProcessed(state.iterations());
  state.SetLabel(enum_to_str(proto));
}
BENCHMARK(BM_Encode)
    ->Arg(RC_PROTO_NEC)
    ->Arg(RC_PROTO_RC5)
    ->Arg(RC_PROTO_RC6_0)
    ->Arg(RC_PROTO_SONY20)
    ->Arg(RC_PROTO_PANASONIC)
    ->Arg(RC_PROTO_ZIVRA);

}  // namespace
