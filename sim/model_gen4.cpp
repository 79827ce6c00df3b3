// Generation-4 dongle model. The configuration image follows the current layout:
// header (magic, 1.0, record count, CRC), settings block, 16-byte button records.
#include "sim/model_gen4.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "codara/codara.h"
#include "zivra/crc.h"

namespace zivra_sim {

namespace {

constexpr size_t kHeader = 16;
constexpr size_t kRecords = 28;
constexpr size_t kRecord = 16;
constexpr uint16_t kMaxEdge = 2400;
constexpr size_t kHeaderVersionAt = 20;  // major, minor, patch, scm hash in the image header

// A held NEC button as the receiver streams it: leader, 32 bits (address 0x00,
// command 0x45, each followed by its complement), the stop mark.
constexpr uint16_t kNecLeaderMark = 9000;
constexpr uint16_t kNecLeaderSpace = 4500;
constexpr uint16_t kNecBitMark = 560;
constexpr uint16_t kNecZeroSpace = 560;
constexpr uint16_t kNecOneSpace = 1690;
constexpr uint16_t kNecRepeatMs = 45;
std::vector<uint16_t> nec_frame() {
  std::vector<uint16_t> e{kNecLeaderMark, kNecLeaderSpace};
  uint32_t bits = 0x00u | 0xFFu << 8 | 0x45u << 16 | 0xBAu << 24;  // sent LSB first
  for (int i = 0; i < 32; ++i) {
    e.push_back(kNecBitMark);
    e.push_back((bits >> i) & 1 ? kNecOneSpace : kNecZeroSpace);
  }
  e.push_back(kNecBitMark);
  return e;
}

void put32(uint8_t *p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t get32(const uint8_t *p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// First revision that answers each command word.
struct Since {
  const char *word;
  int revision;
};
constexpr Since kSince[] = {
    {"getversion", 0}, {"ir_state", 0},    {"clearstate", 0}, {"record", 0},     {"delete", 0},
    {"format", 0},     {"bflag", 0},       {"bflag_stay", 0}, {"reset", 0},      {"h_peek", 0},
    {"dmesg_pkv", 0},  {"cfg1_size", 0},   {"cfg1_read", 0},  {"cfg1_peek", 0},  {"cfg1_poke", 0},
    {"updatecrc", 0},  {"debug_pipe", 0},  {"irtranset", 2},  {"irtransraw", 2}, {"cfg1_write", 3},
    {"record_lp", 4},  {"record_m", 4},    {"versionx", 5},   {"irhist", 5},     {"record_t", 6},
    {"usb_if", 6},     {"irtranskil", 8},  {"rbget", 8},      {"rbset", 8},      {"rbsetlen", 8},
    {"rbwakesig", 8},
};

// A formatted image: header (magic, 1.0, no records) and the settings block.
std::vector<uint8_t> empty_image() {
  std::vector<uint8_t> img(kRecords, 0);
  put32(img.data(), 0xDEADBEEF);
  img[4] = 1;  // major 1, minor 0
  put32(img.data() + 16, 0x3F);  // every built-in table on
  put32(img.data() + 20, 15);
  return img;
}

}  // namespace

Gen4Model::Gen4Model() : image_(empty_image()) {
  set_version(4, 0, 3);
  set_app_header(2, "ZIVRA-STD");
  seal();
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
  revision_ = major != 4 ? 0 : minor > 10 ? 10 : minor;
  // The running image's header tells the same version.
  if (app_header_.size() >= kHeaderVersionAt + 10) memcpy(app_header_.data() + kHeaderVersionAt, version_.data(), 10);
}

// A header-only image, consistent as a bootloader checks it: app_size covers the
// header block alone, app_crc is the CRC of the empty range after it.
void Gen4Model::set_app_header(uint32_t header_version, const std::string &name) {
  app_header_.assign(kImageHeaderBlock, 0);
  app_body_.clear();
  put32(app_header_.data(), 0xBABECAFE);
  put32(app_header_.data() + 4, header_version);
  put32(app_header_.data() + 8, header_version == 1 ? 110 : 121);
  put32(app_header_.data() + 12, fw_image_crc(nullptr, 0));
  put32(app_header_.data() + 16, kImageHeaderBlock);
  memcpy(app_header_.data() + kHeaderVersionAt, version_.data(), 10);
  memcpy(app_header_.data() + 32, name.data(), name.size() < 30 ? name.size() : 30);
}

void Gen4Model::set_app_header_bytes(std::vector<uint8_t> header) {
  header.resize(kImageHeaderBlock, 0xFF);
  app_header_ = std::move(header);
}

void Gen4Model::set_firmware(const std::vector<uint8_t> &image) {
  size_t head = std::min(image.size(), kImageHeaderBlock);
  set_app_header_bytes(std::vector<uint8_t>(image.begin(), image.begin() + static_cast<long>(head)));
  app_body_.assign(image.begin() + static_cast<long>(head), image.end());
}

std::vector<uint8_t> Gen4Model::firmware() const {
  std::vector<uint8_t> img = app_header_;
  img.insert(img.end(), app_body_.begin(), app_body_.end());
  return img;
}

// Its flash holds this application (for 3.2 behind the stage-2 bootloader), and
// it carries this model back when it starts the application.
std::shared_ptr<Bl3Model> Gen4Model::make_bootloader() {
  auto bl = std::make_shared<Bl3Model>(bl_minor_, bl_layout_);
  if (bl_minor_ == 2) bl->install_stage2(stage2_image());
  bl->install_app(firmware());
  bl->set_app_model(weak_from_this().lock());
  bl->set_reenumerate_us(reenumerate_us_);
  return bl;
}

// "reset": the dongle drops off the bus at once and enumerates again later.
void Gen4Model::reenumerate(Device &dev) {
  Identity id = dev.identity();
  if (id.path.rfind("sim:hid:", 0) == 0) id.path.clear();  // a new path, as the kernel gives
  dev.unplug();
  std::shared_ptr<Gen4Model> self = weak_from_this().lock();
  if (!self) return;  // not owned by a shared_ptr: it just drops off
  uint64_t at = now_us() + reenumerate_us_;
  if (dfu_stay_) {
    std::shared_ptr<Bl3Model> bl = make_bootloader();
    schedule(at, [bl] { plug(gen4_bootloader_identity(), bl); });
  } else {
    schedule(at, [self, id] { plug(id, self); });
  }
}

size_t Gen4Model::buttons() const {
  if (image_.size() < kRecords) return 0;
  size_t n = get32(image_.data() + 8);
  size_t whole = (image_.size() - kRecords) / kRecord;
  return n < whole ? n : whole;
}

uint32_t Gen4Model::button_hash(size_t k) const { return get32(image_.data() + kRecords + kRecord * k); }

uint32_t Gen4Model::image_crc() const {
  if (image_.size() < kHeader) return 0;
  return crc32_slow(image_.data() + kHeader, static_cast<uint32_t>(image_.size() - kHeader), 0xFFFFFFFF);
}

bool Gen4Model::crc_valid() const { return image_.size() >= kHeader && get32(image_.data() + 12) == image_crc(); }

void Gen4Model::seal() {
  if (image_.size() >= kHeader) put32(image_.data() + 12, image_crc());
}

size_t Gen4Model::count(const std::string &word) const {
  size_t n = 0;
  for (const auto &c : commands_) n += c.word == word;
  return n;
}

bool Gen4Model::knows(const std::string &word) const {
  for (const Since &s : kSince)
    if (word == s.word) return s.revision <= revision_;
  return false;
}

bool Gen4Model::refused(const std::string &word) {
  for (auto it = refusals_.begin(); it != refusals_.end(); ++it) {
    if (it->first != word) continue;
    if (--it->second == 0) {
      refusals_.erase(it);
      return true;
    }
  }
  return false;
}

void Gen4Model::set_size(uint32_t n) {
  put32(image_.data() + 8, n);
  image_.resize(kRecords + kRecord * n);
  seal();
}

// Writes into configuration memory; the image grows (erased bytes read 0xFF)
// up to the memory's end.
bool Gen4Model::store(uint32_t addr, const uint8_t *bytes, size_t n) {
  if (addr > memory_ || n > memory_ - addr) return false;
  if (addr + n > image_.size()) image_.resize(addr + n, 0xFF);
  if (n > 0) memcpy(image_.data() + addr, bytes, n);
  return true;
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
  if (image_.size() < kRecords || buttons() >= capacity_) {
    state_ = 4;
    return;
  }
  size_t k = buttons();
  image_.resize(kRecords + kRecord * (k + 1));
  uint8_t *r = image_.data() + kRecords + kRecord * k;
  put32(r, hash);
  put32(r + 4, record_te_);
  put32(r + 8, 0xFFFFFFFF);
  r[12] = pending_lp_ ? 1 : 0xFF;
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
  size_t n = buttons();
  image_.erase(image_.begin() + kRecords + kRecord * k, image_.begin() + kRecords + kRecord * (k + 1));
  set_size(static_cast<uint32_t>(n - 1));
  state_ = 3;
}

void Gen4Model::press_hash(uint32_t hash) {
  last_hash_ = hash;
  if (state_ == 1)
    record_button(hash);
  else if (state_ == 2)
    delete_button(hash);
}

// The receiver: a signal it can not tell apart (hash 0) is ignored.
void Gen4Model::receive(std::vector<uint16_t> edges) {
  uint32_t hash = ir_hash(edges.data(), edges.size(), kMaxEdge);
  if (hash != 0) press_hash(hash);
}

void Gen4Model::press_edges(std::vector<uint16_t> edges, uint16_t elapsed_ms) {
  if (revision_ >= 9) stream(edges, elapsed_ms);
  receive(edges);
}

// Report 7: the first of a capture carries sof 0, the elapsed time and 30
// durations; each continuation a non-zero marker byte and 31 durations; a 0
// duration ends the capture.
void Gen4Model::stream(const std::vector<uint16_t> &edges, uint16_t elapsed_ms) {
  std::vector<uint16_t> all = edges;
  all.push_back(0);
  size_t i = 0;
  for (bool first = true; i < all.size(); first = false) {
    std::vector<uint8_t> p(64, 0);  // the report without its ID
    size_t at = 1, slots = 31;
    if (first) {
      p[2] = static_cast<uint8_t>(elapsed_ms);
      p[3] = static_cast<uint8_t>(elapsed_ms >> 8);
      at = 4;
      slots = 30;
    } else {
      p[0] = 0x80;
    }
    for (size_t s = 0; s < slots && i < all.size(); ++s, ++i) {
      p[at + 2 * s] = static_cast<uint8_t>(all[i]);
      p[at + 2 * s + 1] = static_cast<uint8_t>(all[i] >> 8);
    }
    outbox_.push_back(std::move(p));
  }
  if (stream_ahead_ && handling_ != nullptr) flush_stream(*handling_);
}

void Gen4Model::flush_stream(Device &dev) {
  for (auto &p : outbox_) dev.queue_report(7, p.data(), p.size());
  outbox_.clear();
}

void Gen4Model::on_poll(Device &dev) {
  flush_stream(dev);
  if (!stream_forever_) return;
  bool pending = std::any_of(dev.input_.begin(), dev.input_.end(),
                             [](const Device::Input &in) { return !in.bytes.empty() && in.bytes[0] == 7; });
  if (!pending) {
    stream(nec_frame(), kNecRepeatMs);
    flush_stream(dev);
  }
}

void Gen4Model::transmit_command(Device &dev, const Command &c) {
  const uint8_t *p = c.payload();
  uint8_t out[52] = {};
  if (c.word == "irtranset") {
    TransmitSetting s{};
    memcpy(&s.len, p, 2);
    if (revision_ >= 7) {
      memcpy(&s.ik, p + 2, 2);
      s.repeat = p[4];
    }
    settings_.push_back(s);
    if (revision_ >= 10 && transmitting_) {
      reply(dev, c, 0, out, 4);  // still sending the last one
      return;
    }
    upload_.clear();
    upload_want_ = 2u * static_cast<uint16_t>(s.len);
    out[0] = 1;
    reply(dev, c, 0, out, 4);
  } else if (c.word == "irtransraw") {
    size_t n = upload_want_ - upload_.size();
    if (n > c.payload_size()) n = c.payload_size();
    upload_.insert(upload_.end(), p, p + n);
    if (n > 0 && upload_.size() == upload_want_) {
      std::vector<uint16_t> sig(upload_want_ / 2);
      memcpy(sig.data(), upload_.data(), upload_want_);
      transmitted_.push_back(sig);
      upload_want_ = 0;
      upload_.clear();
      if (loopback_) receive(loopback_filter_ ? loopback_filter_(sig) : sig);
    }
    reply(dev, c, 0);
  } else if (c.word == "irtranskil") {
    ++kills_;
    transmitting_ = false;
    reply(dev, c, 0);
  } else if (c.word == "rbget") {
    put32(out, wake_en_);
    out[16] = high_add_;
    out[17] = low_add_;
    reply(dev, c, 0, out, 18);
  } else if (c.word == "rbset") {
    wake_en_ = get32(p);
    high_add_ = p[16];
    low_add_ = p[17];
    reply(dev, c, 0);
  } else if (c.word == "rbsetlen") {
    wake_want_ = 2u * static_cast<uint16_t>(p[0] | p[1] << 8);
    wake_upload_.clear();
    wake_.clear();
    reply(dev, c, 0);
  } else if (c.word == "rbwakesig") {
    size_t n = wake_want_ - wake_upload_.size();
    if (n > c.payload_size()) n = c.payload_size();
    wake_upload_.insert(wake_upload_.end(), p, p + n);
    if (n > 0 && wake_upload_.size() == wake_want_) {
      wake_.resize(wake_want_ / 2);
      memcpy(wake_.data(), wake_upload_.data(), wake_want_);
    }
    reply(dev, c, 0);
  }
}

void Gen4Model::on_command(Device &dev, const Command &c) {
  handling_ = &dev;
  handle(dev, c);
  handling_ = nullptr;
}

void Gen4Model::handle(Device &dev, const Command &c) {
  commands_.push_back(c);
  const uint8_t *p = c.payload();
  uint8_t out[52] = {};
  const std::string &w = c.word;
  if (!knows(w)) {
    reply(dev, c, 0xFE);  // like a real older firmware
    return;
  }
  if (refused(w)) {
    reply(dev, c, 0xFF);
    return;
  }
  if (w == "getversion") {
    reply(dev, c, 0, version_.data(), version_.size());
  } else if (w == "ir_state") {
    if (press_polls_ > 0 && --press_polls_ == 0) press_hash(press_hash_);
    if (edge_polls_ > 0 && --edge_polls_ == 0) press_edges(edge_press_);
    out[0] = state_;
    reply(dev, c, 0, out, 1);
  } else if (w == "clearstate") {
    state_ = 0;
    reply(dev, c, 0);
  } else if (w == "record" || w == "record_lp" || w == "record_m") {
    memcpy(pending_, p, 3);
    pending_lp_ = w == "record_lp";
    state_ = 1;
    reply(dev, c, 0);
  } else if (w == "record_t") {
    pending_lp_ = false;  // the key of the last record request again
    state_ = 1;
    reply(dev, c, 0);
  } else if (w == "delete") {
    state_ = 2;
    reply(dev, c, 0);
  } else if (w == "format") {
    if (image_.size() < kRecords) image_ = empty_image();  // a broken header is rewritten
    set_size(0);
    reply(dev, c, 0);
  } else if (w == "bflag") {
    boot_flag_ = true;
    dfu_stay_ = false;
    reply(dev, c, 0);
  } else if (w == "bflag_stay") {
    boot_flag_ = false;
    dfu_stay_ = true;
    reply(dev, c, 0);
  } else if (w == "reset") {
    reenumerate(dev);  // drops off the bus before it can answer
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
    put32(out, size_override_ ? reported_size_ : static_cast<uint32_t>(image_.size()));
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
    reply(dev, c, store(get32(p), p + 4, 1) ? 0 : 0xFF);
  } else if (w == "cfg1_write") {
    // Address, count, then the bytes: at most what follows in this packet.
    uint8_t n = p[4];
    bool ok = n <= c.payload_size() - 5 && store(get32(p), p + 5, n);
    reply(dev, c, ok ? 0 : 0xFF);
  } else if (w == "updatecrc") {
    seal();
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
  } else if (w == "versionx") {
    memcpy(out, "main", 4);
    memcpy(out + 13, "clean", 5);
    reply(dev, c, 0, out, 26);
  } else if (w == "irhist") {
    put32(out, last_hash_);
    reply(dev, c, 0, out, 4);
  } else {
    transmit_command(dev, c);
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

// "fw4.0" .. "fw4.10": an application firmware of each revision.
[[maybe_unused]] static const bool kRevisionsRegistered = [] {
  for (uint16_t minor = 0; minor <= 10; ++minor)
    register_dongle("fw4." + std::to_string(minor), [minor] {
      auto model = std::make_shared<Gen4Model>();
      model->set_version(4, minor, 0);
      plug(gen4_app_identity(), model);
    });
  return true;
}();

}  // namespace zivra_sim
