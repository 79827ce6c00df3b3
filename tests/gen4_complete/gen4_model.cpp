// Command processor of a simulated generation-4 dongle.
#include "gen4_model.h"

#include <cstring>
#include <map>

#include "codara/codara.h"
#include "dongle.h"
#include "zivra/crc.h"

namespace gen4t {
namespace {

// First revision that answers each command word.
const std::map<std::string, int> kSince = {
    {"ir_state", 0},   {"clearstate", 0}, {"record", 0},     {"delete", 0},    {"format", 0},
    {"bflag", 0},      {"bflag_stay", 0}, {"reset", 0},      {"getversion", 0}, {"h_peek", 0},
    {"dmesg_pkv", 0},  {"cfg1_peek", 0},  {"cfg1_poke", 0},  {"cfg1_size", 0}, {"cfg1_read", 0},
    {"updatecrc", 0},  {"debug_pipe", 0}, {"irtranset", 2},  {"irtransraw", 2}, {"cfg1_write", 3},
    {"record_lp", 4},  {"record_m", 4},   {"versionx", 5},   {"irhist", 5},    {"record_t", 6},
    {"usb_if", 6},     {"irtranskil", 8}, {"rbget", 8},      {"rbset", 8},     {"rbsetlen", 8},
    {"rbwakesig", 8},
};

constexpr size_t kMaxRecords = 200;
constexpr uint16_t kHashMaxEdge = 2400;

uint32_t rd32(const uint8_t *p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
void wr32(uint8_t *p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

Gen4Model::Gen4Model(int m) : minor(m) { image = make_image({}); }

bool Gen4Model::answers(const std::string &cmd) const {
  auto it = kSince.find(cmd);
  return it != kSince.end() && it->second <= minor;
}

void Gen4Model::seal() {
  if (image.size() < 16) return;
  wr32(image.data() + 12, crc32_slow(image.data() + 16, static_cast<uint32_t>(image.size() - 16), 0xFFFFFFFF));
}

std::vector<uint8_t> Gen4Model::command(const uint8_t *pkt, unsigned size) {
  std::vector<uint8_t> reply(pkt, pkt + 12);
  reply.resize(size, 0);
  const unsigned plen = size - 12;
  const uint8_t *in = pkt + 12;
  uint8_t *out = reply.data() + 12;
  std::string cmd(reinterpret_cast<const char *>(pkt), strnlen(reinterpret_cast<const char *>(pkt), 11));
  if (trace != nullptr) trace->push_back(Exchange{cmd, size, std::vector<uint8_t>(in, in + plen)});
  for (auto it = failures.begin(); it != failures.end(); ++it) {
    if (it->first != cmd) continue;
    if (--it->second == 0) {
      failures.erase(it);
      reply[11] = 0xFF;
      return reply;
    }
  }
  if (!answers(cmd)) {
    reply[11] = 0xFE;
    return reply;
  }
  if (cmd == "ir_state") {
    out[0] = static_cast<uint8_t>(state);
  } else if (cmd == "clearstate") {
    state = 0;
  } else if (cmd == "record" || cmd == "record_lp" || cmd == "record_m" || cmd == "record_t") {
    if (cmd != "record_t") memcpy(pending_, in, 3);
    pending_lp_ = cmd == "record_lp";
    state = 1;
  } else if (cmd == "delete") {
    state = 2;
  } else if (cmd == "format") {
    image = make_image({});
  } else if (cmd == "getversion") {
    const uint16_t v[3] = {4, static_cast<uint16_t>(minor), 0};
    memcpy(out, v, 6);
    wr32(out + 6, 0x1234ABCD);
    strcpy(reinterpret_cast<char *>(out + 10), "release");
  } else if (cmd == "dmesg_pkv") {
    const char *text = "sim: log of a simulated dongle, long enough to be cut";
    strncpy(reinterpret_cast<char *>(out), text, plen);
  } else if (cmd == "cfg1_peek") {
    uint32_t a = rd32(in);
    out[0] = a < image.size() ? image[a] : 0xFF;
  } else if (cmd == "cfg1_poke") {
    uint32_t a = rd32(in);
    if (a >= image.size()) image.resize(a + 1, 0xFF);
    image[a] = in[4];
  } else if (cmd == "cfg1_size") {
    wr32(out, size_override ? reported_size : static_cast<uint32_t>(image.size()));
  } else if (cmd == "cfg1_read") {
    uint32_t a = rd32(in), n = rd32(in + 4);
    if (n > plen) {
      reply[11] = 0xFF;
    } else {
      for (uint32_t i = 0; i < n; ++i) out[i] = a + i < image.size() ? image[a + i] : 0xFF;
    }
  } else if (cmd == "cfg1_write") {
    uint32_t a = rd32(in);
    uint8_t n = in[4];
    if (n > size - 17) {
      reply[11] = 0xFF;
    } else {
      if (a + n > image.size()) image.resize(a + n, 0xFF);
      memcpy(image.data() + a, in + 5, n);
    }
  } else if (cmd == "updatecrc") {
    seal();
  } else if (cmd == "debug_pipe") {
    out[0] = 1;
  } else if (cmd == "irtranset") {
    Setting s;
    memcpy(&s.len, in, 2);
    memcpy(&s.ik, in + 2, 2);
    s.repeat = in[4];
    if (minor < 7) s.ik = 0, s.repeat = 0;  // not part of this revision's request
    settings.push_back(s);
    if (minor >= 10 && transmitting) {
      wr32(out, 0);
    } else {
      out[0] = 1;
      upload_.clear();
      upload_want_ = 2u * static_cast<uint16_t>(s.len);
    }
  } else if (cmd == "irtransraw") {
    size_t n = upload_want_ - upload_.size();
    if (n > plen) n = plen;
    upload_.insert(upload_.end(), in, in + n);
    if (n > 0 && upload_.size() == upload_want_) {
      std::vector<uint16_t> sig(upload_want_ / 2);
      memcpy(sig.data(), upload_.data(), upload_want_);
      transmitted.push_back(sig);
      upload_want_ = 0;
      upload_.clear();
      if (loopback) receive(loopback_filter ? loopback_filter(sig) : sig, 0);
    }
  } else if (cmd == "versionx") {
    strcpy(reinterpret_cast<char *>(out), "main");
    strcpy(reinterpret_cast<char *>(out + 13), "clean");
  } else if (cmd == "irhist") {
    wr32(out, last_hash);
  } else if (cmd == "irtranskil") {
    ++kills;
    transmitting = false;
  } else if (cmd == "rbget") {
    wr32(out, wake_en);
    out[16] = high_add;
    out[17] = low_add;
  } else if (cmd == "rbset") {
    wake_en = rd32(in);
    high_add = in[16];
    low_add = in[17];
  } else if (cmd == "rbsetlen") {
    wake_want_ = 2u * static_cast<uint16_t>(in[0] | in[1] << 8);
    wake_upload_.clear();
    wake.clear();
  } else if (cmd == "rbwakesig") {
    size_t n = wake_want_ - wake_upload_.size();
    if (n > plen) n = plen;
    wake_upload_.insert(wake_upload_.end(), in, in + n);
    if (wake_upload_.size() == wake_want_) {
      wake.resize(wake_want_ / 2);
      memcpy(wake.data(), wake_upload_.data(), wake_want_);
    }
  }
  return reply;
}

void Gen4Model::receive(const std::vector<uint16_t> &edges, uint16_t elapsed_ms) {
  if (minor >= 9) stream(edges, elapsed_ms);
  std::vector<uint16_t> e = edges;
  uint32_t hash = e.size() > 255 ? 0 : ir_hash(e.data(), e.size(), kHashMaxEdge);
  if (hash == 0) return;  // not a signal the receiver can tell apart
  last_hash = hash;
  if (image.size() < 28) return;
  size_t count = rd32(image.data() + 8);
  if (count > (image.size() - 28) / 16) count = (image.size() - 28) / 16;
  size_t found = count;
  for (size_t k = 0; k < count; ++k)
    if (rd32(image.data() + 28 + 16 * k) == hash) found = k;
  if (state == 1) {
    if (found < count) {
      state = 5;
      return;
    }
    if (count >= kMaxRecords) {
      state = 4;
      return;
    }
    image.resize(28 + 16 * (count + 1));
    uint8_t *r = image.data() + 28 + 16 * count;
    wr32(r, hash);
    wr32(r + 4, 300);  // the timing the receiver measured
    wr32(r + 8, 0xFFFFFFFF);
    r[12] = pending_lp_ ? 1 : 0xFF;
    memcpy(r + 13, pending_, 3);
    wr32(image.data() + 8, static_cast<uint32_t>(count + 1));
    seal();
    state = 3;
  } else if (state == 2) {
    if (found == count) {
      state = 6;
      return;
    }
    image.erase(image.begin() + 28 + 16 * found, image.begin() + 28 + 16 * (found + 1));
    wr32(image.data() + 8, static_cast<uint32_t>(count - 1));
    seal();
    state = 3;
  }
}

void Gen4Model::stream(const std::vector<uint16_t> &edges, uint16_t elapsed_ms) {
  // First report: sof 0, elapsed, 30 durations; continuations: a non-zero
  // marker byte, 31 durations; a 0 duration ends the capture.
  std::vector<uint16_t> all = edges;
  all.push_back(0);
  size_t i = 0;
  bool first = true;
  while (i < all.size()) {
    std::vector<uint8_t> r(65, 0);
    r[0] = 7;
    size_t at, slots;
    if (first) {
      r[3] = static_cast<uint8_t>(elapsed_ms);
      r[4] = static_cast<uint8_t>(elapsed_ms >> 8);
      at = 5;
      slots = 30;
    } else {
      r[1] = 0x80;
      at = 2;
      slots = 31;
    }
    for (size_t s = 0; s < slots && i < all.size(); ++s, ++i) {
      r[at + 2 * s] = static_cast<uint8_t>(all[i]);
      r[at + 2 * s + 1] = static_cast<uint8_t>(all[i] >> 8);
    }
    reports.push_back(r);
    first = false;
  }
}

}  // namespace gen4t
