// zivra: the dongle owner's client. Parses the command line, calls one operation
// (ops.h) and renders its result as text or JSON. Exit statuses: see Status in ops.h
// and the man page.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "atomic_file.h"
#include "codara/codara.h"
#include "keymap.h"
#include "ops.h"
#include "serve.h"
#include "signal_svg.h"
#include "simulate.h"
#include "zivra/logging.h"
#include "zivra/pbar.h"
#include "zivra/zivra.h"

namespace zivra_cli {
namespace {

using nlohmann::json;

volatile std::sig_atomic_t g_stop = 0;
void on_interrupt(int) { g_stop = 1; }

std::string hex32(uint32_t v) {
  char b[16];
  snprintf(b, sizeof b, "0x%08X", v);
  return b;
}

struct Cli {
  bool as_json = false;
  bool yes = false;

  void out(const json &j) const { std::cout << j.dump(-1, ' ', false, json::error_handler_t::replace) << std::endl; }

  int error(const Error &e) const {
    if (as_json) out({{"error", {{"status", status_name(e.status)}, {"code", int(e.status)}, {"message", e.message}, {"hint", e.hint}}}});
    std::cerr << "zivra: " << e.message << "\n";
    if (!e.hint.empty()) std::cerr << "  " << e.hint << "\n";
    return int(e.status);
  }

  // Renders a finished operation: `text` and `data` only when it succeeded.
  template <class T, class Text, class Data>
  int done(const Result<T> &r, Text text, Data data) const {
    if (!r.ok()) return error(r.error);
    if (as_json)
      out(data(r.value));
    else
      text(r.value);
    return 0;
  }
  int done(const Done &r, const std::string &said) const {
    return done(r, [&](auto &) { std::cout << said << "\n"; }, [&](auto &) { return json{{"ok", true}, {"message", said}}; });
  }
};

template <class T>
json opt(const std::optional<T> &v) {
  return v ? json(*v) : json(nullptr);
}

std::string read_all(const std::string &path, Error &err) {
  std::ostringstream s;
  if (path == "-") {
    s << std::cin.rdbuf();
    return s.str();
  }
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    err = fail(Status::File, "cannot read " + path + ": " + std::strerror(errno), "check the file name");
    return {};
  }
  s << f.rdbuf();
  return s.str();
}

// ---- renderers ------------------------------------------------------------------------

int show_info(Cli &c, Dongle &d) {
  return c.done(
      info(d),
      [](const Info &i) {
        auto row = [](const char *k, const std::string &v) { std::printf("%-16s%s\n", k, v.c_str()); };
        row("state:", i.state);
        if (i.generation) row("generation:", std::to_string(i.generation));
        row(i.state == "bootloader" ? "bootloader:" : "firmware:", i.version);
        if (i.build_hash) row("build hash:", hex32(*i.build_hash));
        if (i.build_type) row("build type:", *i.build_type);
        if (i.branch) row("branch:", *i.branch + (i.dirty ? " (" + *i.dirty + ")" : ""));
        if (i.sku) row("edition:", *i.sku);
        if (i.keys_recorded) row("keys recorded:", std::to_string(*i.keys_recorded));
        if (i.keys_remaining) row("keys remaining:", std::to_string(*i.keys_remaining));
        row("library:", i.library_version);
      },
      [](const Info &i) {
        return json{{"state", i.state},          {"generation", i.generation},     {"version", i.version},
                    {"major", i.major},          {"minor", i.minor},               {"patch", i.patch},
                    {"build_hash", opt(i.build_hash)}, {"build_type", opt(i.build_type)}, {"branch", opt(i.branch)},
                    {"dirty", opt(i.dirty)},     {"sku", opt(i.sku)},              {"keys_recorded", opt(i.keys_recorded)},
                    {"keys_remaining", opt(i.keys_remaining)}, {"library_version", i.library_version}};
      });
}

json button_json(const Button &b) {
  return {{"index", b.index}, {"hash", b.hash},         {"te", b.te},   {"report_id", b.report_id},
          {"modifier", b.modifier}, {"key_code", b.key}, {"key", b.name}, {"long_press", b.long_press}};
}

int show_list(Cli &c, Dongle &d) {
  return c.done(
      list(d),
      [](const std::vector<Button> &bs) {
        if (bs.empty()) {
          std::printf("No buttons recorded.\n");
          return;
        }
        std::printf("%-5s  %-10s  %-4s  %s\n", "INDEX", "HASH", "TE", "KEY");
        for (const Button &b : bs)
          std::printf("%5d  %s  %4u  %s%s\n", b.index, hex32(b.hash).c_str(), b.te, b.name.c_str(),
                      b.long_press ? " (long press)" : "");
      },
      [](const std::vector<Button> &bs) {
        json a = json::array();
        for (const Button &b : bs) a.push_back(button_json(b));
        return json{{"count", bs.size()}, {"buttons", a}};
      });
}

int show_settings(Cli &c, Dongle &d) {
  Result<std::vector<Setting>> s = settings(d);
  if (!s.ok()) return c.error(s.error);
  Result<std::vector<RomTable>> t = rom_tables(d);
  if (!t.ok() && t.error.status != Status::Unsupported) return c.error(t.error);
  if (c.as_json) {
    json a = json::array(), r = json::array();
    for (const Setting &x : s.value)
      a.push_back({{"name", x.name}, {"value", x.value}, {"min", x.min}, {"max", x.max}, {"description", x.description}});
    for (const RomTable &x : t.value) r.push_back({{"table", x.table}, {"enabled", x.enabled}});
    c.out({{"settings", a}, {"rom_tables", r}});
    return 0;
  }
  for (const Setting &x : s.value)
    std::printf("%-20s %-10lld %s (%lld..%lld)\n", x.name.c_str(), x.value, x.description.c_str(), x.min, x.max);
  for (const RomTable &x : t.value) std::printf("rom-table %d%*s %s\n", x.table, 10, "", x.enabled ? "on" : "off");
  if (s.value.empty() && t.value.empty()) std::printf("This dongle has no settings.\n");
  for (const std::string &n : setting_names()) {
    bool has = false;
    for (const Setting &x : s.value) has = has || x.name == n;
    if (!has) std::printf("%-20s not supported by this dongle\n", n.c_str());
  }
  return 0;
}

int show_history(Cli &c, Dongle &d, const std::string &version) {
  return c.done(
      history(d, version),
      [](const std::vector<Release> &rs) {
        if (rs.empty()) std::printf("No releases between this firmware and that version.\n");
        for (const Release &r : rs) {
          std::printf("v%s\n", r.version.c_str());
          for (const std::string &n : r.notes) std::printf("  - %s\n", n.c_str());
        }
      },
      [](const std::vector<Release> &rs) {
        json a = json::array();
        for (const Release &r : rs) a.push_back({{"version", r.version}, {"notes", r.notes}});
        return json{{"releases", a}};
      });
}

Error write_output(const std::string &path, const std::string &text, const std::string &what) {
  std::string why;
  if (tools_common::write_file_atomically(path, text, why)) return {};
  return fail(Status::File, why + "; no " + what + " was written", "choose a file in a directory you can write to");
}

int run_capture(Cli &c, Dongle &d, CaptureOptions o, bool raw, const std::string &svg) {
  signal(SIGINT, on_interrupt);
  signal(SIGTERM, on_interrupt);
  o.stop = &g_stop;
  std::vector<tools_common::PlotCapture> rows;
  Result<int> n = capture(d, o, [&](const Signal &s) {
    if (!svg.empty()) rows.push_back(plot_row(s, true));
    if (c.as_json) {
      json j = {{"n", s.number},           {"protocol", s.protocol},      {"scancode", s.scancode},
                {"description", s.description}, {"hash", s.hash},         {"device_hash", s.device_hash},
                {"key", opt(s.key)},       {"elapsed_ms", s.elapsed_ms}, {"decoded", s.decoded}};
      if (raw) j["edges"] = s.edges;
      c.out(j);
    } else {
      std::printf("%3d  %-10s 0x%08X  %s  hash=%s%s\n", s.number, s.protocol.c_str(), s.scancode, s.description.c_str(),
                  hex32(s.hash).c_str(), s.key ? ("  key=" + *s.key).c_str() : "");
      if (raw) {
        std::string e;
        for (size_t i = 0; i < s.edges.size(); ++i) e += (i ? (i % 2 ? " -" : " +") : "     +") + std::to_string(s.edges[i]);
        std::printf("%s\n", e.c_str());
      }
      std::fflush(stdout);
    }
    return true;
  });
  if (!n.ok()) return c.error(n.error);
  if (!c.as_json) std::fprintf(stderr, "captured %d signal%s\n", n.value, n.value == 1 ? "" : "s");
  if (!svg.empty()) {
    tools_common::PlotOptions po;
    po.title = "zivra capture";
    if (Error e = write_output(svg, tools_common::render_svg(rows, po), "picture")) return c.error(e);
    if (!c.as_json) std::fprintf(stderr, "drew them in %s\n", svg.c_str());
  }
  return 0;
}

// Asks for each key in turn and keeps the first frame that decodes to a code no earlier key
// has; writes the keys with their captures as codara keymap reads them.
int run_learn(Cli &c, Dongle &d, CaptureOptions o, const std::vector<std::string> &keys, const std::string &out) {
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (!codara_cli::is_key_name(keys[i], false))
      return c.error(fail(Status::Usage, "unknown key name '" + keys[i] + "'; nothing was captured",
                          "use Linux input key names such as KEY_POWER, KEY_VOLUMEUP, KEY_NUMERIC_1"));
    for (std::size_t j = 0; j < i; ++j)
      if (keys[j] == keys[i]) return c.error(fail(Status::Usage, keys[i] + " is named twice; nothing was captured"));
  }
  signal(SIGINT, on_interrupt);
  signal(SIGTERM, on_interrupt);
  o.stop = &g_stop;
  o.count = 0;
  std::string text;
  std::vector<std::pair<std::string, uint32_t>> codes;
  std::size_t next = 0;
  std::fprintf(stderr, "Press %s on the remote.\n", keys[0].c_str());
  Result<int> n = capture(d, o, [&](const Signal &s) {
    if (s.protocol == "NEC_REPEAT") return true;  // the button is still held
    if (!s.decoded) {
      std::fprintf(stderr, "That signal did not decode; press %s again.\n", keys[next].c_str());
      return true;
    }
    for (std::size_t k = 0; k < codes.size(); ++k)
      if (codes[k] == std::make_pair(s.protocol, s.scancode)) {
        std::fprintf(stderr, "That is the code of %s; press %s.\n", keys[k].c_str(), keys[next].c_str());
        return true;
      }
    codes.emplace_back(s.protocol, s.scancode);
    text += codara_cli::labelled_capture(keys[next], s.edges);
    if (c.as_json)
      c.out({{"key", keys[next]}, {"protocol", s.protocol}, {"scancode", s.scancode}, {"description", s.description}});
    else
      std::fprintf(stderr, "%s: %s 0x%08X\n", keys[next].c_str(), s.protocol.c_str(), s.scancode);
    if (++next == keys.size()) return false;
    std::fprintf(stderr, "Press %s on the remote.\n", keys[next].c_str());
    return true;
  });
  if (!n.ok()) return c.error(n.error);
  if (next < keys.size())
    return c.error(fail(g_stop ? Status::Usage : Status::Timeout,
                        "stopped before " + keys[next] + " was learned; nothing was written",
                        "run it again and press each button when asked"));
  text = "# labelled captures written by zivra capture --learn; codara keymap reads them\n" + text;
  if (out.empty() || out == "-") {
    std::fputs(text.c_str(), stdout);
    return 0;
  }
  if (Error e = write_output(out, text, "file")) return c.error(e);
  if (!c.as_json) std::fprintf(stderr, "wrote %zu keys to %s\n", keys.size(), out.c_str());
  return 0;
}

int confirm_format(Cli &c, Dongle &d) {
  if (!c.yes) {
    if (!isatty(0))
      return c.error(fail(Status::Usage, "format erases every recorded button and standard input is not a terminal to ask",
                          "run it again with --yes to confirm"));
    std::printf("Erase every recorded button on the dongle? Type yes to confirm: ");
    std::fflush(stdout);
    std::string answer;
    std::getline(std::cin, answer);
    if (answer != "yes" && answer != "y") return c.error(fail(Status::Usage, "not confirmed; nothing was erased"));
  }
  return c.done(
      format(d), [](int n) { std::printf("Erased %d button%s.\n", n, n == 1 ? "" : "s"); },
      [](int n) { return json{{"ok", true}, {"erased", n}}; });
}

// ---- command line -------------------------------------------------------------------

int run(int argc, char **argv) {
  CLI::App app{"Drive a Zivra IR receiver dongle: learn remote buttons, back them up, send and capture IR."};
  app.fallthrough();
  app.require_subcommand(0, 1);
  Cli c;
  int log_level = -1;
  int verbose = 0;
  SimOptions sim;
  app.add_flag("--json", c.as_json, "Print results as JSON (one object, or one per line for capture)");
  app.add_option("--log-level", log_level, "Show the libraries' own log lines: 0 none (default), 1 errors, 2 +warnings, 3 info, 4 debug, 5 verbose")
      ->check(CLI::Range(0, 5));
  app.add_flag("-v,--verbose", verbose, "Show the libraries' log lines (-v errors and warnings, -vv info, -vvv debug)");
  app.add_flag("-y,--yes", c.yes, "Do not ask for confirmation");
  bool core_only = false;
  app.add_flag("--core-only", core_only, "Decode only the library's own protocols, without the extended set (Sharp, JVC, ...)");
  app.add_flag("--simulate{fw4.10}", sim.dongle, "Use a simulated dongle (default fw4.10; see list-dongles); also ZIVRA_SIMULATE=NAME")
      ->expected(0, 1);
  app.add_option("--sim-state", sim.state_file, "File the simulated dongle is kept in (default $XDG_STATE_HOME/zivra/sim-NAME.state)");
  app.add_option("--sim-press", sim.press, "Remote button the simulated user presses for record/delete: KEY, PROTOCOL:SCANCODE or SCANCODE");
  app.add_option("--sim-ir", sim.ir, "Signals the simulated remote sends while capture listens: PROTOCOL:SCANCODE,...");
  app.add_flag_callback("--version", [] {
    std::printf("zivra %s (libzivra %s, libcodara %s)\n", ZIVRA_TOOL_VERSION, zv_lib_version(), ir_lib_version());
    throw CLI::Success();
  }, "Print the versions and exit");
  app.footer(
      "Exit status: 0 success, 1 the dongle or library failed, 2 bad command line or input (nothing sent),\n"
      "3 no dongle found, 4 permission denied, 5 not supported by this dongle, 6 file problem,\n"
      "7 no button pressed in time, 8 refused by the dongle, 9 firmware upgrade failed.");

  app.add_subcommand("info", "State, generation, versions, build and key counts");

  RecordRequest rec;
  bool lp = false, toggle = false;
  std::vector<std::string> macro;
  auto *record_cmd = app.add_subcommand("record", "Record the next remote button as KEY");
  record_cmd->add_option("key", rec.key, "Key name: a character (a, A, 1, !) or a name (return, F1, vol_up, ...)");
  record_cmd->add_option("--wait", rec.wait_s, "Seconds to wait for the button (1..100)")->capture_default_str();
  auto *lp_opt = record_cmd->add_flag("--long", lp, "Record a long press");
  auto *macro_opt = record_cmd->add_option("--macro", macro, "Further keys the same button sends, in order");
  auto *toggle_opt = record_cmd->add_flag("--toggle", toggle, "Record the last key again as a toggle (no KEY)");
  lp_opt->excludes(macro_opt)->excludes(toggle_opt);
  macro_opt->excludes(toggle_opt);

  std::string del_key;
  bool del_next = false;
  int del_wait = 10;
  auto *delete_cmd = app.add_subcommand("delete", "Delete the button recorded as KEY, or (--next) the next button pressed");
  delete_cmd->add_option("key", del_key, "Key name of the buttons to delete");
  delete_cmd->add_flag("--next", del_next, "Delete the next remote button pressed");
  delete_cmd->add_option("--wait", del_wait, "Seconds to wait for the button (1..100)")->capture_default_str();
  int del_index = 0;
  auto *delete_index_cmd = app.add_subcommand("delete-index", "Delete the button at index N of the listing");
  delete_index_cmd->add_option("index", del_index, "Index as zivra list shows it")->required();

  auto *format_cmd = app.add_subcommand("format", "Erase every recorded button (asks first unless --yes)");
  app.add_subcommand("list", "List the recorded buttons");
  std::string file;
  auto *save_cmd = app.add_subcommand("save", "Save the dongle's configuration to FILE");
  save_cmd->add_option("file", file, "Configuration file to write")->required();
  auto *load_cmd = app.add_subcommand("load", "Load a configuration FILE into the dongle");
  load_cmd->add_option("file", file, "Configuration file written by save")->required();
  app.add_subcommand("normalize", "Give every recorded button the most common timing");
  app.add_subcommand("selftest", "Let the dongle record its own test signals");

  std::string set_name, set_value;
  auto *settings_cmd = app.add_subcommand("settings", "Show every setting, or set NAME to VALUE");
  settings_cmd->add_option("name", set_name, "Setting to change");
  settings_cmd->add_option("value", set_value, "New value");

  std::string rom_action = "get", rom_state;
  int rom_table = -1;
  auto *rom_cmd = app.add_subcommand("rom-table", "Show or switch the built-in key tables: rom-table [get] | set N on|off");
  rom_cmd->add_option("action", rom_action, "get or set")->check(CLI::IsMember({"get", "set"}));
  rom_cmd->add_option("table", rom_table, "Table 0..5");
  rom_cmd->add_option("state", rom_state, "on or off")->check(CLI::IsMember({"on", "off", "1", "0"}));

  std::string ee_action, ee_addr, ee_value;
  auto *eeprom_cmd = app.add_subcommand("eeprom", "Read or write one byte of configuration memory: eeprom peek ADDR | poke ADDR VALUE");
  eeprom_cmd->add_option("action", ee_action, "peek or poke")->required()->check(CLI::IsMember({"peek", "poke"}));
  eeprom_cmd->add_option("address", ee_addr, "Address, decimal or 0x-hex")->required();
  eeprom_cmd->add_option("value", ee_value, "Byte to write (poke)");
  app.add_subcommand("reboot", "Restart the dongle");
  std::string bl_action;
  int timeout_s = 30;
  auto *bootloader_cmd = app.add_subcommand("bootloader", "Switch the dongle into its bootloader or back: bootloader enter|leave");
  bootloader_cmd->add_option("action", bl_action, "enter or leave")->required()->check(CLI::IsMember({"enter", "leave"}));
  bootloader_cmd->add_option("--timeout", timeout_s, "Seconds to wait for the dongle to come back")->capture_default_str();
  std::string image;
  auto *upgrade_cmd = app.add_subcommand("upgrade", "Install the firmware IMAGE");
  upgrade_cmd->add_option("image", image, "Firmware image file")->required();
  upgrade_cmd->add_option("--timeout", timeout_s, "Seconds to wait for each restart of the dongle")->capture_default_str();

  std::string hist_version;
  auto *history_cmd = app.add_subcommand("history", "Firmware releases after the dongle's, up to VERSION (default: all)");
  history_cmd->add_option("version", hist_version, "MAJOR.MINOR.PATCH");

  std::string protocol, scancode;
  int repeat = 0;
  auto *send_cmd = app.add_subcommand("send", "Send PROTOCOL SCANCODE through the dongle's IR transmitter");
  send_cmd->add_option("protocol", protocol, "NEC, RC5, RC6_0, SONY12, ... (codara protocols)")->required();
  send_cmd->add_option("scancode", scancode, "Scancode, decimal or 0x-hex")->required();
  send_cmd->add_option("--repeat", repeat, "Repeat frames (0..30)")->capture_default_str();
  std::string raw_file;
  auto *send_raw_cmd = app.add_subcommand("send-raw", "Send captures from FILE or - (mode2, ir-ctl text, duration lists)");
  send_raw_cmd->add_option("file", raw_file, "Capture file, or - for standard input")->required();
  std::vector<std::string> pronto;
  int pronto_repeat = 0;
  auto *send_pronto_cmd = app.add_subcommand("send-pronto", "Send a Pronto code (hex words)");
  send_pronto_cmd->add_option("words", pronto, "0000 006D 0022 0002 ...")->required();
  send_pronto_cmd->add_option("--repeat", pronto_repeat, "Times to send the repeat part (0..255)")->capture_default_str();

  std::string wake_action, wake_a, wake_b, wake_c;
  auto *wake_cmd = app.add_subcommand("wake", "The signal that wakes the host: wake get | set ENABLE [HIGH LOW] | signal FILE|-");
  wake_cmd->add_option("action", wake_action, "get, set or signal")->required()->check(CLI::IsMember({"get", "set", "signal"}));
  wake_cmd->add_option("args", wake_a, "ENABLE (set) or FILE (signal)");
  wake_cmd->add_option("high", wake_b, "High address byte (set)");
  wake_cmd->add_option("low", wake_c, "Low address byte (set)");

  CaptureOptions cap;
  bool cap_raw = false;
  auto *capture_cmd = app.add_subcommand("capture", "Show every IR signal the dongle receives, decoded (firmware 4.9+); Ctrl-C ends");
  capture_cmd->add_option("--count", cap.count, "Stop after N signals")->check(CLI::NonNegativeNumber);
  capture_cmd->add_option("--seconds", cap.seconds, "Stop after S seconds without a signal (simulated: 10 by default)")
      ->check(CLI::NonNegativeNumber);
  capture_cmd->add_flag("--raw", cap_raw, "Also print each signal's durations");
  std::string cap_svg, learn_out;
  std::vector<std::string> learn_keys;
  capture_cmd->add_option("--svg", cap_svg, "When the capture ends, draw its signals in FILE.svg");
  capture_cmd->add_option("--learn", learn_keys, "Ask for each KEY in turn and write labelled captures (codara keymap reads them)")
      ->expected(1, -1);
  capture_cmd->add_option("-o,--out", learn_out, "With --learn: write the labelled captures to FILE (default standard output)");

  app.add_subcommand("list-dongles", "Name every simulated dongle (implies --simulate)");

  ServeOptions serve_opt;
  serve_opt.port = 8767;
  bool no_open = false;
  auto *serve_cmd = app.add_subcommand("serve", "Set up the dongle from a web page on this machine (prints its address)");
  auto *port_opt = serve_cmd->add_option("--port", serve_opt.port, "Port to listen on (0: any free one)")->check(CLI::Range(0, 65535))->capture_default_str();
  serve_cmd->add_option("--bind", serve_opt.bind, "Address to listen on; anything but 127.0.0.1 lets other machines reach the page")
      ->capture_default_str();
  serve_cmd->add_flag("--no-open", no_open, "Do not open the page in the desktop's browser");

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success &e) {
    return app.exit(e);
  } catch (const CLI::ParseError &e) {
    app.exit(e);
    return int(Status::Usage);
  }
  if (app.get_subcommands().empty()) {
    std::fprintf(stderr, "zivra: a command is required (zivra --help lists them); start with: zivra info\n");
    return int(Status::Usage);
  }
  CLI::App *cmd = app.get_subcommands().front();
  const std::string name = cmd->get_name();

  // The libraries' log lines are for developers: shown only when asked for.
  set_loglevel(log_level >= 0 ? log_level : verbose > 0 ? std::min(5, verbose + 1) : 0);
  if (!core_only) codara_register_extended();

  if (sim.dongle.empty())
    if (const char *e = getenv("ZIVRA_SIMULATE"); e != nullptr && *e != '\0') sim.dongle = std::string(e) == "1" ? kDefaultSimDongle : e;
  if (name == "list-dongles" && sim.dongle.empty()) sim.dongle = kDefaultSimDongle;
  // A person watches the page: the simulated dongle keeps real time (its waits, the
  // remote's presses, the upgrade's progress).
  if (name == "serve" && !sim.dongle.empty() && !under_sim()) setenv("ZIVRA_SIM_REALTIME", "1", 0);
  if (!sim.dongle.empty() && !under_sim()) return c.error(run_simulated(sim, argv));
  if (under_sim() && !sim.dongle.empty()) {
    bool known = false;
    for (const SimDongle &s : sim_dongles()) known = known || s.name == sim.dongle;
    if (!known)
      return c.error(fail(Status::Usage, "there is no simulated dongle '" + sim.dongle + "'", "zivra list-dongles names them"));
    if (name == "capture" && cap.count == 0 && cap.seconds == 0) cap.seconds = 10;
  }

  if (name == "serve") return serve_main(serve_opt, no_open, port_opt->count() > 0);

  Dongle d;
  d.progress = c.as_json ? LibOutput::Discard : isatty(1) ? LibOutput::Stdout : LibOutput::Discard;

  if (name == "info") return show_info(c, d);
  if (name == "list") return show_list(c, d);
  if (name == "record") {
    rec.mode = toggle ? RecordMode::Toggle : lp ? RecordMode::LongPress : !macro.empty() ? RecordMode::Macro : RecordMode::Normal;
    rec.more = macro;
    if (rec.key.empty() != toggle)
      return c.error(fail(Status::Usage, toggle ? "--toggle takes no KEY" : "record needs a KEY", "e.g. zivra record a, zivra record vol_up"));
    if (!c.as_json) std::fprintf(stderr, "Press the remote button for %s now (waiting %d s)...\n", toggle ? "the toggle" : rec.key.c_str(), rec.wait_s);
    return c.done(record(d, rec), "Recorded " + (toggle ? std::string("the toggle") : rec.key) + ".");
  }
  if (name == "delete") {
    if (del_next == !del_key.empty())
      return c.error(fail(Status::Usage, "delete needs a KEY or --next (not both)", "zivra delete a, or zivra delete --next and press the button"));
    if (del_next) {
      if (!c.as_json) std::fprintf(stderr, "Press the remote button to delete now...\n");
      return c.done(delete_next(d, del_wait), "Deleted the button.");
    }
    return c.done(
        delete_key(d, del_key), [&](int n) { std::printf("Deleted %d button%s recorded as %s.\n", n, n == 1 ? "" : "s", del_key.c_str()); },
        [](int n) { return json{{"ok", true}, {"deleted", n}}; });
  }
  if (name == "delete-index") return c.done(delete_index(d, del_index), "Deleted the button at index " + std::to_string(del_index) + ".");
  if (name == "format") return confirm_format(c, d);
  if (name == "save") return c.done(save(d, file), "Saved the configuration to " + file + ".");
  if (name == "load") return c.done(load(d, file), "Loaded " + file + " into the dongle.");
  if (name == "normalize") return c.done(normalize(d), "Normalised the recorded buttons.");
  if (name == "selftest") return c.done(selftest(d), "Self-test passed.");
  if (name == "settings") {
    if (set_name.empty()) return show_settings(c, d);
    if (set_value.empty()) return c.error(fail(Status::Usage, "settings NAME needs a VALUE", "zivra settings shows the values"));
    return c.done(set_setting(d, set_name, set_value), "Set " + set_name + " to " + set_value + ".");
  }
  if (name == "rom-table") {
    if (rom_action == "get")
      return c.done(
          rom_tables(d),
          [&](const std::vector<RomTable> &ts) {
            for (const RomTable &t : ts)
              if (rom_table < 0 || t.table == rom_table) std::printf("rom-table %d: %s\n", t.table, t.enabled ? "on" : "off");
          },
          [&](const std::vector<RomTable> &ts) {
            json a = json::array();
            for (const RomTable &t : ts)
              if (rom_table < 0 || t.table == rom_table) a.push_back({{"table", t.table}, {"enabled", t.enabled}});
            return json{{"rom_tables", a}};
          });
    if (rom_table < 0 || rom_state.empty()) return c.error(fail(Status::Usage, "rom-table set needs a table 0..5 and on or off"));
    bool on = rom_state == "on" || rom_state == "1";
    return c.done(set_rom_table(d, rom_table, on), "Built-in table " + std::to_string(rom_table) + (on ? " on." : " off."));
  }
  if (name == "eeprom") {
    long long addr = 0, value = 0;
    if (!parse_number(ee_addr, 0, 0xFFFF, addr)) return c.error(fail(Status::Usage, "address '" + ee_addr + "' is not 0 to 0xFFFF; nothing was sent"));
    if (ee_action == "peek")
      return c.done(
          eeprom_peek(d, static_cast<uint32_t>(addr)), [&](int v) { std::printf("0x%04llX: 0x%02X (%d)\n", addr, v, v); },
          [&](int v) { return json{{"address", addr}, {"value", v}}; });
    if (!parse_number(ee_value, 0, 0xFF, value)) return c.error(fail(Status::Usage, "poke needs a byte value 0 to 0xFF; nothing was sent"));
    return c.done(eeprom_poke(d, static_cast<uint32_t>(addr), static_cast<uint32_t>(value)), "Wrote " + ee_value + " to " + ee_addr + ".");
  }
  if (name == "reboot") return c.done(reboot(d), "The dongle restarts.");
  // The library's "[DEVICE]" status lines belong to these commands' text output.
  if ((name == "bootloader" || name == "upgrade") && !c.as_json) d.progress = LibOutput::Stdout;
  if (name == "bootloader")
    return c.done(
        bl_action == "enter" ? bootloader_enter(d, timeout_s) : bootloader_leave(d, timeout_s),
        [](const std::string &s) { std::printf("The dongle runs its %s.\n", s == "bootloader" ? "bootloader" : "firmware"); },
        [](const std::string &s) { return json{{"ok", true}, {"state", s}}; });
  if (name == "upgrade") {
    bool bar = !c.as_json && isatty(1);
    Result<Upgraded> u = upgrade(d, image, timeout_s, [bar](int percent) {
      if (bar) print_progress_bar(static_cast<float>(percent), 100.0f);
    });
    if (bar) std::printf("\n");
    return c.done(
        u, [](const Upgraded &x) { std::printf("Upgrade complete: firmware %s -> %s.\n", x.from.c_str(), x.to.c_str()); },
        [](const Upgraded &x) { return json{{"ok", true}, {"from", x.from}, {"to", x.to}, {"state", x.state}}; });
  }
  if (name == "history") return show_history(c, d, hist_version);
  if (name == "send")
    return c.done(
        send(d, protocol, scancode, repeat),
        [](const Sent &s) { std::printf("Sent %s 0x%X (%d frame%s).\n", s.protocol.c_str(), s.scancode, s.frames, s.frames == 1 ? "" : "s"); },
        [](const Sent &s) { return json{{"ok", true}, {"protocol", s.protocol}, {"scancode", s.scancode}, {"frames", s.frames}}; });
  if (name == "send-raw") {
    Error e;
    std::string text = read_all(raw_file, e);
    if (e) return c.error(e);
    return c.done(
        send_raw(d, text, raw_file == "-" ? "<stdin>" : raw_file), [](int n) { std::printf("Sent %d signal%s.\n", n, n == 1 ? "" : "s"); },
        [](int n) { return json{{"ok", true}, {"signals", n}}; });
  }
  if (name == "send-pronto") return c.done(send_pronto(d, pronto, pronto_repeat), "Sent the Pronto code.");
  if (name == "wake") {
    if (wake_action == "get")
      return c.done(
          wake_get(d), [](const Wake &w) { std::printf("wake-enable %u\nwake-high   %d\nwake-low    %d\n", w.enable, w.high, w.low); },
          [](const Wake &w) { return json{{"enable", w.enable}, {"high", w.high}, {"low", w.low}}; });
    if (wake_action == "set") {
      long long en = 0, hi = 0, lo = 0;
      if (!parse_number(wake_a, 0, 0xFFFFFFFFll, en) || (!wake_b.empty() && !parse_number(wake_b, 0, 255, hi)) ||
          (!wake_c.empty() && !parse_number(wake_c, 0, 255, lo)))
        return c.error(fail(Status::Usage, "wake set takes ENABLE (0..0xFFFFFFFF) and optional HIGH LOW bytes (0..255); nothing was sent"));
      return c.done(wake_set(d, Wake{static_cast<uint32_t>(en), static_cast<int>(hi), static_cast<int>(lo)}), "Set the wake settings.");
    }
    if (wake_a.empty()) return c.error(fail(Status::Usage, "wake signal needs a FILE or -"));
    Error e;
    std::string text = read_all(wake_a, e);
    if (e) return c.error(e);
    return c.done(
        wake_signal(d, text, wake_a == "-" ? "<stdin>" : wake_a), [](int n) { std::printf("Stored a wake signal of %d durations.\n", n); },
        [](int n) { return json{{"ok", true}, {"durations", n}}; });
  }
  if (name == "capture") {
    if (!learn_keys.empty()) {
      if (!cap_svg.empty() || cap_raw || cap.count)
        return c.error(fail(Status::Usage, "--learn takes neither --svg, --raw nor --count", "learn first, then capture"));
      // JSON lines and the labelled captures cannot share standard output.
      if (c.as_json && (learn_out.empty() || learn_out == "-"))
        return c.error(fail(Status::Usage, "--json with --learn needs -o FILE for the labelled captures"));
      return run_learn(c, d, cap, learn_keys, learn_out);
    }
    if (!learn_out.empty()) return c.error(fail(Status::Usage, "--out goes with --learn", "use --svg FILE for a picture"));
    return run_capture(c, d, cap, cap_raw, cap_svg);
  }
  if (name == "list-dongles") {
    std::vector<SimDongle> all = sim_dongles();
    if (c.as_json) {
      json a = json::array();
      for (const SimDongle &s : all) a.push_back({{"name", s.name}, {"description", s.description}});
      c.out({{"dongles", a}});
    } else {
      for (const SimDongle &s : all) std::printf("%-8s %s\n", s.name.c_str(), s.description.c_str());
    }
    return 0;
  }
  (void)format_cmd;
  (void)bootloader_cmd;
  (void)upgrade_cmd;
  return c.error(fail(Status::Usage, "unknown command " + name));
}

}  // namespace
}  // namespace zivra_cli

int main(int argc, char **argv) {
  try {
    return zivra_cli::run(argc, argv);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "zivra: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "zivra: unexpected failure\n");
  }
  return int(zivra_cli::Status::Failed);
}
