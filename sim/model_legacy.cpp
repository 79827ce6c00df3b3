// Bulk-USB dongles: the legacy application and the generation-1/-2 bootloaders.
#include "sim/model_legacy.h"

#include <cstring>

#include "zivra/crc.h"
#include "zivra/zivra.h"

namespace zivra_sim {
namespace {

constexpr uint8_t kVendorDevice = 0xC0;    // IN, vendor, device recipient
constexpr uint8_t kVendorEndpoint = 0xC2;  // IN, vendor, endpoint recipient
constexpr uint8_t kVendorOut = 0x42;       // OUT, vendor, endpoint recipient
constexpr size_t kRecordsAt = 5;
constexpr size_t kRecordSize = 6;
constexpr size_t kMaxUsed = 1020;
constexpr uint8_t kInterruptEp = 0x83;
constexpr uint16_t kDfuMagic = 90;
constexpr uint32_t kReservedFlash = 2048;  // the bootloader's own pages
constexpr uint8_t kLeaveMark = 0x50;

// Result bytes a generation-1 dongle sends on its interrupt endpoint.
uint8_t gen1_result(uint8_t state) {
  switch (state) {
    case ZV_STATE_NO_SPACE: return 1;
    case ZV_STATE_EXISTS: return 2;
    case ZV_STATE_NOT_FOUND: return 3;
    default: return 0;
  }
}

int reply(uint8_t *data, uint16_t wLength, const std::vector<uint8_t> &bytes) {
  size_t n = bytes.size() < wLength ? bytes.size() : wLength;
  memcpy(data, bytes.data(), n);
  return static_cast<int>(n);
}

void put32(uint8_t *p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// A memory byte request: read (2) or write (3) inside the 1024 bytes.
int memory_request(LegacyDongle &d, const ControlSetup &s, uint8_t *data) {
  if (s.wValue >= LegacyDongle::kMemory) return kUsbErrorPipe;
  if (s.bRequest == 3) d.memory[s.wValue] = static_cast<uint8_t>(s.wIndex);
  if (s.wLength > 0) data[0] = d.memory[s.wValue];
  return s.wLength > 0 ? 1 : 0;
}

}  // namespace

LegacyDongle::LegacyDongle() { format(); }

void LegacyDongle::set_used(size_t n) {
  memory[0] = static_cast<uint8_t>(n >> 8);
  memory[1] = static_cast<uint8_t>(n);
}

void LegacyDongle::format() {
  set_used(kRecordsAt);
  memory[2] = 0x36;  // inter-key delay 6, sensitivity 3
  memory[3] = 0x06;  // product variant 3: the standard dongle
  memory[4] = 0x00;
}

Identity legacy_app_identity(bool orbis) {
  Identity id;
  id.transport = Transport::Usb;
  id.pid = orbis ? ZV_PID_USB_APP_ORBIS : ZV_PID_USB_APP;
  id.interface = 1;
  id.manufacturer = ZV_MFR_APP;
  id.product = "Zivra IR receiver";
  return id;
}

Identity legacy_bootloader_identity(int generation) {
  Identity id;
  id.transport = Transport::Usb;
  id.pid = generation == 1 ? ZV_PID_USB_BOOTLOADER_V1 : ZV_PID_USB_BOOTLOADER_V2;
  id.interface = 0;
  id.manufacturer = ZV_MFR_BOOTLOADER;
  id.product = "Zivra bootloader";
  return id;
}

// ---- application ----

LegacyAppModel::LegacyAppModel(uint8_t major, uint8_t minor, std::shared_ptr<LegacyDongle> dongle)
    : dongle_(std::move(dongle)), generation_(major <= 1 ? 1 : major), bl_generation_(major <= 1 ? 1 : 2) {
  dongle_->app_major = major;
  dongle_->app_minor = minor;
}

void LegacyAppModel::add_record(uint32_t hash, uint8_t modifier, uint8_t key) {
  size_t at = dongle_->used();
  uint8_t *r = dongle_->memory.data() + at;
  put32(r, hash);
  r[4] = modifier;
  r[5] = key;
  dongle_->set_used(at + kRecordSize);
}

size_t LegacyAppModel::records() const {
  size_t used = dongle_->used();
  return used >= kRecordsAt && used <= kMaxUsed ? (used - kRecordsAt) / kRecordSize : 0;
}

uint32_t LegacyAppModel::record_hash(size_t j) const {
  const uint8_t *r = dongle_->memory.data() + kRecordsAt + kRecordSize * j;
  return static_cast<uint32_t>(r[0]) | static_cast<uint32_t>(r[1]) << 8 | static_cast<uint32_t>(r[2]) << 16 |
         static_cast<uint32_t>(r[3]) << 24;
}

uint8_t LegacyAppModel::record_modifier(size_t j) const { return dongle_->memory[kRecordsAt + kRecordSize * j + 4]; }
uint8_t LegacyAppModel::record_key(size_t j) const { return dongle_->memory[kRecordsAt + kRecordSize * j + 5]; }

int LegacyAppModel::find(uint32_t hash) const {
  for (size_t j = 0; j < records(); ++j)
    if (record_hash(j) == hash) return static_cast<int>(j);
  return -1;
}

void LegacyAppModel::remove(size_t j) {
  auto &m = dongle_->memory;
  size_t used = dongle_->used(), at = kRecordsAt + kRecordSize * j;
  memmove(m.data() + at, m.data() + at + kRecordSize, used - at - kRecordSize);
  dongle_->set_used(used - kRecordSize);
}

void LegacyAppModel::finish(uint8_t state) {
  if (generation_ == 1) {
    state_ = ZV_STATE_PLAYBACK;
    interrupt_results_.push_back(gen1_result(state));
  } else {
    state_ = state;
  }
}

void LegacyAppModel::press_hash(uint32_t hash) {
  if (state_ == ZV_STATE_RECORD) {
    if (dongle_->used() + kRecordSize > kMaxUsed)
      finish(ZV_STATE_NO_SPACE);
    else if (find(hash) >= 0)
      finish(ZV_STATE_EXISTS);
    else {
      add_record(hash, static_cast<uint8_t>(pending_mod_), static_cast<uint8_t>(pending_key_));
      finish(ZV_STATE_DONE);
    }
  } else if (state_ == ZV_STATE_DELETE) {
    int j = find(hash);
    if (j < 0) {
      finish(ZV_STATE_NOT_FOUND);
    } else {
      remove(static_cast<size_t>(j));
      finish(ZV_STATE_DONE);
    }
  }
}

// 0xC2/5: the dongle drops off without answering and comes back as its bootloader.
void LegacyAppModel::restart_into_bootloader(Device &dev) {
  dev.unplug();
  auto bl = std::make_shared<LegacyBootloaderModel>(bl_generation_, dongle_);
  schedule(now_us() + dongle_->reenumerate_us,
           [bl, g = bl_generation_] { plug(legacy_bootloader_identity(g), bl); });
}

int LegacyAppModel::on_control(Device &dev, const ControlSetup &s, uint8_t *data) {
  while (!timed_.empty() && timed_.begin()->first <= now_us()) {
    press_hash(timed_.begin()->second);
    timed_.erase(timed_.begin());
  }
  if (s.bmRequestType == kVendorDevice) {
    switch (s.bRequest) {
      case 0:  // leave record/delete mode
        state_ = ZV_STATE_PLAYBACK;
        return reply(data, s.wLength, {0});
      case 1:  // record the next button as this key
        pending_key_ = s.wValue;
        pending_mod_ = s.wIndex;
        state_ = ZV_STATE_RECORD;
        return reply(data, s.wLength, {0});
      case 2:
        state_ = ZV_STATE_DELETE;
        return reply(data, s.wLength, {0});
      case 3:
        dongle_->format();
        return reply(data, s.wLength, {0});
      case 4: {  // delete every button recorded for this key
        bool any = false;
        for (size_t j = records(); j-- > 0;) {
          if (record_key(j) == (s.wValue & 0xFF) && record_modifier(j) == (s.wIndex & 0xFF)) {
            remove(j);
            any = true;
          }
        }
        return reply(data, s.wLength, {static_cast<uint8_t>(any ? 0 : 1), 0});
      }
      case 5:  // generation 1 has no state request
        if (generation_ == 1) return kUsbErrorPipe;
        if (press_polls_ > 0 && --press_polls_ == 0) press_hash(press_hash_);
        return reply(data, s.wLength, {state_});
      case 6:
        state_ = ZV_STATE_PLAYBACK;
        return reply(data, s.wLength, {0});
      case 7:
        return reply(data, s.wLength, {0});
      default:
        return kUsbErrorPipe;
    }
  }
  if (s.bmRequestType != kVendorEndpoint) return kUsbErrorPipe;
  switch (s.bRequest) {
    case 1:  // version
      return reply(data, s.wLength, {dongle_->app_major, dongle_->app_minor, 0, 0, 0, 0, 0, 0});
    case 2:
    case 3:
      return memory_request(*dongle_, s, data);
    case 5:
      if (s.wValue != kDfuMagic) return kUsbErrorPipe;
      restart_into_bootloader(dev);
      return kUsbErrorNoDevice;
    case 6:
      ++reboots_;
      return reply(data, s.wLength, {0});
    case 7:
      ++reloads_;
      return reply(data, s.wLength, {0});
    case 12: {
      std::vector<uint8_t> h(8, 0);
      put32(h.data(), scm_hash_);
      return reply(data, s.wLength, h);
    }
    case 13:
      if (generation_ < 3) return kUsbErrorPipe;
      return reply(data, s.wLength, {edition_});
    default:
      return kUsbErrorPipe;
  }
}

int LegacyAppModel::on_interrupt(Device &, uint8_t endpoint, uint8_t *data, int length, int *transferred,
                                 unsigned int) {
  *transferred = 0;
  if (generation_ != 1 || endpoint != kInterruptEp || length < 1) return kUsbErrorPipe;
  // The read blocks until the dongle has a result: the next timed press, however far off.
  while (interrupt_results_.empty() && !timed_.empty()) {
    auto first = timed_.begin();
    if (first->first > now_us()) advance_us(first->first - now_us());
    press_hash(first->second);
    timed_.erase(first);
  }
  if (interrupt_results_.empty()) return kUsbErrorTimeout;
  data[0] = interrupt_results_.front();
  interrupt_results_.erase(interrupt_results_.begin());
  *transferred = 1;
  return 0;
}

// ---- bootloaders ----

LegacyBootloaderModel::LegacyBootloaderModel(int generation, std::shared_ptr<LegacyDongle> dongle,
                                             uint32_t flash_size, uint16_t page_size)
    : dongle_(std::move(dongle)),
      generation_(generation),
      major_(static_cast<uint8_t>(generation)),
      flash_size_(flash_size),
      page_size_(page_size) {}

// Leaving starts the application from the flash, which enumerates a moment later.
void LegacyBootloaderModel::leave(Device &dev) {
  left_ = true;
  dev.unplug();
  auto d = dongle_;
  schedule(now_us() + d->reenumerate_us, [d] {
    plug(legacy_app_identity(), std::make_shared<LegacyAppModel>(d->app_major, d->app_minor, d));
  });
}

int LegacyBootloaderModel::on_control(Device &dev, const ControlSetup &s, uint8_t *data) {
  if (s.bmRequestType == kVendorOut && s.bRequest == 9) {
    size_t page;
    const uint8_t *bytes;
    if (generation_ == 1) {
      if (s.wValue != 2 || s.wLength != 132) return kUsbErrorPipe;
      uint32_t dummy;
      memcpy(&dummy, data, 4);
      dummies.push_back(dummy);
      page = next_page_++;
      bytes = data + 4;
    } else {
      if (s.wValue != 0 || s.wLength != 131) return kUsbErrorPipe;
      uint16_t index = static_cast<uint16_t>(data[128] | data[129] << 8);
      sent_pages.push_back(index);
      status_page_ = index;
      status_err_ = crc8_slower(data, 130) != data[130];
      auto f = crc_faults_.find(index);
      if (f != crc_faults_.end() && f->second != 0) {
        status_err_ = 1;
        if (f->second > 0) --f->second;
      }
      if (status_err_ != 0) return s.wLength;
      page = index;
      bytes = data;
    }
    size_t at = page * page_size_;
    if (at + page_size_ > flash_size_ - kReservedFlash) {
      status_err_ = 1;
      return s.wLength;
    }
    if (dongle_->flash.size() < at + page_size_) dongle_->flash.resize(at + page_size_, 0xFF);
    memcpy(dongle_->flash.data() + at, bytes, page_size_);
    ++written_;
    return s.wLength;
  }
  if (s.bmRequestType != kVendorEndpoint) return kUsbErrorPipe;
  switch (s.bRequest) {
    case 1: {  // device information
      next_page_ = 0;
      std::vector<uint8_t> info;
      if (generation_ == 1) info.push_back(1);  // report_id
      info.push_back(static_cast<uint8_t>(page_size_));
      info.push_back(static_cast<uint8_t>(page_size_ >> 8));
      for (int i = 0; i < 4; ++i) info.push_back(static_cast<uint8_t>(flash_size_ >> (8 * i)));
      return reply(data, s.wLength, info);
    }
    case 2:
    case 3:
      return memory_request(*dongle_, s, data);
    case 4:  // version
      return reply(data, s.wLength, {major_, minor_, 0, 0, 0, 0, 0, 0});
    case 6:
      return reply(data, s.wLength, {0});
    case 9:  // generation 1: leave after programming, without answering
      if (generation_ != 1 || s.wValue != 11) return kUsbErrorPipe;
      leave(dev);
      return kUsbErrorNoDevice;
    case 10: {
      if (generation_ != 2) return kUsbErrorPipe;
      std::vector<uint8_t> st(5, 0);
      put32(st.data(), status_page_);
      st[4] = status_err_;
      return reply(data, s.wLength, st);
    }
    case 11:  // generation 2: leave when told so in byte 4
      if (generation_ != 2) return kUsbErrorPipe;
      if (dongle_->memory[4] != kLeaveMark) return reply(data, s.wLength, {1});
      data[0] = 0;
      leave(dev);
      return s.wLength > 0 ? 1 : 0;
    case 12: {
      if (generation_ != 2) return kUsbErrorPipe;
      std::vector<uint8_t> h(8, 0);
      put32(h.data(), 0xB007B007);
      return reply(data, s.wLength, h);
    }
    default:
      return kUsbErrorPipe;
  }
}

namespace {

void plug_app(uint8_t major, uint8_t minor) {
  plug(legacy_app_identity(), std::make_shared<LegacyAppModel>(major, minor));
}

}  // namespace

ZIVRA_SIM_DONGLE("fw1.0", [] { plug_app(1, 0); });
ZIVRA_SIM_DONGLE("fw2.0", [] { plug_app(2, 0); });
ZIVRA_SIM_DONGLE("fw2.1", [] { plug_app(2, 1); });
ZIVRA_SIM_DONGLE("fw3.0", [] { plug_app(3, 0); });
ZIVRA_SIM_DONGLE("fw3.9", [] { plug_app(3, 9); });
ZIVRA_SIM_DONGLE("bl1", [] {
  auto d = std::make_shared<LegacyDongle>();
  d->app_major = 1;
  d->app_minor = 0;
  plug(legacy_bootloader_identity(1), std::make_shared<LegacyBootloaderModel>(1, d));
});
ZIVRA_SIM_DONGLE("bl2", [] { plug(legacy_bootloader_identity(2), std::make_shared<LegacyBootloaderModel>(2)); });

}  // namespace zivra_sim
