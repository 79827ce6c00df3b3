// Labelled captures and the keymaps made of them: see keymap.h.
#include "keymap.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include "capture_formats.h"
#include "codara/codara.h"
#include "codara/logging.h"
#include "signal_svg.h"

namespace codara_cli {
namespace {

struct KeyName {
  const char *name;
  bool alias;  // defined as another key's name rather than a number
};

// Generated at build time from the kernel's linux/input-event-codes.h.
constexpr KeyName kKeyNames[] = {
#include "key_names.inc"
};

std::string hex(uint32_t v, bool lower = false) {
  char b[16];
  std::snprintf(b, sizeof b, lower ? "0x%x" : "0x%08X", v);
  return b;
}

std::string trim(std::string_view s) {
  std::size_t a = 0, b = s.size();
  while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
  while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
  return std::string(s.substr(a, b - a));
}

uint32_t reverse32(uint32_t v) {
  return uint32_t(lookup[v & 0xFF]) << 24 | uint32_t(lookup[v >> 8 & 0xFF]) << 16 |
         uint32_t(lookup[v >> 16 & 0xFF]) << 8 | lookup[v >> 24];
}

// The label a decoder gives its description, before " -- ".
std::string label_of(const std::string &desc) { return trim(desc.substr(0, desc.find(" -- "))); }

// Whether the result comes from the built-in decoder whose scancode layout the kernel
// mappings below are written for: another decoder may report the same protocol with its
// own layout, and its buttons then go into raw form rather than under a wrong scancode.
bool from_builtin_decoder(const Button &b) {
  static const std::map<std::string, std::string> kLabels = {
      {"NEC", "NEC"},         {"NECX", "NECx"},        {"NEC32", "NEC32"},       {"NEC_APPLE", "NEC32 {APPLE}"},
      {"RC5", "RC5"},         {"RC5X_20", "RC5X-20"},  {"RC6_0", "RC6"},         {"SONY12", "SONY{12}"},
      {"SONY15", "SONY{15}"}, {"SONY20", "SONY{20}"},  {"XMP", "XMP-1"},
  };
  auto it = kLabels.find(b.protocol);
  return it != kLabels.end() && it->second == label_of(b.description);
}

bool is_nec32bit(const Button &b) {
  const std::string &p = b.protocol;
  return (p == "NEC" || p == "NECX" || p == "NEC32" || p == "NEC_APPLE") && from_builtin_decoder(b);
}

// RC5's second start bit is the inverted seventh command bit; the decoder does not report
// it, the frame's bit cells do.
bool rc5_field_bit(const Button &b) {
  tools_common::PlotCapture c;
  c.edges.assign(b.edges.begin(), b.edges.end());
  c.decoded = true;
  c.protocol = b.protocol;
  std::vector<tools_common::BitCell> cells = tools_common::bit_cells(c);
  return cells.size() < 2 || cells[1].value == "1";
}

// ---- Reading ----------------------------------------------------------------------------

struct Block {
  std::string key;
  std::size_t key_line = 0;
  std::size_t first_line = 0;  // line of the chunk's first line
  std::string chunk;
};

bool decode_block(const Block &blk, const std::string &source, std::vector<Button> &out, std::string &error) {
  const std::string at = source + ":" + std::to_string(blk.key_line);
  Button b;
  b.key = blk.key;
  b.where = at;
  bool have = false;
  for (const Capture &c : parse_captures(blk.chunk)) {
    const std::string where = source + ":" + std::to_string(blk.first_line + c.line - 1);
    if (!c.error.empty()) {
      error = where + ": " + c.error;
      return false;
    }
    ir_prot p{};
    int saved = get_loglevel();
    set_loglevel(0);
    int rc = decode_capture(c, p);
    set_loglevel(saved);
    if (rc < 0 || p.protocol == RC_PROTO_INVALID || p.protocol == RC_PROTO_UNKNOWN || p.hash == 0) {
      error = where + ": the capture for " + blk.key +
              " does not decode as any protocol codara knows (codara decode shows what it reads); "
              "capture the button again";
      return false;
    }
    if (p.protocol == RC_PROTO_NEC_REPEAT) continue;
    const std::string proto = enum_to_str(p.protocol);
    if (!have) {
      have = true;
      b.protocol = proto;
      b.scancode = p.scancode;
      std::string d(p.desc, strnlen(p.desc, sizeof p.desc));
      b.description = trim(d);
      b.edges = c.edges;
      uint16_t n = std::min<uint16_t>(p.len, IR_MAX_EDGES - 2);
      if (n == c.edges.size()) {
        b.clean.assign(p.buf, p.buf + n);
        b.key_gap_ms = p.buf[n + 1];
      }
    } else if (proto != b.protocol || p.scancode != b.scancode) {
      error = where + ": " + blk.key + " has captures of two different codes (" + b.protocol + " " +
              hex(b.scancode) + " and " + proto + " " + hex(p.scancode) + "); give each button its own key name";
      return false;
    }
  }
  if (!have) {
    error = at + ": " + blk.key + " has no capture after it";
    return false;
  }
  out.push_back(std::move(b));
  return true;
}

}  // namespace

int decode_capture(const Capture &c, ir_prot &result) {
  ir_packet pkt{};
  const std::size_t n = std::min(c.edges.size(), std::size_t(IR_MAX_EDGES));
  std::copy(c.edges.begin(), c.edges.begin() + long(n), pkt.buf);
  pkt.len = uint16_t(n);
  pkt.elapsed = elapsed_ms(c);
  return ir_decode_packet(&pkt, &result);
}

bool is_key_name(std::string_view name, bool lirc) {
  for (const KeyName &k : kKeyNames)
    if (name == k.name) return !(lirc && k.alias);
  return false;
}

bool is_label_line(std::string_view line) {
  std::string w = trim(line.substr(0, line.find('#')));
  if (w.empty() || !std::isalpha(static_cast<unsigned char>(w[0]))) return false;
  bool hex_only = true;
  for (char ch : w) {
    if (!std::isalnum(static_cast<unsigned char>(ch)) && ch != '_') return false;
    hex_only = hex_only && std::isxdigit(static_cast<unsigned char>(ch));
  }
  for (const char *kw : {"pulse", "space", "timeout", "carrier"})
    if (w == kw) return false;
  return !hex_only;
}

bool read_buttons(std::string_view text, const std::string &source, KeymapFormat format, std::vector<Button> &out,
                  std::string &error) {
  std::vector<Block> blocks;
  std::size_t ln = 0;
  for (std::size_t pos = 0; pos <= text.size();) {
    std::size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) nl = text.size();
    std::string_view line = text.substr(pos, nl - pos);
    ++ln;
    pos = nl + 1;
    if (is_label_line(line)) {
      std::string key = trim(line.substr(0, line.find('#')));
      if (!is_key_name(key, format == KeymapFormat::Lircd)) {
        error = source + ":" + std::to_string(ln) + ": unknown key name '" + key + "': use a Linux input key name" +
                (format == KeymapFormat::Lircd ? " from LIRC's namespace (irrecord --list-namespace)" : "") +
                ", e.g. KEY_POWER, KEY_VOLUMEUP, KEY_NUMERIC_1 (linux/input-event-codes.h lists them)";
        return false;
      }
      blocks.push_back({key, ln, ln + 1, {}});
      continue;
    }
    if (blocks.empty()) {
      if (!trim(line.substr(0, line.find('#'))).empty()) {
        error = source + ":" + std::to_string(ln) +
                ": capture data before the first key name; start each button with its key name on a line "
                "of its own (e.g. KEY_POWER)";
        return false;
      }
      continue;
    }
    blocks.back().chunk.append(line).push_back('\n');
  }
  if (blocks.empty()) {
    error = source + ": no key names: write each button's key name (e.g. KEY_POWER) on a line of its own, "
                     "then its capture";
    return false;
  }
  for (const Block &b : blocks)
    if (!decode_block(b, source, out, error)) return false;
  return true;
}

// The extended pack's decoders give their scancodes in the kernel's layouts already;
// known by the label each writes (Samsung-32 reports NECX, so the label decides).
KernelCode pack_code(const Button &b) {
  struct Pack {
    const char *label, *protocol, *variant;
  };
  static const Pack kPack[] = {
      {"jvc", "jvc", "jvc"},           {"sharp", "sharp", "sharp"},         {"rc6_mce", "rc6", "rc6_mce"},
      {"rc6_6a_20", "rc6", "rc6_6a_20"}, {"rc6_6a_24", "rc6", "rc6_6a_24"}, {"rc6_6a_32", "rc6", "rc6_6a_32"},
      {"samsung32", "nec", "necx"},
  };
  const std::string label = label_of(b.description);
  for (const Pack &k : kPack)
    if (label == k.label) return {k.protocol, k.variant, b.scancode};
  return {};
}

KernelCode kernel_code(const Button &b) {
  if (!from_builtin_decoder(b)) return pack_code(b);
  const std::string &p = b.protocol;
  const uint32_t s = b.scancode;
  if (is_nec32bit(b)) {
    // The kernel's NEC decoder names the variant by which bytes are complements.
    uint32_t addr = s & 0xFF, not_addr = s >> 8 & 0xFF, cmd = s >> 16 & 0xFF, not_cmd = s >> 24;
    if ((cmd ^ not_cmd) != 0xFF) return {"nec", "nec32", not_addr << 24 | addr << 16 | not_cmd << 8 | cmd};
    if ((addr ^ not_addr) != 0xFF) return {"nec", "necx", addr << 16 | not_addr << 8 | cmd};
    return {"nec", "nec", addr << 8 | cmd};
  }
  if (p == "RC5" || p == "RC5X_20") {
    uint32_t field = rc5_field_bit(b) ? 0 : 0x40;
    if (p == "RC5") return {"rc5", "rc5", (s >> 8 & 0x1F) << 8 | (s & 0x3F) | field};
    return {"rc5", "rc5x_20", (s >> 16 & 0x1F) << 16 | ((s >> 8 & 0x3F) | field) << 8 | (s & 0x3F)};
  }
  if (p == "RC6_0") return {"rc6", "rc6_0", s & 0xFFFF};
  if (p == "SONY12" || p == "SONY15" || p == "SONY20") {
    // The bits as received, first one highest, then the kernel's fields.
    const int k = p == "SONY12" ? 12 : p == "SONY15" ? 15 : 20;
    const uint32_t v = reverse32(s) & ((1u << k) - 1);
    uint32_t device, sub = 0, function;
    if (k == 12) {
      device = lookup[v << 3 & 0xF8];
      function = lookup[v >> 4 & 0xFE];
    } else if (k == 15) {
      device = lookup[v & 0xFF];
      function = lookup[v >> 7 & 0xFE];
    } else {
      device = lookup[v >> 5 & 0xF8];
      sub = lookup[v & 0xFF];
      function = lookup[v >> 12 & 0xFE];
    }
    std::string variant = p == "SONY12" ? "sony12" : p == "SONY15" ? "sony15" : "sony20";
    return {"sony", variant, device << 16 | sub << 8 | function};
  }
  if (p == "XMP") return {"xmp", "xmp", s};
  return {};
}

namespace {

// A button's durations for raw forms: the decoder's cleaned edges where it gives them.
const std::vector<uint16_t> &raw_edges(const Button &b) { return b.clean.empty() ? b.edges : b.clean; }

std::string toml_string(const std::string &s) {
  std::string r = "\"";
  for (char ch : s) {
    if (ch == '"' || ch == '\\') r += '\\';
    r += ch;
  }
  return r + "\"";
}

bool rc_keymap(const std::vector<Button> &buttons, const std::string &name, std::string &text, std::string &error) {
  // One protocol entry per kernel protocol and variant, in order of first use; buttons no
  // kernel decoder reads go to a raw entry, matched by their durations.
  std::vector<std::pair<std::string, std::string>> order;
  std::map<std::pair<std::string, std::string>, std::vector<std::pair<uint32_t, std::string>>> codes;
  std::map<std::string, std::string> seen;  // "protocol variant scancode" -> key
  std::vector<const Button *> raw;
  for (const Button &b : buttons) {
    KernelCode k = kernel_code(b);
    if (k.protocol.empty()) {
      raw.push_back(&b);
      continue;
    }
    std::string id = k.protocol + " " + k.variant + " " + hex(k.scancode);
    if (auto it = seen.find(id); it != seen.end()) {
      if (it->second == b.key) continue;  // the same button given twice
      error = b.where + ": " + b.key + " has the same code as " + it->second + " (" + k.variant + " " +
              hex(k.scancode, true) + "); a keymap maps each code to one key";
      return false;
    }
    seen[id] = b.key;
    auto pv = std::make_pair(k.protocol, k.variant);
    if (!codes.count(pv)) order.push_back(pv);
    codes[pv].emplace_back(k.scancode, b.key);
  }
  text = "# rc_keymap for ir-keytable, written by codara keymap\n";
  for (const auto &pv : order) {
    text += "[[protocols]]\nname = " + toml_string(name) + "\nprotocol = " + toml_string(pv.first) +
            "\nvariant = " + toml_string(pv.second) + "\n[protocols.scancodes]\n";
    for (const auto &[sc, key] : codes[pv]) text += hex(sc, true) + " = " + toml_string(key) + "\n";
  }
  if (!raw.empty()) {
    text += "[[protocols]]\nname = " + toml_string(name) + "\nprotocol = \"raw\"\n";
    for (const Button *b : raw) {
      std::string r;
      const std::vector<uint16_t> &e = raw_edges(*b);
      for (std::size_t i = 0; i < e.size(); ++i) r += (i ? (i % 2 ? " -" : " +") : "+") + std::to_string(e[i]);
      text += "[[protocols.raw]]\n# " + b->protocol + " " + hex(b->scancode) + "\nkeycode = " + toml_string(b->key) +
              "\nraw = " + toml_string(r) + "\n";
    }
  }
  return true;
}

// NEC timings as LIRC describes them (irrecord's figures for this protocol).
constexpr uint32_t kNecLeaderMark = 9000, kNecShortLeaderMark = 4500, kNecLeaderSpace = 4500;
constexpr uint32_t kNecBitMark = 560, kNecZeroSpace = 560, kNecOneSpace = 1690;
constexpr uint32_t kNecRepeatSpace = 2250, kNecFrameUs = 108000;
constexpr uint32_t kNecShortLeaderCleaned = 4512;  // the decoder's cleaned form of a 4.5 ms leader
// RC5 as LIRC describes it: 13 bits after the first start bit's mark, frames every 113.8 ms.
constexpr uint32_t kRc5Half = 889, kRc5FrameUs = 113792, kRc5Toggle = 0x800;
constexpr uint32_t kRawGapUs = 40000;               // when no decoder knows the key gap
constexpr uint32_t kLircEps = 30, kLircAeps = 100;  // irrecord's tolerances

uint32_t carrier(const std::string &p) {
  if (p.rfind("SONY", 0) == 0) return 40000;
  if (p.rfind("RC5", 0) == 0 || p.rfind("RC6", 0) == 0 || p == "ZIVRA" || p == "PANASONIC") return 36000;
  return 38000;
}

bool lircd(const std::vector<Button> &buttons, const std::string &name, std::string &text, std::string &error) {
  std::map<std::string, const Button *> by_key;
  std::map<std::string, const Button *> by_code;
  for (const Button &b : buttons) {
    if (auto it = by_key.find(b.key); it != by_key.end()) {
      if (it->second->protocol == b.protocol && it->second->scancode == b.scancode) continue;
      error = b.where + ": " + b.key + " is also given at " + it->second->where +
              " with another code; a lircd.conf names each button once";
      return false;
    }
    std::string code = b.protocol + " " + hex(b.scancode);
    if (auto it = by_code.find(code); it != by_code.end()) {
      error = b.where + ": " + b.key + " has the same code as " + it->second->key + " (" + code + ")";
      return false;
    }
    by_key[b.key] = &b;
    by_code[code] = &b;
  }
  std::vector<const Button *> keys;
  for (const Button &b : buttons)
    if (by_key[b.key] == &b) keys.push_back(&b);

  // A remote of 32-bit NEC frames with one leader, or of RC5 frames, is described by its
  // timings as irrecord would (RC5's toggle bit then matches either way); anything else by
  // each button's durations.
  const uint32_t lead = keys.empty() || keys[0]->clean.empty() ? 0 : keys[0]->clean[0];
  bool nec = !keys.empty(), rc5 = !keys.empty();
  for (const Button *b : keys) {
    nec = nec && is_nec32bit(*b) && !b->clean.empty() && b->clean[0] == lead;
    rc5 = rc5 && b->protocol == "RC5" && from_builtin_decoder(*b);
  }
  char line[512];
  text = "# lircd.conf written by codara keymap\n#\n";
  for (const Button *b : keys) text += "# " + b->key + ": " + b->description + "\n";
  text += "\nbegin remote\n  name  " + name + "\n";
  if (rc5) {
    std::snprintf(line, sizeof line,
                  "  bits           13\n  flags RC5|CONST_LENGTH\n  eps            %u\n  aeps          %u\n\n"
                  "  one           %u   %u\n  zero          %u   %u\n  plead         %u\n  gap          %u\n"
                  "  toggle_bit_mask 0x%X\n  frequency    %u\n\n  begin codes\n",
                  kLircEps, kLircAeps, kRc5Half, kRc5Half, kRc5Half, kRc5Half, kRc5Half, kRc5FrameUs, kRc5Toggle,
                  carrier("RC5"));
    text += line;
    // The second start bit, then address and command; the toggle is left 0.
    for (const Button *b : keys) {
      uint32_t code = (rc5_field_bit(*b) ? 1u << 12 : 0) | (b->scancode >> 8 & 0x1F) << 6 | (b->scancode & 0x3F);
      std::snprintf(line, sizeof line, "      %-24s 0x%04X\n", b->key.c_str(), code);
      text += line;
    }
    text += "  end codes\n";
  } else if (nec) {
    const bool short_lead = lead == kNecShortLeaderCleaned;
    std::snprintf(line, sizeof line,
                  "  bits           32\n  flags SPACE_ENC|CONST_LENGTH\n  eps            %u\n  aeps          %u\n\n"
                  "  header       %u  %u\n  one           %u  %u\n  zero          %u  %u\n  ptrail        %u\n",
                  kLircEps, kLircAeps, short_lead ? kNecShortLeaderMark : kNecLeaderMark, kNecLeaderSpace,
                  kNecBitMark, kNecOneSpace, kNecBitMark, kNecZeroSpace, kNecBitMark);
    text += line;
    // A 4.5 ms leader marks remotes that repeat whole frames, not NEC's repeat burst.
    if (!short_lead) {
      std::snprintf(line, sizeof line, "  repeat       %u  %u\n", kNecLeaderMark, kNecRepeatSpace);
      text += line;
    }
    std::snprintf(line, sizeof line, "  gap          %u\n  toggle_bit_mask 0x0\n  frequency    %u\n\n  begin codes\n",
                  kNecFrameUs, carrier(keys[0]->protocol));
    text += line;
    // LIRC reads the bits first-sent first, as the high bit of the code.
    for (const Button *b : keys) {
      std::snprintf(line, sizeof line, "      %-24s 0x%08X\n", b->key.c_str(), reverse32(b->scancode));
      text += line;
    }
    text += "  end codes\n";
  } else {
    uint32_t gap = 0;
    for (const Button *b : keys)
      if (b->key_gap_ms && (gap == 0 || b->key_gap_ms * 1000u < gap)) gap = b->key_gap_ms * 1000u;
    std::snprintf(line, sizeof line,
                  "  flags RAW_CODES\n  eps            %u\n  aeps          %u\n  gap          %u\n  frequency    %u\n\n"
                  "  begin raw_codes\n",
                  kLircEps, kLircAeps, gap ? gap : kRawGapUs, carrier(keys[0]->protocol));
    text += line;
    for (const Button *b : keys) {
      text += "\n      name " + b->key + "\n";
      const std::vector<uint16_t> &e = raw_edges(*b);
      for (std::size_t i = 0; i < e.size(); i += 8) {
        text += "         ";
        for (std::size_t j = i; j < std::min(e.size(), i + 8); ++j) {
          std::snprintf(line, sizeof line, " %7u", unsigned(e[j]));
          text += line;
        }
        text += "\n";
      }
    }
    text += "\n  end raw_codes\n";
  }
  text += "end remote\n";
  return true;
}

}  // namespace

bool make_keymap(const std::vector<Button> &buttons, KeymapFormat format, const std::string &name, std::string &text,
                 std::string &error) {
  if (buttons.empty()) {
    error = "no buttons to write";
    return false;
  }
  return format == KeymapFormat::RcKeymap ? rc_keymap(buttons, name, text, error)
                                          : lircd(buttons, name, text, error);
}

std::string labelled_capture(const std::string &key, const std::vector<uint16_t> &edges) {
  std::string s = key + "\n";
  for (std::size_t i = 0; i < edges.size(); ++i) s += (i ? (i % 2 ? " -" : " +") : "+") + std::to_string(edges[i]);
  return s + "\n";
}

}  // namespace codara_cli
