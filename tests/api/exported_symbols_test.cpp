// The shared library's dynamic symbol table must hold exactly the documented
// C names, plus C++ symbols of namespace corvane (the classes, the object
// layer, the key readers, the error category and the modern layer), and
// nothing else of ours: no file-local helper, no test seam, nothing of the
// internal namespace corvane::detail.
#include <Corvane/CorvaneVersion.h>
#include <cxxabi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "tests/support/test_support.h"

namespace {

std::set<std::string> expectedCNames() {
    std::set<std::string> names;
    std::istringstream in(corvane::test::readTextFile(corvane::test::ourVector("exported_c_symbols.txt")));
    std::string line;
    while (std::getline(in, line))
        if (!line.empty() && line[0] != '#') names.insert(line);
    return names;
}

// Defined dynamic symbols of the shared library, without version suffixes.
std::set<std::string> definedDynamicSymbols() {
    std::string command = std::string("nm -D --defined-only --format=posix '") + CORVANE_SHARED_LIBRARY + "'";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::set<std::string> names;
    if (!pipe) return names;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe.get()) != nullptr) {
        std::string name(line, std::strcspn(line, " \n"));
        auto at = name.find('@');
        if (at != std::string::npos) name.resize(at);
        // The version node itself is listed as an absolute symbol.
        if (!name.empty() && name != "CORVANE_1.0") names.insert(name);
    }
    return names;
}

std::string demangle(const std::string& name) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> d(abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status),
                                             std::free);
    return status == 0 && d ? std::string(d.get()) : name;
}

}  // namespace

TEST(ExportedSymbols, ExactlyTheDocumentedCNamesAndNamespaceCorvane) {
    auto expected = expectedCNames();
    ASSERT_EQ(expected.size(), 36u);
    auto actual = definedDynamicSymbols();
    ASSERT_FALSE(actual.empty()) << "could not list the symbols of " << CORVANE_SHARED_LIBRARY;

    for (const auto& name : expected) EXPECT_TRUE(actual.count(name)) << "missing export: " << name;
    for (const auto& name : actual) {
        if (expected.count(name)) continue;
        std::string readable = demangle(name);
        EXPECT_NE(readable.find("corvane::"), std::string::npos) << "unexpected export: " << readable;
        EXPECT_EQ(readable.find("test_seams"), std::string::npos) << "test seam exported: " << readable;
        EXPECT_EQ(readable.find("corvane::detail"), std::string::npos) << "internal exported: " << readable;
    }
}

TEST(ExportedSymbols, TheKeyReadersErrorsAndModernLayerAreExported) {
    std::set<std::string> readable;
    for (const auto& name : definedDynamicSymbols()) readable.insert(demangle(name));
    for (const char* prefix :
         {"corvane::loadRsaPrivateKey(", "corvane::loadRsaPublicKeyFile(", "corvane::rsaPublicKeyFromHex(",
          "corvane::rsaPrivateKeyToPem(", "corvane::errorCategory()", "corvane::errorMeaning(",
          "corvane::v1::md5(", "corvane::v1::base64Decode(", "corvane::v1::RsaPrivateKey::decrypt(",
          "corvane::v1::RandomPool::generate(", "corvane::v1::des3Encrypt(",
          "typeinfo for corvane::v1::Error"}) {
        bool found = std::any_of(readable.begin(), readable.end(),
                                 [&](const std::string& name) { return name.rfind(prefix, 0) == 0; });
        EXPECT_TRUE(found) << "not exported: " << prefix;
    }
}

TEST(VersionSymbols, HoldTheExactTexts) {
    const char expected[] = "@(#)PROGRAM:Corvane  PROJECT:Corvane-1\n";
    EXPECT_EQ(std::memcmp(CorvaneVersionString, expected, sizeof expected), 0);  // includes the NUL
    EXPECT_EQ(CorvaneVersionNumber, 1.0);
}
