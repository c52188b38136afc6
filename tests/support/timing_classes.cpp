#include "tests/support/timing_classes.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <random>

#if defined(__x86_64__)
#include <x86intrin.h>
#endif

namespace corvane::test {

namespace {

// The cycle counter where there is one (finer than the clock, and read
// after the operation's loads have completed), else the steady clock.
std::uint64_t now() {
#if defined(__x86_64__)
    _mm_lfence();
    const std::uint64_t ticks = __rdtsc();
    _mm_lfence();
    return ticks;
#else
    return static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
#endif
}

struct Moments {
    double n = 0, mean = 0, m2 = 0;
    void add(double x) {
        n += 1;
        const double delta = x - mean;
        mean += delta / n;
        m2 += delta * (x - mean);
    }
    double variance() const { return n > 1 ? m2 / (n - 1) : 0; }
};

}  // namespace

std::vector<TimingComparison> compareClassTimes(std::size_t classes, std::size_t perClass,
                                                const std::function<void(std::size_t, std::size_t)>& operation) {
    std::vector<std::size_t> order;
    order.reserve(classes * perClass);
    for (std::size_t c = 0; c < classes; ++c) order.insert(order.end(), perClass, c);
    std::mt19937_64 rng(20261210);
    std::shuffle(order.begin(), order.end(), rng);

    std::vector<std::size_t> calls(classes, 0);
    std::vector<std::uint64_t> times(order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        const std::uint64_t start = now();
        operation(order[i], calls[order[i]]++);
        times[i] = now() - start;
    }

    std::vector<std::uint64_t> sorted = times;
    const std::size_t cut = sorted.size() * 9 / 10;
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(cut), sorted.end());
    const std::uint64_t limit = sorted[cut];
    std::vector<Moments> moments(classes);
    for (std::size_t i = 0; i < order.size(); ++i)
        if (times[i] <= limit) moments[order[i]].add(static_cast<double>(times[i]));

    std::vector<TimingComparison> comparisons;
    for (std::size_t a = 0; a < classes; ++a)
        for (std::size_t b = a + 1; b < classes; ++b) {
            const double spread = std::sqrt(moments[a].variance() / moments[a].n + moments[b].variance() / moments[b].n);
            comparisons.push_back({a, b, spread > 0 ? (moments[a].mean - moments[b].mean) / spread : 0});
        }
    return comparisons;
}

std::string describe(const std::vector<TimingComparison>& comparisons, const std::vector<std::string>& names) {
    std::string text;
    for (const TimingComparison& c : comparisons) {
        if (!text.empty()) text += "; ";
        text += names[c.a] + " vs " + names[c.b] + ": t = " + std::to_string(c.t);
    }
    return text;
}

double largestT(const std::vector<TimingComparison>& comparisons) {
    double largest = 0;
    for (const TimingComparison& c : comparisons) largest = std::max(largest, std::fabs(c.t));
    return largest;
}

}  // namespace corvane::test
