// The three standard streams as the tool relies on them.
#ifndef CORVANE_TOOL_STANDARD_STREAMS_H
#define CORVANE_TOOL_STANDARD_STREAMS_H

namespace corvane::tool {

// Opens /dev/null read-only on each of the descriptors 0, 1 and 2 that is
// closed: the next file opened then cannot take the number of standard
// output and get the output, and a write to it still fails (EBADF) as a
// write to a closed stream does.
void occupyClosedStandardStreams();

}  // namespace corvane::tool

#endif
