// The operations of the zivra client over libzivra's and libcodara's C API.
#include "ops.h"

#include <hidapi/hidapi.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "capture_formats.h"
#include "protocol_name.h"
#include "codara/codara.h"
#include "libtext.h"
#include "zivra/app_info.h"
#include "zivra/config.h"
#include "zivra/crc.h"
#include "zivra/file_opts.h"
#include "zivra/gen4_rev.h"
#include "zivra/logging.h"
#include "zivra/semver.h"
#include "zivra/translate.h"
#include "zivra/version_history.h"
#include "zivra/zivra.h"

namespace zivra_cli {

Error fail(Status s, std::string message, std::string hint) { return Error{s, std::move(message), std::move(hint)}; }

std::string temp_path(const std::string &what) {
  const char *dir = getenv("TMPDIR");
  std::string base = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/zivra-" + what + "-XXXXXX";
  std::vector<char> name(base.begin(), base.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) return {};
  close(fd);
  return name.data();
}

const char *status_name(Status s) {
  switch (s) {
    case Status::Ok: return "ok";
    case Status::Failed: return "failed";
    case Status::Usage: return "usage";
    case Status::NoDongle: return "no-dongle";
    case Status::Permission: return "permission";
    case Status::Unsupported: return "unsupported";
    case Status::File: return "file";
    case Status::Timeout: return "timeout";
    case Status::Refused: return "refused";
    case Status::Upgrade: return "upgrade-failed";
  }
  return "failed";
}

namespace {

// The hash the dongle itself stores for a recorded button (its receiver's longest edge).
constexpr uint16_t kDeviceMaxEdge = 2400;
constexpr int kMaxWaitS = 100;

const char *const kCheckLog = "run again with -v to see the library's messages";

Error device_failed(const std::string &what, int rc) {
  return fail(Status::Failed, what + " failed (library result " + std::to_string(rc) + ")",
              std::string("check the cable and try again; ") + kCheckLog);
}

std::string describe(const Dongle &d) {
  return std::string(d.state() == 1 ? "bootloader " : "firmware ") + std::to_string(d.major()) + "." +
         std::to_string(d.minor());
}

Error unsupported(const Dongle &d, const std::string &what) {
  return fail(Status::Unsupported, what + " is not supported by this dongle (" + describe(d) + ")",
              "zivra history lists what each firmware release added; zivra upgrade IMAGE installs newer firmware");
}

// Opens the dongle and checks that it runs its application firmware.
Error need_app(Dongle &d) {
  if (Error e = d.open()) return e;
  if (d.state() != 2)
    return fail(Status::Unsupported, "the dongle is in its bootloader, not running its firmware",
                "zivra bootloader leave starts the firmware; zivra upgrade IMAGE installs one");
  return {};
}

#define ZV_HAS(d, slot) ((d).caps() != nullptr && (d).caps()->slot != nullptr)

bool gen4(const Dongle &d) { return d.state() == 2 && d.major() == 4; }

// Reads the whole configuration image of a generation-4 dongle.
Result<std::vector<uint8_t>> read_image(Dongle &d) {
  if (!gen4(d)) return unsupported(d, "reading the configuration image");
  uint8_t *buf = nullptr;
  int n;
  {
    StdoutRoute quiet(StdoutRoute::Discard);
    n = get_config(&buf, d.minor() >= 5 ? 64 : 32, 0);
  }
  if (n < 0 || buf == nullptr) {
    free(buf);
    return device_failed("reading the dongle's configuration", n);
  }
  std::vector<uint8_t> img(buf, buf + n);
  free(buf);
  return img;
}

uint32_t get32(const uint8_t *p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
void put32(uint8_t *p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

size_t record_count(const std::vector<uint8_t> &img) {
  if (img.size() < ZV_CONFIG_RECORDS_OFFSET) return 0;
  size_t n = get32(img.data() + 8);
  size_t whole = (img.size() - ZV_CONFIG_RECORDS_OFFSET) / sizeof(ir_pattern_t);
  return std::min(n, whole);
}

ir_pattern_t record_at(const std::vector<uint8_t> &img, size_t k) {
  ir_pattern_t r;
  memcpy(&r, img.data() + ZV_CONFIG_RECORDS_OFFSET + k * sizeof(ir_pattern_t), sizeof r);
  return r;
}

// Key names as the library's own listing prints them, by record index.
std::vector<std::string> listing_names(std::vector<uint8_t> img) {
  std::vector<std::string> names(record_count(img));
  std::string text;
  {
    StdoutRoute collect(StdoutRoute::Collect);
    translate_mem_v2(img.data(), img.size());
    text = collect.text();
  }
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    int index, consumed = 0;
    unsigned hash, te;
    int id;
    if (sscanf(line.c_str(), "%d %x %u %d %n", &index, &hash, &te, &id, &consumed) < 4 || consumed == 0) continue;
    if (index < 0 || static_cast<size_t>(index) >= names.size()) continue;
    std::string name = line.substr(static_cast<size_t>(consumed));
    while (!name.empty() && (name.back() == ' ' || name.back() == '\r')) name.pop_back();
    names[static_cast<size_t>(index)] = name;
  }
  return names;
}

std::vector<Button> buttons_of(const std::vector<uint8_t> &img) {
  std::vector<Button> out;
  std::vector<std::string> names = listing_names(img);
  for (size_t k = 0; k < record_count(img); ++k) {
    ir_pattern_t r = record_at(img, k);
    Button b;
    b.index = static_cast<int>(k);
    b.hash = r.hash;
    b.te = r.te;
    b.report_id = r.report_id;
    b.modifier = r.modifier;
    b.key = r.key;
    b.long_press = r.lp == 1;
    b.name = names[k];
    out.push_back(b);
  }
  return out;
}

// Translates a key name the way the dongle's generation does; false when the table lacks it.
bool translate_key(const Dongle &d, const std::string &key, record_t &r, std::string &usage) {
  StdoutRoute collect(StdoutRoute::Collect);
  QuietLog quiet;
  bool ok;
  if (d.major() >= 4) {
    ok = (key.size() == 1 ? translate_v2(static_cast<unsigned char>(key[0]), &r)
                          : translate_word_v2(key.c_str(), &r)) == 1;
  } else {
    int rep[2] = {0, 0};
    ok = (key.size() == 1 ? translate_v1(static_cast<unsigned char>(key[0]), rep)
                          : translate_word_v1(key.c_str(), rep)) == 1;
    r = record_t{1, static_cast<uint8_t>(rep[1]), static_cast<uint8_t>(rep[0])};
  }
  usage = collect.text();
  return ok;
}

Error record_result(int rc, int wait_s) {
  switch (rc) {
    case 0: return {};
    case -ZV_ETIMEOUT:
      return fail(Status::Timeout, "no remote button was pressed within " + std::to_string(wait_s) + " seconds",
                  "run the command again and press the remote button while it waits (--wait S gives more time)");
    case -4:
      return fail(Status::Refused, "the dongle has no space left for another button",
                  "delete buttons you no longer need (zivra list, zivra delete KEY)");
    case -5:
      return fail(Status::Refused, "that remote button is already recorded",
                  "delete it first (zivra delete, then press it) or press another button");
    case -6:
      return fail(Status::Refused, "that remote button is not recorded on this dongle",
                  "zivra list shows the recorded buttons");
    default: return device_failed("the dongle's record/delete", rc);
  }
}

Error check_wait(int wait_s) {
  if (wait_s < 1 || wait_s > kMaxWaitS)
    return fail(Status::Usage, "--wait must be 1 to 100 seconds, not " + std::to_string(wait_s));
  return {};
}


bool write_file(const std::string &path, const std::vector<uint8_t> &bytes) {
  std::vector<uint8_t> copy = bytes;
  copy.push_back(0);
  return buf_to_file(path.c_str(), copy.data(), bytes.size(), "wb") == static_cast<ssize_t>(bytes.size());
}

// Generation 4 has no command that deletes one stored button: write the image back
// without the records `drop` picks (format, then load). A copy of the old image stays in
// a temporary file until the new one is in.
Result<int> rewrite_without(Dongle &d, const std::function<bool(size_t, const ir_pattern_t &)> &drop) {
  Result<std::vector<uint8_t>> img = read_image(d);
  if (!img.ok()) return img.error;
  const std::vector<uint8_t> &old = img.value;
  std::vector<uint8_t> out(old.begin(), old.begin() + std::min<size_t>(old.size(), ZV_CONFIG_RECORDS_OFFSET));
  if (out.size() < ZV_CONFIG_RECORDS_OFFSET) return fail(Status::Failed, "the dongle's configuration is damaged", "zivra format starts afresh");
  int removed = 0;
  size_t kept = 0;
  for (size_t k = 0; k < record_count(old); ++k) {
    ir_pattern_t r = record_at(old, k);
    if (drop(k, r)) {
      ++removed;
      continue;
    }
    const uint8_t *p = reinterpret_cast<const uint8_t *>(&r);
    out.insert(out.end(), p, p + sizeof r);
    ++kept;
  }
  if (removed == 0) return 0;
  put32(out.data() + 8, static_cast<uint32_t>(kept));
  put32(out.data() + 12, crc32_slow(out.data() + 16, static_cast<uint32_t>(out.size() - 16), 0xFFFFFFFF));
  std::string backup = temp_path("backup"), next = temp_path("image");
  if (backup.empty() || next.empty() || !write_file(backup, old) || !write_file(next, out)) {
    if (!backup.empty()) unlink(backup.c_str());
    if (!next.empty()) unlink(next.c_str());
    return fail(Status::File, "cannot write a temporary file", "check that $TMPDIR (or /tmp) is writable");
  }
  int rc;
  {
    StdoutRoute route(d.progress);
    zv_format_config();
    rc = zv_load_config(next.c_str());
  }
  if (d.progress == LibOutput::Stdout) std::fputs("\n", stdout);
  unlink(next.c_str());
  if (rc != 0)
    return fail(Status::Failed, "writing the configuration back failed (library result " + std::to_string(rc) + ")",
                "your buttons as they were are in " + backup + "; restore them with zivra load " + backup);
  unlink(backup.c_str());
  return removed;
}

// A number in decimal or 0x-hex within [min, max].
bool parse_in(const std::string &s, long long min, long long max, long long &out) {
  if (s.empty()) return false;
  errno = 0;
  char *end = nullptr;
  long long v = strtoll(s.c_str(), &end, 0);
  if (errno != 0 || end == s.c_str() || *end != '\0' || v < min || v > max) return false;
  out = v;
  return true;
}

struct Tx {
  int frames = 0;
  int edges = 0;
  int last = 0;
};
Tx g_tx;
int counting_tx(uint16_t *buf, uint16_t len, uint16_t ik, uint8_t repeat) {
  g_tx.last = zv_transmit_raw(buf, len, ik, repeat);
  g_tx.frames++;
  g_tx.edges = len;
  return g_tx.last;
}

// A protocol a frame can be sent in: a name the library knows, not UNKNOWN or INVALID.
bool parse_protocol(const std::string &name, rc_proto &out) {
  return tools_common::parse_protocol_name(name, out) && out != RC_PROTO_UNKNOWN && out != RC_PROTO_INVALID;
}

}  // namespace

tools_common::PlotCapture plot_row(const Signal &s, bool with_key) {
  tools_common::PlotCapture r;
  r.label = "#" + std::to_string(s.number) + (with_key && s.key ? " (" + *s.key + ")" : "");
  r.edges.assign(s.edges.begin(), s.edges.end());
  r.gap_before_ms = s.elapsed_ms;
  r.decoded = s.decoded;
  r.protocol = s.protocol;
  r.scancode = s.scancode;
  r.description = s.description;
  return r;
}

namespace {

// Captures from text in codara's formats; the first unusable one is the error.
Result<std::vector<codara_cli::Capture>> read_captures(const std::string &text, const std::string &source) {
  std::vector<codara_cli::Capture> caps = codara_cli::parse_captures(text);
  for (const auto &c : caps)
    if (!c.error.empty())
      return fail(Status::Usage, source + ":" + std::to_string(c.line) + ": " + c.error + "; nothing was sent");
  if (caps.empty())
    return fail(Status::Usage, "no IR signal in " + source + "; nothing was sent",
                "give mode2 'pulse N'/'space N' lines, ir-ctl '+N -N' text or a list of durations");
  return caps;
}

}  // namespace

// ---- the dongle ----------------------------------------------------------------------

Dongle::~Dongle() { close(); }

void Dongle::close() {
  if (open_) {
    QuietLog quiet;
    zv_close_device();
  }
  open_ = false;
  free(caps_);
  caps_ = nullptr;
}

void Dongle::forget() {
  close();
  tried_ = false;
  open_error_ = {};
}

namespace {
// What is on the bus when opening failed: a dongle we may not open, one that
// answered with firmware we do not know, or nothing.
Error diagnose_open() {
  static const unsigned short kPids[] = {ZV_PID_HID_BOOTLOADER, ZV_PID_HID_APP};
  hid_device_info *all = hid_enumerate(ZV_VID, 0);
  std::string denied, found;
  for (hid_device_info *i = all; i != nullptr; i = i->next) {
    if (std::find(std::begin(kPids), std::end(kPids), i->product_id) == std::end(kPids)) continue;
    found = i->path != nullptr ? i->path : "";
    errno = 0;
    hid_device *h = hid_open_path(i->path);
    if (h == nullptr) {
      denied = found;
      continue;
    }
    hid_close(h);
  }
  hid_free_enumeration(all);
  if (!denied.empty())
    return fail(Status::Permission, "a dongle is plugged in (" + denied + ") but this user may not open it",
                "install the udev rule (70-zivra.rules into /etc/udev/rules.d/), reload it with "
                "'sudo udevadm control --reload && sudo udevadm trigger' and replug the dongle");
  if (!found.empty())
    return fail(Status::Unsupported, "a dongle answered (" + found + ") but its firmware is not supported by this kit",
                "zivra history lists the firmware releases the kit knows; upgrade the dongle with zivra upgrade IMAGE");
  return fail(Status::NoDongle, "no dongle found",
              "check the cable (lsusb lists it as 20a0:0006), the udev rule (70-zivra.rules), "
              "or try the simulated dongle: zivra info --simulate");
}
}  // namespace

bool Dongle::present() const {
  if (!open_) return false;
  bool hid = state_ == 2 ? major_ >= 4 : major_ >= 3;
  if (!hid) return true;
  hid_device_info *all = hid_enumerate(ZV_VID, 0);
  bool found = false;
  // The same dongle in the other state has re-enumerated under the other ID.
  unsigned short pid = state_ == 2 ? ZV_PID_HID_APP : ZV_PID_HID_BOOTLOADER;
  for (hid_device_info *i = all; i != nullptr; i = i->next) found = found || i->product_id == pid;
  hid_free_enumeration(all);
  return found;
}

Error Dongle::open() {
  if (tried_) return open_error_;
  tried_ = true;
  int rc = zv_open_device(ZV_VID, nullptr);
  if (rc != 1 && rc != 2) {
    open_error_ = diagnose_open();
    return open_error_;
  }
  learn(rc);
  return {};
}

void Dongle::learn(int state) {
  open_ = true;
  state_ = state;
  free(caps_);
  {
    QuietLog quiet;
    major_ = zv_major_version();
    minor_ = zv_minor_version();
    patch_ = zv_patch_version();
    caps_ = determine_iface(state_, major_, minor_);
  }
  if (caps_ == nullptr) caps_ = static_cast<zv_iface *>(calloc(1, sizeof(zv_iface)));
}

void Dongle::refresh() {
  int state = zv_fw_state();
  if (state == 1 || state == 2) {
    tried_ = true;
    open_error_ = {};
    learn(state);
  } else {
    open_ = false;
  }
}

// ---- information ----------------------------------------------------------------------

Result<Info> info(Dongle &d) {
  if (Error e = d.open()) return e;
  Info i;
  i.state = d.state() == 1 ? "bootloader" : "application";
  i.generation = d.state() == 2 ? d.major() : 0;
  i.major = d.major();
  i.minor = d.minor();
  i.patch = d.patch();
  i.version = std::to_string(d.major()) + "." + std::to_string(d.minor()) + "." + std::to_string(d.patch());
  i.library_version = zv_lib_version();
  QuietLog quiet;
  StdoutRoute collect(StdoutRoute::Collect);  // the edition name of an old header is printed too
  auto str = [](const char *s) -> std::optional<std::string> {
    if (s == nullptr) return std::nullopt;
    return std::string(s);
  };
  if (ZV_HAS(d, zv_fw_scm_hash)) i.build_hash = zv_fw_scm_hash();
  if (ZV_HAS(d, zv_fw_config)) i.build_type = str(zv_fw_config());
  if (ZV_HAS(d, zv_fw_branch)) i.branch = str(zv_fw_branch());
  if (ZV_HAS(d, zv_fw_dirty)) i.dirty = str(zv_fw_dirty());
  if (ZV_HAS(d, zv_get_sku)) i.sku = str(zv_get_sku());
  if (ZV_HAS(d, zv_keys_recorded)) {
    int n = zv_keys_recorded();
    if (n >= 0) i.keys_recorded = n;
  } else if (gen4(d)) {
    Result<std::vector<uint8_t>> img = read_image(d);
    if (img.ok()) i.keys_recorded = static_cast<int>(record_count(img.value));
  }
  if (ZV_HAS(d, zv_keys_remaining)) {
    int n = zv_keys_remaining();
    if (n >= 0) i.keys_remaining = n;
  }
  return i;
}

Abilities abilities(Dongle &d) {
  Abilities a;
  if (d.open() || d.state() != 2) {
    a.upgrade = d.is_open();
    return a;
  }
  a.record = ZV_HAS(d, zv_set_record);
  a.long_press = ZV_HAS(d, zv_set_record_lp);
  a.macro = ZV_HAS(d, zv_set_record_macro);
  a.toggle = ZV_HAS(d, zv_set_record_toggle);
  a.delete_next = ZV_HAS(d, zv_set_delete);
  a.delete_key = ZV_HAS(d, zv_delete_buttons) || gen4(d);
  a.delete_index = ZV_HAS(d, zv_delete_index) || gen4(d);
  a.list = gen4(d) || ZV_HAS(d, zv_display_config);
  a.save = ZV_HAS(d, zv_save_config);
  a.load = ZV_HAS(d, zv_load_config);
  a.format = ZV_HAS(d, zv_format_config);
  a.capture = ZV_HAS(d, zv_ir_packet_poll);
  a.upgrade = ZV_HAS(d, zv_device_set_dfu);
  return a;
}

std::vector<std::string> known_keys(Dongle &d, const std::vector<std::string> &names) {
  std::vector<std::string> out;
  if (d.open() || d.state() != 2) return out;
  for (const std::string &n : names) {
    record_t r{};
    std::string usage;
    if (translate_key(d, n, r, usage)) out.push_back(n);
  }
  return out;
}

// ---- buttons ----------------------------------------------------------------------------

Error check_key(Dongle &d, const std::string &key) {
  if (Error e = need_app(d)) return e;
  record_t r{};
  std::string usage;
  if (key.empty() || key.size() > 255 || !translate_key(d, key, r, usage))
    return fail(Status::Usage, "unknown key name '" + key + "'; nothing was sent",
                "key names are single characters (a, A, 1, !) or names such as return, escape, F1, up, "
                "vol_up, mute, play/pause; zivra(1) lists them");
  return {};
}

Done record(Dongle &d, const RecordRequest &r) {
  if (Error e = need_app(d)) return e;
  if (Error e = check_wait(r.wait_s)) return e;
  struct Way {
    RecordMode mode;
    bool has;
    int (*fn)(const char *, int);
    const char *what;
  };
  const Way ways[] = {
      {RecordMode::Normal, ZV_HAS(d, zv_set_record), zv_set_record, "recording a button"},
      {RecordMode::LongPress, ZV_HAS(d, zv_set_record_lp), zv_set_record_lp, "recording a long press"},
      {RecordMode::Macro, ZV_HAS(d, zv_set_record_macro), zv_set_record_macro, "recording a macro"},
      {RecordMode::Toggle, ZV_HAS(d, zv_set_record_toggle), nullptr, "recording a toggle"},
  };
  const Way *found = std::find_if(std::begin(ways), std::end(ways), [&](const Way &x) { return x.mode == r.mode; });
  if (found == std::end(ways)) return fail(Status::Usage, "unknown way of recording; nothing was sent");
  const Way &w = *found;
  if (!w.has) return unsupported(d, w.what);
  if (r.mode == RecordMode::Toggle) return record_result(zv_record_toggle(r.wait_s), r.wait_s);
  std::vector<std::string> keys{r.key};
  keys.insert(keys.end(), r.more.begin(), r.more.end());
  for (const std::string &k : keys)
    if (Error e = check_key(d, k)) return e;
  for (const std::string &k : keys) {
    int rc;
    {
      StdoutRoute quiet(StdoutRoute::Discard);
      rc = w.fn(k.c_str(), r.wait_s);
    }
    if (Error e = record_result(rc, r.wait_s)) return e;
  }
  return Done{};
}

Done delete_next(Dongle &d, int wait_s) {
  if (Error e = need_app(d)) return e;
  if (Error e = check_wait(wait_s)) return e;
  if (!ZV_HAS(d, zv_set_delete)) return unsupported(d, "deleting a button");
  return record_result(zv_set_delete(wait_s), gen4(d) ? kMaxWaitS : wait_s);
}

Result<int> delete_key(Dongle &d, const std::string &key) {
  if (Error e = check_key(d, key)) return e;
  if (ZV_HAS(d, zv_delete_buttons)) {
    int before = zv_keys_recorded();
    int rc = zv_delete_buttons(key.c_str());
    if (rc < 0) return device_failed("deleting '" + key + "'", rc);
    int after = zv_keys_recorded();
    if (before >= 0 && after >= 0 && after >= before)
      return fail(Status::Refused, "no button is recorded as '" + key + "'", "zivra list shows the recorded buttons");
    return before >= 0 && after >= 0 ? before - after : 1;
  }
  if (!gen4(d)) return unsupported(d, "deleting by key name");
  record_t want{};
  std::string usage;
  translate_key(d, key, want, usage);
  Result<int> n = rewrite_without(d, [&](size_t, const ir_pattern_t &r) {
    return r.report_id == want.report_id && r.modifier == want.modifier && r.key == want.key;
  });
  if (n.ok() && n.value == 0)
    return fail(Status::Refused, "no button is recorded as '" + key + "'", "zivra list shows the recorded buttons");
  return n;
}

Done delete_index(Dongle &d, int index) {
  if (Error e = need_app(d)) return e;
  if (ZV_HAS(d, zv_delete_index)) {
    int n = ZV_HAS(d, zv_keys_recorded) ? zv_keys_recorded() : -1;
    if (index < 0 || (n >= 0 && index >= n))
      return fail(Status::Usage, "no button at index " + std::to_string(index) + "; nothing was changed",
                  "zivra list shows the indexes");
    int rc = zv_delete_index(index);
    if (rc == -ZV_EIDXRANGE) return fail(Status::Usage, "no button at index " + std::to_string(index), "zivra list shows the indexes");
    if (rc < 0) return device_failed("deleting index " + std::to_string(index), rc);
    return Done{};
  }
  if (!gen4(d)) return unsupported(d, "deleting by index");
  Result<int> n = rewrite_without(d, [&](size_t k, const ir_pattern_t &) { return static_cast<int>(k) == index; });
  if (!n.ok()) return n.error;
  if (n.value == 0)
    return fail(Status::Usage, "no button at index " + std::to_string(index) + "; nothing was changed",
                "zivra list shows the indexes");
  return Done{};
}

// The older generations only print their listing: read it back from that text.
Result<std::vector<Button>> legacy_list(Dongle &d) {
  if (!ZV_HAS(d, zv_display_config)) return unsupported(d, "listing the buttons");
  std::string text;
  int rc;
  {
    StdoutRoute collect(StdoutRoute::Collect);
    rc = zv_display_config();
    text = collect.text();
  }
  if (rc < 0) return device_failed("reading the buttons", rc);
  std::vector<Button> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    int index, consumed = 0;
    unsigned hash;
    if (sscanf(line.c_str(), "%d %x %n", &index, &hash, &consumed) < 2 || consumed == 0) continue;
    Button b;
    b.index = index;
    b.hash = hash;
    b.name = line.substr(static_cast<size_t>(consumed));
    while (!b.name.empty() && b.name.back() == ' ') b.name.pop_back();
    out.push_back(b);
  }
  return out;
}

Result<std::vector<Button>> list(Dongle &d) {
  if (Error e = need_app(d)) return e;
  if (!gen4(d)) return legacy_list(d);
  Result<std::vector<uint8_t>> img = read_image(d);
  if (!img.ok()) return img.error;
  return buttons_of(img.value);
}

Done save(Dongle &d, const std::string &path) {
  if (Error e = need_app(d)) return e;
  if (!ZV_HAS(d, zv_save_config)) return unsupported(d, "saving the configuration");
  std::string dir = path.find('/') == std::string::npos ? "." : path.substr(0, path.rfind('/') + 1);
  if (path.empty() || path.size() > 299 || access(dir.c_str(), W_OK) != 0)
    return fail(Status::File, "cannot write " + path + (path.empty() ? "" : ": ") + std::strerror(errno ? errno : EINVAL),
                "give a file in a directory you may write to");
  int rc;
  {
    StdoutRoute route(d.progress);
    rc = zv_save_config(path.c_str());
  }
  if (d.progress == LibOutput::Stdout) std::fputs("\n", stdout);
  if (rc == -ZV_EBADF) return fail(Status::File, "cannot write " + path, "check the name and the free space");
  if (rc != 0) return device_failed("saving the configuration", rc);
  return Done{};
}

Done load(Dongle &d, const std::string &path) {
  if (Error e = need_app(d)) return e;
  if (!ZV_HAS(d, zv_load_config)) return unsupported(d, "loading a configuration");
  unsigned char *buf = nullptr;
  ssize_t n = file_to_buf(path.c_str(), &buf, "rb");
  if (n < 0) {
    free(buf);
    return fail(Status::File, "cannot read " + path + ": " + std::strerror(static_cast<int>(-n)),
                "check the name; zivra save FILE writes one from a dongle");
  }
  bool good;
  {
    QuietLog quiet;
    good = n > 0 && (valid_v1_config(buf, static_cast<size_t>(n)) == 1 || valid_v2_config(buf, static_cast<size_t>(n)) == 1);
    if (good && valid_v1_config(buf, static_cast<size_t>(n)) == 1) {
      ssize_t l = 0;
      unsigned char *conv = convert_config(buf, static_cast<size_t>(n), &l);
      good = conv != nullptr;
      free(conv);
    }
  }
  free(buf);
  if (!good)
    return fail(Status::File, path + " is not a usable configuration file (wrong layout, wrong checksum or no buttons); nothing was written",
                "use a file written by zivra save");
  int rc;
  {
    StdoutRoute route(d.progress);
    rc = zv_load_config(path.c_str());
  }
  if (d.progress == LibOutput::Stdout) std::fputs("\n", stdout);
  if (rc != 0) return device_failed("loading the configuration", rc);
  return Done{};
}

Result<int> format(Dongle &d) {
  if (Error e = need_app(d)) return e;
  if (!ZV_HAS(d, zv_format_config)) return unsupported(d, "formatting");
  int before = 0;
  if (gen4(d)) {
    Result<std::vector<uint8_t>> img = read_image(d);
    if (img.ok()) before = static_cast<int>(record_count(img.value));
  } else if (ZV_HAS(d, zv_keys_recorded)) {
    before = std::max(0, zv_keys_recorded());
  }
  int rc = zv_format_config();
  if (rc != 0) return device_failed("formatting", rc);
  return before;
}

Done normalize(Dongle &d) {
  if (Error e = need_app(d)) return e;
  if (!ZV_HAS(d, zv_normalize_config)) return unsupported(d, "normalising");
  int rc;
  {
    StdoutRoute route(d.progress);
    rc = zv_normalize_config();
  }
  if (d.progress == LibOutput::Stdout) std::fputs("\n", stdout);
  if (rc != 0) return device_failed("normalising the configuration", rc);
  return Done{};
}

Done selftest(Dongle &d) {
  if (Error e = need_app(d)) return e;
  if (!ZV_HAS(d, zv_unit_test)) return unsupported(d, "the self-test");
  StdoutRoute quiet(StdoutRoute::Discard);
  int rc = zv_unit_test();
  if (rc != 0)
    return fail(Status::Failed, "the self-test failed: the dongle did not receive its own test signals",
                "make sure nothing covers the dongle's IR window and try again; " + std::string(kCheckLog));
  return Done{};
}

// ---- settings ------------------------------------------------------------------------

namespace {
struct SettingDef {
  const char *name;
  const char *description;
  long long min, max;
  int (*get)(Dongle &);
  int (*set)(Dongle &, long long);
  bool (*has)(const Dongle &);
};

int wake_field(Dongle &, int which) {
  uint32_t en = 0;
  uint8_t hi = 0, lo = 0;
  int rc = zv_rb_settings_get(&en, &hi, &lo);
  if (rc < 0) return rc;
  return which == 0 ? static_cast<int>(en) : which == 1 ? hi : lo;
}
int set_wake_field(Dongle &, int which, long long v) {
  uint32_t en = 0;
  uint8_t hi = 0, lo = 0;
  int rc = zv_rb_settings_get(&en, &hi, &lo);
  if (rc < 0) return rc;
  if (which == 0) en = static_cast<uint32_t>(v);
  if (which == 1) hi = static_cast<uint8_t>(v);
  if (which == 2) lo = static_cast<uint8_t>(v);
  return zv_rb_settings_set(en, hi, lo);
}

#define ZV_SETTING(n, desc, lo, hi, slot_get, slot_set)                                        \
  SettingDef {                                                                                  \
    n, desc, lo, hi, [](Dongle &) { return slot_get(); },                                       \
        [](Dongle &, long long v) { return slot_set(static_cast<int>(v)); },                    \
        [](const Dongle &d) { return ZV_HAS(d, slot_get) && ZV_HAS(d, slot_set); }              \
  }
#define ZV_WAKE(n, desc, hi, which)                                                              \
  SettingDef {                                                                                  \
    n, desc, 0, hi, [](Dongle &d) { return wake_field(d, which); },                             \
        [](Dongle &d, long long v) { return set_wake_field(d, which, v); },                     \
        [](const Dongle &d) { return ZV_HAS(d, zv_rb_settings_get) && ZV_HAS(d, zv_rb_settings_set); } \
  }

const SettingDef kSettings[] = {
    ZV_SETTING("sensitivity", "receiver sensitivity", 0, 3, zv_get_sensitivity, zv_set_sensitivity),
    ZV_SETTING("interkey-delay", "delay between repeated keys", 0, 7, zv_get_interkey_delay, zv_set_interkey_delay),
    ZV_SETTING("noise-cancel", "noise cancelling (0 off, 1 on)", 0, 1, zv_get_noise_cancel, zv_set_noise_cancel),
    ZV_SETTING("sleep-detect", "sleep detection (0 off, 1 on)", 0, 1, zv_get_sleep_detect, zv_set_sleep_detect),
    ZV_SETTING("builtin-profiles", "built-in remote profiles (0 off, 1 on)", 0, 1, zv_get_builtin_profile_support,
               zv_set_builtin_profile_support),
    ZV_SETTING("sequence-modifiers", "modifier sequences (0 off, 1 on)", 0, 1, zv_get_sequence_modifiers,
               zv_set_sequence_modifiers),
    ZV_WAKE("wake-enable", "wake the host with the wake signal (0 off, else on)", 0xFFFFFFFFll, 0),
    ZV_WAKE("wake-high", "wake setting, high address byte", 255, 1),
    ZV_WAKE("wake-low", "wake setting, low address byte", 255, 2),
};
}  // namespace

std::vector<std::string> setting_names() {
  std::vector<std::string> n;
  for (const SettingDef &s : kSettings) n.push_back(s.name);
  return n;
}

Result<std::vector<Setting>> settings(Dongle &d) {
  if (Error e = need_app(d)) return e;
  std::vector<Setting> out;
  for (const SettingDef &s : kSettings) {
    if (!s.has(d)) continue;
    int v = s.get(d);
    if (v < 0 && s.max < 0xFFFFFFFFll) return device_failed(std::string("reading ") + s.name, v);
    out.push_back(Setting{s.name, s.description, s.max >= 0xFFFFFFFFll ? static_cast<long long>(static_cast<uint32_t>(v)) : v,
                          s.min, s.max});
  }
  return out;
}

Done set_setting(Dongle &d, const std::string &name, const std::string &value) {
  const SettingDef *def = nullptr;
  for (const SettingDef &s : kSettings)
    if (name == s.name) def = &s;
  if (def == nullptr) {
    std::string all;
    for (const std::string &n : setting_names()) all += (all.empty() ? "" : ", ") + n;
    return fail(Status::Usage, "unknown setting '" + name + "'", "settings are: " + all);
  }
  long long v = 0;
  if (!parse_in(value, def->min, def->max, v))
    return fail(Status::Usage, "'" + value + "' is out of range for " + name + "; nothing was sent",
                name + " takes " + std::to_string(def->min) + " to " + std::to_string(def->max));
  if (Error e = need_app(d)) return e;
  if (!def->has(d))
    return fail(Status::Unsupported, name + " is not supported by this dongle (" + describe(d) + ")",
                "zivra settings shows what this dongle supports");
  int rc = def->set(d, v);
  if (rc < 0) return device_failed("setting " + name, rc);
  return Done{};
}

Result<std::vector<RomTable>> rom_tables(Dongle &d) {
  if (Error e = need_app(d)) return e;
  if (!ZV_HAS(d, zv_get_rom_table)) return unsupported(d, "built-in key tables");
  std::vector<RomTable> out;
  for (int t = 0; t <= 5; ++t) {
    int v = zv_get_rom_table(static_cast<uint32_t>(t));
    if (v < 0) return device_failed("reading built-in table " + std::to_string(t), v);
    out.push_back(RomTable{t, v == 1});
  }
  return out;
}

Done set_rom_table(Dongle &d, int table, bool on) {
  if (table < 0 || table > 5) return fail(Status::Usage, "built-in tables are numbered 0 to 5, not " + std::to_string(table));
  if (Error e = need_app(d)) return e;
  if (!ZV_HAS(d, zv_enable_rom_table)) return unsupported(d, "built-in key tables");
  int rc = zv_enable_rom_table(static_cast<uint32_t>(table), on ? 1 : 0);
  if (rc < 0) return device_failed("switching built-in table " + std::to_string(table), rc);
  return Done{};
}

Result<int> eeprom_peek(Dongle &d, uint32_t addr) {
  if (addr > 0xFFFF) return fail(Status::Usage, "addresses run from 0 to 0xFFFF");
  if (Error e = need_app(d)) return e;
  if (!ZV_HAS(d, zv_eeprom_peek)) return unsupported(d, "reading configuration memory");
  int v = zv_eeprom_peek(static_cast<int>(addr));
  if (v < 0) return fail(Status::Failed, "the dongle has no byte at address " + std::to_string(addr), "zivra list and zivra save show what it holds");
  return v;
}

Done eeprom_poke(Dongle &d, uint32_t addr, uint32_t value) {
  if (addr > 0xFFFF || value > 0xFF)
    return fail(Status::Usage, "poke takes an address 0 to 0xFFFF and a byte 0 to 0xFF; nothing was sent");
  if (Error e = need_app(d)) return e;
  if (!ZV_HAS(d, zv_eeprom_poke)) return unsupported(d, "writing configuration memory");
  int rc = zv_eeprom_poke(static_cast<uint16_t>(addr), static_cast<uint16_t>(value));
  if (rc < 0) return fail(Status::Failed, "the dongle refused to write address " + std::to_string(addr), kCheckLog);
  return Done{};
}

Done reboot(Dongle &d) {
  if (Error e = d.open()) return e;
  if (!ZV_HAS(d, zv_reboot)) return unsupported(d, "rebooting");
  int rc = zv_reboot();
  if (rc < 0) return device_failed("rebooting", rc);
  d.close();
  return Done{};
}

// ---- firmware --------------------------------------------------------------------------

namespace {
std::string version_of(const Dongle &d) {
  return std::to_string(d.major()) + "." + std::to_string(d.minor()) + "." + std::to_string(d.patch());
}

// The header every image starts with, checked before the dongle is switched anywhere.
Error check_image(const std::string &path, std::vector<uint8_t> &img) {
  unsigned char *buf = nullptr;
  ssize_t n = file_to_buf(path.c_str(), &buf, "rb");
  if (n < 0) {
    free(buf);
    return fail(Status::File, "cannot read " + path + ": " + std::strerror(static_cast<int>(-n)),
                "check the name of the firmware image; nothing was sent");
  }
  img.assign(buf, buf + n);
  free(buf);
  auto bad = [&](const std::string &why) {
    return fail(Status::File, path + " is not a firmware image (" + why + "); nothing was sent",
                "use an image made for this dongle; zivra info shows its edition");
  };
  if (img.size() < sizeof(app_info_v1_t)) return bad("shorter than its header");
  if (get32(img.data()) != ZV_APP_SIGNATURE) return bad("no image signature");
  uint32_t version = get32(img.data() + offsetof(app_info_v1_t, header_version));
  if (version != 1 && version != 2) return bad("unknown header version " + std::to_string(version));
  if (version == 2 && img.size() < sizeof(app_info_v2_t)) return bad("shorter than its header");
  return {};
}

std::function<void(int)> *g_progress = nullptr;
void progress_trampoline(int percent, void *) {
  if (g_progress != nullptr && *g_progress) (*g_progress)(percent);
}

// Waits for the dongle after it was switched; the state it came back in.
Result<std::string> come_back(Dongle &d, int timeout_s, int want) {
  int rc;
  {
    StdoutRoute route(d.progress);
    rc = zv_wait_for_device_timeout(ZV_VID, nullptr, timeout_s);
  }
  if (rc < 0) {
    d.refresh();
    return fail(Status::Failed, "the dongle did not come back within " + std::to_string(timeout_s) + " seconds",
                "unplug and replug it, then zivra info shows what it runs");
  }
  d.refresh();
  if (rc != want)
    return fail(Status::Failed, std::string("the dongle came back in its ") + (rc == 1 ? "bootloader" : "firmware"),
                "zivra info shows its state");
  return std::string(rc == 1 ? "bootloader" : "application");
}
}  // namespace

Result<size_t> check_firmware(const std::string &image) {
  std::vector<uint8_t> img;
  if (Error e = check_image(image, img)) return e;
  return img.size();
}

Result<Upgraded> upgrade(Dongle &d, const std::string &image, int timeout_s, const std::function<void(int)> &progress) {
  std::vector<uint8_t> img;
  if (Error e = check_image(image, img)) return e;
  if (timeout_s < 1 || timeout_s > 2147) return fail(Status::Usage, "--timeout takes 1 to 2147 seconds");
  if (Error e = d.open()) return e;
  if (d.state() == 2 && !ZV_HAS(d, zv_device_set_dfu)) return unsupported(d, "upgrading from the firmware");
  Upgraded u;
  u.from = version_of(d);
  std::function<void(int)> cb = progress;
  g_progress = &cb;
  int rc;
  {
    StdoutRoute route(d.progress);
    rc = zv_upgrade_fw_ext_timeout(img.data(), img.size(), ZV_VID, nullptr, nullptr, progress_trampoline, timeout_s);
  }
  g_progress = nullptr;
  d.refresh();
  if (rc == -ZV_EUPGRADE_FAILED)
    return fail(Status::Upgrade, "the firmware upgrade failed: the dongle did not come back",
                "unplug and replug the dongle; if zivra info shows its bootloader, run zivra upgrade IMAGE again");
  if (rc < 0)
    return fail(Status::Upgrade, "the firmware upgrade failed: the bootloader refused the image or the upload broke off",
                "the dongle waits in its bootloader: check the image is for its edition (zivra info), then run "
                "zivra upgrade IMAGE again; -v shows the bootloader's messages");
  u.to = d.is_open() ? version_of(d) : "?";
  u.state = d.state() == 1 ? "bootloader" : "application";
  return u;
}

Result<std::string> bootloader_enter(Dongle &d, int timeout_s) {
  if (Error e = d.open()) return e;
  if (d.state() == 1) return std::string("bootloader");
  if (!ZV_HAS(d, zv_device_set_dfu)) return unsupported(d, "entering the bootloader");
  int rc;
  {
    QuietLog quiet;
    rc = zv_device_set_dfu();
  }
  if (rc < 0) return device_failed("switching to the bootloader", rc);
  d.close();
  return come_back(d, timeout_s, 1);
}

Result<std::string> bootloader_leave(Dongle &d, int timeout_s) {
  if (Error e = d.open()) return e;
  if (d.state() == 2) return std::string("application");
  if (!ZV_HAS(d, zv_leave_bootloader)) return unsupported(d, "leaving the bootloader");
  int rc = zv_leave_bootloader();
  if (rc < 0)
    return fail(Status::Failed, "the bootloader would not start the firmware (library result " + std::to_string(rc) + ")",
                "the firmware may be missing or damaged: zivra upgrade IMAGE installs one");
  d.close();
  return come_back(d, timeout_s, 2);
}

// ---- history ----------------------------------------------------------------------------

Result<std::vector<Release>> history(Dongle &d, const std::string &version) {
  std::string upto = version.empty() ? "999.0.0" : version;
  semver_t parsed{};
  bool valid = semver_parse(upto.c_str(), &parsed) == 0;
  semver_free(&parsed);
  if (!valid) return fail(Status::Usage, "'" + version + "' is not a version", "give MAJOR.MINOR.PATCH, e.g. 4.10.1");
  list_head *sel = nullptr;
  QuietLog quiet;
  if (!d.open()) {
    sel = zv_get_ver_hist(upto.c_str());
  } else {
    // Without a dongle: every release of the current line up to that version.
    semver_t from{}, to{};
    if (semver_parse("0.0.0", &from) == 0 && semver_parse(upto.c_str(), &to) == 0) sel = zv_get_ver_hist_v2(from, to);
    semver_free(&from);
    semver_free(&to);
  }
  if (sel == nullptr) return fail(Status::Failed, "the release history could not be selected", kCheckLog);
  std::vector<Release> out;
  for (ll_t *n = sel->next; n != sel; n = n->next) {
    const fw_ver_hist *h = ll_entry(n, fw_ver_hist, node);
    Release r;
    r.version = h->v;
    std::istringstream in(h->s);
    for (std::string line; std::getline(in, line);) {
      size_t at = line.find_first_not_of(" -");
      if (at != std::string::npos) r.notes.push_back(line.substr(at));
    }
    out.push_back(r);
  }
  return out;
}

// ---- IR out ------------------------------------------------------------------------------

bool parse_number(const std::string &s, long long min, long long max, long long &out) { return parse_in(s, min, max, out); }

Result<Sent> send(Dongle &d, const std::string &protocol, const std::string &scancode, int repeat) {
  rc_proto proto;
  ir_packet probe{};
  if (!parse_protocol(protocol, proto))
    return fail(Status::Usage, "unknown protocol '" + protocol + "'; nothing was sent", "codara protocols lists them (e.g. NEC, RC5, SONY12)");
  long long sc = 0;
  if (!parse_in(scancode, 0, 0xFFFFFFFFll, sc))
    return fail(Status::Usage, "malformed scancode '" + scancode + "'; nothing was sent", "give a 32-bit decimal or 0x-hex number");
  if (repeat < 0 || repeat > 30) return fail(Status::Usage, "--repeat takes 0 to 30");
  {
    QuietLog quiet;
    if (ir_encode(proto, static_cast<uint32_t>(sc), &probe) != 0 || probe.len == 0)
      return fail(Status::Usage, std::string("the kit cannot send ") + tools_common::protocol_name(proto) + "; nothing was sent",
                  "codara protocols shows which protocols encode");
    // An encoder keeps only the bits its frame has: decode the frame to see whether the
    // scancode survived.
    ir_packet copy = probe;
    if (copy.len % 2 == 0) copy.len--;  // as a receiver sees it: no space after the last mark
    ir_prot back{};
    if (ir_decode_packet(&copy, &back) >= 0 && back.protocol == tools_common::decoded_protocol(proto) && back.scancode != static_cast<uint32_t>(sc)) {
      // Only bits dropped: the scancode is wider than the frame; otherwise the frame
      // rearranged it (Samsung-32 repeats its address byte).
      const bool too_wide = (back.scancode & ~static_cast<uint32_t>(sc)) == 0;
      char buf[160];
      snprintf(buf, sizeof buf, "scancode 0x%llX %s %s (it would go out as 0x%X); nothing was sent", sc,
               too_wide ? "is too wide for" : "is not a valid scancode of", tools_common::protocol_name(proto),
               back.scancode);
      return fail(Status::Usage, buf, "codara encode shows what a protocol's frames hold");
    }
  }
  if (Error e = need_app(d)) return e;
  if (!ZV_HAS(d, zv_transmit_raw)) return unsupported(d, "sending IR");
  g_tx = Tx{};
  ir_register_tx(counting_tx);
  {
    QuietLog quiet;
    ir_tx(proto, static_cast<uint32_t>(sc), repeat);
  }
  if (g_tx.frames == 0 || g_tx.last < 0)
    return g_tx.last == -2 ? fail(Status::Failed, "the dongle is still sending the previous signal", "try again in a moment")
                           : device_failed("sending", g_tx.last);
  return Sent{tools_common::protocol_name(proto), static_cast<uint32_t>(sc), g_tx.frames, g_tx.edges};
}

Result<int> send_raw(Dongle &d, const std::string &text, const std::string &source) {
  Result<std::vector<codara_cli::Capture>> caps = read_captures(text, source);
  if (!caps.ok()) return caps.error;
  if (Error e = need_app(d)) return e;
  if (!ZV_HAS(d, zv_transmit_raw)) return unsupported(d, "sending IR");
  int sent = 0;
  for (codara_cli::Capture &c : caps.value) {
    int rc = zv_transmit_raw(c.edges.data(), static_cast<uint16_t>(c.edges.size()), 0, 1);
    if (rc < 0) return device_failed("sending signal " + std::to_string(sent + 1), rc);
    ++sent;
  }
  return sent;
}

Done send_pronto(Dongle &d, const std::vector<std::string> &args, int repeat) {
  std::vector<uint16_t> w;
  for (const std::string &a : args) {
    std::istringstream in(a);
    for (std::string tok; in >> tok;) {
      long long v = 0;
      bool hex = tok.size() <= 4 && std::all_of(tok.begin(), tok.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
      if (!hex || !parse_in("0x" + tok, 0, 0xFFFF, v))
        return fail(Status::Usage, "malformed Pronto word '" + tok + "'; nothing was sent", "Pronto codes are groups of four hex digits: 0000 006D 0022 0002 ...");
      w.push_back(static_cast<uint16_t>(v));
    }
  }
  auto bad = [](const std::string &why) {
    return fail(Status::Usage, "malformed Pronto code: " + why + "; nothing was sent", "a learned code starts 0000 FREQ INTRO-PAIRS REPEAT-PAIRS");
  };
  if (w.size() < 4) return bad("fewer than four words");
  if (w[0] != 0x0000 && w[0] != 0x0100) return bad("only learned (0000) and unmodulated (0100) codes are sent");
  if (w[1] == 0) return bad("the frequency word is 0");
  size_t want = 4 + 2 * (static_cast<size_t>(w[2]) + w[3]);
  if (w.size() != want) return bad(std::to_string(w.size()) + " words where the header announces " + std::to_string(want));
  if (w[2] + w[3] == 0) return bad("no burst pairs");
  if (2 * w[2] > 99 || 2 * w[3] > 99) return bad("a sequence longer than 99 durations");
  if (repeat < 0 || repeat > 255) return fail(Status::Usage, "--repeat takes 0 to 255");
  if (Error e = need_app(d)) return e;
  if (!ZV_HAS(d, zv_transmit_raw)) return unsupported(d, "sending IR");
  int rc = zivra_send_pronto(w.data(), static_cast<uint32_t>(w.size()), static_cast<uint8_t>(repeat));
  if (rc != 0) return device_failed("sending the Pronto code", rc);
  return Done{};
}

Result<Wake> wake_get(Dongle &d) {
  if (Error e = need_app(d)) return e;
  if (!ZV_HAS(d, zv_rb_settings_get)) return unsupported(d, "the wake signal");
  Wake w;
  uint8_t hi = 0, lo = 0;
  int rc = zv_rb_settings_get(&w.enable, &hi, &lo);
  if (rc < 0) return device_failed("reading the wake settings", rc);
  w.high = hi;
  w.low = lo;
  return w;
}

Done wake_set(Dongle &d, const Wake &w) {
  if (w.high < 0 || w.high > 255 || w.low < 0 || w.low > 255)
    return fail(Status::Usage, "the wake address bytes take 0 to 255; nothing was sent");
  if (Error e = need_app(d)) return e;
  if (!ZV_HAS(d, zv_rb_settings_set)) return unsupported(d, "the wake signal");
  int rc = zv_rb_settings_set(w.enable, static_cast<uint8_t>(w.high), static_cast<uint8_t>(w.low));
  if (rc < 0) return device_failed("writing the wake settings", rc);
  return Done{};
}

Result<int> wake_signal(Dongle &d, const std::string &text, const std::string &source) {
  Result<std::vector<codara_cli::Capture>> caps = read_captures(text, source);
  if (!caps.ok()) return caps.error;
  std::vector<uint16_t> &e = caps.value.front().edges;
  if (caps.value.size() > 1 || e.size() > 127)
    return fail(Status::Usage, "a wake signal is one capture of at most 127 durations; nothing was sent");
  if (Error err = need_app(d)) return err;
  if (!ZV_HAS(d, zv_rb_wake_sig)) return unsupported(d, "the wake signal");
  int rc = zv_rb_wake_sig(e.data(), static_cast<uint8_t>(e.size()));
  if (rc < 0) return device_failed("storing the wake signal", rc);
  return static_cast<int>(e.size());
}

// ---- IR in ---------------------------------------------------------------------------------

namespace {
double now_s() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  return static_cast<double>(tv.tv_sec) + tv.tv_usec / 1e6;
}

std::string trimmed_desc(const ir_prot &p) {
  std::string s(p.desc, strnlen(p.desc, sizeof p.desc));
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}
}  // namespace

Result<int> capture(Dongle &d, const CaptureOptions &o, const std::function<bool(const Signal &)> &each) {
  if (Error e = need_app(d)) return e;
  if (!ZV_HAS(d, zv_ir_packet_poll))
    return fail(Status::Unsupported, "live capture needs firmware 4.9 or later; this dongle runs " + describe(d),
                "zivra history 4.9.0 shows what 4.9 added; zivra upgrade IMAGE installs newer firmware");
  std::vector<Button> known;
  if (Result<std::vector<Button>> l = list(d); l.ok()) known = l.value;
  zv_dev_flush();
  int count = 0;
  double last = now_s();
  ir_packet pkt{};
  while ((o.stop == nullptr || !*o.stop) && !(o.stop_when && o.stop_when())) {
    int rc = zv_ir_packet_poll(&pkt);
    if (rc < 0 && o.stop != nullptr && *o.stop) break;  // the read was interrupted by the stop signal
    if (rc < 0)
      return fail(Status::Failed, "the dongle stopped answering after " + std::to_string(count) + " signals",
                  "check the cable and start the capture again");
    if (rc == 0) {
      if (o.seconds > 0 && now_s() - last >= o.seconds) break;
      continue;
    }
    last = now_s();
    Signal s;
    s.number = ++count;
    s.edges.assign(pkt.buf, pkt.buf + std::min<uint16_t>(pkt.len, IR_MAX_EDGES));
    s.elapsed_ms = pkt.elapsed;
    s.device_hash = ir_hash(pkt.buf, pkt.len, kDeviceMaxEdge);
    ir_packet copy = pkt;
    ir_prot p{};
    int res;
    {
      QuietLog quiet;
      res = ir_decode_packet(&copy, &p);
    }
    s.decoded = res >= 0 && p.protocol != RC_PROTO_INVALID && p.hash != 0;
    s.protocol = res < 0 ? "INVALID" : enum_to_str(p.protocol);
    s.scancode = p.scancode;
    s.description = trimmed_desc(p);
    s.hash = p.hash;
    for (const Button &b : known)
      if (b.hash == s.device_hash) s.key = b.name;
    pkt = ir_packet{};
    if (!each(s)) break;
    if (o.count > 0 && count >= o.count) break;
  }
  return count;
}

}  // namespace zivra_cli
