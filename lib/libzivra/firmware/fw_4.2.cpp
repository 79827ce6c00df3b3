// Firmware 4.2: raw IR transmit over 32-byte exchanges, and the self-test that
// records three known signals through the dongle's own transmitter.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "liblog/log.h"
#include "libzivra/firmware/gen4_rev.h"
#include "zivra/gen4_rev.h"
#include "zivra/zivra.h"

LOG_MODULE("lib/libzivra/firmware/fw_4.2");

namespace {

using namespace zivra::gen4;

int _zv_transmit_raw(uint16_t *buf, uint16_t len, uint16_t ik, uint8_t repeat) {
  (void)ik;  // this revision's device has no pause or repeat setting
  (void)repeat;
  uint8_t set[32] = {};
  // Only ir_tran_set_t.len is sent by this revision.
  fill_tran_set(set, len, 0, 0);
  return upload_raw(LOG_SITE, set, sizeof set, buf, len, false);
}

// The three self-test signals share a 33-value head and differ in the tail;
// the dongle records them under known hashes.
#define TEST_HEAD                                                                                    \
  0, 4900, 4900, 840, 1680, 840, 1680, 840, 1680, 840, 840, 840, 1680, 840, 1680, 840, 1680, 840, 6580, \
      840, 840, 840, 840, 840, 840, 840, 1680, 840, 840, 840, 840, 840, 840
uint16_t test0[] = {TEST_HEAD, 1680, 840, 840, 840, 840, 840, 840};
uint16_t test1[] = {TEST_HEAD, 1680, 1680, 1680, 1680, 840};
uint16_t test2[] = {TEST_HEAD, 840, 840, 840, 840, 840, 840, 840, 840, 840};
#undef TEST_HEAD
static_assert(sizeof test0 / sizeof test0[0] == 40 && sizeof test1 / sizeof test1[0] == 38 &&
              sizeof test2 / sizeof test2[0] == 42);

struct SelfTest {
  uint16_t *signal;
  uint16_t count;
  uint32_t hash;
};

int _zv_unit_test() {
  const SelfTest tests[3] = {
      {test0, sizeof test0 / sizeof test0[0], 0x880AE241},
      {test1, sizeof test1 / sizeof test1[0], 0x1761D726},
      {test2, sizeof test2 / sizeof test2[0], 0xE5B3988E},
  };
  for (int i = 0; i < 3; ++i) {
    zv_set_record_api(0, 0, 0, 0);
    zv_transmit_raw(tests[i].signal, tests[i].count, 40000, 1);
    if (zv_set_interrupt(1) != 0) {
      if (i == 0)
        LOGE("error recording test0");
      else
        LOGE("error recording");
      return -1;
    }
  }
  uint8_t *img = nullptr;
  int len = get_config(&img, 32, 0);
  if (len < 0) {
    LOGE("couldn't get config");
    return -1;
  }
  size_t count = whole_records(img, static_cast<size_t>(len));
  for (int i = 0; i < 3; ++i) {
    bool found = false;
    for (size_t k = 0; k < count && !found; ++k) found = record_word(img, k, 0) == tests[i].hash;
    if (!found) {
      LOGE("can't find hash: test%d", i);
      free(img);
      return -1;
    }
  }
  free(img);
  return 0;
}

}  // namespace

extern "C" zv_iface_t *zv_fw_ver4p2_init(void) {
  zv_iface_t *t = zv_fw_ver4p1_init();
  if (t == nullptr) {
    LOGE("Could not allocate memory");
    return nullptr;
  }
  t->zv_transmit_raw = _zv_transmit_raw;
  t->zv_unit_test = _zv_unit_test;
  return t;
}
