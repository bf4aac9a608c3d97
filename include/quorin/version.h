#ifndef QUORIN_VERSION_H
#define QUORIN_VERSION_H

#include "quorin/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The framework's version number, 1.0. */
QRN_EXPORT extern const double QuorinNativeVersionNumber;

/* "@(#)PROGRAM:QuorinNative  PROJECT:QuorinNative-1" followed by a line feed. */
QRN_EXPORT extern const unsigned char QuorinNativeVersionString[];

#ifdef __cplusplus
}
#endif

#endif
