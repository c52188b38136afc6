// Names that must not outlive the tool when a signal stops it: a named
// temporary that holds part of a result (a decrypted message, a key).
//
// While a RemovalOnSignal holds a name, SIGINT, SIGTERM, SIGHUP and SIGQUIT
// remove it before the tool ends: the handler unlinks every name held, puts
// back the signal's default action and raises the signal again, so that the
// exit status still tells which signal it was. A signal that the tool was
// started with ignored (nohup's SIGHUP) stays ignored. SIGKILL cannot be
// caught: temporary_names.h says what happens to those names then.
#ifndef CORVANE_TOOL_REMOVAL_ON_SIGNAL_H
#define CORVANE_TOOL_REMOVAL_ON_SIGNAL_H

#include <string>

namespace corvane::tool {

class RemovalOnSignal {
public:
    RemovalOnSignal() = default;
    ~RemovalOnSignal() { clear(); }
    RemovalOnSignal(const RemovalOnSignal&) = delete;
    RemovalOnSignal& operator=(const RemovalOnSignal&) = delete;

    // Holds name (at most 255 bytes) in the folder open at directory, in
    // place of what this object held before; the handlers are installed on
    // first use. Hold the name before the file is made, so that no moment
    // is left uncovered. Fails (a ToolError) when the tool already holds as
    // many names as it has room for.
    void hold(int directory, const std::string& name);
    // Lets the name go (it was renamed, or removed).
    void clear() noexcept;

private:
    int slot_ = -1;
};

}  // namespace corvane::tool

#endif
