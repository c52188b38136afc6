/*
 * Version symbols. CorvaneVersionString holds exactly
 * "@(#)PROGRAM:Corvane  PROJECT:Corvane-1\n" and its terminating NUL;
 * CorvaneVersionNumber is 1.0. Both are constant and thread-safe to read.
 */
#ifndef CORVANE_VERSION_H
#define CORVANE_VERSION_H

#include "CorvaneExport.h"

CORVANE_EXTERN_C_BEGIN

CORVANE_EXPORT extern const unsigned char CorvaneVersionString[];
CORVANE_EXPORT extern const double CorvaneVersionNumber;

CORVANE_EXTERN_C_END

#endif /* CORVANE_VERSION_H */
