// Silences NSLog on the calling thread for a scope. The modern layer calls
// the same classes as legacy callers but reports every failure in its
// exception or error_code alone, so it runs them under this guard; legacy
// callers never do, and their log lines stay as they are. Internal: not
// installed, not exported.
#ifndef CORVANE_LOG_SUPPRESSION_H
#define CORVANE_LOG_SUPPRESSION_H

namespace corvane {

class ScopedLogSuppression {
public:
    ScopedLogSuppression() noexcept;
    ~ScopedLogSuppression();
    ScopedLogSuppression(const ScopedLogSuppression&) = delete;
    ScopedLogSuppression& operator=(const ScopedLogSuppression&) = delete;
};

// True while a ScopedLogSuppression lives on this thread (they nest).
bool logSuppressedOnThisThread() noexcept;

}  // namespace corvane

#endif  // CORVANE_LOG_SUPPRESSION_H
