// Helpers of the extended protocol codecs.
#include "libcodara/protocols/frames.h"

#include <cstdlib>

#include "libcodara/util.h"

namespace codara::frames {

bool near(uint16_t t, uint16_t nominal) {
  return std::abs(static_cast<int>(t) - nominal) * 100 <= static_cast<int>(nominal) * kTolerancePct;
}

int nearest(uint16_t t, const uint16_t *nominals, int count) {
  int best = -1;
  int best_dist = 0;
  for (int k = 0; k < count; ++k) {
    const int d = std::abs(static_cast<int>(t) - nominals[k]);
    if (best < 0 || d < best_dist) {
      best = k;
      best_dist = d;
    }
  }
  return best >= 0 && near(t, nominals[best]) ? best : -1;
}

void Units::add(bool mark, int n) {
  for (int k = 0; k < n && count < static_cast<int>(sizeof level); ++k) level[count++] = mark ? 1 : 0;
}

bool add_edges(Units &u, const uint16_t *buf, int from, int to, bool mark_first, uint16_t unit, int max_run,
               uint16_t *cleaned) {
  for (int i = from; i < to; ++i) {
    const int runs = (buf[i] + unit / 2) / unit;
    if (runs < 1 || runs > max_run) return false;
    cleaned[i] = static_cast<uint16_t>(runs * unit);
    u.add(((i - from) % 2 == 0) == mark_first, runs);
  }
  return true;
}

bool read_pulse_bits(const uint16_t *buf, int from, int nbits, const PulseShape &shape, uint64_t &bits,
                     uint16_t *cleaned) {
  const uint16_t spaces[2] = {shape.zero, shape.one};
  bits = 0;
  for (int k = 0; k < nbits; ++k) {
    const int m = from + 2 * k, s = m + 1;
    if (!near(buf[m], shape.mark)) return false;
    const int bit = nearest(buf[s], spaces, 2);
    if (bit < 0) return false;
    cleaned[m] = shape.mark;
    cleaned[s] = spaces[bit];
    bits |= static_cast<uint64_t>(bit) << k;
  }
  return true;
}

bool read_biphase(const Units &u, int at, int nbits, bool one_mark_first, uint32_t &value) {
  auto level = [&u](int k) { return k < u.count ? u.level[k] : 0; };
  value = 0;
  for (int b = 0; b < nbits; ++b) {
    const int first = level(at + 2 * b), second = level(at + 2 * b + 1);
    if (first == second) return false;
    value = (value << 1) | ((first == 1) == one_mark_first ? 1u : 0u);
  }
  return true;
}

void Builder::add(bool is_mark, uint32_t us) {
  if (!have) {
    if (!is_mark) return;  // a frame starts with a mark
    *len = 0;
    buf[0] = 0;
    have = true;
    mark = true;
  } else if (is_mark != mark) {
    ++*len;
    buf[*len] = 0;
    mark = is_mark;
  }
  buf[*len] = static_cast<uint16_t>(buf[*len] + us);
}

void Builder::biphase(uint32_t value, int nbits, bool one_mark_first, uint16_t unit) {
  for (int b = nbits - 1; b >= 0; --b) {
    const bool first_mark = (((value >> b) & 1) != 0) == one_mark_first;
    add(first_mark, unit);
    add(!first_mark, unit);
  }
}

void Builder::pulse_bits(uint64_t bits, int nbits, const PulseShape &shape) {
  for (int k = 0; k < nbits; ++k) {
    add(true, shape.mark);
    add(false, ((bits >> k) & 1) ? shape.one : shape.zero);
  }
}

void Builder::done() {
  if (!have) {
    *len = 0;
    return;
  }
  // Count the edge being built; a closing space is not part of a frame.
  *len = static_cast<uint16_t>(*len + (mark ? 1 : 0));
}

uint16_t gap_for_period(const uint16_t *buf, int n, uint16_t period_ms) {
  uint32_t us = 0;
  for (int i = 0; i < n; ++i) us += buf[i];
  const uint32_t frame_ms = (us + 999) / 1000;
  return static_cast<uint16_t>(frame_ms < period_ms ? period_ms - frame_ms : 0);
}

void finish(ir_prot *p, int n, uint16_t max_edge, uint16_t gap_ms) {
  p->len = static_cast<uint16_t>(n);
  store_key_gap(p->buf, IR_MAX_EDGES, n, gap_ms);
  // ir_hash needs a short and a long edge among edges 1..n-1; a frame of all-alike
  // bits has none, and hashes as the same letters would: gaps G, the rest S.
  bool alike = true;
  uint16_t seen = 0;
  for (int i = 1; i < n && alike; ++i) {
    if (p->buf[i] > max_edge) continue;
    alike = seen == 0 || p->buf[i] == seen;
    seen = p->buf[i];
  }
  if (!alike || n < 2) {
    p->hash = ir_hash(p->buf, static_cast<size_t>(n), max_edge);
    return;
  }
  uint32_t h = 5381;
  for (int i = 0; i < n; ++i) h = h * 33 + (p->buf[i] > max_edge ? 'G' : 'S');
  p->hash = h;
}

int transmit_encoded(LogSite site, Encoder encode, rc_proto protocol, uint32_t scancode, int rep) {
  ir_packet frame{};
  encode(protocol, scancode, &frame);
  return send_key(site, frame.buf, frame.len, frame.elapsed, device_repeat(rep));
}

uint32_t reversed(uint32_t v, int nbits) {
  uint32_t r = 0;
  for (int k = 0; k < nbits; ++k) r |= ((v >> k) & 1u) << (nbits - 1 - k);
  return r;
}

}  // namespace codara::frames
