// A generation-3 bootloader on the sim's bus, and what the tests read back: the
// current model after re-enumeration, all log levels in one ordered stream.
#pragma once
#include <gtest/gtest.h>

#include <sys/time.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture.h"
#include "sim/model_bl3.h"
#include "sim/model_gen4.h"
#include "zivra/zivra.h"

namespace upg {

namespace zs = zivra_sim;

// Every log level into one stream, so the order of lines across levels shows.
class OneLog {
 public:
  OneLog() {
    f_ = open_memstream(&buf_, &len_);
    for (int l = 0; l < 6; ++l) {
      saved_[l] = logfds[l];
      logfds[l] = f_;
    }
  }
  ~OneLog() {
    for (int l = 0; l < 6; ++l) logfds[l] = saved_[l];
    fclose(f_);
    free(buf_);
  }
  OneLog(const OneLog &) = delete;
  OneLog &operator=(const OneLog &) = delete;
  std::string text() {
    fflush(f_);
    return std::string(buf_, len_);
  }
  bool has(const std::string &s) { return text().find(s) != std::string::npos; }
  size_t count(const std::string &s) {
    std::string t = text();
    size_t n = 0;
    for (size_t p = t.find(s); p != std::string::npos; p = t.find(s, p + 1)) ++n;
    return n;
  }

 private:
  FILE *f_ = nullptr;
  char *buf_ = nullptr;
  size_t len_ = 0;
  FILE *saved_[6]{};
};

// Lets the bus catch up with the clock: re-enumerations due by now happen on the
// next call into the sim.
inline void run_bus() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
}

// The model of the first plugged device of that kind, or null.
template <class M>
M *current() {
  for (zs::Device *d : zs::devices())
    if (auto *m = dynamic_cast<M *>(&d->model())) return m;
  return nullptr;
}

// The stage-2 bootloader image bootloader 3.1 installs (plain).
inline std::vector<uint8_t> stage2_image(uint8_t tested = 0xFF) {
  zs::ImageFields st;
  st.name = zs::kStage2Name;
  st.size = zs::kStage2Size;
  st.encrypted = 0;
  st.tested = tested;
  return zs::make_fw_image(st);
}

// A version-2 image of `pages` pages of `page` bytes (plain unless asked).
inline std::vector<uint8_t> image(size_t pages = 7, size_t page = 64, const std::string &name = "ZIVRA-STD",
                                  uint8_t tested = 0xFF, uint8_t encrypted = 0) {
  zs::ImageFields s;
  s.tested = tested;
  s.name = name;
  s.size = pages * page;
  s.encrypted = encrypted;
  s.major = 4;
  s.minor = 10;
  s.patch = 2;
  return zs::make_fw_image(s);
}

inline std::shared_ptr<zs::Bl3Model> plug_bootloader(int minor, zs::FlashLayout layout = {},
                                                     const std::string &edition = "ZIVRA-STD") {
  auto bl = std::make_shared<zs::Bl3Model>(minor, layout);
  // Both images on it passed the manufacturing test (mark 0).
  if (minor == 2) bl->install_stage2(stage2_image(0));
  if (minor != 1) bl->install_app(image(7, 64, edition, 0));
  zs::plug(zs::gen4_bootloader_identity(), bl);
  return bl;
}

class Fixture : public ::testing::Test {
 protected:
  void SetUp() override { zs::reset(); }
  void TearDown() override {
    zv_close_device();
    zs::reset();
  }
  LevelGuard level;
};

}  // namespace upg
