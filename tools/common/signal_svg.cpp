// Draws IR captures as SVG: see signal_svg.h for what a picture shows.
#include "signal_svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

namespace tools_common {
namespace {

// ---- Protocol timings the bit cells are read with (microseconds) ----------------------

// NEC family and JVC: a bit is a short mark and a space whose length gives its value.
constexpr uint32_t kNecZeroSpace = 560, kNecOneSpace = 1690;
constexpr uint32_t kJvcZeroSpace = 526, kJvcOneSpace = 1574;
constexpr uint32_t kPanasonicZeroSpace = 445, kPanasonicOneSpace = 1335;
// Sharp and Denon send no leader.
constexpr uint32_t kSharpZeroSpace = 680, kSharpOneSpace = 1680;
constexpr uint32_t kDenonZeroSpace = 792, kDenonOneSpace = 1848;
// Sony: the mark's length gives the bit; every mark but the last is followed by this space.
constexpr uint32_t kSonyZeroMark = 600, kSonyOneMark = 1200, kSonySpace = 600;
// Manchester units: RC5's half bit, RC6's unit (half a normal bit, a quarter of the trailer).
constexpr uint32_t kRc5Half = 889, kRc6Unit = 444;
constexpr int kRc6BitsBeforeTrailer = 4;  // the start bit and three mode bits
// XMP: a mark and space whose sum, less the base, counts nibble steps; a longer space
// separates the two halves of the frame and carries no nibble.
constexpr uint32_t kXmpBase = 835, kXmpStep = 136, kXmpMaxNibbleSpace = 10999;
// The device-own remote: eight pulse-distance ID bits, a silence, twelve Manchester bits.
constexpr uint32_t kZivraHalf = 840, kZivraIdZeroSpace = 1680;
constexpr uint32_t kZivraIdOneMaxSpace = 1259;  // the decoder's limit for an ID 1
constexpr uint32_t kZivraBit11OneMinSpace = 4900;
constexpr int kZivraIdBits = 8, kZivraManchesterBits = 12;

constexpr uint32_t midpoint(uint32_t a, uint32_t b) { return (a + b) / 2; }

struct Frame {
  const PlotCapture &cap;
  std::vector<int64_t> start;  // start[i]: when edge i begins; start[n]: the end
  explicit Frame(const PlotCapture &c) : cap(c), start(c.edges.size() + 1, 0) {
    for (std::size_t i = 0; i < c.edges.size(); ++i) start[i + 1] = start[i] + c.edges[i];
  }
  std::size_t n() const { return cap.edges.size(); }
  int64_t end() const { return start.back(); }
  // Whether the signal is a mark at time t.
  bool mark_at(int64_t t) const {
    if (t < 0 || t >= end()) return false;
    std::size_t i = std::size_t(std::upper_bound(start.begin(), start.end(), t) - start.begin()) - 1;
    return i % 2 == 0;
  }
};

const char *bit(bool one) { return one ? "1" : "0"; }

// Mark-and-space bits after `header` edges; a space above `threshold` is a 1. A space far
// beyond the long one is not a bit (the frame has ended).
std::vector<BitCell> pulse_distance(const Frame &f, std::size_t header, uint32_t zero, uint32_t one) {
  std::vector<BitCell> cells;
  const uint32_t threshold = midpoint(zero, one);
  for (std::size_t i = header; i + 1 < f.n(); i += 2) {
    uint32_t space = f.cap.edges[i + 1];
    if (space > 2 * one) break;
    cells.push_back({f.start[i], f.start[i + 2], bit(space > threshold)});
  }
  return cells;
}

std::vector<BitCell> nec(const Frame &f) { return pulse_distance(f, 2, kNecZeroSpace, kNecOneSpace); }
std::vector<BitCell> jvc(const Frame &f) { return pulse_distance(f, 2, kJvcZeroSpace, kJvcOneSpace); }
std::vector<BitCell> panasonic(const Frame &f) {
  return pulse_distance(f, 2, kPanasonicZeroSpace, kPanasonicOneSpace);
}
std::vector<BitCell> sharp(const Frame &f) { return pulse_distance(f, 0, kSharpZeroSpace, kSharpOneSpace); }
std::vector<BitCell> denon(const Frame &f) { return pulse_distance(f, 0, kDenonZeroSpace, kDenonOneSpace); }

std::vector<BitCell> sony(const Frame &f) {
  std::vector<BitCell> cells;
  for (std::size_t i = 2; i < f.n(); i += 2) {
    // The last mark has no space of its own in the capture; its cell gets the nominal one.
    int64_t end = i + 1 < f.n() ? f.start[i + 2] : f.start[i + 1] + kSonySpace;
    cells.push_back({f.start[i], end, bit(f.cap.edges[i] > midpoint(kSonyZeroMark, kSonyOneMark))});
  }
  return cells;
}

// Manchester cells on a fixed grid from `origin`: cell k is `widths(k)` long and its value
// is the level at `sample` (a fraction of the cell): a mark there reads as 1. A cell whose
// first quarter lies past the last mark is not sent: only the receiver's lengthening of
// that mark reaches into it.
template <typename Width>
std::vector<BitCell> manchester(const Frame &f, int64_t origin, double sample, Width widths, int max_bits) {
  std::vector<BitCell> cells;
  int64_t t = origin;
  for (int k = 0; k < max_bits; ++k) {
    int64_t w = widths(k);
    if (t + w / 4 >= f.end()) break;
    cells.push_back({t, t + w, bit(f.mark_at(t + int64_t(double(w) * sample)))});
    t += w;
  }
  return cells;
}

constexpr int kManchesterMaxBits = 64;

// RC5 sends a 1 as space-then-mark; the first start bit's space is silence before the
// capture, so the grid begins half a bit before it.
std::vector<BitCell> rc5(const Frame &f) {
  return manchester(
      f, -int64_t(kRc5Half), 0.75, [](int) { return int64_t(2 * kRc5Half); }, kManchesterMaxBits);
}

// RC6 sends a 1 as mark-then-space, after its leader mark and space; the trailer bit (the
// toggle) is twice as long as the others.
std::vector<BitCell> rc6(const Frame &f) {
  if (f.n() < 3) return {};
  return manchester(
      f, f.start[2], 0.25,
      [](int k) { return int64_t(k == kRc6BitsBeforeTrailer ? 4 * kRc6Unit : 2 * kRc6Unit); },
      kManchesterMaxBits);
}

std::vector<BitCell> xmp(const Frame &f) {
  std::vector<BitCell> cells;
  for (std::size_t i = 1; i < f.n(); i += 2) {
    uint32_t space = f.cap.edges[i];
    if (space > kXmpMaxNibbleSpace) continue;
    int64_t sum = int64_t(f.cap.edges[i - 1]) + space - kXmpBase;
    int64_t v = sum / kXmpStep;
    char digit[2] = {'?', 0};
    if (sum >= 0 && v <= 15) digit[0] = "0123456789ABCDEF"[v];
    cells.push_back({f.start[i - 1], f.start[i + 1], digit});
  }
  return cells;
}

// The device-own remote, read the way its decoder reads it: the ID's lowest bit merges
// with the silence and is taken as 0; a silence long enough to hold the first half of a 1
// makes the first Manchester bit a 1 (space-then-mark, like RC5).
std::vector<BitCell> zivra(const Frame &f) {
  const std::size_t long_space = 2 + 2 * (kZivraIdBits - 1) + 1;  // edge 17
  if (f.n() <= long_space + 1) return {};
  std::vector<BitCell> cells;
  for (std::size_t i = 2; i < long_space - 1; i += 2)
    cells.push_back({f.start[i], f.start[i + 2], bit(f.cap.edges[i + 1] <= kZivraIdOneMaxSpace)});
  const int64_t last_id = f.start[long_space - 1];
  cells.push_back({last_id, last_id + kZivraHalf + kZivraIdZeroSpace, "0"});
  const bool bit11 = f.cap.edges[long_space] > kZivraBit11OneMinSpace;
  const int64_t origin = f.start[long_space + 1] - (bit11 ? kZivraHalf : 0);
  std::vector<BitCell> m = manchester(
      f, origin, 0.75, [](int) { return int64_t(2 * kZivraHalf); }, kZivraManchesterBits);
  cells.insert(cells.end(), m.begin(), m.end());
  return cells;
}

struct Layout {
  const char *protocol;
  std::vector<BitCell> (*cells)(const Frame &);
};

// Short protocol names as the decoders report them.
constexpr Layout kLayouts[] = {
    {"NEC", nec},           {"NECX", nec},          {"NEC32", nec},         {"NEC48", nec},
    {"NEC_APPLE", nec},     {"RC5", rc5},           {"RC5X_20", rc5},       {"RC5_SZ", rc5},
    {"RC6_0", rc6},         {"RC6_6A_20", rc6},     {"RC6_6A_24", rc6},     {"RC6_6A_32", rc6},
    {"RC6_MCE", rc6},       {"SONY12", sony},       {"SONY15", sony},       {"SONY20", sony},
    {"PANASONIC", panasonic}, {"XMP", xmp},         {"ZIVRA", zivra},       {"JVC", jvc},
    {"SHARP", sharp},       {"DENON", denon},
};

// ---- Text ---------------------------------------------------------------------------------

// Appends `s` as XML character data: markup characters escaped, characters XML forbids and
// bytes that are not UTF-8 replaced by U+FFFD.
void put_text(std::string &out, std::string_view s) {
  static const char kReplacement[] = "\xEF\xBF\xBD";
  for (std::size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default:
          if (c < 0x20 && c != '\t') out += kReplacement;
          else if (c == 0x7F) out += kReplacement;
          else out += char(c);
      }
      ++i;
      continue;
    }
    // A well-formed sequence of 2 to 4 bytes, no overlong form, no surrogate, at most U+10FFFF.
    std::size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
    uint32_t cp = len == 2 ? c & 0x1F : len == 3 ? c & 0x0F : c & 0x07;
    bool ok = len != 0 && i + len <= s.size();
    for (std::size_t k = 1; ok && k < len; ++k) {
      unsigned char cc = static_cast<unsigned char>(s[i + k]);
      ok = (cc & 0xC0) == 0x80;
      cp = cp << 6 | (cc & 0x3F);
    }
    static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    ok = ok && cp >= kMin[len] && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF) && cp != 0xFFFE &&
         cp != 0xFFFF;
    if (ok) {
      out.append(s.substr(i, len));
      i += len;
    } else {
      out += kReplacement;
      ++i;
    }
  }
}

std::string fmt(const char *f, double v) {
  char b[64];
  std::snprintf(b, sizeof b, f, v);
  return b;
}
std::string num(double v) { return fmt("%.1f", v); }

std::string hex32(uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%08X", v);
  return b;
}

// The description's fields: what follows the padded label and " -- ".
std::string fields_of(const std::string &desc) {
  std::size_t p = desc.find(" -- ");
  std::string f = p == std::string::npos ? std::string() : desc.substr(p + 4);
  while (!f.empty() && f.back() == ' ') f.pop_back();
  return f;
}

// ---- Geometry -----------------------------------------------------------------------------

constexpr double kMargin = 16;
constexpr double kBreakPx = 18;
constexpr double kRowHeight = 132;
constexpr double kTitleHeight = 26;
constexpr double kMinTickPx = 64;
// Vertical positions inside a row.
constexpr double kLabelY = 13, kCaptionY = 28, kBreakLabelY = 41, kTrackTop = 45, kTrackBottom = 77;
constexpr double kCellTop = 83, kCellBottom = 101, kAxisY = 107, kTickLabelY = 121;

const char *const kMarkFill = "#1f4e8c";

// Maps a row's time to x: linear, except that each cut-out middle of a long edge is drawn
// as a fixed-width break.
class TimeScale {
 public:
  TimeScale(double px_per_us, int64_t t0, double x0) : px_(px_per_us), t0_(t0), x0_(x0) {}
  void cut(int64_t a, int64_t b) {
    double before = cuts_.empty() ? 0 : cuts_.back().shift_after;
    cuts_.push_back({a, b, before, before + double(b - a) * px_ - kBreakPx});
  }
  double x(int64_t t) const {
    auto it = std::upper_bound(cuts_.begin(), cuts_.end(), t, [](int64_t v, const Cut &c) { return v < c.a; });
    if (it == cuts_.begin()) return x0_ + double(t - t0_) * px_;
    const Cut &c = *(it - 1);
    if (t < c.b) return x0_ + double(c.a - t0_) * px_ - c.shift_before + double(t - c.a) / double(c.b - c.a) * kBreakPx;
    return x0_ + double(t - t0_) * px_ - c.shift_after;
  }
  bool in_cut(int64_t t) const {
    for (const Cut &c : cuts_)
      if (t > c.a && t < c.b) return true;
    return false;
  }
  struct Cut {
    int64_t a, b;
    double shift_before, shift_after;
  };
  const std::vector<Cut> &cuts() const { return cuts_; }

 private:
  double px_;
  int64_t t0_;
  double x0_;
  std::vector<Cut> cuts_;
};

// A tick step of 1, 2 or 5 times a power of ten, at least `min_us` long.
int64_t tick_step(double min_us) {
  int64_t step = 1;
  for (;;) {
    for (int m : {1, 2, 5})
      if (double(step * m) >= min_us) return step * m;
    if (step > (int64_t(1) << 50)) return step;
    step *= 10;
  }
}

struct Row {
  const PlotCapture *cap;
  std::vector<BitCell> cells;
  int64_t t_min = 0, t_max = 0;
  double width = 0;
};

void rect(std::string &o, double x0, double y0, double x1, double y1, const char *attrs) {
  o += "<rect x=\"" + num(x0) + "\" y=\"" + num(y0) + "\" width=\"" + num(std::max(0.0, x1 - x0)) +
       "\" height=\"" + num(y1 - y0) + "\" " + attrs + "/>\n";
}

void line(std::string &o, double x0, double y0, double x1, double y1, const char *attrs) {
  o += "<line x1=\"" + num(x0) + "\" y1=\"" + num(y0) + "\" x2=\"" + num(x1) + "\" y2=\"" + num(y1) + "\" " +
       attrs + "/>\n";
}

void text(std::string &o, double x, double y, const char *attrs, std::string_view s) {
  o += "<text x=\"" + num(x) + "\" y=\"" + num(y) + "\" " + attrs + ">";
  put_text(o, s);
  o += "</text>\n";
}

std::string caption(const PlotCapture &c, std::size_t cells) {
  std::string s;
  if (c.decoded) {
    s = (c.protocol.empty() ? std::string("?") : c.protocol) + "  scancode " + hex32(c.scancode);
    std::string f = fields_of(c.description);
    if (!f.empty()) s += "  " + f;
    if (cells) s += "  (" + std::to_string(cells) + (c.protocol == "XMP" ? " nibbles)" : " bits)");
  } else {
    s = "not decoded";
    if (!c.protocol.empty()) s += " (" + c.protocol + ")";
  }
  s += "  " + std::to_string(c.edges.size()) + " edges";
  if (c.gap_before_ms) s += ", " + std::to_string(c.gap_before_ms) + " ms after the previous";
  return s;
}

// `zero_x`: where the row's first mark begins, the same for every row.
TimeScale scale_for(const Row &r, const PlotOptions &o, double px, double zero_x) {
  TimeScale ts(px, r.t_min, zero_x + double(r.t_min) * px);
  int64_t t = 0;
  for (uint32_t d : r.cap->edges) {
    if (d > o.long_edge_us && d > 2 * uint64_t(o.kept_us) + 1 &&
        double(d - 2 * o.kept_us) * px > 2 * kBreakPx)
      ts.cut(t + o.kept_us, t + d - o.kept_us);
    t += d;
  }
  return ts;
}

void draw_row(std::string &o, const Row &r, const TimeScale &ts, double px) {
  const PlotCapture &c = *r.cap;
  text(o, kMargin, kLabelY, "class=\"label\" font-weight=\"bold\"", c.label);
  text(o, kMargin, kCaptionY, "class=\"caption\"", caption(c, r.cells.size()));

  // Baseline for the spaces, then the marks over it.
  const double x_end = ts.x(r.t_max);
  line(o, ts.x(0), kTrackBottom, x_end, kTrackBottom, "stroke=\"#555555\" stroke-width=\"1\"");
  o += "<g class=\"marks\" fill=\"";
  o += kMarkFill;
  o += "\">\n";
  int64_t t = 0;
  for (std::size_t i = 0; i < c.edges.size(); ++i) {
    if (i % 2 == 0) rect(o, ts.x(t), kTrackTop, ts.x(t + c.edges[i]), kTrackBottom, "");
    t += c.edges[i];
  }
  o += "</g>\n";

  // Breaks: the cut-out middle in a pale tone, two slanted strokes, the edge's true length.
  t = 0;
  std::size_t k = 0;
  const auto &cuts = ts.cuts();
  for (std::size_t i = 0; i < c.edges.size() && k < cuts.size(); ++i) {
    int64_t e = t + c.edges[i];
    if (cuts[k].a > t && cuts[k].b < e) {
      double xa = ts.x(cuts[k].a), xb = ts.x(cuts[k].b);
      rect(o, xa, kTrackTop - 2, xb, kTrackBottom + 2,
           i % 2 == 0 ? "fill=\"#9db4d6\" class=\"break\"" : "fill=\"#ffffff\" class=\"break\"");
      for (double dx : {0.3, 0.7}) {
        double xm = xa + (xb - xa) * dx;
        line(o, xm - 4, kTrackBottom + 4, xm + 4, kTrackTop - 4, "stroke=\"#222222\" stroke-width=\"1.5\"");
      }
      text(o, (xa + xb) / 2, kBreakLabelY, "class=\"duration\" font-size=\"9\" text-anchor=\"middle\"",
           std::to_string(c.edges[i]) + " \xC2\xB5s");
      ++k;
    }
    t = e;
  }

  if (!r.cells.empty()) {
    o += "<g class=\"bits\">\n";
    for (std::size_t i = 0; i < r.cells.size(); ++i) {
      const BitCell &b = r.cells[i];
      double x0 = ts.x(b.start_us), x1 = ts.x(b.end_us);
      rect(o, x0, kCellTop, x1, kCellBottom,
           i % 2 ? "fill=\"#dde7f7\" stroke=\"#7f93b8\" stroke-width=\"0.5\""
                 : "fill=\"#f1f5fc\" stroke=\"#7f93b8\" stroke-width=\"0.5\"");
      text(o, (x0 + x1) / 2, kCellBottom - 5, "class=\"bit\" font-size=\"10\" text-anchor=\"middle\"", b.value);
    }
    o += "</g>\n";
  }

  // Time axis from the first mark, ticks where time is drawn to scale.
  line(o, ts.x(0), kAxisY, x_end, kAxisY, "stroke=\"#8a94a6\" stroke-width=\"1\"");
  const int64_t step = tick_step(kMinTickPx / px);
  double last_label_x = -1e9;
  for (int64_t tk = 0; tk <= r.t_max; tk += step) {
    if (ts.in_cut(tk)) continue;
    double x = ts.x(tk);
    line(o, x, kAxisY, x, kAxisY + 4, "stroke=\"#8a94a6\" stroke-width=\"1\"");
    if (x - last_label_x >= kMinTickPx * 0.75) {
      text(o, x, kTickLabelY, "class=\"tick\" font-size=\"9\" fill=\"#8a94a6\" text-anchor=\"middle\"",
           std::to_string(tk));
      last_label_x = x;
    }
  }
  text(o, x_end + 6, kAxisY + 4, "class=\"unit\" font-size=\"9\" fill=\"#8a94a6\"", "\xC2\xB5s");
}

}  // namespace

std::vector<BitCell> bit_cells(const PlotCapture &capture) {
  if (!capture.decoded || capture.edges.empty()) return {};
  for (const Layout &l : kLayouts)
    if (capture.protocol == l.protocol) return l.cells(Frame(capture));
  return {};
}

PlotCapture plot_capture(std::string label, const uint16_t *edges, std::size_t n, uint16_t gap_before_ms,
                         const ir_prot *result) {
  PlotCapture c;
  c.label = std::move(label);
  if (edges) c.edges.assign(edges, edges + n);
  c.gap_before_ms = gap_before_ms;
  if (result) {
    const char *name = enum_to_str(result->protocol);
    c.protocol = name ? name : "";
    c.decoded = result->protocol != RC_PROTO_INVALID && result->protocol != RC_PROTO_UNKNOWN && result->hash != 0;
    c.scancode = result->scancode;
    c.description.assign(result->desc, strnlen(result->desc, sizeof result->desc));
    while (!c.description.empty() && c.description.back() == ' ') c.description.pop_back();
  }
  return c;
}

std::string render_svg(const std::vector<PlotCapture> &captures, const PlotOptions &options) {
  const double px = options.px_per_us > 0 && options.px_per_us <= 1 ? options.px_per_us : 0.04;
  std::vector<Row> rows;
  rows.reserve(captures.size());
  double width = 320;
  for (const PlotCapture &c : captures) {
    Row r{&c, bit_cells(c)};
    int64_t end = 0;
    for (uint32_t d : c.edges) end += d;
    r.t_min = 0;
    r.t_max = end;
    for (const BitCell &b : r.cells) {
      r.t_min = std::min(r.t_min, b.start_us);
      r.t_max = std::max(r.t_max, b.end_us);
    }
    rows.push_back(std::move(r));
  }
  // Rows whose cells start before their first mark (RC5) need room on the left; every
  // row's first mark lines up.
  int64_t earliest = 0;
  for (const Row &r : rows) earliest = std::min(earliest, r.t_min);
  const double zero_x = kMargin - double(earliest) * px;
  std::vector<TimeScale> scales;
  scales.reserve(rows.size());
  for (Row &r : rows) {
    scales.push_back(scale_for(r, options, px, zero_x));
    width = std::max(width, scales.back().x(r.t_max) + 48);
  }
  const double top = options.title.empty() ? 8 : kTitleHeight + 8;
  const double height = top + kRowHeight * double(std::max<std::size_t>(rows.size(), 1)) + 8;

  std::string o;
  o += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  o += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" + num(width) + "\" height=\"" +
       num(height) + "\" viewBox=\"0 0 " + num(width) + " " + num(height) +
       "\" font-family=\"DejaVu Sans, Verdana, sans-serif\" font-size=\"12\" fill=\"#222222\">\n";
  o += "<title>";
  put_text(o, options.title.empty() ? std::string_view("IR signals") : std::string_view(options.title));
  o += "</title>\n";
  rect(o, 0, 0, width, height, "fill=\"#ffffff\"");
  if (!options.title.empty()) text(o, kMargin, 20, "class=\"title\" font-size=\"15\" font-weight=\"bold\"", options.title);
  if (rows.empty()) text(o, kMargin, top + kCaptionY, "class=\"caption\"", "no captures");
  for (std::size_t i = 0; i < rows.size(); ++i) {
    o += "<g class=\"capture\" transform=\"translate(0 " + num(top + kRowHeight * double(i)) + ")\">\n";
    draw_row(o, rows[i], scales[i], px);
    o += "</g>\n";
  }
  o += "</svg>\n";
  return o;
}

}  // namespace tools_common
