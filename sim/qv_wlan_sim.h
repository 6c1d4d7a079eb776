/* SPDX-License-Identifier: BSD-3-Clause */
/*
 * qv_wlan_sim.so: a simulated wireless data source for development, tests and
 * benchmarks. It implements the data-source functions declared in
 * datasource/qv_wlan_datasource.h from a JSON description of an access point
 * (QV_SIM_CONFIG, the snmpd.conf directive qvSimConfig), a generated access
 * point of any size (QV_SIM_GENERATE) or a built-in demo access point.
 *
 * Everything here is for in-process use (tests, benchmarks) and, like the
 * data source itself, is called from one thread at a time.
 * docs/simulated-access-point.md describes the description format.
 */
#ifndef QV_WLAN_SIM_H
#define QV_WLAN_SIM_H

#include <stdint.h>

#include "datasource/qv_wlan_datasource.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Counters since the library was loaded or qv_sim_reset_stats(); the
 * 32-bit ones wrap like SNMP Counter32. */
struct qv_sim_stats {
    uint32_t live_blocks;      /* filled by the sim and not yet freed */
    uint32_t peak_live_blocks; /* most live blocks at any one time */
    uint32_t first_calls;      /* qv_wlan_get_first_* calls, any kind */
    uint32_t next_calls;       /* qv_wlan_get_next_* calls, any kind */
    uint32_t release_errors;   /* qv_free_ref_mem misuse: unknown block, count already 0 */
    uint32_t config_loads;     /* descriptions loaded successfully */
    uint32_t config_errors;    /* descriptions rejected (tables then empty) */
};

void qv_sim_get_stats(struct qv_sim_stats *out);
/* Zeroes the call, error and load counters; the peak restarts at the
 * current number of live blocks. */
void qv_sim_reset_stats(void);

/* Loads a description file now and watches it: it is re-read on a first
 * call whenever it changed on disk. 0 on success; otherwise -1, one line in
 * the agent log and all tables empty. */
int qv_sim_load_file(const char *path);
/* Loads a description from memory; `name` stands for the file in messages. */
int qv_sim_load_json(const char *text, const char *name);
/* Generated access point: `clients` associations, `vifs` interfaces and
 * virtual interface statistics, `radios` radio statistics and attributes. */
int qv_sim_generate(uint32_t clients, uint32_t vifs, uint32_t radios);
/* The built-in demo access point. */
int qv_sim_use_builtin(void);
/* Forgets the description; the next first call chooses again from the
 * qvSimConfig directive, QV_SIM_CONFIG, QV_SIM_GENERATE or the demo. */
void qv_sim_reset(void);
/* The text of the last load error ("" when the last load succeeded). */
const char *qv_sim_last_error(void);

/* Time source for counter rates, in microseconds from any fixed point;
 * NULL restores the monotonic clock. Counters start from their described
 * values when a description is loaded. */
typedef uint64_t (*qv_sim_clock_fn)(void);
void qv_sim_set_clock(qv_sim_clock_fn clock);

/* snmpd's dlmod entry point (dlmod qv_wlan_sim /path/qv_wlan_sim.so):
 * makes the data-source symbols global for modules loaded after it,
 * registers the qvSimConfig directive and the diagnostic scalars under
 * 1.3.6.1.4.1.32473.1.1.1.99. */
void init_qv_wlan_sim(void);
void deinit_qv_wlan_sim(void);

#ifdef __cplusplus
}
#endif

#endif /* QV_WLAN_SIM_H */
