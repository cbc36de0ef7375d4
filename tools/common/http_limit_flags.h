// The command-line flags of the HTTP limits that gox-host and gox-services share (--body-limit is
// each tool's own line of --help, since its default differs).

#pragma once

#include <optional>
#include <string>

#include "tools/common/http_server.h"

namespace GoxTools {

// A string literal, so that each tool's usage text is one constant with these lines inside.
#define GOX_HTTP_LIMIT_USAGE                                                                                 \
  "  --header-timeout-ms N    a request's whole header, from its first byte (default 10000)\n"               \
  "  --body-timeout-ms N      a request's body, plus a second per --body-min-rate bytes (default 10000)\n"   \
  "  --body-min-rate BYTES    slowest body upload kept past --body-timeout-ms, per second (default 16384)\n" \
  "  --write-timeout-ms N     each write of an answer to a client that does not read (default 10000)\n"      \
  "  --idle-timeout-s N       keep-alive connections without a request (default 5)\n"                        \
  "  --header-limit BYTES     largest request header (default 16384)\n"                                      \
  "  --max-connections N      open connections in all; more are refused at once (default 10000)\n"           \
  "  --max-client-connections N  open connections from one client address (default 512)\n"                   \
  "  --stream-queue-limit BYTES  events queued for an /events reader that does not read (default 1048576)\n"

// When `flag` is one of the limit flags (or --body-limit): sets it from `value` and tells whether the
// value was good. Nothing for any other flag.
[[nodiscard]] std::optional<bool> ApplyHttpLimitFlag(const std::string& flag, const std::string& value,
                                                     HttpLimits& limits);

}  // namespace GoxTools
