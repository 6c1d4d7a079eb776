/* SPDX-License-Identifier: BSD-3-Clause */
/* The data-source kit's one piece of code: promotion to global symbols. */
#define _GNU_SOURCE
#include <dlfcn.h>

#include "datasource/qv_wlan_datasource.h"

/* dladdr on a function of this library names the file it was loaded from;
 * dlopen of the same file with RTLD_NOLOAD only changes its scope. */
int qv_wlan_promote_to_global(void) {
    Dl_info info;
    if (!dladdr((void *)&qv_wlan_promote_to_global, &info) || !info.dli_fname) return -1;
    return dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_GLOBAL) ? 0 : -1;
}
