// Generation-4 dongle model. The configuration image follows the current layout:
// header (magic, 1.0, record count, CRC), settings block, 16-byte button records.
#include "sim/model_gen4.h"

#include <cstring>

#include "codara/codara.h"
#include "zivra/crc.h"

namespace zivra_sim {

namespace {

constexpr size_t kHeader = 16;
constexpr size_t kRecords = 28;
constexpr size_t kRecord = 16;
constexpr uint16_t kMaxEdge = 2400;

void put32(uint8_t *p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t get32(const uint8_t *p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

Gen4Model::Gen4Model() {
  set_version(4, 0, 3);
  set_app_header(2, "ZIVRA-STD");
  image_.assign(kRecords, 0);
  put32(image_.data(), 0xDEADBEEF);
  image_[4] = 1;  // major 1, minor 0
  put32(image_.data() + 16, 0x3F);  // every built-in table on
  put32(image_.data() + 20, 15);
  put32(image_.data() + 12, image_crc());
}

void Gen4Model::set_version(uint16_t major, uint16_t minor, uint16_t patch, uint32_t scm_hash,
                            const std::string &type) {
  version_.assign(19, 0);
  version_[0] = major & 0xFF;
  version_[1] = major >> 8;
  version_[2] = minor & 0xFF;
  version_[3] = minor >> 8;
  version_[4] = patch & 0xFF;
  version_[5] = patch >> 8;
  put32(version_.data() + 6, scm_hash);
  memcpy(version_.data() + 10, type.data(), type.size() < 8 ? type.size() : 8);
}

void Gen4Model::set_app_header(uint32_t header_version, const std::string &name) {
  app_header_.assign(256, 0);
  put32(app_header_.data(), 0xBABECAFE);
  put32(app_header_.data() + 4, header_version);
  put32(app_header_.data() + 8, header_version == 1 ? 110 : 121);
  memcpy(app_header_.data() + 32, name.data(), name.size() < 30 ? name.size() : 30);
}

size_t Gen4Model::buttons() const { return get32(image_.data() + 8); }

uint32_t Gen4Model::button_hash(size_t k) const { return get32(image_.data() + kRecords + kRecord * k); }

uint32_t Gen4Model::image_crc() const {
  return crc32_slow(image_.data() + kHeader, static_cast<uint32_t>(image_.size() - kHeader), 0xFFFFFFFF);
}

bool Gen4Model::crc_valid() const { return get32(image_.data() + 12) == image_crc(); }

size_t Gen4Model::count(const std::string &word) const {
  size_t n = 0;
  for (const auto &c : commands_) n += c.word == word;
  return n;
}

void Gen4Model::set_size(uint32_t n) {
  put32(image_.data() + 8, n);
  image_.resize(kRecords + kRecord * n);
  put32(image_.data() + 12, image_crc());
}

int Gen4Model::find(uint32_t hash) const {
  for (size_t k = 0; k < buttons(); ++k)
    if (button_hash(k) == hash) return static_cast<int>(k);
  return -1;
}

void Gen4Model::record_button(uint32_t hash) {
  if (find(hash) >= 0) {
    state_ = 5;
    return;
  }
  if (buttons() >= capacity_) {
    state_ = 4;
    return;
  }
  size_t k = buttons();
  image_.resize(kRecords + kRecord * (k + 1));
  uint8_t *r = image_.data() + kRecords + kRecord * k;
  put32(r, hash);
  put32(r + 4, 130);
  put32(r + 8, 0xFFFFFFFF);
  r[12] = 0xFF;
  memcpy(r + 13, pending_, 3);
  set_size(static_cast<uint32_t>(k + 1));
  state_ = 3;
}

void Gen4Model::delete_button(uint32_t hash) {
  int k = find(hash);
  if (k < 0) {
    state_ = 6;
    return;
  }
  image_.erase(image_.begin() + kRecords + kRecord * k, image_.begin() + kRecords + kRecord * (k + 1));
  set_size(static_cast<uint32_t>(buttons() - 1));
  state_ = 3;
}

void Gen4Model::press_hash(uint32_t hash) {
  if (state_ == 1)
    record_button(hash);
  else if (state_ == 2)
    delete_button(hash);
}

void Gen4Model::press_edges(std::vector<uint16_t> edges) {
  press_hash(ir_hash(edges.data(), edges.size(), kMaxEdge));
}

void Gen4Model::on_command(Device &dev, const Command &c) {
  commands_.push_back(c);
  const uint8_t *p = c.payload();
  uint8_t out[52] = {};
  const std::string &w = c.word;
  if (w == "getversion") {
    reply(dev, c, 0, version_.data(), version_.size());
  } else if (w == "ir_state") {
    if (press_polls_ > 0 && --press_polls_ == 0) press_hash(press_hash_);
    out[0] = state_;
    reply(dev, c, 0, out, 1);
  } else if (w == "clearstate") {
    state_ = 0;
    reply(dev, c, 0);
  } else if (w == "record") {
    memcpy(pending_, p, 3);
    state_ = 1;
    reply(dev, c, 0);
  } else if (w == "delete") {
    state_ = 2;
    reply(dev, c, 0);
  } else if (w == "format") {
    set_size(0);
    reply(dev, c, 0);
  } else if (w == "bflag") {
    boot_flag_ = true;
    reply(dev, c, 0);
  } else if (w == "bflag_stay") {
    boot_flag_ = false;
    reply(dev, c, 0);
  } else if (w == "reset") {
    dev.unplug();  // drops off the bus before it can answer
  } else if (w == "usb_if") {
    if (get32(p) == 1) usb_if_ = p[4] != 0;
    reply(dev, c, 0);
  } else if (w == "h_peek") {
    uint32_t addr = get32(p);
    if (addr + 4 > app_header_.size()) {
      reply(dev, c, 0xFF);
      return;
    }
    put32(out, addr);
    memcpy(out + 4, app_header_.data() + addr, 4);
    reply(dev, c, 0, out, 8);
  } else if (w == "dmesg_pkv") {
    std::string t;
    if (!log_.empty()) {
      t = log_.front();
      log_.erase(log_.begin());
    }
    reply(dev, c, 0, t.data(), t.size());
  } else if (w == "cfg1_size") {
    put32(out, static_cast<uint32_t>(image_.size()));
    reply(dev, c, 0, out, 4);
  } else if (w == "cfg1_read") {
    uint32_t addr = get32(p), len = get32(p + 4);
    if (addr > image_.size() || len > image_.size() - addr || len > c.payload_size()) {
      reply(dev, c, 0xFF);
      return;
    }
    reply(dev, c, 0, image_.data() + addr, len);
  } else if (w == "cfg1_peek") {
    uint32_t addr = get32(p);
    if (addr >= image_.size()) {
      reply(dev, c, 0xFF);
      return;
    }
    out[0] = image_[addr];
    reply(dev, c, 0, out, 1);
  } else if (w == "cfg1_poke") {
    uint32_t addr = get32(p);
    if (addr >= image_.size()) {
      reply(dev, c, 0xFF);
      return;
    }
    image_[addr] = p[4];
    reply(dev, c, 0);
  } else if (w == "updatecrc") {
    put32(image_.data() + 12, image_crc());
    reply(dev, c, 0);
  } else if (w == "debug_pipe") {
    uint8_t cmd = p[0];
    uint32_t pipe = get32(p + 1);
    if (pipe > 63) {
      reply(dev, c, 0xFF);
      return;
    }
    if (cmd == 1) pipes_ |= 1ull << pipe;
    if (cmd == 2) pipes_ &= ~(1ull << pipe);
    out[0] = (pipes_ >> pipe) & 1;
    reply(dev, c, 0, out, 1);
  } else {
    reply(dev, c, 0xFE);  // like a real older firmware
  }
}

Gen4BootloaderModel::Gen4BootloaderModel(uint16_t major, uint16_t minor) : major_(major), minor_(minor) {}

void Gen4BootloaderModel::on_command(Device &dev, const Command &c) {
  words_.push_back(c.word);
  if (c.word == "getversion") {
    uint8_t v[19] = {};
    v[0] = static_cast<uint8_t>(major_);
    v[2] = static_cast<uint8_t>(minor_);
    memcpy(v + 10, "boot", 4);
    reply(dev, c, 0, v, sizeof v);
  } else {
    reply(dev, c, 0xFE);
  }
}

size_t Gen4BootloaderModel::count(const std::string &word) const {
  size_t n = 0;
  for (const auto &w : words_) n += w == word;
  return n;
}

Identity gen4_app_identity(int interface) {
  Identity id;
  id.pid = 0x0006;
  id.interface = interface;
  return id;
}

Identity gen4_bootloader_identity() {
  Identity id;
  id.pid = 0x0005;
  id.interface = 0;
  id.product = "Zivra bootloader";
  return id;
}

ZIVRA_SIM_DONGLE("fw4.0", [] { plug(gen4_app_identity(), std::make_shared<Gen4Model>()); });

}  // namespace zivra_sim
