// Logging macros used by every module of both libraries.
//
// A module names its path once with LOG_MODULE("lib/libfoo/bar"); each macro then
// expands to one _log() call whose format carries the fixed prefix
// "[L] <module> <function>(<line>): " and the closing newline. _log() drops the
// line without formatting its arguments when the level is off.
#pragma once
#include "../../include/zivra/logging.h"

#define LOG_MODULE(path) [[maybe_unused]] static constexpr const char kLogModule[] = path

#define KIT_LOG_AT(lvl, letter, fmt, ...) \
  _log(lvl, "[" letter "] %s %s(%d): " fmt "\n", kLogModule, __func__, __LINE__ __VA_OPT__(, ) __VA_ARGS__)

#define LOGE(fmt, ...) KIT_LOG_AT(1, "E", fmt __VA_OPT__(, ) __VA_ARGS__)
#define LOGW(fmt, ...) KIT_LOG_AT(2, "W", fmt __VA_OPT__(, ) __VA_ARGS__)
#define LOGI(fmt, ...) KIT_LOG_AT(3, "I", fmt __VA_OPT__(, ) __VA_ARGS__)
#define LOGD(fmt, ...) KIT_LOG_AT(4, "D", fmt __VA_OPT__(, ) __VA_ARGS__)
#define LOGV(fmt, ...) KIT_LOG_AT(5, "V", fmt __VA_OPT__(, ) __VA_ARGS__)
