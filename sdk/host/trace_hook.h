// The bridge's developer trace: lines such as "%s: Subscribing to event: %s" that describe what the
// bridge does. They are checked like printf formats and then discarded; nothing reaches the log.

#pragma once

namespace Quarn {

// Discards a trace line. The format attribute keeps the lines' arguments well-typed.
__attribute__((format(printf, 1, 2))) inline void Trace(const char* format, ...) {
  (void)format;
}

}  // namespace Quarn
