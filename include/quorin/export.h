#ifndef QUORIN_EXPORT_H
#define QUORIN_EXPORT_H

/* The library is built with hidden visibility; only what carries QRN_EXPORT is public. */
#if defined(QRN_BUILDING_LIBRARY)
#define QRN_EXPORT __attribute__((visibility("default")))
#else
#define QRN_EXPORT
#endif

#endif
