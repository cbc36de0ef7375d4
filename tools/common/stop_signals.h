// How gox-host and gox-services wait to be stopped: SIGINT or SIGTERM, taken synchronously.

#pragma once

namespace GoxTools {

// Blocks SIGINT and SIGTERM in the calling thread, so that every thread it starts from then on inherits
// the mask and WaitForStopSignal is the one place that takes them; ignores SIGPIPE, so that a client
// gone away mid-answer is a failed write and not the end of the process. Call before starting threads.
void BlockStopSignals();

// Waits for SIGINT or SIGTERM and returns its name ("SIGINT" or "SIGTERM").
// REQUIRES: BlockStopSignals() was called first.
[[nodiscard]] const char* WaitForStopSignal();

}  // namespace GoxTools
