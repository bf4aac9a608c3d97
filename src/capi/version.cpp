#include "quorin/version.h"

extern "C" {
const double QuorinNativeVersionNumber = 1.0;
const unsigned char QuorinNativeVersionString[] =
    "@(#)PROGRAM:QuorinNative  PROJECT:QuorinNative-1\n";
}
