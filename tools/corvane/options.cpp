#include "options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>

#include "tool_error.h"

namespace corvane::tool {

namespace {

// CLI11 takes the spellings of one option as "-d,--decode".
std::string cliNames(const std::vector<std::string>& names) {
    std::string joined;
    for (const std::string& name : names) joined += (joined.empty() ? "" : ",") + name;
    return joined;
}

// The spelling users see in messages: the long one where there is one.
std::string displayName(const std::vector<std::string>& names) {
    auto longName =
        std::find_if(names.begin(), names.end(), [](const std::string& n) { return n.rfind("--", 0) == 0; });
    return longName != names.end() ? *longName : names.front();
}

}  // namespace

Options::Options(std::string command, std::string help)
    : command_(std::move(command)), help_(std::move(help)) {}

Options& Options::flag(std::vector<std::string> names, bool& target) {
    target = false;
    flags_.push_back({std::move(names), &target});
    return *this;
}

Options& Options::value(std::vector<std::string> names, std::optional<std::string>& target) {
    target.reset();
    values_.push_back({std::move(names), &target});
    return *this;
}

void Options::fail(const std::string& message) const {
    usageError(message + " (see corvane " + command_ + " --help)");
}

bool Options::parse(const Args& args) {
    CLI::App app(help_, "corvane " + command_);
    app.set_help_flag("-h,--help");
    // Unknown options are collected and reported below in the tool's words.
    app.allow_extras(true);

    std::vector<CLI::Option*> flagOptions, valueOptions;
    for (const Flag& f : flags_)
        flagOptions.push_back(app.add_flag(cliNames(f.names))->disable_flag_override());
    // Every occurrence is kept, so that a repeated option can be refused by
    // name instead of CLI11 taking the last silently.
    for (const Value& v : values_)
        valueOptions.push_back(app.add_option(cliNames(v.names))
                                   ->expected(1)
                                   ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll));
    positional_.clear();
    app.add_option("arguments", positional_);

    try {
        // CLI11 reads a reversed vector (it pops arguments off the back).
        std::vector<std::string> reversed(args.rbegin(), args.rend());
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        std::fputs(help_.c_str(), stdout);
        return false;
    } catch (const CLI::ArgumentMismatch& e) {
        // The two ways CLI11 objects to one option: a value missing, or a
        // value given to a flag ("--raw=yes").
        std::string what = e.what();
        for (const Value& v : values_)
            for (const std::string& name : v.names)
                if (what.rfind(name + ":", 0) == 0) fail("option " + displayName(v.names) + " needs a value");
        for (const Flag& f : flags_)
            if (what.find("disallowed flag override") != std::string::npos &&
                what.rfind(displayName(f.names).substr(2) + " ", 0) == 0)
                fail("option " + displayName(f.names) + " takes no value");
        fail(what);
    } catch (const CLI::ParseError& e) {
        fail(e.what());
    }

    // Positional arguments after "--" that CLI11 did not place are kept in
    // order; anything else left over is an option nobody declared.
    for (const std::string& extra : app.remaining()) {
        if (extra == "--") continue;
        if (extra.size() > 1 && extra[0] == '-') fail("unknown option " + extra);
        positional_.push_back(extra);
    }
    for (std::size_t i = 0; i < flags_.size(); ++i) {
        if (flagOptions[i]->count() > 1) fail("option " + displayName(flags_[i].names) + " given twice");
        *flags_[i].target = flagOptions[i]->count() == 1;
    }
    for (std::size_t i = 0; i < values_.size(); ++i) {
        const auto& results = valueOptions[i]->results();
        if (results.size() > 1) fail("option " + displayName(values_[i].names) + " given twice");
        if (results.size() == 1) *values_[i].target = results.front();
    }
    return true;
}

void Options::allowAtMostPositional(std::size_t max) const {
    if (positional_.size() > max)
        fail(max == 0 ? "unexpected argument " + positional_[0] : "too many arguments");
}

}  // namespace corvane::tool
