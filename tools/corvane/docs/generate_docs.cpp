// corvane_docs: writes the bash completion script and the manual page of
// corvane from the tool's own option declarations; the build runs it.
//
//   corvane_docs completion OUT
//   corvane_docs manual TEMPLATE OUT
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "tools/corvane/docs/completion_script.h"
#include "tools/corvane/docs/manual_page.h"
#include "tools/corvane/options/option_list.h"

namespace {

bool writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace corvane::tool;
    const std::string what = argc > 1 ? argv[1] : "";
    const ToolDoc tool = describeTool();
    std::string text, out;
    if (what == "completion" && argc == 3) {
        text = docs::completionScript(tool);
        out = argv[2];
    } else if (what == "manual" && argc == 4) {
        std::ifstream in(argv[2], std::ios::binary);
        std::stringstream pageTemplate;
        pageTemplate << in.rdbuf();
        if (!in) {
            std::fprintf(stderr, "corvane_docs: cannot read %s\n", argv[2]);
            return 1;
        }
        text = docs::manualPage(pageTemplate.str(), tool);
        out = argv[3];
    } else {
        std::fprintf(stderr, "usage: corvane_docs completion OUT | manual TEMPLATE OUT\n");
        return 2;
    }
    if (!writeFile(out, text)) {
        std::fprintf(stderr, "corvane_docs: cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}
