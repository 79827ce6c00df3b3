// Text progress bar for long device operations.
#include <climits>
#include <cmath>
#include <cstdio>

#include "zivra/pbar.h"

namespace {

// 40 columns are 100 %; a run longer than ten bars only happens for nonsense input.
constexpr int kMaxRun = 400;

// start / end * 100 in single precision, truncated toward zero. An empty job
// (end 0) is complete; values outside int are pinned instead of converted.
int percent_of(float start, float end) {
  if (end == 0.0f) return 100;
  float p = start / end * 100.0f;
  if (std::isnan(p)) return 0;
  if (p >= 2147483648.0f) return INT_MAX;
  if (p <= -2147483648.0f) return INT_MIN;
  return static_cast<int>(p);
}

}  // namespace

extern "C" void print_progress_bar(float start, float end) {
  int percentage = percent_of(start, end);
  double ratio = percentage / 2.5;
  int n = 0;
  if (ratio > 0) n = ratio >= kMaxRun ? kMaxRun : static_cast<int>(std::ceil(ratio));
  char line[kMaxRun + 64];
  int pos = 0;
  line[pos++] = '[';
  for (int i = 0; i < n; ++i) line[pos++] = '=';
  line[pos++] = '>';
  for (int i = n; i < 40; ++i) line[pos++] = ' ';
  snprintf(line + pos, sizeof line - static_cast<size_t>(pos), "] %d%%\r", percentage);
  fputs(line, stdout);
  fflush(stdout);
}
