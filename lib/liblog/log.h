// Logging macros used by every module of both libraries.
//
// A module names its path once with LOG_MODULE("lib/libfoo/bar"); each macro then
// expands to one _log() call whose format carries the fixed prefix
// "[L] <module> <function>(<line>): " and the closing newline. _log() drops the
// line without formatting its arguments when the level is off.
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

#define KIT_LOG_AT(lvl, letter, fmt, ...)                                                                \
  _log(lvl, "[" letter "] %s %s(%d): " fmt "\n", kLogModule, kLogFunc != nullptr ? kLogFunc : __func__, \
       kLogLine != 0 ? kLogLine : __LINE__ __VA_OPT__(, ) __VA_ARGS__)

#define LOGE(fmt, ...) KIT_LOG_AT(1, "E", fmt __VA_OPT__(, ) __VA_ARGS__)
#define LOGW(fmt, ...) KIT_LOG_AT(2, "W", fmt __VA_OPT__(, ) __VA_ARGS__)
#define LOGI(fmt, ...) KIT_LOG_AT(3, "I", fmt __VA_OPT__(, ) __VA_ARGS__)
#define LOGD(fmt, ...) KIT_LOG_AT(4, "D", fmt __VA_OPT__(, ) __VA_ARGS__)
#define LOGV(fmt, ...) KIT_LOG_AT(5, "V", fmt __VA_OPT__(, ) __VA_ARGS__)
