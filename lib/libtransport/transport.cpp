// The doorway to the dongle: the open-device record, the command exchange
// (fixed-size packet starting with an ASCII word, answered by a packet that echoes
// it with a status byte) and the data exchange (one block, one acknowledgement).
// Packets live on the caller's stack; nothing is allocated per exchange.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "liblog/log.h"
#include "zivra/transport.h"

LOG_MODULE("lib/libtransport/transport");

namespace zivra {
namespace {

constexpr int kNoDevice = -6;

int _send_packet(dev_t *dev, pkt_t *pkt) { return dev->send_pkv(dev, pkt->type, pkt->data, pkt->len); }

// A non-negative backend result is the type of the packet received.
int _recv_packet(dev_t *dev, pkt_t *pkt) {
  int r = dev->recv_pkv(dev, pkt->type, pkt->data, pkt->len);
  if (r < 0) {
    LOGE("%s: recv packet error = %d", __func__, r);
    return r;
  }
  pkt->type = static_cast<uint8_t>(r & 0xFF);
  return 0;
}

int _dev_send_cmd(dev_t *dev, const char *cmd, uint8_t *data, uint32_t len) {
  if (len > sizeof(cmd_pkt_t)) {
    LOGE("size %d is greater than max command length: %d", static_cast<int>(len),
         static_cast<int>(sizeof(cmd_pkt_t)));
    return -1;
  }
  // The packet must at least hold the word and the status byte.
  if (len < CMD_HEADER_SIZE) {
    LOGE("size %d is less than command header length: %d", static_cast<int>(len), CMD_HEADER_SIZE);
    return -1;
  }
  if (cmd == nullptr) {
    LOGE("invalid command");
    return -1;
  }
  if (data == nullptr && len > CMD_HEADER_SIZE) {
    LOGE("invalid data buffer");
    return -1;
  }

  cmd_pkt_t req;
  memset(&req, 0, sizeof req);
  size_t wlen = strlen(cmd);
  if (wlen + 1 > sizeof req.cmd) {
    LOGE("command string to long: %d > %d", static_cast<int>(wlen), static_cast<int>(sizeof req.cmd));
    return -1;
  }
  memcpy(req.cmd, cmd, wlen + 1);
  if (len > CMD_HEADER_SIZE) memcpy(req.data, data, len - CMD_HEADER_SIZE);

  pkt_t pkt;
  memset(&pkt, 0, sizeof pkt);
  pkt.type = PKT_TYPE_CMD;
  pkt.len = static_cast<uint8_t>(len);
  memcpy(pkt.data, &req, sizeof req);
  int r = _send_packet(dev, &pkt);
  if (r < 0) {
    LOGV("send cmd [%s] error", req.cmd);
    return r;
  }

  memset(&pkt, 0, sizeof pkt);
  pkt.type = PKT_TYPE_CMD;
  pkt.len = static_cast<uint8_t>(len);
  if (_recv_packet(dev, &pkt) < 0) {
    LOGE("recv timeout");
    return -1;
  }
  if (pkt.type != PKT_TYPE_CMD) {
    LOGE("Wrong packet type: 0x%02x ", pkt.type);
    return -1;
  }

  // The reply's word need not be terminated inside its 11 bytes.
  char echoed[sizeof req.cmd + 1];
  memcpy(echoed, pkt.data, sizeof req.cmd);
  echoed[sizeof req.cmd] = '\0';
  if (strncmp(echoed, req.cmd, sizeof req.cmd) != 0) {
    LOGE("Wrong response: '%s' != '%s'", echoed, req.cmd);
    return -1;
  }

  uint8_t status = pkt.data[offsetof(cmd_pkt_t, status)];
  switch (status) {
    case CMD_STATUS_OK:
      if (data != nullptr) memcpy(data, pkt.data + CMD_HEADER_SIZE, len);
      return 0;
    case CMD_STATUS_NOT_FOUND:
      LOGE("Command %s not found", req.cmd);
      return -1;
    case CMD_STATUS_FAILED:
      LOGE("Command %s reported error: %d", req.cmd, status);
      return -1;
    default:
      LOGE("Unknown command %s error", req.cmd);
      return -1;
  }
}

}  // namespace
}  // namespace zivra

extern "C" {

dev_t *dev_open(uint8_t type, void *priv) {
  if (type != DEV_TYPE_LIBUSB && type != DEV_TYPE_HID) {
    LOGE("transport type %d not supported", type);
    return nullptr;
  }
  dev_t *dev = static_cast<dev_t *>(calloc(1, sizeof(dev_t)));
  if (dev == nullptr) {
    LOGE("can't allocate memory");
    return nullptr;
  }
  int r;
  if (type == DEV_TYPE_LIBUSB) {
    r = libusb_dev_open(dev, priv);
    if (r == 0) dev->send_cmd = libusb_dev_send_cmd;
  } else {
    r = hid_dev_open(dev, priv);
    if (r == 0) dev->send_cmd = zivra::_dev_send_cmd;
  }
  if (r != 0) {
    LOGV("no device found");
    free(dev);
    return nullptr;
  }
  return dev;
}

int dev_close(dev_t *dev) {
  if (dev == nullptr) {
    LOGE("no device found");
    return zivra::kNoDevice;
  }
  if (dev->close != nullptr) dev->close(dev);
  free(dev);
  return 1;
}

int dev_write(dev_t *dev, uint8_t *buf, uint32_t len) {
  if (dev == nullptr) {
    LOGE("no device found");
    return zivra::kNoDevice;
  }
  // Neither backend writes raw reports.
  if (dev->write == nullptr) {
    LOGE("write operation not supported by this device");
    return -1;
  }
  return dev->write(dev, buf, len);
}

int dev_read(dev_t *dev, uint8_t *buf, uint32_t len) {
  if (dev == nullptr) {
    LOGE("no device found");
    return zivra::kNoDevice;
  }
  // Only HID devices stream unsolicited input.
  if (dev->read == nullptr) {
    LOGE("read operation not supported by this device");
    return -1;
  }
  return dev->read(dev, buf, len);
}

int dev_flush(dev_t *dev) {
  if (dev == nullptr) {
    LOGE("no device found");
    return zivra::kNoDevice;
  }
  if (dev->flush == nullptr) {
    LOGE("flush operation not supported by this device");
    return -1;
  }
  return dev->flush(dev);
}

int dev_send_cmd(dev_t *dev, const char *cmd, uint8_t *data, uint32_t len) {
  if (dev == nullptr) {
    LOGE("no device found");
    return zivra::kNoDevice;
  }
  if (dev->send_cmd == nullptr) {
    LOGE("send_cmd operation not supported by this device");
    return -1;
  }
  return dev->send_cmd(dev, cmd, data, len);
}

// Diagnostics of the data exchange go to standard output: the upgrade that streams
// image blocks reports there, whatever the log level.
int dev_send_data(dev_t *dev, uint8_t *data, uint32_t len) {
  if (dev == nullptr) {
    LOGE("no device found");
    return zivra::kNoDevice;
  }
  int r = dev->send_pkv(dev, PKT_TYPE_DATA, data, len);
  if (r < 0) {
    printf("%s: send packet error\n", __func__);
    return r;
  }
  pkt_t pkt;
  memset(&pkt, 0, sizeof pkt);
  pkt.type = PKT_TYPE_DATA;
  pkt.len = 1;
  if (zivra::_recv_packet(dev, &pkt) < 0) {
    printf("%s:  recv timeout\n", __func__);
    return -1;
  }
  if (pkt.type != PKT_TYPE_DATA) {
    printf("Wrong packet type: 0x%02x \n", pkt.type);
    return -1;
  }
  if (pkt.data[0] != 0) {
    puts("Data error");
    return -1;
  }
  memcpy(data, pkt.data, len < sizeof pkt.data ? len : sizeof pkt.data);
  return 0;
}
}
