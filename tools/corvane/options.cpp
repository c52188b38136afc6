#include "options.h"

#include <algorithm>
#include <cstdio>

#include "tool_error.h"

namespace corvane::tool {

Options::Options(std::string command, std::string help) : command_(std::move(command)), help_(std::move(help)) {}

Options& Options::flag(std::vector<std::string> names, bool& target) {
    target = false;
    flags_.push_back({std::move(names), &target});
    return *this;
}

Options& Options::value(std::string name, std::optional<std::string>& target) {
    target.reset();
    values_.push_back({std::move(name), &target});
    return *this;
}

void Options::fail(const std::string& message) const {
    usageError(message + " (see corvane " + command_ + " --help)");
}

bool Options::parse(const Args& args) {
    positional_.clear();
    bool optionsEnded = false;
    std::vector<std::string> seen;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
            positional_.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            std::fputs(help_.c_str(), stdout);
            return false;
        }
        std::string name = arg;
        std::optional<std::string> inlineValue;
        if (std::size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            inlineValue = arg.substr(eq + 1);
        }
        if (std::find(seen.begin(), seen.end(), name) != seen.end()) fail("option " + name + " given twice");

        auto f = std::find_if(flags_.begin(), flags_.end(), [&](const Flag& candidate) {
            return std::find(candidate.names.begin(), candidate.names.end(), name) != candidate.names.end();
        });
        if (f != flags_.end()) {
            if (inlineValue) fail("option " + name + " takes no value");
            for (const std::string& n : f->names) seen.push_back(n);
            *f->target = true;
            continue;
        }
        auto v = std::find_if(values_.begin(), values_.end(),
                              [&](const Value& candidate) { return candidate.name == name; });
        if (v == values_.end()) fail("unknown option " + name);
        seen.push_back(name);
        if (inlineValue) {
            *v->target = *inlineValue;
        } else {
            if (i + 1 >= args.size()) fail("option " + name + " needs a value");
            *v->target = args[++i];
        }
    }
    return true;
}

void Options::allowAtMostPositional(std::size_t max) const {
    if (positional_.size() > max) fail(max == 0 ? "unexpected argument " + positional_[0] : "too many arguments");
}

}  // namespace corvane::tool
