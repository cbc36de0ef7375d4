// ApiVersion lives with the message formatter that renders it; this header keeps the old path working.

#pragma once

#include "sdk/diagnostics/api_version.h"
