// The client's operations: each one talks to the dongle through libzivra/libcodara,
// returns data or an error in the user's words, and prints nothing. The command line
// (main.cpp) renders the results as text or JSON; a web face can do the same.
#ifndef ZIVRA_TOOL_OPS_H
#define ZIVRA_TOOL_OPS_H

#include <csignal>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "signal_svg.h"

struct zv_iface;

namespace zivra_cli {

// Failure classes; the value is the program's exit status.
enum class Status : int {
  Ok = 0,
  Failed = 1,       // the dongle or the library reported an error
  Usage = 2,        // bad command line or bad input; nothing was sent
  NoDongle = 3,     // no dongle found
  Permission = 4,   // a dongle is there but may not be opened
  Unsupported = 5,  // this dongle or firmware lacks the operation
  File = 6,         // a file could not be read, written or used
  Timeout = 7,      // nobody pressed a button in time
  Refused = 8,      // the dongle said no (button exists, full, not recorded)
  Upgrade = 9,      // the firmware upgrade failed
};

struct Error {
  Status status = Status::Ok;
  std::string message;  // what went wrong
  std::string hint;     // what to do next
  explicit operator bool() const { return status != Status::Ok; }
};

Error fail(Status s, std::string message, std::string hint = "");
// A new empty file in $TMPDIR (or /tmp) named after `what`; empty when none can be made.
std::string temp_path(const std::string &what);

// The failure class as a word ("usage", "no-dongle", ...), as the JSON faces show it.
const char *status_name(Status s);

template <class T>
struct Result {
  T value{};
  Error error;
  Result() = default;
  Result(T v) : value(std::move(v)) {}  // NOLINT: implicit on purpose
  Result(Error e) : error(std::move(e)) {}  // NOLINT
  bool ok() const { return !error; }
};
using Done = Result<std::monostate>;

// Where the libraries' own standard-output text (progress bars, listings, usage
// text) goes while an operation runs.
enum class LibOutput { Discard, Stdout, Stderr };

// The one dongle a process drives (libzivra keeps one open device per process).
class Dongle {
 public:
  Dongle() = default;
  ~Dongle();
  Dongle(const Dongle &) = delete;
  Dongle &operator=(const Dongle &) = delete;

  Error open();  // opens on first use; later calls return the first outcome
  void close();
  // Closes and forgets the outcome of opening, so the next open() looks again (a
  // dongle pulled out and plugged back in).
  void forget();
  // After the library reopened the dongle itself (waits, upgrades): read its state again.
  void refresh();
  bool is_open() const { return open_; }
  // Whether the open dongle is still on the bus (dongles behind bulk USB are taken as
  // present: they are noticed gone when an exchange fails).
  bool present() const;
  int state() const { return state_; }  // 1 bootloader, 2 application
  int major() const { return major_; }
  int minor() const { return minor_; }
  int patch() const { return patch_; }
  // A table of what this dongle's firmware offers (the library's own builder); never null
  // once open. Slots are compared with null only.
  const zv_iface *caps() const { return caps_; }

  LibOutput progress = LibOutput::Discard;

 private:
  void learn(int state);
  bool tried_ = false, open_ = false;
  Error open_error_;
  int state_ = 0, major_ = -1, minor_ = -1, patch_ = -1;
  zv_iface *caps_ = nullptr;
};

// ---- device information ----------------------------------------------------------

struct Info {
  std::string state;  // "application" or "bootloader"
  int generation = 0;
  std::string version;
  int major = 0, minor = 0, patch = 0;
  std::optional<uint32_t> build_hash;
  std::optional<std::string> build_type, branch, dirty, sku;
  std::optional<int> keys_recorded, keys_remaining;
  std::string library_version;
};
Result<Info> info(Dongle &d);

// What this dongle's firmware offers, for a face that shows only what works.
struct Abilities {
  bool record = false, long_press = false, macro = false, toggle = false;
  bool delete_next = false, delete_key = false, delete_index = false;
  bool list = false, save = false, load = false, format = false;
  bool capture = false, upgrade = false;
};
Abilities abilities(Dongle &d);
// The names among `names` that this dongle's key table knows.
std::vector<std::string> known_keys(Dongle &d, const std::vector<std::string> &names);

// ---- buttons ------------------------------------------------------------------------

enum class RecordMode { Normal, LongPress, Macro, Toggle };
struct RecordRequest {
  std::string key;                // empty for Toggle
  std::vector<std::string> more;  // further macro steps
  RecordMode mode = RecordMode::Normal;
  int wait_s = 10;
};
Done record(Dongle &d, const RecordRequest &r);

// Checks a key name against the dongle's key table without sending anything.
Error check_key(Dongle &d, const std::string &key);

Done delete_next(Dongle &d, int wait_s);
Result<int> delete_key(Dongle &d, const std::string &key);  // buttons removed
Done delete_index(Dongle &d, int index);

struct Button {
  int index = 0;
  uint32_t hash = 0;
  uint32_t te = 0;
  int report_id = 0, modifier = 0, key = 0;
  bool long_press = false;
  std::string name;  // as the library's listing names it
};
Result<std::vector<Button>> list(Dongle &d);

Done save(Dongle &d, const std::string &path);
Done load(Dongle &d, const std::string &path);
Result<int> format(Dongle &d);  // buttons erased
Done normalize(Dongle &d);
Done selftest(Dongle &d);

// ---- settings -------------------------------------------------------------------------

struct Setting {
  std::string name;
  std::string description;
  long long value = 0;
  long long min = 0, max = 0;
};
Result<std::vector<Setting>> settings(Dongle &d);
// Names the settings this tool knows, supported or not.
std::vector<std::string> setting_names();
Done set_setting(Dongle &d, const std::string &name, const std::string &value);

struct RomTable {
  int table = 0;
  bool enabled = false;
};
Result<std::vector<RomTable>> rom_tables(Dongle &d);
Done set_rom_table(Dongle &d, int table, bool on);

Result<int> eeprom_peek(Dongle &d, uint32_t addr);
Done eeprom_poke(Dongle &d, uint32_t addr, uint32_t value);
Done reboot(Dongle &d);

// ---- firmware -----------------------------------------------------------------------------

struct Upgraded {
  std::string from, to;  // versions before and after
  std::string state;     // "application" or "bootloader" afterwards
};
// Checks the image file before the dongle is touched; `progress` sees 0..100 during the
// upload (may be empty). Waits `timeout_s` for each re-enumeration.
Result<Upgraded> upgrade(Dongle &d, const std::string &image, int timeout_s, const std::function<void(int)> &progress);
// Checks a firmware image file's header without touching the dongle; its size in bytes.
Result<size_t> check_firmware(const std::string &image);
// Switches into the bootloader / back into the firmware and waits for the dongle.
Result<std::string> bootloader_enter(Dongle &d, int timeout_s);
Result<std::string> bootloader_leave(Dongle &d, int timeout_s);

// ---- release history -----------------------------------------------------------------

struct Release {
  std::string version;
  std::vector<std::string> notes;
};
// Releases after the dongle's firmware up to `version` (every later one when empty).
Result<std::vector<Release>> history(Dongle &d, const std::string &version);

// ---- IR out ----------------------------------------------------------------------------

struct Sent {
  std::string protocol;
  uint32_t scancode = 0;
  int frames = 0;
  int edges = 0;
};
// Checks protocol and scancode before anything is sent.
Result<Sent> send(Dongle &d, const std::string &protocol, const std::string &scancode, int repeat);
// Captures in codara's text formats; every one is checked before the first is sent.
Result<int> send_raw(Dongle &d, const std::string &text, const std::string &source);
Done send_pronto(Dongle &d, const std::vector<std::string> &words, int repeat);

struct Wake {
  uint32_t enable = 0;
  int high = 0, low = 0;
};
Result<Wake> wake_get(Dongle &d);
Done wake_set(Dongle &d, const Wake &w);
Result<int> wake_signal(Dongle &d, const std::string &text, const std::string &source);

// ---- IR in ------------------------------------------------------------------------------

struct Signal {
  int number = 0;  // 1-based
  std::vector<uint16_t> edges;
  unsigned elapsed_ms = 0;
  bool decoded = false;
  std::string protocol;
  uint32_t scancode = 0;
  std::string description;
  uint32_t hash = 0;         // the decoder's hash
  uint32_t device_hash = 0;  // the dongle's hash of the signal (what recording stores)
  std::optional<std::string> key;  // the key recorded for it on this dongle
};
// A captured signal as a row of a picture, labelled "#N", with " (KEY)" when asked
// and it has one.
tools_common::PlotCapture plot_row(const Signal &s, bool with_key);
struct CaptureOptions {
  int count = 0;           // stop after this many signals; 0: until stopped
  double seconds = 0;      // stop after this long without a signal; 0: never
  const volatile std::sig_atomic_t *stop = nullptr;  // set from a signal handler
  std::function<bool()> stop_when;  // asked between reads; true ends the capture
};
// Calls `each` for every capture as it arrives; `each` returns false to stop.
Result<int> capture(Dongle &d, const CaptureOptions &o, const std::function<bool(const Signal &)> &each);

// ---- input parsing shared by the faces ------------------------------------------------
bool parse_number(const std::string &s, long long min, long long max, long long &out);

}  // namespace zivra_cli

#endif
