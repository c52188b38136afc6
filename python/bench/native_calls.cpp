// _corvane_bench: the C++ calls that bench_calls.py times beside the Python
// calls of the corvane package, looped natively in the same process, so that
// the difference is what the Python call adds. Built with the benchmarks,
// never installed. The key is the corvane package's own object.
#include <pybind11/pybind11.h>

#include <Corvane/corvane.hpp>
#include <chrono>
#include <string_view>
#include <vector>

namespace py = pybind11;
namespace cv = corvane::v1;

PYBIND11_MODULE(_corvane_bench, module) {
    py::module_::import("corvane");  // registers the key types
    module.def("decrypt_seconds", [](const cv::RsaPrivateKey& key, const py::bytes& block, std::size_t calls) {
        const std::string_view bytes = block;
        const auto started = std::chrono::steady_clock::now();
        for (std::size_t i = 0; i < calls; ++i) key.decrypt(bytes);
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    });
    module.def("open_envelopes_seconds",
               [](const cv::RsaPrivateKey& key, const py::bytes& wrapped, const py::bytes& payload, std::size_t count) {
                   const cv::EnvelopeView envelope{std::string_view(wrapped), std::string_view(payload)};
                   const std::vector<cv::EnvelopeView> envelopes(count, envelope);
                   const auto started = std::chrono::steady_clock::now();
                   cv::openEnvelopes(key, envelopes);
                   return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
               });
}
