/* SPDX-License-Identifier: BSD-3-Clause */
/* The data-source kit's one piece of code: promotion to global symbols. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <syslog.h>

#include "datasource/qv_wlan_datasource.h"

/* NULL when done, else why not. dladdr on a function of this library names
 * the file it was loaded from; dlopen of the same file with RTLD_NOLOAD only
 * changes its scope. */
static const char *promote(void) {
    static char reason[512];
    Dl_info info;
    if (!dladdr((void *)&qv_wlan_promote_to_global, &info) || !info.dli_fname) return "dladdr names no file";
    dlerror(); /* no older error in the reason */
    if (dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_GLOBAL)) return NULL;
    const char *why = dlerror();
    if (why)
        snprintf(reason, sizeof reason, "%s", why);
    else
        snprintf(reason, sizeof reason, "%s is not open as a shared library", info.dli_fname);
    return reason;
}

int qv_wlan_promote_to_global(void) { return promote() ? -1 : 0; }

void qv_wlan_dlmod_init(const char *name) {
    const char *why = promote();
    if (!why) return;
    /* snmpd's log when loaded by it, found at run time: the kit needs no
     * Net-SNMP at link time. */
    int (*snmp_log_fn)(int, const char *, ...) = (int (*)(int, const char *, ...))dlsym(RTLD_DEFAULT, "snmp_log");
    if (snmp_log_fn)
        snmp_log_fn(LOG_ERR, "%s: cannot make data-source symbols global: %s\n", name, why);
    else
        fprintf(stderr, "%s: cannot make data-source symbols global: %s\n", name, why);
}
