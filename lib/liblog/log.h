// Logging macros used by every module of both libraries.
//
// A module names its path once with LOG_MODULE("lib/libfoo/bar"); each macro then
// expands to one _log() call whose format carries the fixed prefix
// "[L] <module> <function>(<line>): " and the closing newline. _log() drops the
// line without formatting its arguments when the level is off; inside a
// LogLevelSnapshot the call itself is skipped.
#pragma once
#include "../../include/zivra/logging.h"

#define LOG_MODULE(path) [[maybe_unused]] static constexpr const char kLogModule[] = path

// A helper shared by several operations logs under the operation that called it:
// the operation passes LOG_SITE, the helper starts with LOG_AS(site), which
// shadows the module and function names the macros below pick up.
// Its lines then carry the module, function and line of that call.
struct LogSite {
  const char *module;
  const char *func;
  int line;
};
[[maybe_unused]] static constexpr const char *kLogFunc = nullptr;
[[maybe_unused]] static constexpr int kLogLine = 0;
#define LOG_SITE (LogSite{kLogModule, __func__, __LINE__})
#define LOG_AS(site)                                             \
  [[maybe_unused]] const char *const kLogModule = (site).module; \
  [[maybe_unused]] const char *const kLogFunc = (site).func;     \
  [[maybe_unused]] const int kLogLine = (site).line

// The highest level this library may print, as far as it knows: 5 (ask _log) except
// inside a LogLevelSnapshot. Each library has its own hidden copy; the level itself
// stays the one process-wide value behind the exported, interposable names.
extern int kit_log_ceiling;

// Holds the process's log level for a stretch of hot work that cannot change it
// (one decode): lines above it then cost one compare instead of a call, and the
// lines at or below it still go through _log and its own check. Nests.
class LogLevelSnapshot {
 public:
  LogLevelSnapshot() : saved_(kit_log_ceiling) { kit_log_ceiling = get_loglevel(); }
  ~LogLevelSnapshot() { kit_log_ceiling = saved_; }
  LogLevelSnapshot(const LogLevelSnapshot &) = delete;
  LogLevelSnapshot &operator=(const LogLevelSnapshot &) = delete;

 private:
  int saved_;
};

// True when a line at `lvl` may print; one load and branch.
#define LOG_ON(lvl) ((lvl) <= kit_log_ceiling)

#define KIT_LOG_AT(lvl, letter, fmt, ...)                                                                   \
  (LOG_ON(lvl) ? _log(lvl, "[" letter "] %s %s(%d): " fmt "\n", kLogModule,                                \
                      kLogFunc != nullptr ? kLogFunc : __func__,                                           \
                      kLogLine != 0 ? kLogLine : __LINE__ __VA_OPT__(, ) __VA_ARGS__)                      \
               : (void)0)

#define LOGE(fmt, ...) KIT_LOG_AT(1, "E", fmt __VA_OPT__(, ) __VA_ARGS__)
#define LOGW(fmt, ...) KIT_LOG_AT(2, "W", fmt __VA_OPT__(, ) __VA_ARGS__)
#define LOGI(fmt, ...) KIT_LOG_AT(3, "I", fmt __VA_OPT__(, ) __VA_ARGS__)
#define LOGD(fmt, ...) KIT_LOG_AT(4, "D", fmt __VA_OPT__(, ) __VA_ARGS__)
#define LOGV(fmt, ...) KIT_LOG_AT(5, "V", fmt __VA_OPT__(, ) __VA_ARGS__)
