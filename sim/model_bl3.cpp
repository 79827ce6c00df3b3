// Generation-3 bootloader model: flash, erase, programming runs, the application
// check and re-enumeration as the application (or as the stage-2 bootloader).
#include "sim/model_bl3.h"

#include <algorithm>
#include <cstring>

#include "sim/model_gen4.h"
#include "zivra/app_info.h"
#include "zivra/crc.h"

namespace zivra_sim {

namespace {

constexpr uint32_t kSignature = 0xBABECAFE;
constexpr uint32_t kImageCrcSeed = 0xFFFFFFFF;
constexpr size_t kVersionSize = 19;
constexpr size_t kLogMax = 20;  // payload bytes of a 32-byte reply

// Offsets into the image header (both versions share the first 102 bytes).
constexpr size_t kOffVersion = offsetof(app_info_v2_t, header_version);
constexpr size_t kOffCrc = offsetof(app_info_v2_t, app_crc);
constexpr size_t kOffSize = offsetof(app_info_v2_t, app_size);
constexpr size_t kOffMajor = offsetof(app_info_v2_t, app_major_version);
constexpr size_t kOffScm = offsetof(app_info_v2_t, app_scm_hash);
constexpr size_t kOffName = offsetof(app_info_v2_t, app_name);
constexpr size_t kOffType = offsetof(app_info_v2_t, app_type);
constexpr size_t kOffEncrypted = offsetof(app_info_v2_t, encrypted);

void put16(uint8_t *p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t *p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint16_t get16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t get32(const uint8_t *p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
// A fixed-size text field, NUL-padded, cut to fit.
void put_text(uint8_t *p, size_t field, const std::string &s) {
  memset(p, 0, field);
  memcpy(p, s.data(), std::min(field, s.size()));
}
std::string get_text(const uint8_t *p, size_t field) {
  return std::string(reinterpret_cast<const char *>(p), strnlen(reinterpret_cast<const char *>(p), field));
}

}  // namespace

uint32_t fw_image_crc(const uint8_t *image, size_t len) {
  if (len <= kImageHeaderBlock) return kImageCrcSeed;
  return crc32_slow(image + kImageHeaderBlock, static_cast<uint32_t>(len - kImageHeaderBlock), kImageCrcSeed);
}

std::vector<uint8_t> make_fw_image(const ImageFields &s) {
  size_t size = s.size != 0 ? s.size : kDefaultImageSize;
  std::vector<uint8_t> img(std::max(size, kImageHeaderBlock));
  for (size_t i = 0; i < img.size(); ++i) img[i] = static_cast<uint8_t>(i * 7 + 3);
  bool v1 = s.header_version == 1;
  size_t header = v1 ? sizeof(app_info_v1_t) : sizeof(app_info_v2_t);
  memset(img.data(), 0, header);
  uint8_t *h = img.data();
  put32(h, kSignature);
  put32(h + kOffVersion, s.header_version);
  put32(h + offsetof(app_info_v2_t, header_size), static_cast<uint32_t>(header));
  uint32_t app_size = s.app_size != 0 ? s.app_size : static_cast<uint32_t>(size);
  put32(h + kOffSize, app_size);
  put16(h + kOffMajor, s.major);
  put16(h + kOffMajor + 2, s.minor);
  put16(h + kOffMajor + 4, s.patch);
  put32(h + kOffScm, s.scm_hash);
  put_text(h + kOffName, ZV_APP_NAME_SIZE, s.name);
  put_text(h + kOffType, 10, s.type);
  put_text(h + offsetof(app_info_v2_t, build_machine), 10, s.machine);
  put_text(h + offsetof(app_info_v2_t, build_arch), 10, s.arch);
  put_text(h + offsetof(app_info_v2_t, build_branch), 10, s.branch);
  if (v1) {
    put32(h + offsetof(app_info_v1_t, build_timestamp), s.build_timestamp);
  } else {
    h[kOffEncrypted] = s.encrypted;
    h[offsetof(app_info_v2_t, boot_flag)] = s.boot_flag;
    put32(h + offsetof(app_info_v2_t, build_timestamp), s.build_timestamp);
    h[offsetof(app_info_v2_t, tested)] = s.tested;
  }
  put32(h + kOffCrc, fw_image_crc(img.data(), std::min<size_t>(app_size, img.size())));
  img.resize(size);
  return img;
}

std::vector<uint8_t> stage2_image() {
  ImageFields fields;
  fields.name = kStage2Name;
  fields.size = kStage2Size;
  return make_fw_image(fields);
}

Bl3Model::Bl3Model(int minor, FlashLayout layout)
    : minor_(minor), layout_(layout), reported_(layout), flash_(size_t{layout.flash_kb} * 1024, 0xFF) {}

uint32_t Bl3Model::app_base() const { return layout_.bootloader_kb * 1024 + (minor_ == 2 ? kStage2Span : 0); }

uint32_t Bl3Model::area_end() const {
  uint32_t end = static_cast<uint32_t>(flash_.size());
  return end > kConfigStorage ? end - kConfigStorage : 0;
}

void Bl3Model::set_flash_desc(uint32_t bl_kb, uint32_t flash_kb, uint32_t page) {
  reported_ = FlashLayout{flash_kb, bl_kb, page};
}

void Bl3Model::write(uint32_t addr, const std::vector<uint8_t> &bytes) {
  if (addr >= flash_.size()) return;
  size_t n = std::min(bytes.size(), flash_.size() - addr);
  std::copy_n(bytes.begin(), n, flash_.begin() + addr);
}

void Bl3Model::install_app(const std::vector<uint8_t> &image) {
  write(app_base(), image);
  // Programmed in the mode its header asks for.
  plain_ = !(image.size() > kOffEncrypted && get32(image.data() + kOffVersion) == 2 && image[kOffEncrypted] != 0);
}

void Bl3Model::install_stage2(const std::vector<uint8_t> &image) { write(layout_.bootloader_kb * 1024, image); }

bool Bl3Model::image_valid_at(uint32_t base, bool plain) const {
  if (base + kImageHeaderBlock > area_end()) return false;
  const uint8_t *h = flash_.data() + base;
  uint32_t version = get32(h + kOffVersion);
  if (get32(h) != kSignature || (version != 1 && version != 2)) return false;
  uint32_t size = get32(h + kOffSize);
  if (size > area_end() - base) return false;
  if (fw_image_crc(h, size) != get32(h + kOffCrc)) return false;
  // From 3.1 the bootloader decrypts unless told the image is plain: a plain image
  // decrypted, or an encrypted one taken as plain, is garbage.
  if (minor_ > 0 && version == 2 && (h[kOffEncrypted] == 0) != plain) return false;
  return true;
}

bool Bl3Model::app_valid() const { return image_valid_at(app_base(), plain_); }

std::vector<uint8_t> Bl3Model::app_header() const {
  std::vector<uint8_t> h(kImageHeaderBlock, 0xFF);
  uint32_t base = app_base();
  if (base < flash_.size())
    std::copy_n(flash_.begin() + base, std::min<size_t>(h.size(), flash_.size() - base), h.begin());
  return h;
}

size_t Bl3Model::count(const std::string &word) const {
  return static_cast<size_t>(
      std::count_if(commands_.begin(), commands_.end(), [&](const Command &c) { return c.word == word; }));
}

void Bl3Model::on_command(Device &dev, const Command &c) {
  commands_.push_back(c);
  const uint8_t *p = c.payload();
  uint8_t out[20] = {};
  const std::string &w = c.word;
  if (w == "getversion") {
    uint8_t v[kVersionSize] = {};
    put16(v, 3);
    put16(v + 2, static_cast<uint16_t>(minor_));
    put32(v + 6, scm_hash_);
    memcpy(v + 10, "boot", 4);
    reply(dev, c, 0, v, sizeof v);
  } else if (w == "peek") {
    uint32_t addr = get32(p);
    if (flash_.size() < 4 || addr > flash_.size() - 4) {
      reply(dev, c, 0xFF);
      return;
    }
    memcpy(out, flash_.data() + addr, 4);
    reply(dev, c, 0, out, 4);
  } else if (w == "flash_info") {
    put32(out, reported_.bootloader_kb);
    put32(out + 4, reported_.flash_kb);
    put32(out + 8, reported_.page_size);
    reply(dev, c, 0, out, 12);
  } else if (w == "erasesec") {
    // Four pages from page index addr of the application area. Revision 3.0 erases
    // up to the end of flash by its count; the configuration storage there is
    // write-protected, so those groups are acknowledged and left alone.
    uint32_t addr = get32(p);
    erased_.push_back(addr);
    uint64_t page = layout_.page_size;
    uint64_t start = app_base() + uint64_t{addr} * page;
    uint64_t limit = minor_ == 0 ? flash_.size() : area_end();
    if (page == 0 || start >= limit) {
      reply(dev, c, 0xFF);
      return;
    }
    uint64_t end = std::min<uint64_t>(start + 4 * page, area_end());
    if (start < end) std::fill(flash_.begin() + static_cast<long>(start), flash_.begin() + static_cast<long>(end), 0xFF);
    reply(dev, c, 0);
  } else if (w == "uncrypt" && minor_ > 0) {
    uncrypt_pending_ = true;
    uncrypt_seen_ = true;
    reply(dev, c, 0);
  } else if (w == "program") {
    uint32_t addr = get32(p), pages = get32(p + 4);
    if (addr != 0 || app_base() + uint64_t{pages} * program_page() > area_end()) {
      reply(dev, c, 0xFF);
      return;
    }
    run_active_ = true;
    run_pages_ = pages;
    run_done_ = 0;
    run_packets_ = 0;
    plain_ = minor_ == 0 || uncrypt_pending_;
    uncrypt_pending_ = false;
    reply(dev, c, 0);
  } else if (w == "checkapp") {
    reply(dev, c, app_valid() && !fail_checkapp_ ? 0 : 0xFF);
  } else if (w == "enterapp") {
    enter_app(dev, c);
  } else if (w == "get_log") {
    reply(dev, c, 0, log_.data(), std::min(log_.size(), kLogMax));
  } else {
    reply(dev, c, 0xFE);
  }
}

void Bl3Model::on_data(Device &dev, const uint8_t *block, size_t len) {
  if (!run_active_ || run_done_ >= run_pages_) {
    ack(dev, 1);
    return;
  }
  if (static_cast<int>(run_packets_++) == refuse_page_) {
    refuse_page_ = -1;
    ack(dev, 1);
    return;
  }
  uint32_t page = program_page();
  uint32_t addr = app_base() + run_done_ * page;
  if (page == 0 || page > len) {
    ack(dev, 1);
    return;
  }
  // Flash only clears bits: a page that was not erased can not be programmed.
  if (!std::all_of(flash_.begin() + addr, flash_.begin() + addr + page, [](uint8_t b) { return b == 0xFF; })) {
    ++unerased_writes_;
    ack(dev, 2);
    return;
  }
  std::copy_n(block, page, flash_.begin() + addr);
  ++pages_programmed_;
  if (++run_done_ == run_pages_) run_active_ = false;
  ack(dev, 0);
}

void Bl3Model::enter_app(Device &dev, const Command &c) {
  if (stay_gone_) {
    dev.unplug();
    return;
  }
  if (!app_valid()) {
    reply(dev, c, 0);
    return;
  }
  // The dongle resets at once; the new identity appears after re-enumeration.
  dev.unplug();
  uint64_t at = now_us() + reenumerate_us_;
  std::vector<uint8_t> header = app_header();
  if (minor_ == 1 && get_text(header.data() + kOffName, ZV_APP_NAME_SIZE) == kStage2Name) {
    auto stage2 = std::make_shared<Bl3Model>(2, layout_);
    stage2->flash_ = flash_;
    stage2->app_model_ = app_model_;
    stage2->reenumerate_us_ = reenumerate_us_;
    schedule(at, [stage2] { plug(gen4_bootloader_identity(), stage2); });
    return;
  }
  std::shared_ptr<Gen4Model> app = app_model_ ? app_model_ : std::make_shared<Gen4Model>();
  std::string type = get_text(header.data() + kOffType, 10);
  app->set_version(get16(header.data() + kOffMajor), get16(header.data() + kOffMajor + 2),
                   get16(header.data() + kOffMajor + 4), get32(header.data() + kOffScm),
                   type.empty() ? "release" : type);
  uint32_t base = app_base();
  size_t size = std::max<size_t>(kImageHeaderBlock, get32(header.data() + kOffSize));
  app->set_firmware(std::vector<uint8_t>(flash_.begin() + base, flash_.begin() + base + size));
  schedule(at, [app] { plug(gen4_app_identity(), app); });
}

// Bootloaders with an application: 3.0 and 3.3 hold one at 0x4000, 3.2 the
// stage-2 bootloader there and the application at 0x6C00; 3.1 is waiting for its
// stage-2 image, its application area erased.
[[maybe_unused]] static const bool kBootloadersRegistered = [] {
  for (int minor = 0; minor <= 3; ++minor)
    register_dongle("bl3." + std::to_string(minor), [minor] {
      auto bl = std::make_shared<Bl3Model>(minor);
      if (minor == 2) bl->install_stage2(stage2_image());
      if (minor != 1) bl->install_app(make_fw_image({}));
      plug(gen4_bootloader_identity(), bl);
    });
  return true;
}();

}  // namespace zivra_sim
