#ifndef ZIVRA_ZIVRA_H
#define ZIVRA_ZIVRA_H
/*
 * The device library's public face: opening the dongle, the per-generation table of
 * operations, the forwarding calls every client uses, the command gateways the
 * generation modules use, and the generation-4 base command set.
 */
#include <errno.h>
#include <stddef.h>
#include <stdint.h>

#include "zivra/export.h"
#include "zivra/transport.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- result and state codes ------------------------------------------------ */

/*
 * Several names of zv_types_t are also <errno.h> macros with other values. The
 * enumeration below is declared with those macros set aside, so it carries the
 * names; outside this declaration the errno macros keep their meaning. Code that
 * has <errno.h> in scope (C++ nearly always does) uses the ZV_ constants, which
 * always hold this library's values.
 */
#define ZV_EOK 0
#define ZV_STATE_PLAYBACK 0
#define ZV_STATE_RECORD 1
#define ZV_STATE_DELETE 2
#define ZV_NO_INTERRUPT 4
#define ZV_ENOMEM 5
#define ZV_EBADF 6
#define ZV_EFAULT 7
#define ZV_EINVAL 8
#define ZV_ENODEV 9
#define ZV_ENOSYS 10
#define ZV_ECANCELED 11
#define ZV_EWRONGDEV 12
#define ZV_EUPGRADE_FAILED 13
#define ZV_EIDXRANGE 14
#define ZV_ENXIO 15
#define ZV_LIBUSBERR 16
#define ZV_ETIMEOUT 17
#define ZV_UNKNOWN_DEV 18
#define ZV_ERROR_T_COUNT 19

#pragma push_macro("ENOMEM")
#pragma push_macro("EBADF")
#pragma push_macro("EFAULT")
#pragma push_macro("EINVAL")
#pragma push_macro("ENODEV")
#pragma push_macro("ENOSYS")
#pragma push_macro("ECANCELED")
#pragma push_macro("ENXIO")
#undef ENOMEM
#undef EBADF
#undef EFAULT
#undef EINVAL
#undef ENODEV
#undef ENOSYS
#undef ECANCELED
#undef ENXIO
typedef enum zv_types_t {
  EOK = ZV_EOK,
  STATE_PLAYBACK = ZV_STATE_PLAYBACK,
  STATE_RECORD = ZV_STATE_RECORD,
  STATE_DELETE = ZV_STATE_DELETE,
  NO_INTERRUPT = ZV_NO_INTERRUPT,
  ENOMEM = ZV_ENOMEM,
  EBADF = ZV_EBADF,
  EFAULT = ZV_EFAULT,
  EINVAL = ZV_EINVAL,
  ENODEV = ZV_ENODEV,
  ENOSYS = ZV_ENOSYS,
  ECANCELED = ZV_ECANCELED,
  EWRONGDEV = ZV_EWRONGDEV,
  EUPGRADE_FAILED = ZV_EUPGRADE_FAILED,
  EIDXRANGE = ZV_EIDXRANGE,
  ENXIO = ZV_ENXIO,
  LIBUSBERR = ZV_LIBUSBERR,
  ETIMEOUT = ZV_ETIMEOUT,
  UNKNOWN_DEV = ZV_UNKNOWN_DEV,
  _ERROR_T_COUNT = ZV_ERROR_T_COUNT
} zv_types_t;
#pragma pop_macro("ENXIO")
#pragma pop_macro("ECANCELED")
#pragma pop_macro("ENOSYS")
#pragma pop_macro("ENODEV")
#pragma pop_macro("EINVAL")
#pragma pop_macro("EFAULT")
#pragma pop_macro("EBADF")
#pragma pop_macro("ENOMEM")

/* Wait argument of the record and delete operations (a count of seconds). */
typedef enum zivra_parms_t { DONT_WAIT = 0, WAIT = 1 } zivra_parms_t;

/* Auxiliary USB interfaces a generation-4 dongle can switch. */
typedef enum usb_iface_type { USB_IFACE_AUX = 0 } usb_iface_type;

/* USB identities of the dongle (vendor 0x20A0). */
#define ZV_VID 0x20A0
#define ZV_PID_HID_BOOTLOADER 0x0005
#define ZV_PID_HID_APP 0x0006
#define ZV_PID_USB_BOOTLOADER_V2 0x0002
#define ZV_PID_USB_BOOTLOADER_V1 0x0000
#define ZV_PID_USB_APP 0x0001
#define ZV_PID_USB_APP_ORBIS 0x0004
/* Manufacturer strings a bulk-USB dongle must report, matched exactly. */
#define ZV_MFR_APP "Zivra Systems"
#define ZV_MFR_BOOTLOADER "Zivra Systems Bootloader"

/* ---- generation-4 command payloads (little-endian, packed) ------------------- */

typedef struct __attribute__((packed)) ir_state_t {
  uint8_t state;
} ir_state_t;

/* Reply of "getversion". */
typedef struct __attribute__((packed)) version_t {
  uint16_t major_version;
  uint16_t minor_version;
  uint16_t patch_version;
  uint32_t scm_hash;
  char type[9]; /* NUL-terminated build type */
} version_t;

typedef struct __attribute__((packed)) peek_t {
  uint32_t addr;
  uint32_t data;
} peek_t;

typedef struct __attribute__((packed)) poke_t {
  uint32_t addr;
  uint32_t data;
} poke_t;

typedef struct __attribute__((packed)) cfg1_read_t {
  uint32_t addr;
  uint32_t len;
} cfg1_read_t;

typedef struct __attribute__((packed)) cfg1_size_t {
  uint32_t size;
} cfg1_size_t;

/* Request of "debug_pipe": cmd 0 query, 1 enable, 2 disable. */
typedef struct __attribute__((packed)) log_pipe {
  uint8_t cmd;
  uint32_t pipe;
  uint32_t _pipe;
} log_pipe;

/* Device states returned by "ir_state" beyond STATE_PLAYBACK/RECORD/DELETE. */
#define ZV_STATE_DONE 3
#define ZV_STATE_NO_SPACE 4
#define ZV_STATE_EXISTS 5
#define ZV_STATE_NOT_FOUND 6

/* ---- the interface table ------------------------------------------------------- */

struct ir_packet;
struct list_head;
typedef struct zv_iface zv_iface_t;

/* Progress of an upload: percent 0..100. */
typedef void (*zv_progress_t)(int percent, void *priv);

/* One table per open dongle; an empty (null) slot is an operation this dongle or
 * firmware revision does not have. */
struct zv_iface {
  char *(*zv_version_str)(void);
  int (*zv_leave_bootloader)(void);
  int (*zv_reboot)(void);
  int (*zv_set_delete)(int wait);
  int (*zv_set_record)(const char *key, int wait);
  int (*zv_set_record_api)(int mode, int modifier, int key, int wait);
  int (*zv_set_record_api_new)(int report_id, int modifier, int key, int wait);
  int (*zv_set_normal)(void);
  int (*zv_set_interrupt)(int timeout);
  int (*zv_delete_buttons)(const char *user_input);
  int (*zv_set_noise_cancel)(int val);
  int (*zv_get_noise_cancel)(void);
  int (*zv_set_sensitivity)(int val);
  int (*zv_get_sensitivity)(void);
  int (*zv_set_interkey_delay)(int val);
  int (*zv_get_interkey_delay)(void);
  int (*zv_get_sleep_detect)(void);
  int (*zv_set_sleep_detect)(int val);
  int (*zv_get_builtin_profile_support)(void);
  int (*zv_set_builtin_profile_support)(int val);
  int (*zv_fw_state)(void);
  int (*zv_get_state)(void);
  int (*zv_clear_state)(void);
  int (*zv_display_config)(void);
  int (*zv_format_config)(void);
  int (*zv_save_config)(const char *file);
  int (*zv_load_config)(const char *file);
  int (*zv_keys_recorded)(void);
  int (*zv_keys_remaining)(void);
  int (*zv_open_device)(unsigned int VID, const char *mfg);
  int (*zv_device_set_dfu)(void);
  int (*zv_last_upgrade_attempt)(void);
  int (*zv_delete_index)(int index);
  int (*zv_set_sequence_modifiers)(int val);
  int (*zv_get_sequence_modifiers)(void);
  int (*zv_product_type)(void);
  int (*zv_set_boot_flag)(void);
  int (*zv_eeprom_peek)(uint32_t addr);
  int (*zv_eeprom_poke)(uint32_t addr, uint32_t data);
  int (*zv_translate)(int key, int *report);
  int (*zv_translate_word)(char *word, int *report);
  int (*zv_log)(char *buf);
  char *(*zv_get_sku)(void);
  char *(*zv_fw_branch)(void);
  char *(*zv_fw_config)(void);
  char *(*zv_fw_dirty)(void);
  int (*zv_enable_rom_table)(uint32_t table, uint8_t en);
  int (*zv_get_rom_table)(uint32_t table);
  int (*zv_set_debug_pipe)(uint32_t pipe, uint8_t en);
  int (*zv_get_debug_pipe)(uint32_t pipe);
  int (*zv_normalize_config)(void);
  int (*zv_transmit_raw)(uint16_t *buf, uint16_t len, uint16_t ik, uint8_t repeat);
  int (*zv_unit_test)(void);
  int (*zv_set_record_lp)(const char *key, int wait);
  int (*zv_set_record_macro)(const char *key, int wait);
  int (*zv_last_hash)(void);
  int (*zv_set_record_toggle)(int wait);
  int (*zv_usb_iface_en)(usb_iface_type type, uint8_t en);
  int (*zv_transmit_kill)(void);
  int (*zv_rb_settings_set)(uint32_t wake_en, uint8_t high_add, uint8_t low_add);
  int (*zv_rb_settings_get)(uint32_t *wake_en, uint8_t *high_add, uint8_t *low_add);
  int (*zv_rb_wake_sig)(uint16_t *buf, uint8_t len);
  int (*zv_ir_packet_poll)(zv_iface_t *iface, struct ir_packet *ir);
  uint32_t (*zv_fw_scm_hash)(void);
  int (*zv_upload_fw)(unsigned char *buf, size_t len, void *priv, zv_progress_t p_bar);
  /* The open device (HID); null for dongles opened over bulk USB. Not owned. */
  dev_t *dev;
};

/* ---- opening and versions ---------------------------------------------------- */

/* 1 bootloader, 2 application firmware, -1 nothing found or not supported. */
ZV_API int zv_open_device(unsigned int VID, const char *mfg);
/* The same, reaching the application on HID interface 2 and enabling the
 * auxiliary USB interface. */
ZV_API int zv_open_device_alt(unsigned int VID, const char *mfg);
ZV_API void zv_close_device(void);
ZV_API int zv_fw_state(void);
ZV_API float zv_version(void);
ZV_API int zv_major_version(void);
ZV_API int zv_minor_version(void);
ZV_API int zv_patch_version(void);
/* "major.minor.patch" in a static buffer overwritten by the next call; null on failure. */
ZV_API char *zv_version_str(void);
ZV_API const char *zv_lib_version(void);

/* The two searches: 1, 2, -1 (nothing found) or -18 (found, not supported). */
ZV_API int zv_open_hid(zv_iface_t **iface, dev_t **dev, unsigned int VID,
                       const char *manufacturer, int interface);
ZV_API int zv_open_libusb(zv_iface_t **iface, dev_t **dev, unsigned int VID,
                          const char *manufacturer);

/* The table for a state (1 bootloader, 2 application) and version, or null. */
ZV_API zv_iface_t *determine_iface(int fw_state, int major, int minor);

/* ---- forwarding calls -------------------------------------------------------------
 * -19 when no dongle is open, -12 when the open dongle lacks the operation. */

ZV_API int zv_leave_bootloader(void);
ZV_API int zv_reboot(void);
ZV_API int zv_set_delete(int wait);
ZV_API int zv_set_record(const char *key, int wait);
ZV_API int zv_set_record_api(int mode, int modifier, int key, int wait);
ZV_API int zv_set_record_api_new(int report_id, int modifier, int key, int wait);
ZV_API int zv_set_normal(void);
ZV_API int zv_set_interrupt(int timeout);
ZV_API int zv_delete_buttons(const char *user_input);
ZV_API int zv_set_noise_cancel(int val);
ZV_API int zv_get_noise_cancel(void);
ZV_API int zv_set_sensitivity(int val);
ZV_API int zv_get_sensitivity(void);
ZV_API int zv_set_interkey_delay(int val);
ZV_API int zv_get_interkey_delay(void);
ZV_API int zv_set_sleep_detect(int val);
ZV_API int zv_get_sleep_detect(void);
ZV_API int zv_set_builtin_profile_support(int val);
ZV_API int zv_get_builtin_profile_support(void);
ZV_API int zv_set_sequence_modifiers(int val);
ZV_API int zv_get_sequence_modifiers(void);
ZV_API int zv_enable_rom_table(uint32_t table, uint8_t en);
ZV_API int zv_get_rom_table(uint32_t table);
ZV_API int zv_clear_state(void);
ZV_API int zv_display_config(void);
ZV_API int zv_format_config(void);
ZV_API int zv_save_config(const char *user_file);
ZV_API int zv_load_config(const char *user_file);
ZV_API int zv_keys_recorded(void);
ZV_API int zv_keys_remaining(void);
ZV_API uint32_t zv_fw_scm_hash(void);
ZV_API int zv_set_debug_pipe(uint32_t pipe, uint8_t en);
ZV_API int zv_get_debug_pipe(uint32_t pipe);
ZV_API int zv_normalize_config(void);
ZV_API int zv_unit_test(void);
ZV_API int zv_set_record_lp(const char *key, int wait);
ZV_API int zv_set_record_macro(const char *key, int wait);
ZV_API int zv_usb_iface_en(usb_iface_type type, uint8_t en);
ZV_API int zv_last_hash(void);
ZV_API int zv_rb_settings_set(uint32_t wake_en, uint8_t high_add, uint8_t low_add);
ZV_API int zv_rb_settings_get(uint32_t *wake_en, uint8_t *high_add, uint8_t *low_add);
ZV_API int zv_rb_wake_sig(uint16_t *buf, uint8_t len);
ZV_API int zv_record_toggle(int wait);

/* Forwarders with their own results. */
ZV_API int zv_product_type(void); /* 2 (standard) for a table without the operation */
ZV_API int zv_get_state(void);    /* 0 at once in bootloader state */
ZV_API char *zv_fw_branch(void);
ZV_API char *zv_fw_config(void);
ZV_API char *zv_fw_dirty(void);
ZV_API char *zv_get_sku(void);
ZV_API int zv_log(char *buf);
ZV_API int zv_eeprom_peek(int address);
ZV_API int zv_eeprom_poke(uint16_t address, uint16_t data);
ZV_API int zv_delete_index(int index);
ZV_API int zv_ir_packet_poll(struct ir_packet *ir);
ZV_API int zv_irfuck(struct ir_packet *ir);
ZV_API void zv_dev_flush(void);

/* ---- command gateways ------------------------------------------------------------ */

/* One named command exchange (len 32 or 64) on the open device. */
ZV_API int _zv_send_msg(const char *cmd, uint8_t *data, uint32_t len);
/* One data block and its acknowledgement on the open device. */
ZV_API int _zv_send_data(uint8_t *data, uint32_t len);
/* A vendor control transfer on a bulk-USB dongle: bytes transferred or a negative
 * libusb code; an IN transfer's bytes land in data. */
ZV_API int zv_send_msg(uint8_t bmRequestType, uint8_t bRequest, uint16_t wValue,
                       uint16_t wIndex, unsigned char *data, uint16_t wLength,
                       unsigned int timeout);
/* An interrupt transfer on a bulk-USB dongle; the count arrives in *transferred. */
ZV_API int zv_set_interrupt_ep(unsigned char endpoint, unsigned char *data, int length,
                               int *transferred, unsigned int timeout);
/* 2 standard variant, 3 Orbis variant. */
ZV_API int zv_initialize_product(int product);
/* Accepted and ignored. */
ZV_API void zv_libusb_logging(int enable);

/* ---- waiting for the dongle and firmware upgrade ----------------------------------
 * Status lines "[DEVICE]        ..." go to standard output. Time-outs are whole
 * seconds; negative waits without limit, 0 allows one attempt. */

/* Switches a running application into its bootloader: 0, 1 (already there), -19,
 * -12 or -1. Close the device next. */
ZV_API int zv_device_set_dfu(void);
ZV_API int zv_last_upgrade_attempt(void);
ZV_API int zv_set_boot_flag(void);
/* Opens the dongle, retrying once a second: its state (1, 2) or -17. */
ZV_API int zv_wait_for_device_timeout(unsigned int VID, const char *mfg, int timeout);
ZV_API int zv_wait_for_device(unsigned int VID, const char *mfg);
/* Programs an image into the dongle, whatever it is running: 0 with the new
 * firmware open, -13 (the dongle did not come back or could not upload), or the
 * upload's own failure (no device open). The image in buf is updated in place. */
ZV_API int zv_upgrade_fw_ext_timeout(unsigned char *buf, size_t len, int VID, const char *mfg, void *priv,
                                     zv_progress_t p_bar, int timeout);
ZV_API int zv_upgrade_fw_ext(unsigned char *buf, size_t len, int VID, const char *mfg, void *priv,
                             zv_progress_t p_bar);
/* The same from an image file: -9 when it can not be read. */
ZV_API int zv_upgrade_fw_timeout(const char *user_file, unsigned int VID, const char *mfg, void *priv,
                                 zv_progress_t p_bar, int timeout);
ZV_API int zv_upgrade_fw(const char *user_file, unsigned int VID, const char *mfg, void *priv,
                         zv_progress_t p_bar);

/* ---- release history ---------------------------------------------------------------- */

/* Releases after the open dongle's firmware up to `comp`, oldest first; the list
 * is the library's and stays valid until the next call. Null on failure. */
ZV_API struct list_head *zv_get_ver_hist(const char *comp);
/* Prints that selection; 0, -19 (no dongle open) or -1. */
ZV_API int zv_print_ver_diff(const char *comp);

/* ---- generation 4, revision 4.0 -------------------------------------------------------- */

ZV_API zv_iface_t *zv_fw_ver4p0_init(void);
ZV_API int zv_ver4_get_state(void);
ZV_API int zv_ver4_format(void);
ZV_API int zv_ver4p0_set_dfu(void);
ZV_API int zv_ver4_set_record(const char *user_input, int wait);
ZV_API int zv_ver4_set_delete(int wait);
ZV_API int zv_ver4_set_interrupt(int timeout);
ZV_API int zv_update_crc(void);

#ifdef __cplusplus
static_assert(sizeof(version_t) == 19, "version_t is 19 bytes");
static_assert(sizeof(log_pipe) == 9, "log_pipe is 9 bytes");
static_assert(sizeof(zv_iface_t) == 66 * sizeof(void *), "65 slots and the device");
}
#else
_Static_assert(sizeof(version_t) == 19, "version_t is 19 bytes");
_Static_assert(sizeof(log_pipe) == 9, "log_pipe is 9 bytes");
_Static_assert(sizeof(zv_iface_t) == 66 * sizeof(void *), "65 slots and the device");
#endif
#endif
