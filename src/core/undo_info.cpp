// SPDX-License-Identifier: BSD-3-Clause
// Release helper for a two-level heap object; exported for callers that
// keep undo information, not used by the module itself.
#include "core/qv_if_iterate.h"

#include <stdlib.h>

extern "C" void qv_if_iterate_free_undoInfo(void *holder) {
    if (!holder) return;
    void **first = static_cast<void **>(holder);
    if (*first) {
        free(*first);
        *first = nullptr;
    }
    free(holder);
}
