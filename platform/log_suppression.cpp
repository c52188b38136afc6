#include "platform/log_suppression.h"

namespace corvane {

namespace {

// Guards alive on this thread; per thread, so that one thread's modern call
// never hides another thread's legacy log line.
thread_local unsigned suppressionDepth = 0;

}  // namespace

ScopedLogSuppression::ScopedLogSuppression() noexcept { ++suppressionDepth; }

ScopedLogSuppression::~ScopedLogSuppression() { --suppressionDepth; }

bool logSuppressedOnThisThread() noexcept { return suppressionDepth != 0; }

}  // namespace corvane
