// A GoogleTest fixture for the tool's RSA tests: key files of the given
// sizes made once per suite by `openssl genpkey` in a temporary folder
// (see openssl_key_files.h), and that folder for the tests' own files. The
// suite's tests are skipped where the tool was not built.
#ifndef CORVANE_TEST_TOOL_KEY_SUITE_H
#define CORVANE_TEST_TOOL_KEY_SUITE_H

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "tests/support/cli/cli_run.h"
#include "tests/support/cli/cli_tool.h"
#include "tests/support/rsa/openssl_key_files.h"

namespace corvane::test {

template <unsigned... Bits>
class ToolKeySuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (kTool == nullptr) return;
        dir_ = std::make_unique<TempDir>();
        for (unsigned bits : {Bits...}) keys_.emplace(bits, OpensslKeyFiles(*dir_, bits));
    }
    static void TearDownTestSuite() {
        keys_.clear();
        dir_.reset();
    }
    void SetUp() override { REQUIRE_TOOL(); }

    static OpensslKeyFiles& key(unsigned bits) { return keys_.at(bits); }
    static std::string write(const std::string& name, const std::string& contents) {
        return dir_->write(name, contents);
    }
    static std::string file(const std::string& name) { return dir_->file(name); }

private:
    inline static std::unique_ptr<TempDir> dir_;
    inline static std::map<unsigned, OpensslKeyFiles> keys_;
};

}  // namespace corvane::test

#endif  // CORVANE_TEST_TOOL_KEY_SUITE_H
