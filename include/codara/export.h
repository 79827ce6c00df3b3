#ifndef CODARA_EXPORT_H
#define CODARA_EXPORT_H
/* Marks a name that libcodara exports; everything else stays hidden. */
#if defined(__GNUC__)
#define CD_API __attribute__((visibility("default")))
#else
#define CD_API
#endif
#endif
