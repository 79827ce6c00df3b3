// zivra_sim — the simulated dongle: a virtual USB bus behind drop-in hidapi and
// libusb-1.0 functions, a virtual clock, a wire trace and fault injection.
//
// HOW IT PLUGS IN
//   libzivra_sim.so defines the hidapi functions (hid_init, hid_enumerate,
//   hid_open_path, hid_write, hid_read_timeout, the string getters, hid_error,
//   hid_close, hid_exit, ...), the libusb-1.0 functions (libusb_init,
//   libusb_get_device_list, libusb_open, libusb_control_transfer,
//   libusb_interrupt_transfer, ...) and gettimeofday / usleep. Link it ahead of
//   libzivra (tests: `zv_gtest(... LIBS zivra_sim zivra)`), or LD_PRELOAD it under
//   any client. Everything is single-threaded, like the kit.
//
// PLUGGING A DEVICE
//   zivra_sim::reset();                          // empty bus, clock at kEpochUs, no faults
//   auto model = std::make_shared<zivra_sim::ScriptModel>();
//   model->set_reply("getversion", 0x00, {4, 10, 0});
//   zivra_sim::Identity id;                     // HID, 0x20A0:0x0006, interface 0
//   zivra_sim::Device &d = zivra_sim::plug(id, model);
//   ... dev_open(2, &priv) now finds it; d.unplug() removes it again.
//   Identity fields: transport (Hid/Usb), vid, pid, interface, manufacturer, product,
//   serial, release, usage_page, usage, path, and the refusals openable (open fails),
//   claimable (libusb_claim_interface fails), strings_readable (string reads fail).
//   Several devices may be plugged at once; enumeration lists them in plug order.
//   One model may back several identities (e.g. two interfaces of one dongle).
//
// WRITING A MODEL (one file per model in sim/, e.g. sim/model_fw4.cpp)
//   Derive from Model (raw reports and transfers) or, for the command protocol, from
//   CommandModel, which parses output reports 2/6 into a Command and report 4 into a
//   data block:
//     class Fw4 : public zivra_sim::CommandModel {
//       void on_command(zivra_sim::Device &d, const zivra_sim::Command &c) override {
//         if (c.word == "getversion") { uint8_t v[] = {4, 10, 0}; reply(d, c, 0, v, sizeof v); }
//         else reply(d, c, 0xFE);
//       }
//       void on_data(zivra_sim::Device &d, const uint8_t *blk, size_t n) override { ack(d, 0); }
//     };
//   reply() answers on report 1 (33 bytes) or 5 (65 bytes) to match the request,
//   echoing the word; unsolicited input goes through d.queue_report(7, payload).
//   Bulk-USB models override on_control / on_interrupt and return a libusb result
//   (bytes transferred, 0, or a negative kUsb* code). now_us() is the clock; a model
//   may plug()/unplug() devices from a handler (re-enumeration after a reset).
//   Register a named dongle for ZIVRA_SIM_DEVICE in the same file:
//     ZIVRA_SIM_DONGLE("fw4.10", [] { zivra_sim::plug(Identity{}, std::make_shared<Fw4>()); });
//
// ENVIRONMENT (read on the first hidapi/libusb call, unless reset() came first)
//   ZIVRA_SIM_DEVICE=name[,name...]  plugs registered dongles ("script" is built in:
//                                    a ScriptModel at 0x20A0:0x0006 that answers every
//                                    word with status 0xFE and acks data with 0)
//   ZIVRA_SIM_REALTIME=1             real-time clock and real waits (demos)
//   ZIVRA_SIM_TRACE=1                also print every trace entry to stderr
//
// CLOCK
//   Virtual by default: now_us() starts at kEpochUs and moves only when the code
//   waits: hid_read_timeout that finds nothing advances it by its time-out (or up to
//   a delayed reply), usleep advances it, a timed-out transfer advances it, and each
//   gettimeofday call advances it by tick_us (1 us by default, so spinning waits end).
//   advance_us()/set_now_us() move it from a test. set_realtime(true) for demos.
//   set_report_us(1000) makes every HID report written or read cost 1 ms more.
//
// TRACE
//   trace() lists every hid_write, every hid_read_timeout (request_id = byte 0 the
//   caller set, data = bytes returned, result 0 on a time-out), every control and
//   interrupt transfer, in order, with the clock and the device id. clear_trace().
//
// FAULTS
//   add_fault(fault_on(Fault::Delay, "getversion")) acts on the exchanges whose key equals Fault::word: the
//   command word for reports 2/6, kDataKey for data reports (4), control_key(bRequest)
//   for control transfers and interrupt_key(endpoint) for interrupt transfers.
//   It applies to the nth matching exchange counted from when it was added (1-based)
//   and the times-1 after it (times 0: every one from the nth on). Kinds:
//     Fail        the write / transfer itself fails (-1 / Fault::usb_error)
//     Timeout     the model handles the request, its reply is withheld
//     Drop        the request is lost before the model sees it (no reply)
//     Delay       the reply becomes readable delay_us later
//     EchoWord    the reply echoes Fault::echo instead of the word
//     WrongReportId / WrongLength  the reply's report ID / length is changed
//     Status      the reply's status byte (a data acknowledgement's byte) becomes Fault::status
//     Unplug      the device drops off the bus at this request (the request fails)
//
// ALLOCATION COUNTING
//   in_sim() is true while a sim entry point runs, so a test's malloc counter can
//   leave the sim's own bookkeeping out and count only the caller's allocations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zivra_sim {

// 2026-01-01 00:00:00 UTC, in microseconds: where the virtual clock starts.
inline constexpr uint64_t kEpochUs = 1767225600ull * 1000000ull;

// libusb-1.0 result codes, for models (same values as <libusb.h>).
inline constexpr int kUsbSuccess = 0;
inline constexpr int kUsbErrorIo = -1;
inline constexpr int kUsbErrorInvalidParam = -2;
inline constexpr int kUsbErrorAccess = -3;
inline constexpr int kUsbErrorNoDevice = -4;
inline constexpr int kUsbErrorNotFound = -5;
inline constexpr int kUsbErrorBusy = -6;
inline constexpr int kUsbErrorTimeout = -7;
inline constexpr int kUsbErrorPipe = -9;

enum class Transport { Hid, Usb };

struct Identity {
  Transport transport = Transport::Hid;
  uint16_t vid = 0x20A0;
  uint16_t pid = 0x0006;
  int interface = 0;
  std::string manufacturer = "Zivra";
  std::string product = "Zivra IR receiver";
  std::string serial = "0001";
  uint16_t release = 0x0100;
  uint16_t usage_page = 0xFF00;
  uint16_t usage = 0x0001;
  std::string path;  // HID path; generated ("sim:hid:<id>") when empty
  bool openable = true;
  bool claimable = true;
  bool strings_readable = true;
};

class Device;

// Setup of a control transfer as the host issued it.
struct ControlSetup {
  uint8_t bmRequestType;
  uint8_t bRequest;
  uint16_t wValue;
  uint16_t wIndex;
  uint16_t wLength;
  unsigned int timeout;
  bool in() const { return (bmRequestType & 0x80) != 0; }
};

// A device model: what the dongle does with what the host sends.
class Model {
 public:
  virtual ~Model() = default;
  // HID output report written by the host; report[0] is the report ID. Queue replies
  // with Device::queue_input / queue_report.
  virtual void on_output_report(Device &dev, const uint8_t *report, size_t len);
  // Control transfer; data holds wLength bytes (OUT: to read, IN: to fill). Returns
  // the bytes transferred or a negative kUsb* code. Default: stall.
  virtual int on_control(Device &dev, const ControlSetup &setup, uint8_t *data);
  // Interrupt transfer; set *transferred, return 0 or a negative kUsb* code.
  virtual int on_interrupt(Device &dev, uint8_t endpoint, uint8_t *data, int length, int *transferred,
                           unsigned int timeout);
  // Called before every read of the input queue: queue time-driven input here.
  virtual void on_poll(Device &dev);
  virtual void on_open(Device &dev);
  virtual void on_close(Device &dev);
  virtual void on_reset(Device &dev);  // libusb_reset_device
};

// One command packet as the host sent it.
struct Command {
  uint8_t report_id = 0;         // 2 (32-byte packet) or 6 (64-byte packet)
  size_t size = 0;               // 32 or 64
  std::string word;              // up to the first NUL of the 11-byte field
  std::vector<uint8_t> packet;   // the whole packet (size bytes, without report ID)
  const uint8_t *payload() const { return packet.data() + 12; }
  size_t payload_size() const { return size - 12; }
};

// Parses the command protocol: reports 2/6 -> on_command, report 4 -> on_data.
class CommandModel : public Model {
 public:
  void on_output_report(Device &dev, const uint8_t *report, size_t len) override;
  virtual void on_command(Device &dev, const Command &cmd) = 0;
  // A data block (report 4; always 64 bytes on the wire). Default: ack 0.
  virtual void on_data(Device &dev, const uint8_t *block, size_t len);
  // Any other report ID. Default: ignored.
  virtual void on_other_report(Device &dev, const uint8_t *report, size_t len);

  // Answers cmd: report 1 (33 bytes) or 5 (65 bytes), the echoed word, status,
  // payload (cut to 20 / 52 bytes), after delay_us.
  static void reply(Device &dev, const Command &cmd, uint8_t status, const void *payload = nullptr,
                    size_t n = 0, uint64_t delay_us = 0);
  // Acknowledges a data block with report 3 {3, ack}.
  static void ack(Device &dev, uint8_t ack_byte, uint64_t delay_us = 0);
};

// The scriptable dongle: replies programmed per command word, a programmable data
// acknowledgement, queued unsolicited input, programmed control/interrupt answers.
class ScriptModel : public CommandModel {
 public:
  struct Reply {
    uint8_t status = 0;
    std::vector<uint8_t> payload;
    uint64_t delay_us = 0;
  };
  using Handler = std::function<void(Device &, const Command &)>;

  // Sticky reply to `word`.
  void set_reply(const std::string &word, uint8_t status, std::vector<uint8_t> payload = {},
                 uint64_t delay_us = 0);
  // One-shot replies, used in order before the sticky one.
  void push_reply(const std::string &word, uint8_t status, std::vector<uint8_t> payload = {});
  // Full control over one word (replaces set/push for it).
  void set_handler(const std::string &word, Handler h);
  // Words without a programmed reply get this status (default 0xFE, not found);
  // answer_unknown(false) leaves them unanswered.
  void set_unknown_status(uint8_t status) { unknown_status_ = status; }
  void answer_unknown(bool yes) { answer_unknown_ = yes; }
  void set_data_ack(uint8_t ack_byte) { data_ack_ = ack_byte; }
  // Unsolicited input report `id` (default 7, the IR stream), 65 bytes, readable
  // delay_us after the device next polls its queue.
  void queue_unsolicited(std::vector<uint8_t> payload, uint64_t delay_us = 0, uint8_t id = 7);

  // Control transfers by bRequest: IN copies data (up to wLength) and returns its
  // size, or `result` when given; OUT records the data and returns wLength.
  void set_control_reply(uint8_t bRequest, std::vector<uint8_t> data, int result = 1 << 30);
  // Interrupt transfers by endpoint: IN copies data and sets *transferred; OUT records.
  void set_interrupt_reply(uint8_t endpoint, std::vector<uint8_t> data, int result = 0);

  // What the host sent.
  const std::vector<Command> &commands() const { return commands_; }
  const std::vector<std::vector<uint8_t>> &data_blocks() const { return data_blocks_; }
  struct Transfer {
    ControlSetup setup{};
    uint8_t endpoint = 0;  // interrupt transfers
    bool interrupt = false;
    std::vector<uint8_t> data;
  };
  const std::vector<Transfer> &transfers() const { return transfers_; }

  void on_command(Device &dev, const Command &cmd) override;
  void on_data(Device &dev, const uint8_t *block, size_t len) override;
  int on_control(Device &dev, const ControlSetup &setup, uint8_t *data) override;
  int on_interrupt(Device &dev, uint8_t endpoint, uint8_t *data, int length, int *transferred,
                   unsigned int timeout) override;
  void on_poll(Device &dev) override;

 private:
  struct Unsolicited {
    std::vector<uint8_t> report;
    uint64_t delay_us;
  };
  std::map<std::string, Reply> sticky_;
  std::map<std::string, std::vector<Reply>> once_;
  std::map<std::string, Handler> handlers_;
  std::map<uint8_t, std::pair<std::vector<uint8_t>, int>> control_;
  std::map<uint8_t, std::pair<std::vector<uint8_t>, int>> interrupt_;
  std::vector<Unsolicited> unsolicited_;
  std::vector<Command> commands_;
  std::vector<std::vector<uint8_t>> data_blocks_;
  std::vector<Transfer> transfers_;
  uint8_t unknown_status_ = 0xFE;
  bool answer_unknown_ = true;
  uint8_t data_ack_ = 0;
};

// A device on the virtual bus.
class Device {
 public:
  int id() const { return id_; }
  const Identity &identity() const { return identity_; }
  Model &model() { return *model_; }
  bool plugged() const { return plugged_; }
  bool is_open() const { return open_count_ > 0; }
  int claimed_interface() const { return claimed_; }  // -1 when none

  // Queues an HID input report (byte 0 = report ID), readable delay_us from now.
  void queue_input(std::vector<uint8_t> report, uint64_t delay_us = 0);
  // Queues report `id` with payload, zero-filled to report_len bytes.
  void queue_report(uint8_t id, const void *payload, size_t n, size_t report_len = 65, uint64_t delay_us = 0);
  size_t pending_input() const { return input_.size(); }
  void clear_input() { input_.clear(); }
  void unplug();

  // Internal to the sim.
  struct Input {
    uint64_t ready_us;
    uint64_t seq;
    std::vector<uint8_t> bytes;
  };
  Device(int id, Identity ident, std::shared_ptr<Model> model);
  std::vector<Input> input_;  // ordered by ready_us, then seq
  int open_count_ = 0;
  int claimed_ = -1;
  bool plugged_ = true;
  void *usb_device_ = nullptr;  // the libusb_device the sim hands out

 private:
  int id_;
  Identity identity_;
  std::shared_ptr<Model> model_;
};

// ---- bus -------------------------------------------------------------------

// Unplugs everything, clears trace, faults and counters, sets the virtual clock to
// kEpochUs with a 1 us gettimeofday tick, and turns real-time mode off.
void reset();
Device &plug(const Identity &identity, std::shared_ptr<Model> model);
void unplug(int device_id);
Device *device(int device_id);  // null when not plugged
std::vector<Device *> devices();

// Named dongles for ZIVRA_SIM_DEVICE.
using DongleFactory = std::function<void()>;
bool register_dongle(const std::string &name, DongleFactory factory);
bool plug_named(const std::string &name);
std::vector<std::string> dongle_names();

// Something that happens on the bus at a set time: a dongle re-enumerating after
// a reset (unplug now, plug the new identity later). Runs on the first sim entry
// point called once the clock has reached `at_us`, in time order; events due at
// the same time run in the order they were scheduled. reset() drops them.
void schedule(uint64_t at_us, std::function<void()> event);
size_t scheduled();  // events not yet run
#define ZIVRA_SIM_CAT2(a, b) a##b
#define ZIVRA_SIM_CAT(a, b) ZIVRA_SIM_CAT2(a, b)
#define ZIVRA_SIM_DONGLE(name, ...) \
  [[maybe_unused]] static const bool ZIVRA_SIM_CAT(zivra_sim_dongle_, __LINE__) = \
      ::zivra_sim::register_dongle(name, __VA_ARGS__)

// ---- clock -------------------------------------------------------------------

uint64_t now_us();
void advance_us(uint64_t us);
void set_now_us(uint64_t us);
void set_tick_us(uint64_t us);  // advance per gettimeofday call (virtual mode)
// Time one HID report takes on the wire: each hid_write and each report read
// costs this much (default 0, so only waits move the clock).
void set_report_us(uint64_t us);
uint64_t report_us();
void set_realtime(bool on);
bool realtime();

// ---- trace -------------------------------------------------------------------

struct TraceEntry {
  enum Kind { HidWrite, HidRead, Control, Interrupt } kind;
  uint64_t time_us = 0;
  int device = -1;
  int result = 0;              // what the caller got back
  uint8_t request_id = 0;      // HidRead: byte 0 on entry
  int timeout_ms = 0;          // HidRead, Control, Interrupt
  ControlSetup setup{};        // Control
  uint8_t endpoint = 0;        // Interrupt
  std::vector<uint8_t> data;   // written / returned / transferred bytes
};
const std::vector<TraceEntry> &trace();
void clear_trace();
// Only the entries of one kind.
std::vector<TraceEntry> trace_of(TraceEntry::Kind kind);

// ---- faults ------------------------------------------------------------------

inline constexpr const char *kDataKey = "#data";
std::string control_key(uint8_t bRequest);   // "ctrl:0xNN"
std::string interrupt_key(uint8_t endpoint); // "intr:0xNN"

struct Fault {
  enum Kind { Fail, Timeout, Drop, Delay, EchoWord, WrongReportId, WrongLength, Status, Unplug } kind = Fail;
  std::string word;       // exchange key (see above); empty matches every exchange
  int nth = 1;            // first matching exchange it acts on, counted from add_fault
  int times = 1;          // how many in a row; 0 = all from nth on
  int device = -1;        // only this device id; -1 any
  uint64_t delay_us = 0;  // Delay
  std::string echo;       // EchoWord
  uint8_t report_id = 0;  // WrongReportId
  size_t length = 0;      // WrongLength (bytes of the reply report / transfer)
  uint8_t status = 0;     // Status
  int usb_error = kUsbErrorIo;  // Fail on a transfer
  int hits = 0;           // exchanges it has acted on (filled by the sim)
};
// A rule acting on the nth exchange of `word`; set the kind's own field after.
inline Fault fault_on(Fault::Kind kind, std::string word, int nth = 1) {
  Fault f;
  f.kind = kind;
  f.word = std::move(word);
  f.nth = nth;
  return f;
}
// One constructor per kind, so a rule can not carry a field its kind ignores or
// miss the one it needs (a delay of 0 that does nothing).
namespace faults {
inline Fault failing(std::string word, int nth = 1, int usb_error = kUsbErrorIo) {
  Fault f = fault_on(Fault::Fail, std::move(word), nth);
  f.usb_error = usb_error;
  return f;
}
inline Fault timeout(std::string word, int nth = 1) { return fault_on(Fault::Timeout, std::move(word), nth); }
inline Fault dropped(std::string word, int nth = 1) { return fault_on(Fault::Drop, std::move(word), nth); }
inline Fault delayed(std::string word, int nth, uint64_t delay_us) {
  Fault f = fault_on(Fault::Delay, std::move(word), nth);
  f.delay_us = delay_us;
  return f;
}
inline Fault wrong_echo(std::string word, int nth, std::string echo) {
  Fault f = fault_on(Fault::EchoWord, std::move(word), nth);
  f.echo = std::move(echo);
  return f;
}
inline Fault wrong_report_id(std::string word, int nth, uint8_t report_id) {
  Fault f = fault_on(Fault::WrongReportId, std::move(word), nth);
  f.report_id = report_id;
  return f;
}
inline Fault wrong_length(std::string word, int nth, size_t length) {
  Fault f = fault_on(Fault::WrongLength, std::move(word), nth);
  f.length = length;
  return f;
}
// The reply's status byte (a data block's acknowledgement byte) becomes `status`.
inline Fault status(std::string word, int nth, uint8_t status) {
  Fault f = fault_on(Fault::Status, std::move(word), nth);
  f.status = status;
  return f;
}
inline Fault unplug(std::string word, int nth = 1) { return fault_on(Fault::Unplug, std::move(word), nth); }
}  // namespace faults

int add_fault(const Fault &fault);  // returns an id for fault()
const Fault *fault(int id);
void clear_faults();

// ---- counters ------------------------------------------------------------------

struct Counters {
  int hid_init = 0, hid_exit = 0, hid_enumerate = 0, hid_open = 0, hid_close = 0;
  int usb_init = 0, usb_exit = 0, usb_open = 0, usb_close = 0, usb_reset = 0;
  int usb_claim = 0, usb_release = 0;
  int usleep_calls = 0, gettimeofday_calls = 0;
};
const Counters &counters();

// Makes libusb_init fail with `code` (0: succeed) — a host without usbfs.
void set_usb_init_result(int code);

bool in_sim();

// Time spent inside sim entry points, models included, while accounting is on
// (virtual mode: the sim never blocks, so this is its CPU time): what a
// benchmark subtracts to get the caller's own share.
void set_cpu_accounting(bool on);
uint64_t sim_cpu_ns();

}  // namespace zivra_sim
