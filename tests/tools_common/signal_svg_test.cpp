// Pictures of every sample capture: well-formed enough for a real SVG renderer to draw, not
// blank, captioned with the decoded fields, and with bit cells that read back the frame the
// decoder found.
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "capture_formats.h"
#include "codara/codara.h"
#include "codara/logging.h"
#include "signal_svg.h"

namespace {

namespace fs = std::filesystem;
using tools_common::PlotCapture;

std::string slurp(const fs::path &p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

std::vector<PlotCapture> decode_file(const fs::path &p) {
  std::vector<PlotCapture> rows;
  int saved = get_loglevel();
  set_loglevel(0);
  for (const codara_cli::Capture &c : codara_cli::parse_captures(slurp(p))) {
    if (!c.error.empty()) continue;
    ir_packet pkt{};
    std::copy(c.edges.begin(), c.edges.end(), pkt.buf);
    pkt.len = uint16_t(c.edges.size());
    pkt.elapsed = codara_cli::elapsed_ms(c);
    ir_prot r{};
    int rc = ir_decode_packet(&pkt, &r);
    rows.push_back(tools_common::plot_capture(p.filename().string() + ":" + std::to_string(c.line), c.edges.data(),
                                              c.edges.size(), pkt.elapsed, rc < 0 ? nullptr : &r));
  }
  set_loglevel(saved);
  return rows;
}

std::vector<fs::path> samples() {
  std::vector<fs::path> r;
  for (const char *dir : {"hand", "encoded"})
    for (const auto &e : fs::directory_iterator(fs::path(SAMPLES_DIR) / dir)) r.push_back(e.path());
  std::sort(r.begin(), r.end());
  return r;
}

// The character data of every <text> element, entities resolved, one string per element.
std::vector<std::string> texts(const std::string &svg) {
  std::vector<std::string> r;
  static const std::regex text_re("<text[^>]*>([^<]*)</text>");
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), text_re); it != std::sregex_iterator(); ++it) {
    std::string s = (*it)[1];
    for (auto [ent, ch] : {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&amp;", "&"}})
      for (std::size_t p; (p = s.find(ent)) != std::string::npos;) s.replace(p, std::strlen(ent), ch);
    r.push_back(s);
  }
  return r;
}

struct Raster {
  bool ok = false;
  std::size_t pixels = 0, dark = 0;
};

// Rasterises with rsvg-convert, which refuses documents that are not well-formed XML.
Raster rasterise(const std::string &svg, const std::string &name) {
  std::string base = testing::TempDir() + "svg_" + std::to_string(getpid()) + "_" + name;
  std::ofstream(base + ".svg", std::ios::binary) << svg;
  std::string cmd = "rsvg-convert --background-color=white -o '" + base + ".png' '" + base + ".svg'";
  Raster r;
  if (std::system(cmd.c_str()) != 0) return r;
  png_image img{};
  img.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&img, (base + ".png").c_str())) return r;
  img.format = PNG_FORMAT_GRAY;
  std::vector<png_byte> px(PNG_IMAGE_SIZE(img));
  if (!png_image_finish_read(&img, nullptr, px.data(), 0, nullptr)) return r;
  r.ok = true;
  r.pixels = px.size();
  for (png_byte v : px) r.dark += v < 128;
  fs::remove(base + ".svg");
  fs::remove(base + ".png");
  return r;
}

class EverySample : public testing::TestWithParam<fs::path> {};

TEST_P(EverySample, DrawsAPictureCaptionedWithTheDecodedFields) {
  std::vector<PlotCapture> rows = decode_file(GetParam());
  ASSERT_FALSE(rows.empty());
  std::string svg = tools_common::render_svg(rows, {});
  Raster r = rasterise(svg, GetParam().filename().string());
  ASSERT_TRUE(r.ok) << "rsvg-convert could not draw:\n" << svg.substr(0, 2000);
  // Marks, text and cells: a blank or nearly blank picture is a failure.
  EXPECT_GT(r.dark, r.pixels / 200) << r.dark << " dark pixels of " << r.pixels;

  std::string all;
  for (const std::string &t : texts(svg)) all += t + "\n";
  for (const PlotCapture &c : rows) {
    EXPECT_NE(all.find(c.label), std::string::npos) << c.label;
    if (!c.decoded) continue;
    char sc[16];
    std::snprintf(sc, sizeof sc, "0x%08X", c.scancode);
    EXPECT_NE(all.find(c.protocol + "  scancode " + sc), std::string::npos) << c.label << "\n" << all;
    std::string fields = c.description.substr(c.description.find(" -- ") + 4);
    EXPECT_NE(all.find(fields), std::string::npos) << c.label << ": " << fields;
  }
}

INSTANTIATE_TEST_SUITE_P(Samples, EverySample, testing::ValuesIn(samples()),
                         [](const testing::TestParamInfo<fs::path> &i) {
                           std::string n = i.param.parent_path().filename().string() + "_" + i.param.filename().string();
                           for (char &ch : n)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return n;
                         });

// ---- Bit cells read back the frame ------------------------------------------------------

std::string bits_msb(uint32_t v, int n) {
  std::string s;
  for (int i = n - 1; i >= 0; --i) s += char('0' + (v >> i & 1));
  return s;
}
std::string bits_lsb(uint32_t v, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += char('0' + (v >> i & 1));
  return s;
}
int toggle(const PlotCapture &c) { return c.description.find("T:1") != std::string::npos; }

// What each protocol sends for a decoded scancode, built from the protocols' frame layouts.
std::string sent_bits(const PlotCapture &c) {
  const uint32_t s = c.scancode;
  const std::string &p = c.protocol;
  if (p == "NEC32" || p == "NEC" || p == "NECX")
    return bits_lsb(s & 0xFF, 8) + bits_lsb(s >> 8 & 0xFF, 8) + bits_lsb(s >> 16 & 0xFF, 8) + bits_lsb(s >> 24, 8);
  if (p == "RC5")  // start, field (command below 64), toggle, address, command
    return "11" + std::to_string(toggle(c)) + bits_msb(s >> 8 & 0x1F, 5) + bits_msb(s & 0x3F, 6);
  if (p == "RC6_0")  // start, mode 0, trailer (toggle), address, command
    return "1000" + std::to_string(toggle(c)) + bits_msb(s, 16);
  if (p == "SONY12" || p == "SONY15" || p == "SONY20") {
    int k = p == "SONY12" ? 12 : p == "SONY15" ? 15 : 20;
    std::string r;
    for (int b = 32 - k; b < 32; ++b) r += char('0' + (s >> b & 1));
    return r;
  }
  if (p == "PANASONIC") {
    std::string r = bits_lsb(0x02, 8) + bits_lsb(0x20, 8);
    for (int b = 0; b < 4; ++b) r += bits_lsb(s >> (8 * b) & 0xFF, 8);
    return r;
  }
  if (p == "ZIVRA") return bits_msb(s >> 12, 8) + bits_msb(s & 0xFFF, 12);
  return "";
}

TEST(BitCells, ReadBackTheBitsOfEveryDecodedSample) {
  int checked = 0;
  for (const fs::path &f : samples())
    for (const PlotCapture &c : decode_file(f)) {
      std::string want = c.decoded ? sent_bits(c) : "";
      if (want.empty()) continue;
      std::string got;
      for (const tools_common::BitCell &b : tools_common::bit_cells(c)) {
        EXPECT_LT(b.start_us, b.end_us) << c.label;
        got += b.value;
      }
      EXPECT_EQ(got, want) << c.label << " " << c.protocol << " " << c.description;
      ++checked;
    }
  EXPECT_GE(checked, 20);
}

TEST(BitCells, ReadXmpNibbles) {
  std::vector<PlotCapture> rows = decode_file(fs::path(SAMPLES_DIR) / "hand" / "xmp.irctl");
  ASSERT_EQ(rows.size(), 1u);
  std::string got;
  for (const tools_common::BitCell &b : tools_common::bit_cells(rows[0])) got += b.value;
  // Sub-address 1F, checksum E, OEM 44, device 0A; sub-address again, checksum 2, toggle 0,
  // OBC 2C 00.
  EXPECT_EQ(got, "1EF0440A120F2C00");
}

// Text from the outside world (file names, descriptions) cannot break the document.
TEST(Render, EscapesMarkupAndReplacesBytesThatAreNotText) {
  PlotCapture c;
  c.label = "a<b>&\"c'\x01\xff\xc3(\xe2\x82\xac.mode2";
  c.edges = {9000, 4500, 560, 560, 560};
  c.decoded = true;
  c.protocol = "NEC</text>";
  c.description = "NEC           -- <script>alert(1)</script>";
  tools_common::PlotOptions o;
  o.title = "]]><x>";
  std::string svg = tools_common::render_svg({c}, o);
  EXPECT_EQ(svg.find("<script"), std::string::npos);
  EXPECT_EQ(svg.find("<x>"), std::string::npos);
  ASSERT_TRUE(rasterise(svg, "escape").ok) << svg;
  std::vector<std::string> t = texts(svg);
  EXPECT_NE(std::find(t.begin(), t.end(), "a<b>&\"c'\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD(\xe2\x82\xac.mode2"), t.end());
}

}  // namespace
