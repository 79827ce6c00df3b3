// Pronto learned-code form of a decoded result.
#include <cstring>

#include "codara/codara.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/pronto");

namespace {

// Writes stop at the end of the pronto array; a form that does not fit is cut.
// The count lives here while writing and goes back to the record at the end.
struct pronto_writer {
  ir_prot *ir;
  uint16_t len = ir->pronto_len;
  bool cut = false;  // something did not fit
  void put(uint32_t word) {
    if (len < IR_MAX_EDGES)
      ir->pronto[len++] = static_cast<uint16_t>(word);
    else
      cut = true;
  }
  // Each edge in carrier periods, as many as fit.
  void put_edges(const uint16_t *edges, uint16_t count, uint16_t unit) {
    const uint16_t fit = len < IR_MAX_EDGES ? static_cast<uint16_t>(IR_MAX_EDGES - len) : 0;
    const uint16_t m = count < fit ? count : fit;
    cut = cut || m < count;
    uint16_t *out = ir->pronto + len;
    for (uint16_t i = 0; i < m; ++i) out[i] = static_cast<uint16_t>(edges[i] / unit);
    len = static_cast<uint16_t>(len + m);
  }
  ~pronto_writer() { ir->pronto_len = len; }
};

constexpr uint16_t kUnitUs = 26;  // one period of the ~38 kHz carrier

bool has_nec_repeat(rc_proto p) {
  return p == RC_PROTO_NEC || p == RC_PROTO_NEC32 || p == RC_PROTO_NEC_APPLE;
}

// A form cut at the array's end announces the burst pairs actually written, so a
// reader that trusts its header stays inside it; a half pair left over is dropped.
void announce_written(pronto_writer &w, uint16_t start) {
  ir_prot *ir = w.ir;
  if (!w.cut || start + 4 > IR_MAX_EDGES) return;  // whole, or not even a whole header
  const uint32_t once = ir->pronto[start + 2], rep = ir->pronto[start + 3];
  const uint32_t words = static_cast<uint32_t>(w.len - start - 4);
  if (words >= 2 * (once + rep)) return;
  const uint32_t once_written = words / 2 < once ? words / 2 : once;
  const uint32_t rep_written = once_written < once ? 0 : (words - 2 * once) / 2;
  ir->pronto[start + 2] = static_cast<uint16_t>(once_written);
  ir->pronto[start + 3] = static_cast<uint16_t>(rep_written);
  w.len = static_cast<uint16_t>(start + 4 + 2 * (once_written + rep_written));
}

}  // namespace

extern "C" void pronto_encode(struct ir_prot *ir, uint16_t ik_delay) {
  const uint16_t start = ir->pronto_len;
  // Pronto pairs each mark with the space after it and closes the sequence with
  // the gap: a frame that ends in a space has that space run into the gap, so
  // the burst pairs announced are the words written.
  const uint16_t n = ir->len % 2 == 0 && ir->len > 0 ? static_cast<uint16_t>(ir->len - 1) : ir->len;
  const bool nec = has_nec_repeat(ir->protocol);
  // Learned code, frequency word (~38 kHz), burst pairs sent once, then repeated.
  const uint16_t head[4] = {0, 109, static_cast<uint16_t>(n / 2 + 1), static_cast<uint16_t>(nec ? 2 : 0)};
  // After the edges the gap; NEC adds its repeat frame and the repeat's gap.
  uint16_t tail[5] = {1521, 342, 86, 21, 3658};
  const uint16_t tail_len = nec ? 5 : 1;
  if (!nec) {
    if (ik_delay == 0) LOGI("ik_delay = 0");
    tail[0] = ik_delay != 0 ? static_cast<uint16_t>(ik_delay * 1000 / kUnitUs) : 1923;  // 50 ms
  }
  if (start + 4 + n + tail_len <= IR_MAX_EDGES) {
    // The usual case: the whole form fits, written without a check per word.
    uint16_t *out = ir->pronto + start;
    memcpy(out, head, sizeof head);
    for (uint16_t i = 0; i < n; ++i) out[4 + i] = static_cast<uint16_t>(ir->buf[i] / kUnitUs);
    out[4 + n] = tail[0];
    if (nec) memcpy(out + 5 + n, tail + 1, 4 * sizeof tail[0]);
    ir->pronto_len = static_cast<uint16_t>(start + 4 + n + tail_len);
    return;
  }
  pronto_writer w{ir};
  for (uint16_t word : head) w.put(word);
  w.put_edges(ir->buf, n < IR_MAX_EDGES ? n : IR_MAX_EDGES, kUnitUs);
  for (uint16_t i = 0; i < tail_len; ++i) w.put(tail[i]);
  announce_written(w, start);
}
