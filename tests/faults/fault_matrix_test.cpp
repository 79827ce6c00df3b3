// The fault matrix: each operation that takes several exchanges is run once
// cleanly to count them, then again with exchange 1, 2, ... N failed, once per
// kind of fault (error status, time-out, wrong echo, short reply, drop off the
// bus). Whatever happens, the operation either fails with a negative result or
// has really done its job, and nothing the user had is lost: a failed save
// leaves the previous file as it was, a failed upgrade leaves the dongle in its
// bootloader. The sanitizer build checks for crashes and leaks on every case.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "capture.h"
#include "sim/model_bl3.h"
#include "sim/model_gen4.h"
#include "sim/model_legacy.h"
#include "tests/gen4_complete/dongle.h"
#include "tests/upgrade/bl3_support.h"
#include "zivra/gen4_rev.h"
#include "zivra/zivra.h"

namespace {

namespace zs = zivra_sim;
using Bytes = std::vector<uint8_t>;

struct Kind {
  const char *name;
  std::function<zs::Fault(int nth)> make;
};

// Bulk-USB dongles exchange control transfers: no status byte or echoed word,
// a transfer fails, times out, comes back short or finds the dongle gone.
const Kind kUsbKinds[] = {
    {"failing", [](int n) { return zs::faults::failing("", n); }},
    {"timeout", [](int n) { return zs::faults::timeout("", n); }},
    {"short", [](int n) { return zs::faults::wrong_length("", n, 5); }},
    {"unplug", [](int n) { return zs::faults::unplug("", n); }},
};

const Kind kKinds[] = {
    {"status", [](int n) { return zs::faults::status("", n, 0xFF); }},
    {"timeout", [](int n) { return zs::faults::timeout("", n); }},
    {"echo", [](int n) { return zs::faults::wrong_echo("", n, "bogus"); }},
    {"short", [](int n) { return zs::faults::wrong_length("", n, 5); }},
    {"unplug", [](int n) { return zs::faults::unplug("", n); }},
};

// What a case works on; filled by the operation's set-up.
struct Ctx {
  std::shared_ptr<zs::Gen4Model> app;
  std::shared_ptr<zs::Bl3Model> bl;
  std::shared_ptr<zs::LegacyBootloaderModel> legacy_bl;
  std::shared_ptr<zs::LegacyAppModel> legacy_app;
  std::string file;
  Bytes file_before;
  Bytes clean;  // what the clean run left (an image, a signal)
  const Kind *kind = nullptr;
};

struct Op {
  const char *name;
  std::function<void(Ctx &)> setup;
  std::function<int(Ctx &)> run;
  // After a clean run: record what success looks like.
  std::function<void(Ctx &)> learn;
  // After every run: a success must be real, a failure must lose nothing.
  std::function<void(Ctx &, int rc)> check;
  bool usb = false;  // a bulk-USB dongle: its exchanges are control transfers
};

Bytes image_with(size_t buttons, uint32_t te = 300) {
  std::vector<uint32_t> tes(buttons, te);
  return gen4t::make_image(tes);
}

std::shared_ptr<zs::Gen4Model> open_app(int minor, const Bytes &img) {
  auto app = std::make_shared<zs::Gen4Model>();
  app->set_version(4, static_cast<uint16_t>(minor), 0);
  app->set_capacity(200);
  app->set_image(img);
  zs::plug(zs::gen4_app_identity(), app);
  EXPECT_EQ(zv_open_device(ZV_VID, nullptr), 2);
  return app;
}

// After a save: a failure leaves the previous file as it was, a success wrote what
// the clean run wrote.
void save_check(Ctx &c, int rc) {
  Bytes now = gen4t::read_file(c.file);
  if (rc < 0) {
    EXPECT_EQ(now, c.file_before) << "a failed save changed the previous file";
  } else {
    EXPECT_EQ(now, c.clean) << "a save reported success with another file";
  }
}

Op save_op(int minor) {
  return Op{
      minor == 0 ? "save_4_0" : "save_4_5",
      [minor](Ctx &c) {
        c.app = open_app(minor, image_with(3));
        c.file = gen4t::temp_path("fault_save.cfg");
        c.file_before = Bytes(40, 0x5A);
        gen4t::write_file(c.file, c.file_before);
      },
      [](Ctx &c) { return zv_save_config(c.file.c_str()); },
      [](Ctx &c) { c.clean = gen4t::read_file(c.file); },
      save_check};
}

Op load_op(int minor) {
  static const char *names[] = {"load_4_0", "load_4_3", "load_4_5"};
  return Op{
      names[minor == 0 ? 0 : minor == 3 ? 1 : 2],
      [minor](Ctx &c) {
        c.app = open_app(minor, image_with(1));
        c.file = gen4t::temp_path("fault_load.cfg");
        c.file_before = image_with(4, 500);
        gen4t::write_file(c.file, c.file_before);
      },
      [](Ctx &c) { return zv_load_config(c.file.c_str()); },
      [](Ctx &c) { c.clean = c.app->image(); },
      [](Ctx &c, int rc) {
        EXPECT_EQ(gen4t::read_file(c.file), c.file_before);
        if (rc >= 0) {
                EXPECT_EQ(c.app->image(), c.clean) << "a load reported success with another image";
              }
      }};
}

Op normalise_op() {
  return Op{"normalise_4_1",
            [](Ctx &c) {
              std::vector<uint32_t> tes = {300, 310, 290, 600, 610};
              c.app = open_app(1, gen4t::make_image(tes));
            },
            [](Ctx &) { return zv_normalize_config(); }, [](Ctx &c) { c.clean = c.app->image(); },
            [](Ctx &c, int rc) {
              if (rc >= 0) {
                EXPECT_EQ(c.app->image(), c.clean) << "normalising reported success with another image";
              }
            }};
}

Op rom_table_op() {
  return Op{"rom_table_4_0", [](Ctx &c) { c.app = open_app(0, image_with(2)); },
            [](Ctx &) { return zv_enable_rom_table(2, 0); }, [](Ctx &c) { c.clean = c.app->image(); },
            [](Ctx &c, int rc) {
              if (rc >= 0) {
                EXPECT_EQ(c.app->image(), c.clean) << "a table switch reported success with another image";
              }
            }};
}

Op selftest_op() {
  return Op{"selftest_4_2",
            [](Ctx &c) {
              c.app = open_app(2, image_with(0));
              c.app->set_loopback(true);
            },
            [](Ctx &) { return zv_unit_test(); },
            [](Ctx &c) { c.clean = Bytes(c.app->transmitted().size(), 0); },
            [](Ctx &c, int rc) {
              if (rc >= 0) {
                EXPECT_EQ(c.app->transmitted().size(), c.clean.size());
              }
            }};
}

const uint16_t kWake[] = {9000, 4500, 560, 560, 560, 1690, 560, 560, 560, 1690, 560};

Op wake_op() {
  return Op{"wake_signal_4_8", [](Ctx &c) { c.app = open_app(8, image_with(0)); },
            [](Ctx &) {
              uint16_t sig[sizeof kWake / 2];
              memcpy(sig, kWake, sizeof kWake);
              return zv_rb_wake_sig(sig, static_cast<uint8_t>(sizeof kWake / 2));
            },
            [](Ctx &) {},
            [](Ctx &c, int rc) {
              if (rc >= 0) {
                EXPECT_EQ(c.app->wake_signal(), std::vector<uint16_t>(std::begin(kWake), std::end(kWake)));
              }
            }};
}

Op transmit_op(bool pronto) {
  return Op{pronto ? "pronto_4_10" : "transmit_raw_4_10", [](Ctx &c) { c.app = open_app(10, image_with(0)); },
            [pronto](Ctx &) {
              if (!pronto) {
                uint16_t sig[sizeof kWake / 2];
                memcpy(sig, kWake, sizeof kWake);
                return zv_transmit_raw(sig, static_cast<uint16_t>(sizeof kWake / 2), 40, 0);
              }
              // Carrier 38 kHz, one burst pair of intro, one of repeat.
              uint16_t code[] = {0x0000, 0x006D, 0x0001, 0x0001, 0x0156, 0x00AB, 0x0015, 0x0E6C};
              return zivra_send_pronto(code, 8, 1);
            },
            [](Ctx &c) {
              c.clean.clear();
              for (auto &sig : c.app->transmitted())
                for (uint16_t v : sig) c.clean.push_back(static_cast<uint8_t>(v)), c.clean.push_back(v >> 8);
            },
            [](Ctx &c, int rc) {
              Bytes sent;
              for (auto &sig : c.app->transmitted())
                for (uint16_t v : sig) sent.push_back(static_cast<uint8_t>(v)), sent.push_back(v >> 8);
              if (rc >= 0) {
                EXPECT_EQ(sent, c.clean) << "a transmission reported success with another signal";
              }
            }};
}

// A small flash keeps the erase short: 32 KiB with a 16 KiB bootloader.
Bytes fw_image() {
  zs::ImageFields s;
  s.size = 7 * 64;
  s.encrypted = 0;
  s.minor = 10;
  s.patch = 2;
  return zs::make_fw_image(s);
}

using upg::current;
using upg::run_bus;

Op upgrade_op(int minor) {
  static const char *names[] = {"upgrade_bl3_0", "upgrade_bl3_1", "upgrade_bl3_2", "upgrade_bl3_3"};
  return Op{names[minor],
            [minor](Ctx &c) {
              zs::FlashLayout layout;
              layout.flash_kb = minor == 1 || minor == 2 ? 44 : 32;
              c.bl = std::make_shared<zs::Bl3Model>(minor, layout);
              zs::ImageFields st;
              st.name = zs::kStage2Name;
              st.size = zs::kStage2Size;
              if (minor == 2) c.bl->install_stage2(zs::make_fw_image(st));
              if (minor != 1) c.bl->install_app(fw_image());
              zs::plug(zs::gen4_bootloader_identity(), c.bl);
              EXPECT_EQ(zv_open_device(ZV_VID, nullptr), 1);
              if (minor == 1) {
                st.encrypted = 0;
                c.clean = zs::make_fw_image(st);  // 3.1 installs only the stage-2 bootloader
              } else {
                c.clean = fw_image();
              }
            },
            [minor](Ctx &c) {
              Bytes img = c.clean;
              if (minor != 1)
                return zv_upgrade_fw_ext_timeout(img.data(), img.size(), ZV_VID, ZV_MFR_APP, nullptr, nullptr, 2);
              // 3.1 installs the stage-2 bootloader, which enumerates as a bootloader
              // again: only its upload is of interest.
              zv_iface_t *t = determine_iface(1, 3, 1);
              int r = t->zv_upload_fw(img.data(), img.size(), nullptr, nullptr);
              free(t);
              return r;
            },
            [](Ctx &) {},
            [minor](Ctx &c, int rc) {
              run_bus();
              if (rc == 0) {
                // The image really is in the flash; and the dongle runs it unless it
                // dropped off after the upload (the boot flag's result is not examined).
                EXPECT_TRUE(c.bl->app_valid());
                if (minor == 1 || std::string(c.kind->name) == "unplug") return;
                EXPECT_EQ(zv_fw_state(), 2);
                EXPECT_STREQ(zv_version_str(), "4.10.2");
                return;
              }
              EXPECT_LT(rc, 0);
              // -13 after the upload: the new application did not answer in time;
              // it may well be running. A drop-off leaves nothing on the bus.
              if (minor == 1 || rc == -13 || std::string(c.kind->name) == "unplug") return;
              // The upload failed: still the bootloader, never a half-started application.
              EXPECT_EQ(current<zs::Gen4Model>(), nullptr);
              EXPECT_NE(current<zs::Bl3Model>(), nullptr);
            }};
}

// Bootloaders 1 and 2: 128-byte pages over vendor requests; a failed upload
// leaves the dongle in its bootloader (with its upgrade mark set).
Op legacy_upgrade_op(int generation) {
  Op op{generation == 1 ? "upgrade_bl1" : "upgrade_bl2",
        [generation](Ctx &c) {
          c.legacy_bl = std::make_shared<zs::LegacyBootloaderModel>(generation, std::make_shared<zs::LegacyDongle>(),
                                                                    8192);
          zs::plug(zs::legacy_bootloader_identity(generation), c.legacy_bl);
          EXPECT_EQ(zv_open_device(ZV_VID, ZV_MFR_APP), 1);
          c.clean.assign(3 * 128, 0);
          for (size_t i = 0; i < c.clean.size(); ++i) c.clean[i] = static_cast<uint8_t>(i * 7 + 1);
        },
        [](Ctx &c) {
          Bytes img = c.clean;
          return zv_upgrade_fw_ext_timeout(img.data(), img.size(), ZV_VID, ZV_MFR_APP, nullptr, nullptr, 3);
        },
        [](Ctx &) {},
        [generation](Ctx &c, int rc) {
          run_bus();
          if (rc == 0) {
            EXPECT_EQ(c.legacy_bl->dongle().flash, c.clean) << "an upgrade reported success with another image";
            return;
          }
          // Once a page is written the upgrade mark stays set until every page
          // went through (generation 1 never clears it).
          bool all_pages = c.legacy_bl->dongle().flash == c.clean;
          if (c.legacy_bl->pages_written() > 0 && (generation == 1 || !all_pages)) {
            EXPECT_NE(c.legacy_bl->dongle().memory[2] & 0x80, 0) << "a failed upload left no upgrade mark";
          }
          if (rc == -13 || std::string(c.kind->name) == "unplug") return;
          EXPECT_FALSE(c.legacy_bl->left()) << "a failed upload started the application";
          EXPECT_NE(current<zs::LegacyBootloaderModel>(), nullptr);
        }};
  op.usb = true;
  return op;
}

// Firmware 2.x over bulk USB: the configuration memory is read and written a
// byte per control transfer, so every byte of a save, load or delete is an
// exchange that can fail.
std::shared_ptr<zs::LegacyAppModel> open_legacy(size_t records) {
  auto app = std::make_shared<zs::LegacyAppModel>(2, 1);
  for (size_t i = 0; i < records; ++i)
    app->add_record(0x11111111u * static_cast<uint32_t>(i + 1), 0, static_cast<uint8_t>(4 + i));
  zs::plug(zs::legacy_app_identity(), app);
  EXPECT_EQ(zv_open_device(ZV_VID, ZV_MFR_APP), 2);
  return app;
}

Op legacy_op(const char *name, std::function<void(Ctx &)> setup, std::function<int(Ctx &)> run,
             std::function<void(Ctx &)> learn, std::function<void(Ctx &, int)> check) {
  Op op{name, std::move(setup), std::move(run), std::move(learn), std::move(check)};
  op.usb = true;
  return op;
}

Bytes memory_of(Ctx &c) { return c.legacy_app->dongle().memory; }

Op legacy_save_op() {
  return legacy_op(
      "save_2_1",
      [](Ctx &c) {
        c.legacy_app = open_legacy(3);
        c.file = gen4t::temp_path("fault_save_legacy.cfg");
        c.file_before = Bytes(23, 0xA5);
        gen4t::write_file(c.file, c.file_before);
      },
      [](Ctx &c) { return zv_save_config(c.file.c_str()); },
      [](Ctx &c) { c.clean = gen4t::read_file(c.file); },
      save_check);
}

Op legacy_load_op() {
  return legacy_op(
      "load_2_1",
      [](Ctx &c) {
        // The file: the memory of a dongle holding two buttons.
        c.legacy_app = open_legacy(2);
        Bytes mem = memory_of(c);
        c.file_before.assign(mem.begin(), mem.begin() + static_cast<long>(c.legacy_app->dongle().used()));
        zv_close_device();
        zs::reset();
        c.legacy_app = open_legacy(0);
        c.file = gen4t::temp_path("fault_load_legacy.cfg");
        gen4t::write_file(c.file, c.file_before);
      },
      [](Ctx &c) { return zv_load_config(c.file.c_str()); },
      [](Ctx &) {},
      [](Ctx &c, int rc) {
        EXPECT_EQ(gen4t::read_file(c.file), c.file_before) << "a load changed its file";
        if (rc >= 0) {
          Bytes mem = memory_of(c);
          EXPECT_EQ(Bytes(mem.begin(), mem.begin() + static_cast<long>(c.file_before.size())), c.file_before)
              << "a load reported success with another memory";
        }
      });
}

Op legacy_delete_index_op() {
  return legacy_op(
      "delete_index_2_1", [](Ctx &c) { c.legacy_app = open_legacy(3); },
      [](Ctx &) { return zv_delete_index(1); },
      [](Ctx &c) {
        c.clean = memory_of(c);
        ASSERT_EQ(c.legacy_app->records(), 2u);
        EXPECT_EQ(c.legacy_app->record_hash(1), 0x33333333u);
      },
      [](Ctx &c, int rc) {
        if (rc >= 0) {
          Bytes mem = memory_of(c);
          EXPECT_EQ(Bytes(mem.begin(), mem.begin() + 17), Bytes(c.clean.begin(), c.clean.begin() + 17))
              << "a delete reported success with another memory";
        }
      });
}

class FaultMatrix : public ::testing::TestWithParam<Op> {
 protected:
  void SetUp() override {
    zs::reset();
    // Thousands of failures: their log lines and progress bars are not the subject
    // here. ZV_FAULT_CASE=<exchange>:<kind> runs that one case with its log.
    const char *one = getenv("ZV_FAULT_CASE");
    set_loglevel(one != nullptr ? 5 : 0);
    if (one != nullptr) only_ = one;
  }
  void TearDown() override {
    zv_close_device();
    zs::reset();
  }
  // Runs the operation with its progress bars and status lines sent away.
  int quietly(const Op &op, Ctx &c) {
    if (!only_.empty()) return op.run(c);
    fflush(stdout);
    int saved = dup(1);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
    int r = op.run(c);
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    return r;
  }
  LevelGuard level;
  std::string only_;
};

size_t exchanges(const Op &op) {
  return zs::trace_of(op.usb ? zs::TraceEntry::Control : zs::TraceEntry::HidWrite).size();
}

TEST_P(FaultMatrix, EveryExchangeFailedEveryWay) {
  const Op &op = GetParam();
  Ctx clean;
  op.setup(clean);
  size_t before = exchanges(op);
  int rc = quietly(op, clean);
  ASSERT_GE(rc, 0) << "the clean run must succeed";
  size_t n = exchanges(op) - before;
  ASSERT_GT(n, 0u);
  op.learn(clean);
  zv_close_device();
  size_t cases = 0;
  for (size_t i = 1; i <= n; ++i) {
    for (const Kind &k : op.usb ? std::vector<Kind>(std::begin(kUsbKinds), std::end(kUsbKinds))
                                : std::vector<Kind>(std::begin(kKinds), std::end(kKinds))) {
      if (!only_.empty() && only_ != std::to_string(i) + ":" + k.name) continue;
      SCOPED_TRACE(std::string(op.name) + ": exchange " + std::to_string(i) + "/" + std::to_string(n) + ", " + k.name);
      zs::reset();
      Ctx c;
      c.clean = clean.clean;
      c.kind = &k;
      op.setup(c);
      zs::add_fault(k.make(static_cast<int>(i)));
      int r = quietly(op, c);
      zs::clear_faults();  // the check's own exchanges are not part of the case
      op.check(c, r);
      zv_close_device();
      ++cases;
      if (HasFailure()) return;
    }
  }
  RecordProperty("cases", static_cast<int>(cases));
  printf("%s: %zu exchanges, %zu cases\n", op.name, n, cases);
}

INSTANTIATE_TEST_SUITE_P(Operations, FaultMatrix,
                         ::testing::Values(save_op(0), save_op(5), load_op(0), load_op(3), load_op(5),
                                           normalise_op(), rom_table_op(), selftest_op(), wake_op(), transmit_op(false),
                                           transmit_op(true), upgrade_op(0), upgrade_op(1), upgrade_op(2),
                                           upgrade_op(3), legacy_upgrade_op(1), legacy_upgrade_op(2), legacy_save_op(),
                                           legacy_load_op(), legacy_delete_index_op()),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
