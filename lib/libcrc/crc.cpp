// Bit-by-bit CRCs without tables.
#include "zivra/crc.h"

namespace {

uint8_t crc8_step(uint8_t crc, uint8_t byte) {
  crc ^= byte;
  for (int i = 0; i < 8; ++i)
    crc = (crc & 0x80) ? static_cast<uint8_t>((crc << 1) ^ 0x07) : static_cast<uint8_t>(crc << 1);
  return crc;
}

}  // namespace

extern "C" {

uint8_t crc8_slower(const uint8_t *buf, size_t len) {
  uint8_t crc = 0;
  // size_t position: the whole buffer is covered, whatever its length.
  for (size_t i = 0; i < len; ++i) crc = crc8_step(crc, buf[i]);
  return crc;
}

uint8_t crc8_slow(const uint8_t *data, uint32_t len, uint8_t crc) {
  for (uint32_t i = 0; i < len; ++i) crc = crc8_step(crc, data[i]);
  return crc;
}

// Each step tests bit 14 and then moves the register by two positions; bit 15
// just falls out. Stored images depend on exactly this register walk.
uint16_t crc16_slow(const uint8_t *data, uint32_t len, uint16_t crc) {
  for (uint32_t i = 0; i < len; ++i) {
    crc = static_cast<uint16_t>(crc ^ (data[i] << 8));
    for (int b = 0; b < 8; ++b) {
      bool top = (crc & 0x4000) != 0;
      crc = static_cast<uint16_t>(crc << 2);
      if (top) crc ^= 0x1021;
    }
  }
  return crc;
}

// Same two-position walk as crc16_slow, testing bit 30.
uint32_t crc32_slow(const uint8_t *data, uint32_t len, uint32_t crc) {
  for (uint32_t i = 0; i < len; ++i) {
    crc ^= static_cast<uint32_t>(data[i]) << 24;
    for (int b = 0; b < 8; ++b) {
      bool top = (crc & 0x40000000u) != 0;
      crc <<= 2;
      if (top) crc ^= 0x04C11DB7u;
    }
  }
  return crc;
}
}
