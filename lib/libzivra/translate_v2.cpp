// Generation-4 key translation: characters and key names to record_t reports,
// and the "Recorded Keys" listing of a current configuration image.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "libzivra/translate_text.h"
#include "liblog/log.h"
#include "zivra/config.h"
#include "zivra/translate.h"

LOG_MODULE("lib/libzivra/translate_v2");

namespace zivra::keys {

// The usage text, as the four writes callers expect.
void print_usage() {
  fputs("usage:\n", stdout);
  fputs(" zivra record 'word'", stdout);
  fputs("Available Options:\t\n", stdout);
  fputs("  escape, return, enter, escape, backspace, delete, \n  tab, space, F[1-12], printscreen, scroll, pause, \n"
        "  insert, home, pageup, pagedown, end, right, left, \n  down, up, wake, media keys:\n"
        "  eject, vol_up, vol_down, mute, play/pause, stop, \n  fastforward, rewind\n",
        stdout);
}

constexpr const char *kModifierNames[8] = {"left_ctrl",  "left_shift",  "left_alt",  "left_cmd",
                                       "right_ctrl", "right_shift", "right_alt", "right_cmd"};

// The names of the set modifier bits in bit order, joined by "+".
void print_modifiers(uint8_t modifier) {
  bool first = true;
  for (int bit = 0; bit < 8; ++bit) {
    if ((modifier & (1u << bit)) == 0) continue;
    if (!first) fputc('+', stdout);
    fputs(kModifierNames[bit], stdout);
    first = false;
  }
}

}  // namespace zivra::keys

namespace {

using zivra::keys::print_modifiers;
using zivra::keys::print_usage;

struct key_table {
  char opt[25];  // key name, or "-" for a row that stands for one character
  uint8_t ascii;  // that character; '0' in named rows
  uint8_t report_id;
  uint8_t key_mod;
  uint8_t usb_hid;
};

constexpr int kRows = 158;

// Lookups take the first matching row, so the order is part of the table.
const key_table key_table_p[kRows] = {
    {"-", '!', 1, 2, 30},  // 0
    {"-", '"', 1, 2, 52},  // 1
    {"-", '#', 1, 2, 32},  // 2
    {"-", '$', 1, 2, 33},  // 3
    {"-", '%', 1, 2, 34},  // 4
    {"-", '&', 1, 2, 36},  // 5
    {"-", '\'', 1, 0, 52},  // 6
    {"-", '(', 1, 2, 39},  // 7
    {"-", ')', 1, 2, 38},  // 8
    {"-", '*', 1, 2, 37},  // 9
    {"-", '+', 1, 2, 46},  // 10
    {"-", ',', 1, 0, 54},  // 11
    {"-", '-', 1, 0, 45},  // 12
    {"-", '.', 1, 0, 55},  // 13
    {"-", '/', 1, 0, 56},  // 14
    {"-", '0', 1, 0, 39},  // 15
    {"-", '1', 1, 0, 30},  // 16
    {"-", '2', 1, 0, 31},  // 17
    {"-", '3', 1, 0, 32},  // 18
    {"-", '4', 1, 0, 33},  // 19
    {"-", '5', 1, 0, 34},  // 20
    {"-", '6', 1, 0, 35},  // 21
    {"-", '7', 1, 0, 36},  // 22
    {"-", '8', 1, 0, 37},  // 23
    {"-", '9', 1, 0, 38},  // 24
    {"-", ':', 1, 2, 51},  // 25
    {"-", ';', 1, 0, 51},  // 26
    {"-", '<', 1, 2, 54},  // 27
    {"-", '=', 1, 0, 46},  // 28
    {"-", '>', 1, 2, 55},  // 29
    {"-", '?', 1, 2, 56},  // 30
    {"-", '@', 1, 2, 31},  // 31
    {"-", 'A', 1, 2, 4},  // 32
    {"-", 'B', 1, 2, 5},  // 33
    {"-", 'C', 1, 2, 6},  // 34
    {"-", 'D', 1, 2, 7},  // 35
    {"-", 'E', 1, 2, 8},  // 36
    {"-", 'F', 1, 2, 9},  // 37
    {"-", 'G', 1, 2, 10},  // 38
    {"-", 'H', 1, 2, 11},  // 39
    {"-", 'I', 1, 2, 12},  // 40
    {"-", 'J', 1, 2, 13},  // 41
    {"-", 'K', 1, 2, 14},  // 42
    {"-", 'L', 1, 2, 15},  // 43
    {"-", 'M', 1, 2, 16},  // 44
    {"-", 'N', 1, 2, 17},  // 45
    {"-", 'O', 1, 2, 18},  // 46
    {"-", 'P', 1, 2, 19},  // 47
    {"-", 'Q', 1, 2, 20},  // 48
    {"-", 'R', 1, 2, 21},  // 49
    {"-", 'S', 1, 2, 22},  // 50
    {"-", 'T', 1, 2, 23},  // 51
    {"-", 'U', 1, 2, 24},  // 52
    {"-", 'V', 1, 2, 25},  // 53
    {"-", 'W', 1, 2, 26},  // 54
    {"-", 'X', 1, 2, 27},  // 55
    {"-", 'Y', 1, 2, 28},  // 56
    {"-", 'Z', 1, 2, 29},  // 57
    {"-", 'a', 1, 0, 4},  // 58
    {"-", 'b', 1, 0, 5},  // 59
    {"-", 'c', 1, 0, 6},  // 60
    {"-", 'd', 1, 0, 7},  // 61
    {"-", 'e', 1, 0, 8},  // 62
    {"-", 'f', 1, 0, 9},  // 63
    {"-", 'g', 1, 0, 10},  // 64
    {"-", 'h', 1, 0, 11},  // 65
    {"-", 'i', 1, 0, 12},  // 66
    {"-", 'j', 1, 0, 13},  // 67
    {"-", 'k', 1, 0, 14},  // 68
    {"-", 'l', 1, 0, 15},  // 69
    {"-", 'm', 1, 0, 16},  // 70
    {"-", 'n', 1, 0, 17},  // 71
    {"-", 'o', 1, 0, 18},  // 72
    {"-", 'p', 1, 0, 19},  // 73
    {"-", 'q', 1, 0, 20},  // 74
    {"-", 'r', 1, 0, 21},  // 75
    {"-", 's', 1, 0, 22},  // 76
    {"-", 't', 1, 0, 23},  // 77
    {"-", 'u', 1, 0, 24},  // 78
    {"-", 'v', 1, 0, 25},  // 79
    {"-", 'w', 1, 0, 26},  // 80
    {"-", 'x', 1, 0, 27},  // 81
    {"-", 'y', 1, 0, 28},  // 82
    {"-", 'z', 1, 0, 29},  // 83
    {"-", '[', 1, 0, 47},  // 84
    {"-", '\\', 1, 0, 49},  // 85
    {"-", ']', 1, 0, 48},  // 86
    {"-", '^', 1, 2, 35},  // 87
    {"-", '_', 1, 2, 45},  // 88
    {"-", '`', 1, 0, 53},  // 89
    {"-", '{', 1, 2, 48},  // 90
    {"-", '|', 1, 2, 49},  // 91
    {"-", '}', 1, 2, 47},  // 92
    {"-", '~', 1, 2, 53},  // 93
    {"return", '0', 1, 0, 40},  // 94
    {"escape", '0', 1, 0, 41},  // 95
    {"delete", '0', 1, 0, 76},  // 96
    {"backspace", '0', 1, 0, 42},  // 97
    {"tab", '0', 1, 0, 43},  // 98
    {"space", '0', 1, 0, 44},  // 99
    {"F1", '0', 1, 0, 58},  // 100
    {"F2", '0', 1, 0, 59},  // 101
    {"F3", '0', 1, 0, 60},  // 102
    {"F4", '0', 1, 0, 61},  // 103
    {"F5", '0', 1, 0, 62},  // 104
    {"F6", '0', 1, 0, 63},  // 105
    {"F7", '0', 1, 0, 64},  // 106
    {"F8", '0', 1, 0, 65},  // 107
    {"F9", '0', 1, 0, 66},  // 108
    {"F10", '0', 1, 0, 67},  // 109
    {"F11", '0', 1, 0, 68},  // 110
    {"F12", '0', 1, 0, 69},  // 111
    {"print_screen", '0', 1, 0, 70},  // 112
    {"scroll", '0', 1, 0, 71},  // 113
    {"pause", '0', 1, 0, 72},  // 114
    {"insert", '0', 1, 0, 73},  // 115
    {"home", '0', 1, 0, 74},  // 116
    {"pageup", '0', 1, 0, 75},  // 117
    {"end", '0', 1, 0, 77},  // 118
    {"pagedown", '0', 1, 0, 78},  // 119
    {"right", '0', 1, 0, 79},  // 120
    {"left", '0', 1, 0, 80},  // 121
    {"down", '0', 1, 0, 81},  // 122
    {"up", '0', 1, 0, 82},  // 123
    {"enter", '0', 1, 0, 88},  // 124
    {"apostrophe", '0', 1, 0, 52},  // 125
    {"power", '0', 1, 0, 254},  // 126
    {"wake", '0', 1, 0, 255},  // 127
    {"eject", '0', 2, 184, 0},  // 128
    {"vol_up", '0', 2, 233, 0},  // 129
    {"vol_down", '0', 2, 234, 0},  // 130
    {"mute", '0', 2, 226, 0},  // 131
    {"play/pause", '0', 2, 205, 0},  // 132
    {"stop", '0', 2, 183, 0},  // 133
    {"menu_pick", '0', 2, 65, 0},  // 134
    {"menu_up", '0', 2, 66, 0},  // 135
    {"menu_left", '0', 2, 68, 0},  // 136
    {"menu_right", '0', 2, 69, 0},  // 137
    {"menu_down", '0', 2, 67, 0},  // 138
    {"media_select", '0', 2, 67, 0},  // 139
    {"media_home", '0', 2, 35, 2},  // 140
    {"media_back", '0', 2, 36, 2},  // 141
    {"media_forward", '0', 2, 37, 2},  // 142
    {"ac_search", '0', 2, 33, 2},  // 143
    {"rewind", '0', 2, 180, 0},  // 144
    {"fast_forward", '0', 2, 179, 0},  // 145
    {"MOVIESEL1", '0', 2, 1, 184},  // 146
    {"next_track", '0', 2, 181, 0},  // 147
    {"prev_track", '0', 2, 182, 0},  // 148
    {"suspend", '0', 3, 1, 0},  // 149
    {"browser_back", '0', 4, 128, 0},  // 150
    {"browser_fwd", '0', 4, 64, 0},  // 151
    {"browser_home", '0', 4, 32, 0},  // 152
    {"MOVIESEL1", '0', 4, 16, 0},  // 153
    {"browser_back", '0', 4, 128, 104},  // 154
    {"browser_fwd", '0', 4, 64, 104},  // 155
    {"browser_home", '0', 4, 32, 104},  // 156
    {"MOVIESEL1", '0', 4, 16, 104},  // 157
};

// The row a stored report came from: keyboard reports by modifier and usage,
// the other reports by their usage byte or bit and report id. -1 if none.
int search_table(const ir_pattern_t &p) {
  for (int i = 0; i < kRows; ++i) {
    const key_table &row = key_table_p[i];
    if (p.report_id == 1 ? (row.key_mod == p.modifier && row.usb_hid == p.key)
                         : (row.key_mod == p.modifier && row.report_id == p.report_id))
      return i;
  }
  return -1;
}

// The first row with this usage, or row 0.
int search_table_key(uint8_t key) {
  for (int i = 0; i < kRows; ++i)
    if (key_table_p[i].usb_hid == key) return i;
  return 0;
}

void store(const key_table &row, struct record_t *r) {
  r->report_id = row.report_id;
  r->modifier = row.key_mod;
  r->key = row.usb_hid;
}

void clear(struct record_t *r) {
  if (r != nullptr) *r = record_t{0, 0, 0};
}

}  // namespace

extern "C" {

int translate_v2(int key, struct record_t *r) {
  for (const key_table &row : key_table_p) {
    if (row.ascii == key && r != nullptr) {
      store(row, r);
      return 1;
    }
  }
  clear(r);
  LOGE("not a valid keyboard key: %c", key);
  print_usage();
  return -EINVAL;
}

int translate_word_v2(const char *word, struct record_t *r) {
  for (const key_table &row : key_table_p) {
    if (word != nullptr && r != nullptr && strcmp(row.opt, word) == 0) {
      store(row, r);
      return 1;
    }
  }
  clear(r);
  LOGE("not a valid keyboard key: %s", word != nullptr ? word : "(null)");
  print_usage();
  return -EINVAL;
}

int translate_mem_v2(uint8_t *buffer, size_t size) {
  fputs("\nRecorded Keys:\n", stdout);
  fputs("Index  hash       IK   ID  key\n", stdout);
  fputs("-----  --------   ---  --  ------------\n", stdout);
  // Only records that lie wholly inside the buffer are listed, whatever the
  // header claims.
  size_t count = 0;
  if (buffer != nullptr && size >= ZV_CONFIG_RECORDS_OFFSET) {
    header_t h;
    memcpy(&h, buffer, sizeof h);
    size_t whole = (size - ZV_CONFIG_RECORDS_OFFSET) / sizeof(ir_pattern_t);
    count = h.size < whole ? h.size : whole;
  }
  for (size_t k = 0; k < count; ++k) {
    ir_pattern_t p;
    memcpy(&p, buffer + ZV_CONFIG_RECORDS_OFFSET + k * sizeof p, sizeof p);
    printf("%5d  %08X   ", static_cast<int>(k), p.hash);
    printf("%03d  ", static_cast<int>(p.te));
    printf("%02d  ", p.report_id);
    int row = search_table(p);
    if (row >= 0 && strcmp(key_table_p[row].opt, "-") == 0) {
      printf("%c\n", key_table_p[row].ascii);
    } else if (row >= 0) {
      printf("%s\n", key_table_p[row].opt);
    } else if (p.report_id == 2) {
      printf("0x%02X\n", p.modifier + 256 * p.key);
    } else {
      print_modifiers(p.modifier);
      printf("%-2c\n", key_table_p[search_table_key(p.key)].ascii);
    }
  }
  return 0;
}
}
