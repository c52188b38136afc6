#include "tools/corvane/options/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <sstream>

#include "tools/corvane/commands/command_table.h"
#include "tools/corvane/options/option_list.h"
#include "tools/corvane/options/suggestions.h"
#include "tools/corvane/tool_error.h"

namespace corvane::tool {

namespace {

std::string joined(const std::vector<std::string>& words, const std::string& separator) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : separator) + word;
    return text;
}

// CLI11 takes the spellings of one option as "-d,--decode".
std::string cliNames(const std::vector<std::string>& names) { return joined(names, ","); }

// The spelling users see in messages: the long one where there is one.
std::string displayName(const std::vector<std::string>& names) {
    auto longName =
        std::find_if(names.begin(), names.end(), [](const std::string& n) { return n.rfind("--", 0) == 0; });
    return longName != names.end() ? *longName : names.front();
}

// The name of names that "--wrap" or "--wrap=5" spells, or null.
const std::string* spelledName(const std::vector<std::string>& names, const std::string& spelled) {
    for (const std::string& name : names)
        if (spelled == name || spelled.rfind(name + "=", 0) == 0) return &name;
    return nullptr;
}

CLI::App* describedTree = nullptr;

// The validator's name carries the words; its description stays empty so
// that CLI11 adds nothing to the value's placeholder.
const std::string kSuggestedPrefix = "suggested:";

std::vector<std::string> suggestedValuesOf(CLI::Option& option) {
    std::vector<std::string> words;
    try {
        const std::string& name = option.get_validator()->get_name();
        if (name.rfind(kSuggestedPrefix, 0) != 0) return words;
        std::istringstream text(name.substr(kSuggestedPrefix.size()));
        for (std::string word; text >> word;) words.push_back(word);
    } catch (const CLI::OptionNotFound&) {
        // No validator: nothing suggested.
    }
    return words;
}

// The command and its actions, depth first.
void documentCommand(CLI::App& app, const std::string& path, ToolDoc& tool) {
    CommandDoc command{path, app.get_description(), optionDocs(app), {}};
    std::vector<CLI::App*> actions = app.get_subcommands({});
    for (CLI::App* action : actions) command.actions.push_back(action->get_name());
    tool.commands.push_back(std::move(command));
    for (CLI::App* action : actions) documentCommand(*action, path + " " + action->get_name(), tool);
}


// The subcommand of tree named by the words of command ("rsa encrypt"),
// made where missing.
CLI::App& describedCommand(CLI::App& tree, const std::string& command) {
    CLI::App* app = &tree;
    std::istringstream words(command);
    for (std::string word; words >> word;) {
        auto existing = app->get_subcommands([&](const CLI::App* sub) { return sub->get_name() == word; });
        app = existing.empty() ? app->add_subcommand(word) : existing.front();
    }
    return *app;
}

}  // namespace

Options::Options(std::string command, std::string help)
    : command_(std::move(command)), help_(std::move(help)) {}

Options& Options::flag(std::vector<std::string> names, bool& target, std::string help) {
    target = false;
    declared_.push_back({std::move(names), &target, nullptr, {std::move(help)}});
    return *this;
}

Options& Options::value(std::vector<std::string> names, std::optional<std::string>& target, ValueHelp help) {
    target.reset();
    declared_.push_back({std::move(names), nullptr, &target, std::move(help)});
    return *this;
}

Options& Options::alias(std::vector<std::string> hidden) {
    declared_.back().aliases = std::move(hidden);
    return *this;
}

void Options::describeInto(CLI::App* tree) { describedTree = tree; }

CLI::App* Options::describing() { return describedTree; }

void Options::describeCommand(const std::string& command, const std::string& help) {
    describedCommand(*describedTree, command).description(help)->set_help_flag("-h,--help", "this text");
}

void Options::fail(const std::string& message) const {
    usageError(message + " (see corvane " + command_ + " --help)");
}

std::vector<Options::Defined> Options::define(CLI::App& app) const {
    app.description(help_);
    app.set_help_flag("-h,--help", "this text");
    std::vector<Defined> options;
    auto add = [&](const Declared& d, const std::vector<std::string>& names) -> CLI::Option* {
        if (d.flagTarget != nullptr) return app.add_flag(cliNames(names), d.help.help)->disable_flag_override();
        // Every occurrence is kept, so that a repeated option can be
        // refused by name instead of CLI11 taking the last silently.
        CLI::Option* option = app.add_option(cliNames(names), d.help.help)
                                  ->expected(1)
                                  ->type_name(d.help.valueName)
                                  ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
        if (!d.help.suggested.empty()) option->check(suggestedValues(d.help.suggested));
        return option;
    };
    for (const Declared& d : declared_) {
        // Aliases are an option of their own in no group, which CLI11 and
        // optionDocs leave out of every listing.
        CLI::Option* hidden = d.aliases.empty() ? nullptr : add(d, d.aliases)->group("");
        options.push_back({add(d, d.names), hidden});
    }
    return options;
}

std::string Options::mismatchMessage(const std::string& spelled) const {
    // In a cluster of short options ("-dw") the last one is left without
    // its value.
    std::string name = spelled;
    if (name.size() > 2 && name[0] == '-' && name[1] != '-' && name.find('=') == std::string::npos)
        name = "-" + name.substr(name.size() - 1);
    for (const Declared& d : declared_) {
        // An old spelling is named as it was typed.
        const std::string* alias = spelledName(d.aliases, name);
        if (alias == nullptr && spelledName(d.names, name) == nullptr) continue;
        return "option " + (alias != nullptr ? *alias : displayName(d.names)) +
               (d.flagTarget ? " takes no value" : " needs a value");
    }
    return "malformed option " + spelled;
}

std::string Options::unknownOptionMessage(const std::string& spelled) const {
    std::vector<Spelling> spellings = {{"-h", "-h"}, {"--help", "--help"}};
    for (const Declared& d : declared_) {
        for (const std::string& name : d.names) spellings.push_back({name, name});
        for (const std::string& alias : d.aliases) spellings.push_back({alias, displayName(d.names)});
    }
    return "unknown option " + spelled + didYouMean(spelled, spellings);
}

bool Options::parse(const Args& args) {
    if (describedTree != nullptr) {
        define(describedCommand(*describedTree, command_));
        return false;
    }
    CLI::App app("", "corvane " + command_);
    const std::vector<Defined> options = define(app);
    // Unknown options are collected and reported below in the tool's words.
    app.allow_extras(true);
    positional_.clear();
    app.add_option("arguments", positional_);

    // CLI11 reads a reversed vector and pops each argument it has read off
    // its back, so what is left tells which argument it stopped at.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        std::fputs((help_ + "\noptions:\n" + optionList(optionDocs(app))).c_str(), stdout);
        return false;
    } catch (const CLI::ArgumentMismatch&) {
        // An option without its value at the end, or a flag given one
        // ("--raw=yes"): either way the last argument read.
        fail(reversed.size() < args.size() ? mismatchMessage(args[args.size() - reversed.size() - 1])
                                            : "malformed options");
    } catch (const CLI::ParseError& e) {
        fail(e.what());
    }

    // Positional arguments after "--" that CLI11 did not place are kept in
    // order; anything else left over is an option nobody declared.
    for (const std::string& extra : app.remaining()) {
        if (extra == "--") continue;
        if (extra.size() > 1 && extra[0] == '-') fail(unknownOptionMessage(extra));
        positional_.push_back(extra);
    }
    for (std::size_t i = 0; i < declared_.size(); ++i) {
        const Declared& d = declared_[i];
        const auto [shown, hidden] = options[i];
        const std::size_t count = shown->count() + (hidden != nullptr ? hidden->count() : 0);
        if (count > 1) fail("option " + displayName(d.names) + " given twice");
        if (d.flagTarget != nullptr) *d.flagTarget = count == 1;
        if (d.valueTarget != nullptr && count == 1)
            *d.valueTarget = (shown->count() == 1 ? shown : hidden)->results().front();
    }
    return true;
}

void Options::allowAtMostPositional(std::size_t max) const {
    if (positional_.size() > max)
        fail(max == 0 ? "unexpected argument " + positional_[0] : "too many arguments");
}

// The declarations read back as plain data (option_list.h).

CLI::Validator suggestedValues(const std::vector<std::string>& words) {
    return CLI::Validator([](std::string&) { return std::string(); }, "", kSuggestedPrefix + joined(words, " "));
}

std::vector<OptionDoc> optionDocs(CLI::App& app) {
    std::vector<OptionDoc> docs;
    // Old spellings (Options::alias) are in no group and stay unlisted.
    for (CLI::Option* option :
         app.get_options([](const CLI::Option* o) { return o->nonpositional() && !o->get_group().empty(); })) {
        OptionDoc doc;
        for (const std::string& name : option->get_snames()) doc.spellings.push_back("-" + name);
        for (const std::string& name : option->get_lnames()) doc.spellings.push_back("--" + name);
        if (option->get_items_expected_max() != 0) doc.valueName = option->get_type_name();
        doc.help = option->get_description();
        doc.suggested = suggestedValuesOf(*option);
        doc.isHelp = option->check_lname("help");
        docs.push_back(std::move(doc));
    }
    return docs;
}

void addTopLevelOptions(CLI::App& app, bool& help, bool& version) {
    app.set_help_flag();
    app.add_flag("-h,--help", help, "this text");
    app.add_flag("--version", version, "the tool's version");
}

ToolDoc describeTool() {
    CLI::App tree("", "corvane");
    // The flags' targets: the tree is only read, never parsed.
    bool help = false, version = false;
    addTopLevelOptions(tree, help, version);
    Options::describeInto(&tree);
    for (const ToolCommand& command : toolCommands()) command.run({});
    Options::describeInto(nullptr);
    ToolDoc tool{optionDocs(tree), {}};
    for (CLI::App* command : tree.get_subcommands({})) documentCommand(*command, command->get_name(), tool);
    return tool;
}

unsigned long long Options::count(const std::optional<std::string>& text, const std::string& name,
                                  unsigned long long low, unsigned long long high,
                                  unsigned long long fallback) const {
    if (!text) return fallback;
    unsigned long long value = 0;
    auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (text->empty() || ec != std::errc() || end != text->data() + text->size() || value < low ||
        value > high)
        fail(name + " takes " + std::to_string(low) + " to " + std::to_string(high));
    return value;
}

}  // namespace corvane::tool
