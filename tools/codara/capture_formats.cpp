#include "capture_formats.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace codara_cli {
namespace {

enum class Kind { Mark, Space };

uint32_t sat_add(uint32_t a, uint32_t b) {
  uint64_t s = uint64_t(a) + b;
  return s > kMaxDurationUs ? kMaxDurationUs : uint32_t(s);
}

std::string fmt(const char *f, unsigned long long a, unsigned long long b = 0) {
  char buf[160];
  std::snprintf(buf, sizeof buf, f, a, b);
  return buf;
}

// Collects the edges of one capture at a time and hands finished captures to `out`.
// Same-kind neighbours merge (receivers do split a mark or space now and then), a leading
// space is silence before the capture, and a long space ends it.
class Builder {
 public:
  explicit Builder(std::vector<Capture> &out) : out_(out) {}

  void add(Kind k, uint32_t d, std::size_t line, Format f) {
    if (!has_pending_ && count_ == 0) {
      if (k == Kind::Space) {
        gap_ = sat_add(gap_, d);
        return;
      }
      start(line, f, d);
      return;
    }
    if (k == pending_kind_) {
      pending_ = sat_add(pending_, d);
      return;
    }
    if (pending_kind_ == Kind::Space && pending_ > kMaxEdgeUs) {
      uint32_t silence = pending_;
      has_pending_ = false;
      finish();
      gap_ = silence;
      start(line, f, d);
      return;
    }
    commit();
    pending_kind_ = k;
    pending_ = d;
  }

  // The input says the capture is over (blank line, timeout, end of a line-format capture).
  void end_capture() {
    if (has_pending_) {
      if (pending_kind_ == Kind::Space) {
        // A space after the last mark is silence, not an edge of the capture.
        has_pending_ = false;
        finish();
        if (pending_ > kMaxEdgeUs) gap_ = pending_;
        return;
      }
      commit();
      has_pending_ = false;
    }
    finish();
  }

  // The capture in progress (or, if none is, the one the bad line would have started) is
  // unusable; the first problem found is the one reported.
  void fail(std::size_t line, std::string msg) {
    if (!error_.empty()) return;
    error_ = std::move(msg);
    error_line_ = line;
  }

 private:
  void start(std::size_t line, Format f, uint32_t mark) {
    line_ = line;
    format_ = f;
    pending_kind_ = Kind::Mark;
    pending_ = mark;
    has_pending_ = true;
  }

  void commit() {
    if (pending_kind_ == Kind::Mark && pending_ > kMaxEdgeUs)
      fail(line_, fmt("pulse of %llu us is longer than the %llu us the decoder accepts",
                      pending_, kMaxEdgeUs));
    ++count_;
    if (edges_.size() < kMaxEdges) edges_.push_back(uint16_t(pending_));
  }

  void finish() {
    if (count_ == 0 && error_.empty()) return;
    Capture c;
    c.format = format_;
    c.line = error_.empty() ? line_ : error_line_;
    c.gap_before_us = gap_;
    if (error_.empty() && count_ > kMaxEdges)
      error_ = fmt("capture of %llu edges is too long (at most %llu)", count_, kMaxEdges);
    if (error_.empty())
      c.edges = std::move(edges_);
    else
      c.error = std::move(error_);
    out_.push_back(std::move(c));
    edges_.clear();
    error_.clear();
    count_ = 0;
    gap_ = 0;
  }

  std::vector<Capture> &out_;
  std::vector<uint16_t> edges_;
  std::size_t count_ = 0;  // committed edges, also those beyond what is stored
  bool has_pending_ = false;
  Kind pending_kind_ = Kind::Mark;
  uint32_t pending_ = 0;  // the last edge, still growing while same-kind edges follow
  uint32_t gap_ = 0;
  std::size_t line_ = 0, error_line_ = 0;
  Format format_ = Format::Raw;
  std::string error_;
};

bool is_sep(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == ','; }

std::vector<std::string_view> tokens_of(std::string_view line) {
  std::vector<std::string_view> t;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && is_sep(line[i])) ++i;
    std::size_t j = i;
    while (j < line.size() && !is_sep(line[j])) ++j;
    if (j > i) t.push_back(line.substr(i, j - i));
    i = j;
  }
  return t;
}

std::string_view strip_comment(std::string_view line) {
  std::size_t h = line.find('#');
  return h == std::string_view::npos ? line : line.substr(0, h);
}

bool blank(std::string_view line) {
  return std::all_of(line.begin(), line.end(), [](char c) { return is_sep(c) && c != ','; });
}

std::string quoted(std::string_view tok) {
  std::string s = "'";
  for (char c : tok.substr(0, 40)) s += std::isprint(static_cast<unsigned char>(c)) ? c : '?';
  if (tok.size() > 40) s += "...";
  return s + "'";
}

// A duration in microseconds: decimal digits, 1 .. kMaxDurationUs.
// `shown` is the token as written, sign included, for the message.
bool parse_duration(std::string_view tok, uint32_t &v, std::string &err, std::string_view shown = {}) {
  if (shown.empty()) shown = tok;
  if (tok.empty() || tok.size() > 12 ||
      !std::all_of(tok.begin(), tok.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    err = "malformed number " + quoted(shown);
    return false;
  }
  uint64_t x = 0;
  std::from_chars(tok.data(), tok.data() + tok.size(), x);
  if (x == 0 || x > kMaxDurationUs) {
    err = "duration " + quoted(shown) + fmt(" out of range (1..%llu us)", kMaxDurationUs);
    return false;
  }
  v = uint32_t(x);
  return true;
}

bool is_hex4(std::string_view t) {
  return t.size() == 4 && std::all_of(t.begin(), t.end(), [](char c) {
           return std::isxdigit(static_cast<unsigned char>(c)) != 0;
         });
}

unsigned hex4(std::string_view t) {
  unsigned v = 0;
  std::from_chars(t.data(), t.data() + 4, v, 16);
  return v;
}

bool all_hex4(const std::vector<std::string_view> &t) { return std::all_of(t.begin(), t.end(), is_hex4); }

// A learned Pronto code starts with the word 0000 (0100: the same layout, unmodulated).
bool pronto_start(const std::vector<std::string_view> &t) {
  if (t[0] == "0000") return true;
  return t[0] == "0100" && t.size() >= 4 && all_hex4(t);
}

std::string lower(std::string_view s) {
  std::string r(s);
  for (char &c : r) c = char(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

class Parser {
 public:
  explicit Parser(std::string_view text) : b_(out_) {
    std::size_t i = 0;
    while (i <= text.size()) {
      std::size_t j = text.find('\n', i);
      if (j == std::string_view::npos) j = text.size();
      lines_.push_back(text.substr(i, j - i));
      i = j + 1;
    }
  }

  std::vector<Capture> run() {
    for (idx_ = 0; idx_ < lines_.size(); ++idx_) line(lines_[idx_]);
    b_.end_capture();
    return std::move(out_);
  }

 private:
  std::size_t lineno() const { return idx_ + 1; }

  void line(std::string_view raw) {
    std::vector<std::string_view> t = tokens_of(strip_comment(raw));
    if (t.empty()) {
      if (blank(raw)) b_.end_capture();
      return;
    }
    std::string kw = lower(t[0]);
    if (kw == "pulse" || kw == "space" || kw == "timeout" || kw == "carrier") {
      mode2(kw, t);
      return;
    }
    b_.end_capture();  // a line-format capture ends any mode2 capture in progress
    if (pronto_start(t))
      pronto(std::move(t));
    else
      list(t);
  }

  void mode2(const std::string &kw, const std::vector<std::string_view> &t) {
    bool edge = kw == "pulse" || kw == "space";
    if (t.size() > 2 || (edge && t.size() != 2)) {
      b_.fail(lineno(), "expected '" + kw + " N', got " + quoted(strip_comment(lines_[idx_])));
      return;
    }
    uint32_t d = 0;
    std::string err;
    if (t.size() == 2 && !parse_duration(t[1], d, err)) {
      b_.fail(lineno(), err);
      return;
    }
    if (edge)
      b_.add(kw == "pulse" ? Kind::Mark : Kind::Space, d, lineno(), Format::Mode2);
    else if (kw == "timeout")
      b_.end_capture();  // the receiver gave up waiting: what came before is one capture
    // carrier: no edge
  }

  void list(const std::vector<std::string_view> &t) {
    bool signed_ = std::any_of(t.begin(), t.end(), [](std::string_view s) {
      return s[0] == '+' || s[0] == '-';
    });
    Format f = signed_ ? Format::IrCtl : Format::Raw;
    Kind next = Kind::Mark;
    for (std::string_view orig : t) {
      std::string_view tok = orig;
      Kind k = next;
      if (tok[0] == '+' || tok[0] == '-') {
        k = tok[0] == '+' ? Kind::Mark : Kind::Space;
        tok.remove_prefix(1);
      }
      uint32_t d = 0;
      std::string err;
      if (!parse_duration(tok, d, err, orig)) {
        b_.fail(lineno(), err);
        break;
      }
      b_.add(k, d, lineno(), f);
      next = k == Kind::Mark ? Kind::Space : Kind::Mark;
    }
    b_.end_capture();
  }

  void pronto(std::vector<std::string_view> t) {
    std::size_t first = lineno();
    for (std::string_view w : t)
      if (!is_hex4(w)) return bad_pronto(first, "malformed Pronto word " + quoted(w));
    std::vector<unsigned> w;
    for (std::string_view s : t) w.push_back(hex4(s));
    // A code wrapped over several lines continues on lines of nothing but hex words.
    auto needed = [&w] { return w.size() < 4 ? std::size_t(0) : 4 + 2 * (std::size_t(w[2]) + w[3]); };
    while (w.size() >= 4 && w.size() < needed() && idx_ + 1 < lines_.size()) {
      std::vector<std::string_view> more = tokens_of(strip_comment(lines_[idx_ + 1]));
      if (more.empty() || !all_hex4(more) || pronto_start(more)) break;
      ++idx_;
      for (std::string_view s : more) w.push_back(hex4(s));
    }
    if (w.size() < 4) return bad_pronto(first, "Pronto code too short: it needs 4 header words");
    if (w.size() != needed())
      return bad_pronto(first, fmt("Pronto code has %llu words, its header announces %llu", w.size(),
                                   needed()));
    if (w[1] == 0) return bad_pronto(first, "Pronto frequency word is 0");
    if (w[2] + w[3] == 0) return bad_pronto(first, "Pronto code holds no burst pairs");
    // One unit is one carrier period: the frequency word times 0.241246 us.
    double unit = w[1] * 0.241246;
    std::size_t at = 4;
    for (unsigned pairs : {w[2], w[3]}) {
      for (unsigned i = 0; i < 2 * pairs; ++i, ++at) {
        if (w[at] == 0) {
          b_.fail(first, fmt("Pronto burst word %llu is 0", at + 1));
          break;
        }
        double us = std::round(w[at] * unit);
        uint32_t d = us < 1 ? 1 : us > kMaxDurationUs ? kMaxDurationUs : uint32_t(us);
        b_.add(i % 2 ? Kind::Space : Kind::Mark, d, first, Format::Pronto);
      }
      at = 4 + 2 * std::size_t(w[2]);
      if (pairs) b_.end_capture();  // once and repeat sequence: one capture each
    }
  }

  void bad_pronto(std::size_t line, std::string msg) {
    b_.fail(line, std::move(msg));
    b_.end_capture();
  }

  std::vector<Capture> out_;
  Builder b_;
  std::vector<std::string_view> lines_;
  std::size_t idx_ = 0;
};

}  // namespace

std::vector<Capture> parse_captures(std::string_view text) { return Parser(text).run(); }

const char *format_name(Format f) {
  switch (f) {
    case Format::Mode2: return "mode2";
    case Format::IrCtl: return "ir-ctl";
    case Format::Raw: return "raw";
    case Format::Pronto: return "pronto";
  }
  return "raw";
}

uint16_t elapsed_ms(const Capture &c) {
  uint32_t ms = c.gap_before_us / 1000;
  return ms > 65535 ? 65535 : uint16_t(ms);
}

}  // namespace codara_cli
