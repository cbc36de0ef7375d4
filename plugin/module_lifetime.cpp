// Work tied to the module's mapping into the process: the event-trace providers are registered when
// the module loads and unregistered when it unloads.

#include "sdk/diagnostics/trace_providers.h"

namespace {

__attribute__((constructor)) void OnModuleLoad() {
  Quarn::RegisterTraceProviders();
}

__attribute__((destructor)) void OnModuleUnload() {
  Quarn::UnregisterTraceProviders();
}

}  // namespace
