// SPDX-License-Identifier: BSD-3-Clause
// A second start-up function; it registers nothing and only announces itself
// when agent debugging is on.
#include "core/qv_if_iterate.h"

extern "C" void qv_if_scalar(void) { DEBUGMSGTL(("qv_if_scalar", "Initializing\n")); }
