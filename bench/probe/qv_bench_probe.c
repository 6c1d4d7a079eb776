/* SPDX-License-Identifier: BSD-3-Clause */
/*
 * qv_bench_probe.so: lets the benchmark driver read the data source's
 * statistics for exactly one walk. A GET of 1.3.6.1.4.1.32473.1.1.1.1.98.1.0
 * answers "first_calls next_calls live_blocks peak_live_blocks release_errors"
 * since the previous GET, then restarts the statistics (the peak restarts at
 * the blocks live now). Read before and after a walk, the second answer is the
 * walk's own.
 *
 * The statistics come from qv_sim_get_stats/qv_sim_reset_stats of whichever data
 * source was loaded (globally) before this module; without one it answers
 * "none".
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

#include "qv_wlan_sim.h"

typedef void (*stats_fn)(struct qv_sim_stats *);
typedef void (*reset_fn)(void);
typedef void (*floor_fn)(uint32_t out[4], int reset);
static stats_fn get_stats;
static reset_fn reset_stats;
static floor_fn floor_stats;

static void fill_text(char *text, size_t size) {
    /* Looked up on use: the floor is loaded after the probe. */
    if (!floor_stats) floor_stats = (floor_fn)dlsym(RTLD_DEFAULT, "qv_bench_floor_stats");
    text[0] = 0;
    size_t used = 0;
    if (get_stats && reset_stats) {
        struct qv_sim_stats s;
        get_stats(&s);
        used += (size_t)snprintf(text, size, "ds_first=%u ds_next=%u ds_live=%u ds_peak=%u ds_release_errors=%u ",
                                 s.first_calls, s.next_calls, s.live_blocks, s.peak_live_blocks, s.release_errors);
        reset_stats();
    }
    if (floor_stats) {
        uint32_t f[4];
        floor_stats(f, 1);
        snprintf(text + used, size - used, "it_first=%u it_next=%u kept=%u kept_peak=%u", f[0], f[1], f[2], f[3]);
    }
}

static int probe_handler(netsnmp_mib_handler *handler, netsnmp_handler_registration *reginfo,
                         netsnmp_agent_request_info *reqinfo, netsnmp_request_info *requests) {
    (void)handler;
    (void)reginfo;
    if (reqinfo->mode != MODE_GET) return SNMP_ERR_NOERROR;
    /* The agent may call the handler more than once for one PDU; answer
     * every call of the same PDU alike and reset only once. */
    static long last_reqid = -1;
    static char text[256] = "";
    long reqid = reqinfo->asp && reqinfo->asp->pdu ? reqinfo->asp->pdu->reqid : -2;
    if (reqid != last_reqid || reqid == -2) {
        last_reqid = reqid;
        fill_text(text, sizeof text);
    }
    for (netsnmp_request_info *r = requests; r; r = r->next)
        snmp_set_var_typed_value(r->requestvb, ASN_OCTET_STR, text, strlen(text));
    return SNMP_ERR_NOERROR;
}

__attribute__((visibility("default"))) void init_qv_bench_probe(void) {
    static const oid probe_oid[] = {1, 3, 6, 1, 4, 1, 32473, 1, 1, 1, 1, 98, 1, 0};
    get_stats = (stats_fn)dlsym(RTLD_DEFAULT, "qv_sim_get_stats");
    reset_stats = (reset_fn)dlsym(RTLD_DEFAULT, "qv_sim_reset_stats");
    netsnmp_register_instance(netsnmp_create_handler_registration("qvBenchProbe", probe_handler, probe_oid,
                                                                  OID_LENGTH(probe_oid), HANDLER_CAN_RONLY));
}
