// Generation-1 to -3 key translation: characters and key names to modifier and
// usage (usages 102, 103 and 104 select the consumer, system and browser
// reports), and the "Recorded Keys" listing of a legacy configuration image.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "liblog/log.h"
#include "libzivra/translate_text.h"
#include "zivra/translate.h"

LOG_MODULE("lib/libzivra/translate_v1");

namespace {

using zivra::keys::print_modifiers;
using zivra::keys::print_usage;

struct key_table {
  char opt[25];  // key name, or "-" for a row that stands for one character
  uint8_t ascii;  // that character; '0' in named rows
  uint8_t key_mod;
  uint8_t usb_hid;
};

constexpr int kRows = 140;

// Lookups take the first matching row, so the order is part of the table.
const key_table key_table_p[kRows] = {
    {"-", '!', 2, 30},  // 0
    {"-", '"', 2, 52},  // 1
    {"-", '#', 2, 32},  // 2
    {"-", '$', 2, 33},  // 3
    {"-", '%', 2, 34},  // 4
    {"-", '&', 2, 36},  // 5
    {"-", '\'', 0, 52},  // 6
    {"-", '(', 2, 39},  // 7
    {"-", ')', 2, 38},  // 8
    {"-", '*', 2, 37},  // 9
    {"-", '+', 2, 46},  // 10
    {"-", ',', 0, 54},  // 11
    {"-", '-', 0, 45},  // 12
    {"-", '.', 0, 55},  // 13
    {"-", '/', 0, 56},  // 14
    {"-", '0', 0, 39},  // 15
    {"-", '1', 0, 30},  // 16
    {"-", '2', 0, 31},  // 17
    {"-", '3', 0, 32},  // 18
    {"-", '4', 0, 33},  // 19
    {"-", '5', 0, 34},  // 20
    {"-", '6', 0, 35},  // 21
    {"-", '7', 0, 36},  // 22
    {"-", '8', 0, 37},  // 23
    {"-", '9', 0, 38},  // 24
    {"-", ':', 2, 51},  // 25
    {"-", ';', 0, 51},  // 26
    {"-", '<', 2, 54},  // 27
    {"-", '=', 0, 46},  // 28
    {"-", '>', 2, 55},  // 29
    {"-", '?', 2, 56},  // 30
    {"-", '@', 2, 31},  // 31
    {"-", 'A', 2, 4},  // 32
    {"-", 'B', 2, 5},  // 33
    {"-", 'C', 2, 6},  // 34
    {"-", 'D', 2, 7},  // 35
    {"-", 'E', 2, 8},  // 36
    {"-", 'F', 2, 9},  // 37
    {"-", 'G', 2, 10},  // 38
    {"-", 'H', 2, 11},  // 39
    {"-", 'I', 2, 12},  // 40
    {"-", 'J', 2, 13},  // 41
    {"-", 'K', 2, 14},  // 42
    {"-", 'L', 2, 15},  // 43
    {"-", 'M', 2, 16},  // 44
    {"-", 'N', 2, 17},  // 45
    {"-", 'O', 2, 18},  // 46
    {"-", 'P', 2, 19},  // 47
    {"-", 'Q', 2, 20},  // 48
    {"-", 'R', 2, 21},  // 49
    {"-", 'S', 2, 22},  // 50
    {"-", 'T', 2, 23},  // 51
    {"-", 'U', 2, 24},  // 52
    {"-", 'V', 2, 25},  // 53
    {"-", 'W', 2, 26},  // 54
    {"-", 'X', 2, 27},  // 55
    {"-", 'Y', 2, 28},  // 56
    {"-", 'Z', 2, 29},  // 57
    {"-", 'a', 0, 4},  // 58
    {"-", 'b', 0, 5},  // 59
    {"-", 'c', 0, 6},  // 60
    {"-", 'd', 0, 7},  // 61
    {"-", 'e', 0, 8},  // 62
    {"-", 'f', 0, 9},  // 63
    {"-", 'g', 0, 10},  // 64
    {"-", 'h', 0, 11},  // 65
    {"-", 'i', 0, 12},  // 66
    {"-", 'j', 0, 13},  // 67
    {"-", 'k', 0, 14},  // 68
    {"-", 'l', 0, 15},  // 69
    {"-", 'm', 0, 16},  // 70
    {"-", 'n', 0, 17},  // 71
    {"-", 'o', 0, 18},  // 72
    {"-", 'p', 0, 19},  // 73
    {"-", 'q', 0, 20},  // 74
    {"-", 'r', 0, 21},  // 75
    {"-", 's', 0, 22},  // 76
    {"-", 't', 0, 23},  // 77
    {"-", 'u', 0, 24},  // 78
    {"-", 'v', 0, 25},  // 79
    {"-", 'w', 0, 26},  // 80
    {"-", 'x', 0, 27},  // 81
    {"-", 'y', 0, 28},  // 82
    {"-", 'z', 0, 29},  // 83
    {"-", '[', 0, 47},  // 84
    {"-", '\\', 0, 49},  // 85
    {"-", ']', 0, 48},  // 86
    {"-", '^', 2, 35},  // 87
    {"-", '_', 2, 45},  // 88
    {"-", '`', 0, 53},  // 89
    {"-", '{', 2, 48},  // 90
    {"-", '|', 2, 49},  // 91
    {"-", '}', 2, 47},  // 92
    {"-", '~', 2, 53},  // 93
    {"return", '0', 0, 40},  // 94
    {"escape", '0', 0, 41},  // 95
    {"delete", '0', 0, 76},  // 96
    {"backspace", '0', 0, 42},  // 97
    {"tab", '0', 0, 43},  // 98
    {"space", '0', 0, 44},  // 99
    {"F1", '0', 0, 58},  // 100
    {"F2", '0', 0, 59},  // 101
    {"F3", '0', 0, 60},  // 102
    {"F4", '0', 0, 61},  // 103
    {"F5", '0', 0, 62},  // 104
    {"F6", '0', 0, 63},  // 105
    {"F7", '0', 0, 64},  // 106
    {"F8", '0', 0, 65},  // 107
    {"F9", '0', 0, 66},  // 108
    {"F10", '0', 0, 67},  // 109
    {"F11", '0', 0, 68},  // 110
    {"F12", '0', 0, 69},  // 111
    {"print_screen", '0', 0, 70},  // 112
    {"scroll", '0', 0, 71},  // 113
    {"pause", '0', 0, 72},  // 114
    {"insert", '0', 0, 73},  // 115
    {"home", '0', 0, 74},  // 116
    {"pageup", '0', 0, 75},  // 117
    {"end", '0', 0, 77},  // 118
    {"pagedown", '0', 0, 78},  // 119
    {"right", '0', 0, 79},  // 120
    {"left", '0', 0, 80},  // 121
    {"down", '0', 0, 81},  // 122
    {"up", '0', 0, 82},  // 123
    {"enter", '0', 0, 88},  // 124
    {"apostrophe", '0', 0, 52},  // 125
    {"power", '0', 0, 254},  // 126
    {"wake", '0', 0, 255},  // 127
    {"eject", '0', 184, 102},  // 128
    {"vol_up", '0', 233, 102},  // 129
    {"vol_down", '0', 234, 102},  // 130
    {"mute", '0', 226, 102},  // 131
    {"play/pause", '0', 205, 102},  // 132
    {"stop", '0', 183, 102},  // 133
    {"rewind", '0', 180, 102},  // 134
    {"fast_forward", '0', 179, 102},  // 135
    {"next_track", '0', 181, 102},  // 136
    {"prev_track", '0', 182, 102},  // 137
    {"suspend", '0', 1, 103},  // 138
    {"browser_back", '0', 128, 104},  // 139
};

// The row of a stored modifier and usage, or -1.
int search_table(uint8_t modifier, uint8_t key) {
  for (int i = 0; i < kRows; ++i)
    if (key_table_p[i].key_mod == modifier && key_table_p[i].usb_hid == key) return i;
  return -1;
}

// The first row with this usage, or row 0.
int search_table_key(uint8_t key) {
  for (int i = 0; i < kRows; ++i)
    if (key_table_p[i].usb_hid == key) return i;
  return 0;
}

void store(const key_table *row, int *keyReport) {
  if (keyReport == nullptr) return;
  keyReport[0] = row != nullptr ? row->usb_hid : 0;
  keyReport[1] = row != nullptr ? row->key_mod : 0;
}

// Legacy layout: total length (2 bytes), 3 settings bytes, then 6-byte records.
constexpr size_t kLegacyHeader = 5;
constexpr size_t kLegacyRecord = 6;

}  // namespace

extern "C" {

int translate_v1(int key, int *keyReport) {
  for (const key_table &row : key_table_p) {
    if (row.ascii == key && keyReport != nullptr) {
      store(&row, keyReport);
      return 1;
    }
  }
  store(nullptr, keyReport);
  fputs("Not a valid keyboard key\n\n", stderr);
  print_usage();
  return 0;
}

int translate_word_v1(const char *word, int *keyReport) {
  for (const key_table &row : key_table_p) {
    if (word != nullptr && keyReport != nullptr && strcmp(row.opt, word) == 0) {
      store(&row, keyReport);
      return 1;
    }
  }
  store(nullptr, keyReport);
  fprintf(stderr, "Not a valid word: %s\n\n", word != nullptr ? word : "(null)");
  print_usage();
  return -EINVAL;
}

int translate_mem_v1(uint8_t *buffer, size_t size) {
  if (size == kLegacyHeader) {
    puts("No Keys Found");
    return 0;
  }
  fputs("\nRecorded Keys:\n", stdout);
  fputs("Index  hash        key\n", stdout);
  fputs("-----  ---------   ---\n", stdout);
  if (buffer == nullptr) return 0;
  // Only whole records are listed; a cut-off tail is left out.
  for (size_t j = 0; kLegacyHeader + kLegacyRecord * (j + 1) <= size; ++j) {
    const uint8_t *rec = buffer + kLegacyHeader + kLegacyRecord * j;
    uint32_t hash = static_cast<uint32_t>(rec[0]) | static_cast<uint32_t>(rec[1]) << 8 |
                    static_cast<uint32_t>(rec[2]) << 16 | static_cast<uint32_t>(rec[3]) << 24;
    uint8_t modifier = rec[4], key = rec[5];
    int row = search_table(modifier, key);
    if (row >= 0) {
      printf("%5d  %X   ", static_cast<int>(j), hash);
      if (strcmp(key_table_p[row].opt, "-") == 0)
        printf(" %c\n", key_table_p[row].ascii);
      else
        printf(" %s\n", key_table_p[row].opt);
    } else {
      printf("%5d  %X    ", static_cast<int>(j), hash);
      print_modifiers(modifier);
      printf(" %c\n", key_table_p[search_table_key(key)].ascii);
    }
  }
  return 0;
}
}
