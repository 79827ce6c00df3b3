#ifndef ZIVRA_EXPORT_H
#define ZIVRA_EXPORT_H
/* Marks a name that libzivra exports; everything else stays hidden. */
#if defined(__GNUC__)
#define ZV_API __attribute__((visibility("default")))
#else
#define ZV_API
#endif
#endif
