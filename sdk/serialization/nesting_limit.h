// kMaxNestingDepth lives with the values whose host form it also bounds; this header keeps the old path
// working.

#pragma once

#include "sdk/binding/nesting_limit.h"
