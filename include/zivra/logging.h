#ifndef KIT_LOGGING_H
#define KIT_LOGGING_H
/*
 * Levelled log and wall-clock helpers. libzivra and libcodara both carry them and
 * export them with interposable binding, so a process that loads both uses one copy:
 * one log level and one table of streams for both libraries.
 */
#include <stdint.h>
#include <stdio.h>
#include <sys/time.h>

#if defined(__GNUC__)
#define KIT_LOG_API __attribute__((visibility("default")))
#else
#define KIT_LOG_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Stream per level 0..5; all point at stderr once the library is loaded. */
KIT_LOG_API extern FILE *logfds[6];

KIT_LOG_API void _log(int level, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
KIT_LOG_API void set_loglevel(int level);
KIT_LOG_API int get_loglevel(void);

KIT_LOG_API uint64_t time_elapsed_us(const struct timeval *start);
KIT_LOG_API int time_has_elapsed_us(const struct timeval *start, uint64_t us);
KIT_LOG_API float get_tstamp(void);
KIT_LOG_API void epoch_to_date(uint32_t seconds, char *date, int date_size);

#ifdef __cplusplus
}
#endif
#endif
