// Corvane: every public header at once. C++ only (the C headers md5.h,
// nn.h, r_random.h, rsa.h and CorvaneVersion.h may be included alone from C).
#ifndef CORVANE_CORVANE_H
#define CORVANE_CORVANE_H

#include "CorvaneVersion.h"
#include "Foundation.h"
#include "QVDes3.h"
#include "QVGTMBase64.h"
#include "QVSimpleRSA.h"
#include "md5.h"
#include "nn.h"
#include "r_random.h"
#include "rsa.h"

#endif  // CORVANE_CORVANE_H
