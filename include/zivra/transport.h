#ifndef ZIVRA_TRANSPORT_H
#define ZIVRA_TRANSPORT_H
/*
 * Device transport: the open-device record, the packet and command-packet layouts,
 * the command and data exchanges, and the two backends that carry them (HID reports
 * through hidapi, vendor control / interrupt transfers through libusb-1.0).
 *
 * Note on the name dev_t: the system headers already define a dev_t (device numbers).
 * This header pulls <sys/types.h> in first and then maps the name dev_t onto
 * zv_dev_t, so every translation unit that includes it sees one dev_t, the open
 * device. Code that needs the system's device number type uses __dev_t or
 * st_dev's type directly.
 */
#include <stdint.h>
#include <sys/types.h>

#include "zivra/export.h"

#define dev_t zv_dev_t

#ifdef __cplusplus
extern "C" {
#endif

/* ---- core ---------------------------------------------------------------- */

typedef struct dev_t dev_t;

/* The open device. The backend's open fills every operation except send_cmd,
 * which dev_open installs. An empty (null) operation is never called. */
struct dev_t {
  int (*write)(dev_t *dev, uint8_t *buf, uint32_t len);
  int (*read)(dev_t *dev, uint8_t *buf, uint32_t len);
  int (*send_pkv)(dev_t *dev, uint8_t type, uint8_t *buf, uint32_t len);
  int (*recv_pkv)(dev_t *dev, uint8_t type, uint8_t *buf, uint32_t len);
  int (*flush)(dev_t *dev);
  int (*close)(dev_t *dev);
  int (*send_cmd)(dev_t *dev, const char *cmd, uint8_t *data, uint32_t len);
  void *handle; /* hidapi device or libusb device handle; null once closed */
  void *priv;   /* the backend's copy of its open parameters */
};

/* Transport types of dev_open. */
#define DEV_TYPE_LIBUSB 0
#define DEV_TYPE_HID 2

/* Packet types. */
#define PKT_TYPE_CMD 2
#define PKT_TYPE_DATA 3

#define PKT_DATA_SIZE 128
#define CMD_PKT_SIZE 64
#define CMD_WORD_SIZE 11
#define CMD_HEADER_SIZE 12
#define CMD_DATA_SIZE 52

/* One packet as the core hands it to a backend. */
typedef struct pkt_t {
  uint8_t type;
  uint8_t len; /* meaningful bytes in data */
  uint8_t data[PKT_DATA_SIZE];
} pkt_t;

/* Wire layout of a command packet; a 32-byte packet is its first 32 bytes. */
typedef struct cmd_pkt_t {
  char cmd[CMD_WORD_SIZE]; /* ASCII word, NUL-terminated, NUL-padded */
  uint8_t status;          /* reply: 0 ok, 0xFE not found, 0xFF failed */
  uint8_t data[CMD_DATA_SIZE];
} cmd_pkt_t;

#define CMD_STATUS_OK 0x00
#define CMD_STATUS_NOT_FOUND 0xFE
#define CMD_STATUS_FAILED 0xFF

/* type 0: bulk USB with a libusb_priv; type 2: HID with a libhid_priv. */
ZV_API dev_t *dev_open(uint8_t type, void *priv);
/* Closes the backend, releases the record, returns 1. */
ZV_API int dev_close(dev_t *dev);
ZV_API int dev_write(dev_t *dev, uint8_t *buf, uint32_t len);
ZV_API int dev_read(dev_t *dev, uint8_t *buf, uint32_t len);
ZV_API int dev_flush(dev_t *dev);
/* HID: 0 ok, -1 protocol failure, or the backend's negative send result.
 * len is the whole packet (32 or 64); data holds len bytes: the request payload
 * on entry, the reply payload followed by 12 zero bytes on success. */
ZV_API int dev_send_cmd(dev_t *dev, const char *cmd, uint8_t *data, uint32_t len);
/* One data block (at most 64 bytes) and its one-byte acknowledgement. */
ZV_API int dev_send_data(dev_t *dev, uint8_t *data, uint32_t len);

/* ---- HID backend ----------------------------------------------------------- */

typedef struct libhid_priv {
  uint16_t VID;
  uint16_t PID;
  int iface; /* -1 matches any interface */
} libhid_priv;

ZV_API int hid_dev_open(dev_t *dev, void *p);
ZV_API int hid_dev_close(dev_t *dev);
ZV_API int hid_send_packet(dev_t *dev, uint8_t type, uint8_t *buf, uint32_t len);
ZV_API int hid_recv_packet(dev_t *dev, uint8_t type, uint8_t *buf, uint32_t len);
ZV_API int hid_flush(dev_t *dev);

/* ---- bulk-USB backend ------------------------------------------------------- */

#define LIBUSB_MFR_SIZE 45

typedef struct libusb_priv {
  uint16_t VID;
  uint16_t PID;
  uint8_t interface;
  uint8_t port; /* not used by the backend */
  char mfr[LIBUSB_MFR_SIZE];
  uint8_t debug;
} libusb_priv;

/* A control-transfer request; callers pass sizeof(libusb_msg) (268) as len. */
typedef struct libusb_msg {
  uint8_t bmRequestType;
  uint8_t bRequest;
  uint16_t wValue;
  uint16_t wIndex;
  uint8_t buf[256];
  uint16_t wLength;
  unsigned int timeout;
} libusb_msg;

/* An interrupt-transfer request (command word "libusb_interrupt"). */
typedef struct __attribute__((packed)) libusb_interrupt {
  unsigned char endpoint;
  unsigned char *buf;
  int length;
  int *transferred;
  unsigned int timeout;
} libusb_interrupt;

ZV_API int libusb_dev_open(dev_t *dev, void *p);
ZV_API int libusb_dev_close(dev_t *dev);
ZV_API int libusb_dev_send_cmd(dev_t *dev, const char *cmd, uint8_t *data, uint32_t len);
ZV_API int libusb_send_packet(dev_t *dev, uint8_t type, uint8_t *buf, uint32_t len);
ZV_API int libusb_recv_packet(dev_t *dev, uint8_t type, uint8_t *buf, uint32_t len);
ZV_API int libusb_flush(dev_t *dev);
/* Text of a libusb result code ("Success", "Operation timed out", ...,
 * "Unknown error"); never null. */
ZV_API const char *libusb_error_text(int code);

#ifdef __cplusplus
}
#endif
#endif
