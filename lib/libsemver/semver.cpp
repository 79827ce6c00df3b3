// Semantic versions: parsing, comparison, range tests and rendering.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "zivra/semver.h"

namespace {

constexpr size_t kMaxText = 255;   // a whole version text
constexpr size_t kMaxNumber = 50;  // digits of one numeric field
constexpr size_t kMaxMeta = 50;    // a pre-release or metadata text being compared

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_allowed(char c) {
  return is_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == '-' ||
         c == '+';
}

bool all_digits(const char *s, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (!is_digit(s[i])) return false;
  return true;
}

// Decimal digits to int; false when the value does not fit (fields may have 50 digits).
bool to_int(const char *s, size_t n, int *out) {
  long long v = 0;
  for (size_t i = 0; i < n; ++i) {
    v = v * 10 + (s[i] - '0');
    if (v > INT_MAX) return false;
  }
  *out = static_cast<int>(v);
  return true;
}

// Calls f(part, length) for each non-empty "."-separated part until f returns
// false. f may overwrite the separator after its part (splitting in place).
template <typename C, typename F>
void for_each_part(C *s, F f) {
  while (*s != '\0') {
    if (*s == '.') {
      ++s;
      continue;
    }
    C *e = s;
    while (*e != '\0' && *e != '.') ++e;
    bool last = *e == '\0';
    if (!f(s, static_cast<size_t>(e - s)) || last) return;
    s = e + 1;
  }
}

int sign(long long d) { return d < 0 ? -1 : (d > 0 ? 1 : 0); }

// Orders two pre-release or metadata texts: non-numeric parts first (having
// none is higher, then the shorter joined text is higher), then the numeric
// parts (fewer is higher, then pairwise). Any text that cannot be split is lower.
int compare_metadata(const char *a, const char *b) {
  char *ca = strdup(a);
  char *cb = strdup(b);
  metadata_s ma{}, mb{};
  int ra = ca != nullptr ? semver_parse_prerelease(ca, &ma) : -1;
  int rb = cb != nullptr ? semver_parse_prerelease(cb, &mb) : -1;
  int res = 0;
  if (ra != 0 || rb != 0) {
    res = -1;
  } else if (ma.meta != nullptr && mb.meta == nullptr) {
    res = -1;
  } else if (ma.meta == nullptr && mb.meta != nullptr) {
    res = 1;
  } else if (ma.meta != nullptr && strlen(ma.meta) != strlen(mb.meta)) {
    res = strlen(ma.meta) < strlen(mb.meta) ? 1 : -1;
  } else if (ma.version_count != mb.version_count) {
    res = ma.version_count < mb.version_count ? 1 : -1;
  } else {
    for (int i = 0; i < ma.version_count && res == 0; ++i) res = sign(static_cast<long long>(ma.version[i]) - mb.version[i]);
  }
  free(ma.meta);
  free(mb.meta);
  free(ca);
  free(cb);
  return res;
}

// Appends "<sep><value>" through a small scratch buffer.
void append_number(char *dest, const char *sep, int value) {
  char part[50];
  snprintf(part, sizeof part, "%s%d", sep, value);
  strcat(dest, part);
}

void bump(int *field) {
  if (*field < INT_MAX) ++*field;
}

}  // namespace

extern "C" {

int semver_is_valid(const char *s) {
  if (s == nullptr) return 0;
  size_t n = strnlen(s, kMaxText + 1);
  if (n > kMaxText) return 0;
  for (size_t i = 0; i < n; ++i)
    if (!is_allowed(s[i])) return 0;
  return 1;
}

int semver_parse_version(const char *str, semver_t *ver) {
  if (str == nullptr || ver == nullptr) return -1;
  int *fields[3] = {&ver->major, &ver->minor, &ver->patch};
  int index = 0, result = 0;
  // The first three parts are stored, a fourth is checked, the rest ignored.
  for_each_part(str, [&](const char *p, size_t n) {
    int value = 0;
    if (n > kMaxNumber || !all_digits(p, n) || (index < 3 && !to_int(p, n, &value))) {
      result = -1;
      return false;
    }
    if (index < 3) *fields[index] = value;
    return ++index < 4;
  });
  return result;
}

int semver_parse(const char *str, semver_t *ver) {
  if (ver == nullptr || !semver_is_valid(str)) return -1;
  ver->metadata = nullptr;
  ver->prerelease = nullptr;
  char *copy = strdup(str);
  if (copy == nullptr) return -1;
  int result = 0;
  if (char *plus = strchr(copy, '+'); plus != nullptr) {
    *plus = '\0';
    ver->metadata = strdup(plus + 1);
    if (ver->metadata == nullptr) result = -1;
  }
  if (char *dash = strchr(copy, '-'); result == 0 && dash != nullptr) {
    *dash = '\0';
    ver->prerelease = strdup(dash + 1);
    if (ver->prerelease == nullptr) result = -1;
  }
  if (result == 0) result = semver_parse_version(copy, ver);
  free(copy);
  // A rejected text leaves nothing allocated behind.
  if (result != 0) semver_free(ver);
  return result;
}

int semver_parse_prerelease(char *str, struct metadata_s *ver) {
  if (ver == nullptr) return -1;
  ver->meta = nullptr;
  ver->version_count = 0;
  if (str == nullptr || strnlen(str, kMaxMeta + 1) > kMaxMeta) return -1;
  size_t meta_len = 0;
  int result = 0;
  for_each_part(str, [&](char *p, size_t n) {
    p[n] = '\0';  // split in place
    if (all_digits(p, n)) {
      int value;
      if (!to_int(p, n, &value)) {
        result = -1;
        return false;
      }
      ver->version[ver->version_count++] = value;  // at most 25 parts fit in 50 characters
      return true;
    }
    char *grown = static_cast<char *>(realloc(ver->meta, meta_len + n + 2));
    if (grown == nullptr) {
      result = -1;
      return false;
    }
    ver->meta = grown;
    if (meta_len > 0) ver->meta[meta_len++] = '.';
    memcpy(ver->meta + meta_len, p, n);
    meta_len += n;
    ver->meta[meta_len] = '\0';
    return true;
  });
  if (result != 0) {
    free(ver->meta);
    ver->meta = nullptr;
    ver->version_count = 0;
  }
  return result;
}

int semver_compare_version(semver_t x, semver_t y) {
  if (x.major != y.major) return x.major > y.major ? 1 : -1;
  if (x.minor != y.minor) return x.minor > y.minor ? 1 : -1;
  if (x.patch != y.patch) return x.patch > y.patch ? 1 : -1;
  return 0;
}

int semver_compare_metadata(semver_t x, semver_t y) {
  if (x.prerelease != nullptr || y.prerelease != nullptr) {
    int interim;
    if (y.prerelease == nullptr)
      interim = -1;  // a pre-release lowers a version
    else if (x.prerelease == nullptr)
      interim = 1;
    else
      interim = compare_metadata(x.prerelease, y.prerelease);
    if (interim != 0) {
      if (x.metadata != nullptr && y.metadata != nullptr) return compare_metadata(x.metadata, y.metadata);
      return interim;
    }
  }
  if (x.metadata == nullptr && y.metadata == nullptr) return 0;
  if (y.metadata == nullptr) return -1;
  if (x.metadata == nullptr) return 1;
  return compare_metadata(x.metadata, y.metadata);
}

int semver_compare(semver_t x, semver_t y) {
  int r = semver_compare_version(x, y);
  return r != 0 ? r : semver_compare_metadata(x, y);
}

int semver_gt(semver_t x, semver_t y) { return semver_compare(x, y) == 1; }
int semver_lt(semver_t x, semver_t y) { return semver_compare(x, y) == -1; }
int semver_eq(semver_t x, semver_t y) { return semver_compare(x, y) == 0; }
int semver_neq(semver_t x, semver_t y) { return semver_compare(x, y) != 0; }
int semver_gte(semver_t x, semver_t y) { return semver_compare(x, y) >= 0; }
int semver_lte(semver_t x, semver_t y) { return semver_compare(x, y) <= 0; }

int semver_satisfies_caret(semver_t x, semver_t y) {
  return x.major == y.major && (y.major != 0 || x.minor >= y.minor);
}

int semver_satisfies_patch(semver_t x, semver_t y) { return x.major == y.major && x.minor == y.minor; }

int semver_satisfies(semver_t x, semver_t y, const char *op) {
  if (op == nullptr) return 0;
  switch (op[0]) {
    case SYMBOL_CF:
      return semver_satisfies_caret(x, y);
    case SYMBOL_TF:
      return semver_satisfies_patch(x, y);
    case SYMBOL_EQ:
      return semver_eq(x, y);
    case SYMBOL_GT:
      return op[1] == SYMBOL_EQ ? semver_gte(x, y) : semver_gt(x, y);
    case SYMBOL_LT:
      return op[1] == SYMBOL_EQ ? semver_lte(x, y) : semver_lt(x, y);
    default:
      return 0;
  }
}

void semver_render(semver_t *x, char *dest) {
  if (x == nullptr || dest == nullptr) return;
  append_number(dest, "", x->major);
  append_number(dest, ".", x->minor);
  append_number(dest, ".", x->patch);
  // The texts are appended whole: a scratch buffer would cut long ones.
  if (x->prerelease != nullptr) {
    strcat(dest, "-");
    strcat(dest, x->prerelease);
  }
  if (x->metadata != nullptr) {
    strcat(dest, "+");
    strcat(dest, x->metadata);
  }
}

void semver_bump(semver_t *x) {
  if (x != nullptr) bump(&x->major);
}
void semver_bump_minor(semver_t *x) {
  if (x != nullptr) bump(&x->minor);
}
void semver_bump_patch(semver_t *x) {
  if (x != nullptr) bump(&x->patch);
}

void semver_free(semver_t *x) {
  if (x == nullptr) return;
  free(x->metadata);
  x->metadata = nullptr;
  free(x->prerelease);
  x->prerelease = nullptr;
}

int semver_clean(char *s) {
  if (s == nullptr) return -1;
  size_t n = strnlen(s, kMaxText + 1);
  if (n > kMaxText) return -1;
  for (size_t i = 0; i < n;) {
    if (is_allowed(s[i])) {
      ++i;
      continue;
    }
    memmove(s + i, s + i + 1, n - i);  // the terminator moves along
    --n;
  }
  return 0;
}

int semver_numeric(semver_t *x) {
  if (x == nullptr) return -1;
  char digits[150] = "";
  size_t len = 0;
  for (int v : {x->major, x->minor, x->patch})
    if (v != 0) len += static_cast<size_t>(snprintf(digits + len, sizeof digits - len, "%d", v));
  int value = 0;
  if (!all_digits(digits, len) || !to_int(digits, len, &value)) return -1;
  long long sum = value;
  for (const char *t : {x->prerelease, x->metadata}) {
    if (t == nullptr) continue;
    for (; *t != '\0'; ++t) {
      if (!is_allowed(*t)) continue;
      sum += static_cast<unsigned char>(*t);
      if (sum > INT_MAX) return -1;
    }
  }
  return static_cast<int>(sum);
}
}
