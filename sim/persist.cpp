// A simulated dongle a person can keep between programs, and the person using it.
//
// ENVIRONMENT (read with ZIVRA_SIM_DEVICE, on the first sim call)
//   ZIVRA_SIM_STATE=FILE   generation-4 dongles plugged from ZIVRA_SIM_DEVICE start with
//                          the memory kept in FILE and write it back when the program
//                          exits. FILE holds one section per dongle list, so several
//                          simulated dongles can share it.
//   ZIVRA_SIM_PRESS=BUTTON the remote button the user presses while the host waits for a
//                          record or delete: PROTOCOL:SCANCODE, a bare (NEC) scancode, or
//                          report:ID,MODIFIER,KEY for "the remote's button labelled with that
//                          key". Without it, recording presses the button labelled with the
//                          key being recorded and deleting presses the last recorded button.
//   ZIVRA_SIM_IR=BUTTON,... a remote the user points at the dongle while the host listens
//                          (PROTOCOL:SCANCODE items, pressed in order).
// The kept dongles also echo their own transmissions (loopback), so the self-test passes,
// and a dongle left in its bootloader comes back in its bootloader in the next run.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "codara/codara.h"
#include "sim/internal.h"
#include "sim/model_bl3.h"
#include "sim/model_legacy.h"
#include "sim/model_gen4.h"

namespace zivra_sim {

namespace {

constexpr size_t kSentKept = 20;      // transmissions remembered in the state file
constexpr int kIdlePolls = 6;         // host reads without a command before the remote fires
constexpr int kPressAfterPolls = 2;   // state polls before the user presses
constexpr uint16_t kMaxEdge = 2400;   // the receiver's longest edge, as in the model
constexpr const char *kMagic = "zivra-sim-state 1";

std::string hex(const uint8_t *p, size_t n) {
  static const char *d = "0123456789abcdef";
  std::string s;
  for (size_t i = 0; i < n; ++i) {
    s += d[p[i] >> 4];
    s += d[p[i] & 15];
  }
  return s;
}

bool unhex(const std::string &s, std::vector<uint8_t> &out) {
  if (s.size() % 2) return false;
  out.clear();
  for (size_t i = 0; i < s.size(); i += 2) {
    char b[3] = {s[i], s[i + 1], 0};
    char *end = nullptr;
    long v = strtol(b, &end, 16);
    if (*end != '\0') return false;
    out.push_back(static_cast<uint8_t>(v));
  }
  return true;
}

std::string hex16(const std::vector<uint16_t> &v) {
  std::vector<uint8_t> b;
  for (uint16_t x : v) {
    b.push_back(static_cast<uint8_t>(x));
    b.push_back(static_cast<uint8_t>(x >> 8));
  }
  return hex(b.data(), b.size());
}

bool unhex16(const std::string &s, std::vector<uint16_t> &out) {
  std::vector<uint8_t> b;
  if (!unhex(s, b) || b.size() % 2) return false;
  out.clear();
  for (size_t i = 0; i < b.size(); i += 2) out.push_back(static_cast<uint16_t>(b[i] | b[i + 1] << 8));
  return true;
}

// The edges of one button of the simulated remote; empty when `button` names none.
std::vector<uint16_t> remote_button(const std::string &button) {
  rc_proto proto = RC_PROTO_NEC;
  std::string code = button;
  size_t colon = button.find(':');
  unsigned long sc = 0;
  if (button.rfind("report:", 0) == 0) {
    // The remote's button labelled with a key: one NEC code per report.
    unsigned id = 0, mod = 0, key = 0;
    if (sscanf(button.c_str() + 7, "%u,%u,%u", &id, &mod, &key) != 3) return {};
    sc = ((0x50ul + (id & 0xF)) << 16) | (mod & 0xFF) << 8 | (key & 0xFF);
  } else {
    if (colon != std::string::npos) {
      std::string name = button.substr(0, colon);
      for (char &c : name) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
      proto = str_to_enum(name.c_str());
      if (proto == RC_PROTO_UNKNOWN) return {};
      code = button.substr(colon + 1);
    }
    char *end = nullptr;
    sc = strtoul(code.c_str(), &end, 0);
    if (code.empty() || *end != '\0') return {};
  }
  ir_packet pkt{};
  if (ir_encode(proto, static_cast<uint32_t>(sc), &pkt) != 0 || pkt.len == 0) return {};
  // A receiver never sees the space after the last mark: the signal just ends.
  uint16_t n = pkt.len % 2 ? pkt.len : static_cast<uint16_t>(pkt.len - 1);
  return std::vector<uint16_t>(pkt.buf, pkt.buf + n);
}

uint32_t hash_of(const std::vector<uint16_t> &edges) {
  std::vector<uint16_t> e = edges;
  return ir_hash(e.data(), e.size(), kMaxEdge);
}

// A generation-4 dongle with a person in front of it.
class KeptGen4 : public Gen4Model {
 public:
  explicit KeptGen4(const Gen4Model &m) : Gen4Model(m) { set_loopback(true); }

  std::vector<uint16_t> press;                 // ZIVRA_SIM_PRESS, when given
  std::vector<std::vector<uint16_t>> remote;   // ZIVRA_SIM_IR, not yet pressed

  void on_command(Device &dev, const Command &c) override {
    idle_ = 0;
    const std::string &w = c.word;
    if (w == "record" || w == "record_lp" || w == "record_m") {
      report_ = "report:" + std::to_string(c.payload()[0]) + "," + std::to_string(c.payload()[1]) + "," +
                std::to_string(c.payload()[2]);
      arm(w == "record_m" && macro_steps_++ > 0 ? Action::MacroStep : Action::Record);
    } else if (w == "record_t") {
      arm(Action::Record);
    } else if (w == "delete") {
      arm(Action::Delete);
    } else if (w == "clearstate") {
      action_ = Action::None;
    } else if (w == "ir_state" && action_ != Action::None && --polls_ == 0) {
      act();
    }
    Gen4Model::on_command(dev, c);
  }

  void on_poll(Device &dev) override {
    // The host is listening (reading without asking anything): the next remote button.
    if (++idle_ >= kIdlePolls && !remote.empty() && dev.pending_input() == 0) {
      press_edges(remote.front(), static_cast<uint16_t>(idle_ * 200));
      remote.erase(remote.begin());
      idle_ = 0;
    }
    Gen4Model::on_poll(dev);
  }

 private:
  enum class Action { None, Record, MacroStep, Delete };
  void arm(Action a) {
    action_ = a;
    polls_ = kPressAfterPolls;
  }
  void act() {
    Action a = action_;
    action_ = Action::None;
    if (a == Action::MacroStep) {
      set_state(3);  // the same button again: one more step of its macro
    } else if (!press.empty()) {
      press_hash(hash_of(press));
    } else if (a == Action::Delete) {
      press_hash(buttons() > 0 ? button_hash(buttons() - 1) : hash_of(remote_button("0x7F7F")));
    } else {
      press_hash(hash_of(remote_button(report_)));
    }
  }

  Action action_ = Action::None;
  int polls_ = 0;
  int idle_ = 0;
  int macro_steps_ = 0;
  std::string report_ = "report:1,0,0";
};

struct Kept {
  std::string section;
  std::shared_ptr<KeptGen4> model;
};

// Whether a kept application is waiting in its bootloader: a bootloader that would
// start it is on the bus and the application itself is not.
bool in_bootloader(const std::shared_ptr<KeptGen4> &app) {
  bool bootloader = false;
  for (Device *d : devices()) {
    if (&d->model() == app.get()) return false;
    auto *bl = dynamic_cast<Bl3Model *>(&d->model());
    bootloader = bootloader || (bl != nullptr && bl->app_model() == app);
  }
  return bootloader;
}
std::vector<Kept> &kept() {
  static auto *k = new std::vector<Kept>();
  return *k;
}
std::string &state_file() {
  static auto *f = new std::string();
  return *f;
}

std::vector<std::string> legacy_state(const LegacyDongle &d) {
  return {"memory " + hex(d.memory.data(), d.memory.size()), "flash " + hex(d.flash.data(), d.flash.size()),
          "app " + std::to_string(d.app_major) + " " + std::to_string(d.app_minor)};
}

void restore_legacy(LegacyDongle &d, const std::vector<std::string> &lines) {
  for (const std::string &line : lines) {
    std::istringstream in(line);
    std::string key, value;
    in >> key;
    std::vector<uint8_t> bytes;
    if (key == "memory" && in >> value && unhex(value, bytes) && bytes.size() == LegacyDongle::kMemory) d.memory = bytes;
    if (key == "flash") {
      in >> value;
      if (unhex(value, bytes)) d.flash = bytes;
    }
    unsigned major = 0, minor = 0;
    if (key == "app" && in >> major >> minor) {
      d.app_major = static_cast<uint8_t>(major);
      d.app_minor = static_cast<uint8_t>(minor);
    }
  }
}

// A bulk-USB dongle with a person in front of it: after the host asked to record (or
// delete) and has read the state twice, the user presses the --sim-press button, else the
// remote's button labelled with the key (for a delete: the button recorded last).
class KeptLegacyApp : public LegacyAppModel {
 public:
  using LegacyAppModel::LegacyAppModel;
  std::vector<uint16_t> press;
  int on_control(Device &dev, const ControlSetup &s, uint8_t *data) override {
    if (s.bmRequestType == 0xC0 && (s.bRequest == 1 || s.bRequest == 2)) {
      uint32_t hash;
      if (!press.empty())
        hash = hash_of(press);
      else if (s.bRequest == 2)
        hash = records() > 0 ? record_hash(records() - 1) : hash_of(remote_button("0x7F7F"));
      else
        hash = hash_of(remote_button("report:1," + std::to_string(s.wIndex & 0xFF) + "," + std::to_string(s.wValue & 0xFF)));
      press_after_polls(kPressAfterPolls, hash);
    }
    return LegacyAppModel::on_control(dev, s, data);
  }
};

struct KeptLegacy {
  std::string section;
  std::shared_ptr<LegacyDongle> dongle;
};
std::vector<KeptLegacy> &kept_legacy() {
  static auto *k = new std::vector<KeptLegacy>();
  return *k;
}

// Sections of a state file: "[name]" lines, each followed by its lines.
std::map<std::string, std::vector<std::string>> read_sections(const std::string &file) {
  std::map<std::string, std::vector<std::string>> out;
  std::ifstream in(file);
  std::string line, current;
  if (!std::getline(in, line) || line != kMagic) return out;
  while (std::getline(in, line)) {
    if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
      current = line.substr(1, line.size() - 2);
      out[current];
    } else if (!current.empty() && !line.empty()) {
      out[current].push_back(line);
    }
  }
  return out;
}

void save_all() {
  std::map<std::string, std::vector<std::string>> all = read_sections(state_file());
  for (const KeptLegacy &k : kept_legacy()) all[k.section] = legacy_state(*k.dongle);
  for (const Kept &k : kept()) {
    all[k.section] = k.model->saved_state();
    all[k.section].push_back(std::string("mode ") + (in_bootloader(k.model) ? "bootloader" : "application"));
  }
  std::string tmp = state_file() + ".new";
  {
    std::ofstream out(tmp, std::ios::trunc);
    out << kMagic << "\n";
    for (const auto &[name, lines] : all) {
      out << "[" << name << "]\n";
      for (const std::string &l : lines) out << l << "\n";
    }
    if (!out) {
      fprintf(stderr, "zivra_sim: cannot write the simulated dongle's state to %s\n", state_file().c_str());
      return;
    }
  }
  if (rename(tmp.c_str(), state_file().c_str()) != 0)
    fprintf(stderr, "zivra_sim: cannot replace %s: %s\n", state_file().c_str(), strerror(errno));
}

const char *env(const char *name) {
  const char *v = getenv(name);
  return v != nullptr && *v != '\0' ? v : nullptr;
}

}  // namespace

std::vector<std::string> Gen4Model::saved_state() const {
  std::vector<std::string> out;
  out.push_back("version " + hex(version_.data(), version_.size()));
  out.push_back("image " + hex(image_.data(), image_.size()));
  out.push_back("wake " + std::to_string(wake_en_) + " " + std::to_string(high_add_) + " " + std::to_string(low_add_));
  out.push_back("wake_signal " + hex16(wake_));
  out.push_back("last_hash " + std::to_string(last_hash_));
  out.push_back("boot_flag " + std::to_string(boot_flag_ ? 1 : 0));
  out.push_back("app_header " + hex(app_header_.data(), app_header_.size()));
  out.push_back("app_body " + hex(app_body_.data(), app_body_.size()));
  size_t from = transmitted_.size() > kSentKept ? transmitted_.size() - kSentKept : 0;
  for (size_t i = from; i < transmitted_.size(); ++i) out.push_back("sent " + hex16(transmitted_[i]));
  return out;
}

void Gen4Model::restore_state(const std::vector<std::string> &lines) {
  for (const std::string &line : lines) {
    std::istringstream in(line);
    std::string key, value;
    in >> key;
    std::vector<uint8_t> bytes;
    if (key == "version" && in >> value && unhex(value, bytes) && bytes.size() == 19) {
      version_ = bytes;
      uint16_t major = static_cast<uint16_t>(bytes[0] | bytes[1] << 8), minor = static_cast<uint16_t>(bytes[2] | bytes[3] << 8);
      revision_ = major != 4 ? 0 : minor > 10 ? 10 : minor;
    } else if (key == "image" && in >> value && unhex(value, bytes)) {
      image_ = bytes;
    } else if (key == "wake") {
      unsigned long en = 0;
      unsigned hi = 0, lo = 0;
      if (in >> en >> hi >> lo) {
        wake_en_ = static_cast<uint32_t>(en);
        high_add_ = static_cast<uint8_t>(hi);
        low_add_ = static_cast<uint8_t>(lo);
      }
    } else if (key == "wake_signal") {
      in >> value;
      unhex16(value, wake_);
    } else if (key == "last_hash") {
      unsigned long h = 0;
      if (in >> h) last_hash_ = static_cast<uint32_t>(h);
    } else if (key == "boot_flag") {
      int b = 0;
      if (in >> b) boot_flag_ = b != 0;
    } else if (key == "app_header" && in >> value && unhex(value, bytes)) {
      app_header_ = bytes;
    } else if (key == "app_body") {
      in >> value;
      if (unhex(value, bytes)) app_body_ = bytes;
    } else if (key == "sent" && in >> value) {
      std::vector<uint16_t> sig;
      if (unhex16(value, sig)) transmitted_.push_back(sig);
    }
  }
}

// A dongle on the bus that this user may not open, as without the udev rule.
ZIVRA_SIM_DONGLE("fw4.10-noaccess", [] {
  auto model = std::make_shared<Gen4Model>();
  model->set_version(4, 10, 0);
  Identity id = gen4_app_identity();
  id.openable = false;
  plug(id, model);
});

namespace detail {

void keep_across_runs() {
  const char *file = env("ZIVRA_SIM_STATE"), *press = env("ZIVRA_SIM_PRESS"), *ir = env("ZIVRA_SIM_IR");
  const char *names = env("ZIVRA_SIM_DEVICE");
  if (names == nullptr || (file == nullptr && press == nullptr && ir == nullptr)) return;
  std::map<std::string, std::vector<std::string>> saved;
  if (file != nullptr) saved = read_sections(file);
  std::vector<std::vector<uint16_t>> remote;
  for (std::string list = ir != nullptr ? ir : ""; !list.empty();) {
    size_t comma = list.find(',');
    std::string item = list.substr(0, comma);
    list = comma == std::string::npos ? "" : list.substr(comma + 1);
    std::vector<uint16_t> e = remote_button(item);
    if (e.empty())
      fprintf(stderr, "zivra_sim: the simulated remote has no button '%s'\n", item.c_str());
    else
      remote.push_back(e);
  }
  int k = 0;
  for (Device *d : devices()) {
    auto *g = dynamic_cast<Gen4Model *>(&d->model());
    if (g == nullptr) continue;
    Identity id = d->identity();
    auto model = std::make_shared<KeptGen4>(*g);
    std::string section = std::string(names) + "#" + std::to_string(k++);
    bool bootloader = false;
    if (auto it = saved.find(section); it != saved.end()) {
      model->restore_state(it->second);
      bootloader = std::find(it->second.begin(), it->second.end(), "mode bootloader") != it->second.end();
    }
    if (press != nullptr) {
      model->press = remote_button(press);
      if (model->press.empty()) fprintf(stderr, "zivra_sim: the simulated remote has no button '%s'\n", press);
    }
    model->remote = remote;
    d->unplug();
    if (bootloader)
      plug(gen4_bootloader_identity(), model->make_bootloader());
    else
      plug(id, model);
    kept().push_back({section, model});
  }
  for (Device *d : devices()) {
    auto *app = dynamic_cast<LegacyAppModel *>(&d->model());
    if (app == nullptr) continue;
    std::string section = std::string(names) + "#" + std::to_string(k++);
    std::shared_ptr<LegacyDongle> dongle = app->shared_dongle();
    if (auto it = saved.find(section); it != saved.end()) restore_legacy(*dongle, it->second);
    auto model = std::make_shared<KeptLegacyApp>(dongle->app_major, dongle->app_minor, dongle);
    if (press != nullptr) model->press = remote_button(press);
    Identity id = d->identity();
    d->unplug();
    plug(id, model);
    kept_legacy().push_back({section, dongle});
  }
  if (file != nullptr && (!kept().empty() || !kept_legacy().empty())) {
    state_file() = file;
    atexit(save_all);
  }
}

}  // namespace detail
}  // namespace zivra_sim

// The named dongles, one per line, for a client that finds the sim preloaded.
extern "C" const char *zivra_sim_dongle_list(void) {
  static std::string names;
  names.clear();
  for (const std::string &n : zivra_sim::dongle_names()) names += n + "\n";
  return names.c_str();
}
