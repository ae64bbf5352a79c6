#include "dm/trace.h"

namespace dm {

namespace {

// Process-wide; everything runs on the user-interface thread.
TraceSink &sink()
{
    static TraceSink instance;
    return instance;
}

} // namespace

void setTraceSink(TraceSink newSink)
{
    sink() = std::move(newSink);
}

bool tracing()
{
    return bool(sink());
}

void trace(const TraceEntry &entry)
{
    if (sink())
        sink()(entry);
}

} // namespace dm
