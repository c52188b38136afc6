// A dudect-style leak test: an operation is timed on inputs of several
// classes in a random interleaved order (so that a change in the machine's
// load falls on every class alike), the slowest tenth of the measurements
// is dropped (interrupts, migrations), and Welch's t statistic compares each
// pair of classes. |t| above 4.5 says the time tells the classes apart.
#ifndef CORVANE_TEST_TIMING_CLASSES_H
#define CORVANE_TEST_TIMING_CLASSES_H

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace corvane::test {

inline constexpr double kLeakThreshold = 4.5;

struct TimingComparison {
    std::size_t a, b;  // the classes compared
    double t;          // Welch's t of their times
};

// Runs operation(class, index) `perClass` times for each of `classes`
// classes (index counts that class's calls from 0) and compares every pair.
std::vector<TimingComparison> compareClassTimes(std::size_t classes, std::size_t perClass,
                                                const std::function<void(std::size_t, std::size_t)>& operation);

// "class 0 vs 1: t = 0.52; ..." for a failure message.
std::string describe(const std::vector<TimingComparison>& comparisons, const std::vector<std::string>& names);

// The largest |t| of the comparisons.
double largestT(const std::vector<TimingComparison>& comparisons);

}  // namespace corvane::test

#endif
