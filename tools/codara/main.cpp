// codara: decode IR captures, encode scancodes, list what libcodara knows.
//
// Exit status: 0 all went well; 1 some input could not be used (unreadable file, malformed
// number, over-long capture) or a frame could not be encoded; 2 bad command line.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "atomic_file.h"
#include "capture_formats.h"
#include "keymap.h"
#include "protocol_name.h"
#include "signal_svg.h"
#include "codara/codara.h"
#include "codara/logging.h"

namespace codara_cli {
namespace {

constexpr std::size_t kMaxInputBytes = 64u << 20;

int noop_tx(uint16_t *, uint16_t, uint16_t, uint8_t) { return 0; }

// The library registers its analyzers and handlers on first use; listings need them now.
// Registering a callback is the one entry point that does this without decoding anything.
void ensure_registered() { ir_register_tx(noop_tx); }

void error(const std::string &msg) { std::fprintf(stderr, "codara: %s\n", msg.c_str()); }

bool read_input(const std::string &path, std::string &text) {
  bool is_stdin = path == "-";
  FILE *f = is_stdin ? stdin : std::fopen(path.c_str(), "rb");
  const std::string name = is_stdin ? std::string("standard input") : path;
  if (!f) {
    error("cannot read " + name + ": " + std::strerror(errno));
    return false;
  }
  char buf[65536];
  std::size_t n;
  bool ok = true;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    if (text.size() + n > kMaxInputBytes) {
      error("cannot read " + name + ": larger than 64 MiB");
      ok = false;
      break;
    }
    text.append(buf, n);
  }
  if (ok && std::ferror(f)) {
    error("cannot read " + name + ": " + std::strerror(errno));
    ok = false;
  }
  if (!is_stdin) std::fclose(f);
  return ok;
}

std::string hex_words(const uint16_t *w, std::size_t n) {
  std::string s;
  char b[8];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, i ? " %04X" : "%04X", w[i]);
    s += b;
  }
  return s;
}

std::string description(const ir_prot &p) {
  std::string d(p.desc, strnlen(p.desc, sizeof p.desc));
  while (!d.empty() && d.back() == ' ') d.pop_back();
  return d;
}

struct DecodeOptions {
  std::vector<std::string> files;
  bool json = false;
};

// Reads and decodes every capture of `files` (standard input when none), in order. Input
// that cannot be read or parsed is reported and makes the result 1; `each` gets every usable
// capture with its place ("FILE:LINE"), the decoder's return value and its result, and
// returns false to fail the whole run.
int for_each_decoded(const std::vector<std::string> &files,
                     const std::function<bool(const std::string &, const Capture &, int, const ir_prot &)> &each) {
  std::vector<std::string> inputs = files.empty() ? std::vector<std::string>{"-"} : files;
  int status = 0;
  for (const std::string &in : inputs) {
    std::string text;
    if (!read_input(in, text)) {
      status = 1;
      continue;
    }
    const std::string src = in == "-" ? "<stdin>" : in;
    for (const Capture &c : parse_captures(text)) {
      std::string where = src + ":" + std::to_string(c.line);
      if (!c.error.empty()) {
        error(where + ": " + c.error);
        status = 1;
        continue;
      }
      ir_prot p{};
      int rc = decode_capture(c, p);
      if (!each(where, c, rc, p)) status = 1;
    }
  }
  return status;
}

int decode(const DecodeOptions &o) {
  const bool prefix = o.files.size() > 1;
  return for_each_decoded(o.files, [&](const std::string &where, const Capture &c, int rc, const ir_prot &p) {
    if (rc < 0) {
      error(where + ": the decoder refused the capture");
      return false;
    }
    const std::string src = where.substr(0, where.rfind(':'));
    uint16_t len = std::min<uint16_t>(p.len, IR_MAX_EDGES);
    uint16_t plen = std::min<uint16_t>(p.pronto_len, IR_MAX_EDGES);
    if (o.json) {
      nlohmann::json j = {
          {"source", src},
          {"line", c.line},
          {"format", format_name(c.format)},
          {"edges_in", c.edges.size()},
          {"protocol", tools_common::protocol_name(p.protocol)},
          {"protocol_id", int(p.protocol)},
          {"scancode", p.scancode},
          {"fullcode", p.fullcode},
          {"bits", p.bits},
          {"hash", p.hash},
          {"repeat", int(p.repeat)},
          {"desc", description(p)},
          {"edges", std::vector<uint16_t>(p.buf, p.buf + len)},
          {"pronto", hex_words(p.pronto, plen)},
      };
      std::puts(j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    } else {
      std::printf("%s%-10s 0x%08X  %s  hash=0x%08X\n", prefix ? (where + ": ").c_str() : "",
                  tools_common::protocol_name(p.protocol), p.scancode, description(p).c_str(), p.hash);
    }
    return true;
  });
}

struct PlotOptions {
  std::vector<std::string> files;
  std::string out;
  std::string title;
};

// The whole output to `out` (standard output when empty or "-"), or a message and false.
bool emit(const std::string &out, const std::string &text, const char *what) {
  if (out.empty() || out == "-") {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
      error(std::string("cannot write the ") + what + " to standard output: " + std::strerror(errno));
      return false;
    }
    return true;
  }
  std::string why;
  if (!tools_common::write_file_atomically(out, text, why)) {
    error(why);
    return false;
  }
  return true;
}

int plot(const PlotOptions &o) {
  std::vector<tools_common::PlotCapture> rows;
  int status = for_each_decoded(o.files, [&](const std::string &where, const Capture &c, int rc, const ir_prot &p) {
    rows.push_back(
        tools_common::plot_capture(where, c.edges.data(), c.edges.size(), elapsed_ms(c), rc < 0 ? nullptr : &p));
    return true;
  });
  if (status != 0) return status;  // no picture of part of the input
  if (rows.empty()) {
    error("no captures to draw");
    return 1;
  }
  tools_common::PlotOptions popt;
  popt.title = o.title;
  return emit(o.out, tools_common::render_svg(rows, popt), "picture") ? 0 : 1;
}

struct KeymapOptions {
  std::vector<std::string> files;
  std::string format;
  std::string name;
  std::string out;
};

// A remote's name as both formats can hold it: one word, no quotes or comment characters.
bool valid_remote_name(const std::string &n) {
  if (n.empty() || n.size() > 64) return false;
  for (char ch : n)
    if (!(std::isalnum(static_cast<unsigned char>(ch)) || std::strchr("_-.+:@", ch))) return false;
  return true;
}

std::string name_from_file(const std::string &path) {
  std::string base = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
  base = base.substr(0, base.find('.'));
  return valid_remote_name(base) ? base : "remote";
}

int keymap(const KeymapOptions &o) {
  const KeymapFormat format = o.format == "lircd" ? KeymapFormat::Lircd : KeymapFormat::RcKeymap;
  std::string name = o.name.empty() ? (o.files.empty() || o.files[0] == "-" ? "remote" : name_from_file(o.files[0]))
                                    : o.name;
  if (!valid_remote_name(name)) {
    error("remote name '" + name + "' cannot go into a keymap: use letters, digits and _-.+:@ (at most 64)");
    return 2;
  }
  std::vector<std::string> inputs = o.files.empty() ? std::vector<std::string>{"-"} : o.files;
  std::vector<Button> buttons;
  for (const std::string &in : inputs) {
    std::string text, why;
    if (!read_input(in, text)) return 1;
    if (!read_buttons(text, in == "-" ? "<stdin>" : in, format, buttons, why)) {
      error(why);
      return 1;
    }
  }
  std::string text, why;
  if (!make_keymap(buttons, format, name, text, why)) {
    error(why);
    return 1;
  }
  return emit(o.out, text, "keymap") ? 0 : 1;
}

struct EncodeOptions {
  std::string protocol;
  std::string scancode;
  std::string format = "raw";
  int count = 1;
};

bool parse_scancode(const std::string &s, uint32_t &out) {
  bool hex = s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
  std::string digits = hex ? s.substr(2) : s;
  if (digits.empty() || digits.size() > (hex ? 8u : 10u)) return false;
  uint64_t v = 0;
  for (char ch : digits) {
    int d;
    if (ch >= '0' && ch <= '9')
      d = ch - '0';
    else if (hex && std::isxdigit(static_cast<unsigned char>(ch)))
      d = std::tolower(static_cast<unsigned char>(ch)) - 'a' + 10;
    else
      return false;
    v = v * (hex ? 16 : 10) + uint64_t(d);
  }
  if (v > 0xFFFFFFFFull) return false;
  out = uint32_t(v);
  return true;
}

void print_frame(const ir_packet &pkt, rc_proto proto, const std::string &format) {
  if (format == "raw") {
    std::string s;
    for (uint16_t i = 0; i < pkt.len; ++i) s += (i ? (i % 2 ? " -" : " +") : "+") + std::to_string(pkt.buf[i]);
    std::puts(s.c_str());
  } else if (format == "mode2") {
    // The frame, then the silence it wants after it (joined to a closing space, if any).
    for (uint16_t i = 0; i < pkt.len; ++i) {
      uint32_t d = pkt.buf[i];
      if (i + 1 == pkt.len && i % 2) d += uint32_t(pkt.elapsed) * 1000;
      std::printf("%s %u\n", i % 2 ? "space" : "pulse", d);
    }
    if (pkt.len % 2 && pkt.elapsed) std::printf("space %u\n", unsigned(pkt.elapsed) * 1000);
  } else {
    ir_prot p{};
    p.protocol = proto;
    p.len = pkt.len;
    std::copy(pkt.buf, pkt.buf + p.len, p.buf);
    pronto_encode(&p, pkt.elapsed);
    std::puts(hex_words(p.pronto, std::min<uint16_t>(p.pronto_len, IR_MAX_EDGES)).c_str());
  }
}

// Whether the handler that serves the protocol has an encoder (the first one
// whose mask holds it answers, as in the library's lookup).
bool handled(rc_proto proto) {
  for (ll_t *n = registered_protocols.next; n != &registered_protocols; n = n->next) {
    const auto *h = static_cast<const IR_PROTOCOL_HANDLER *>(ll_entry(n, protocol, node)->iface);
    if (h->protocols >> proto & 1) return h->encode != nullptr;
  }
  return false;
}

int encode(const EncodeOptions &o) {
  rc_proto proto;
  if (!tools_common::parse_protocol_name(o.protocol, proto)) {
    error("unknown protocol '" + o.protocol + "' (codara protocols lists them)");
    return 2;
  }
  uint32_t scancode;
  if (!parse_scancode(o.scancode, scancode)) {
    error("malformed scancode '" + o.scancode + "': expected a 32-bit decimal or 0x-hex number");
    return 2;
  }
  ensure_registered();
  if (!handled(proto)) {
    error(std::string("no encoder for ") + tools_common::protocol_name(proto));
    return 1;
  }
  for (int n = 0; n < o.count; ++n) {
    ir_packet pkt{};
    // An encoder that declines says so, or leaves the frame empty.
    if (ir_encode(proto, scancode, &pkt) != 0 || pkt.len == 0 || pkt.len > IR_MAX_EDGES) {
      error(std::string("the ") + tools_common::protocol_name(proto) + " encoder produced no frame");
      return 1;
    }
    // The Pronto form needs room for its header and closing words.
    if (o.format == "pronto" && 4u + pkt.len + 5u > IR_MAX_EDGES) {
      error("frame too long for the Pronto form");
      return 1;
    }
    print_frame(pkt, proto, o.format);
  }
  return 0;
}

std::string mask_names(uint64_t mask) {
  if (!mask) return "(default handler)";
  std::string s;
  for (int b = 0; b < 64; ++b)
    if (mask >> b & 1) {
      if (!s.empty()) s += ' ';
      s += tools_common::protocol_name(b);
    }
  return s;
}

// Whether the handler's encoder gives a frame: encoders may exist and still decline.
bool encodes(uint64_t mask) {
  for (int b = 0; b < 64; ++b) {
    if (!(mask >> b & 1)) continue;
    ir_packet pkt{};
    int saved = get_loglevel();
    set_loglevel(0);
    int rc = ir_encode(static_cast<rc_proto>(b), 0, &pkt);
    set_loglevel(saved);
    if (rc == 0 && pkt.len > 0) return true;
  }
  return false;
}

int list_length(const ll_t *head) {
  int k = 0;
  for (const ll_t *n = head->next; n != head; n = n->next) ++k;
  return k;
}

// The library's own handlers and analyzers, then (unless --core-only) the extended
// set under a heading of its own: it is registered after them.
int protocols(bool core_only) {
  ensure_registered();
  const int own_handlers = list_length(&registered_protocols), own_analyzers = list_length(&registered_analyzers);
  if (!core_only) codara_register_extended();
  int k = 0;
  std::printf("Handlers, in lookup order:\n");
  std::printf("  %-10s %-8s %-7s %-7s %s\n", "NAME", "CARRIER", "DECODE", "ENCODE", "PROTOCOLS");
  for (ll_t *n = registered_protocols.next; n != &registered_protocols; n = n->next) {
    if (k++ == own_handlers) std::printf("Extended protocols (left out with --core-only):\n");
    const protocol *rec = ll_entry(n, protocol, node);
    const auto *h = static_cast<const IR_PROTOCOL_HANDLER *>(rec->iface);
    std::printf("  %-10s %-8u %-7s %-7s %s\n", rec->name, h->carrier, h->decode ? "yes" : "no",
                h->encode && encodes(h->protocols) ? "yes" : "no", mask_names(h->protocols).c_str());
  }
  std::printf("\nAnalyzers, in tie-break order:\n");
  k = 0;
  for (ll_t *n = registered_analyzers.next; n != &registered_analyzers; n = n->next) {
    if (k++ == own_analyzers) std::printf("Extended protocols' analyzers:\n");
    std::printf("  %s\n", ll_entry(n, IR_PROTOCOL_ANALYZER, node)->name);
  }
  return 0;
}

int run(int argc, char **argv) {
  CLI::App app{"Decode IR captures and encode scancodes with libcodara."};
  app.require_subcommand(0, 1);  // a missing one is reported below, an unknown word by CLI11
  int log_level = -1;
  int verbose = 0;
  app.add_option("--log-level", log_level, "Show libcodara's own log lines: 0 none (default), 1 errors, "
                                           "2 +warnings, 3 info, 4 debug, 5 verbose")
      ->check(CLI::Range(0, 5));
  app.add_flag("-v,--verbose", verbose, "Show libcodara's log lines (-v errors and warnings, -vv info, -vvv debug)");
  bool core_only = false;
  app.add_flag("--core-only", core_only, "Only the library's own protocols, without the extended set (Sharp, JVC, ...)");
  app.add_flag_callback("--version", [] {
    std::printf("codara %s\n", ir_lib_version());
    throw CLI::Success();
  }, "Print the library version and exit");

  DecodeOptions dopt;
  CLI::App *dec = app.add_subcommand("decode", "Decode captures from files or standard input");
  dec->add_option("files", dopt.files,
                  "Capture files (mode2, ir-ctl text, duration lists, Pronto hex); '-' or none "
                  "reads standard input");
  dec->add_flag("--json", dopt.json, "One JSON object per capture");
  dec->footer(
      "Formats, mixed freely: 'pulse N'/'space N' lines (mode2; a blank line, a 'timeout' line\n"
      "or a space above 14000 us ends a capture), one capture per line as '+889 -889 +1778'\n"
      "(ir-ctl) or '889 889 1778' / '889,889,1778', and Pronto learned codes '0000 006D ...'.");

  EncodeOptions eopt;
  CLI::App *enc = app.add_subcommand("encode", "Encode a scancode into one frame");
  enc->add_option("protocol", eopt.protocol, "Protocol short name, e.g. NEC, RC5, RC6_0, SONY12")->required();
  enc->add_option("scancode", eopt.scancode, "Scancode, decimal or 0x-hex")->required();
  enc->add_option("-f,--format", eopt.format, "Output: raw (ir-ctl '+a -b' text), mode2 or pronto")
      ->check(CLI::IsMember({"mode2", "raw", "pronto"}))
      ->capture_default_str();
  enc->add_option("-n,--count", eopt.count, "Number of successive frames (toggle bits advance)")
      ->check(CLI::Range(1, 100))
      ->capture_default_str();

  CLI::App *pro = app.add_subcommand("protocols", "List the protocol handlers and analyzers");

  KeymapOptions kopt;
  CLI::App *km = app.add_subcommand("keymap", "Turn labelled captures into an rc_keymap TOML file or a lircd.conf");
  km->add_option("files", kopt.files, "Labelled-capture files; '-' or none reads standard input");
  km->add_option("--format", kopt.format, "rc-keymap (ir-keytable's TOML) or lircd (a lircd.conf remote)")
      ->check(CLI::IsMember({"rc-keymap", "lircd"}))
      ->required();
  km->add_option("--name", kopt.name, "Name of the remote (default: the first file's name)");
  km->add_option("-o,--out", kopt.out, "Write the keymap to FILE instead of standard output");
  km->footer(
      "A labelled-capture file holds each button as its key name (KEY_POWER, KEY_VOLUMEUP, ...)\n"
      "on a line of its own, then its capture in any format decode reads; zivra capture --learn\n"
      "writes such files. Protocols no kernel decoder reads go into the rc_keymap as raw\n"
      "durations. An unknown key name, a capture that does not decode or two keys with one code\n"
      "is an error, and then no keymap is written.");

  PlotOptions popt;
  CLI::App *plt = app.add_subcommand("plot", "Draw captures as an SVG picture, one row each");
  plt->add_option("files", popt.files, "Capture files, as decode reads them; '-' or none reads standard input");
  plt->add_option("-o,--out", popt.out, "Write the picture to FILE.svg instead of standard output");
  plt->add_option("--title", popt.title, "Heading above the rows");
  plt->footer(
      "Each capture becomes a row: marks as blocks and spaces as gaps to scale (the middle of an\n"
      "edge above 4000 us is cut out and marked), the decoded frame's bit cells with their values,\n"
      "and protocol, scancode and fields as its caption. If any input cannot be read, nothing is\n"
      "written.");

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success &e) {
    return app.exit(e);
  } catch (const CLI::ParseError &e) {
    app.exit(e);
    return 2;
  }
  // The library's log lines are for developers; the tool says what went wrong in its own
  // words (an undecodable capture is an INVALID line, not the hash's complaint beside it).
  set_loglevel(log_level >= 0 ? log_level : verbose > 0 ? std::min(5, verbose + 1) : 0);
  if (pro->parsed()) return protocols(core_only);
  if (!core_only) codara_register_extended();
  if (dec->parsed()) return decode(dopt);
  if (enc->parsed()) return encode(eopt);
  if (plt->parsed()) return plot(popt);
  if (km->parsed()) return keymap(kopt);
  std::fprintf(stderr, "A subcommand is required: decode, encode, plot, keymap or protocols\nRun with --help for more information.\n");
  return 2;
}

}  // namespace
}  // namespace codara_cli

int main(int argc, char **argv) {
  try {
    return codara_cli::run(argc, argv);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "codara: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "codara: unexpected failure\n");
  }
  return 3;
}
