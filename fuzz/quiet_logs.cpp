// Linked into every fuzz target: NSLog lines and the RSA class's printed
// status lines go nowhere, so that millions of expected failures cost no
// output (a target that logged wrote gigabytes in minutes).
#include <Corvane/Foundation.h>

#include <cstdio>

namespace {

const bool g_quiet = [] {
    corvane::NSLogSetSink([](const std::string&) {});
    return std::freopen("/dev/null", "w", stdout) != nullptr;
}();

}  // namespace
