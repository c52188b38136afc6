// Corvane: every public header of the legacy API at once, with the key
// readers and the error codes. C++ only (the C headers md5.h, nn.h,
// r_random.h, rsa.h and CorvaneVersion.h may be included alone from C). The
// modern layer is <Corvane/corvane.hpp>, which stands alone.
#ifndef CORVANE_CORVANE_H
#define CORVANE_CORVANE_H

#include "CorvaneCxx20.h"

#include "CorvaneVersion.h"
#include "Foundation.h"
#include "QVDes3.h"
#include "QVGTMBase64.h"
#include "QVSimpleRSA.h"
#include "errors.h"
#include "keys.h"
#include "md5.h"
#include "nn.h"
#include "r_random.h"
#include "rsa.h"

#endif  // CORVANE_CORVANE_H
