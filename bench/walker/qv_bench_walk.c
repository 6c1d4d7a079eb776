/* SPDX-License-Identifier: BSD-3-Clause */
/*
 * qv_bench_walk: one timed walk of a subtree with Net-SNMP's client library,
 * GETNEXT or GETBULK, against an agent on 127.0.0.1. Prints one JSON line:
 * wall time, the agent's CPU ticks spent during the walk (/proc/PID/stat),
 * varbinds and PDUs, an FNV-1a hash of every returned name and value (so two
 * servers' answers can be compared), and the benchmark probe's statistics for
 * the walk when asked.
 *
 *   qv_bench_walk -p PORT -o OID [-m next|bulk] [-r MAXREP] [-P PID[,PID..]] [-s]
 *                 [-t TIMEOUT_S] [-g] [-n N]
 *   -s  read the probe (1.3.6.1.4.1.32473.1.1.1.1.98.1.0) before and after
 *   -g  only GET OID until it answers (readiness check), at most TIMEOUT_S
 *   -n  stop after N PDUs (warm-up requests)
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

/* Bounds every loop: no walk here returns more PDUs than this. */
#define MAX_PDUS 2000000L

static double now_s(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

static long cpu_ticks_one(long pid) {
    if (pid <= 0) return -1;
    char path[64], buf[1024];
    snprintf(path, sizeof path, "/proc/%ld/stat", pid);
    FILE *f = fopen(path, "r");
    if (!f) return -1;
    size_t n = fread(buf, 1, sizeof buf - 1, f);
    fclose(f);
    buf[n] = 0;
    const char *p = strrchr(buf, ')');
    if (!p) return -1;
    unsigned long utime = 0, stime = 0;
    /* after ")": state(3) ppid pgrp session tty tpgid flags minflt cminflt majflt cmajflt utime(14) stime(15) */
    if (sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) != 2) return -1;
    return (long)(utime + stime);
}

/* Sum over a comma-separated list of PIDs (snmpd and, for pass_persist, its script). */
static long cpu_ticks(const char *pids) {
    if (!pids) return -1;
    long total = 0;
    const char *p = pids;
    for (int i = 0; i < 8 && *p; ++i) {
        char *end;
        long t = cpu_ticks_one(strtol(p, &end, 10));
        if (t < 0) return -1;
        total += t;
        if (*end != ',') break;
        p = end + 1;
    }
    return total;
}

static uint64_t fnv(uint64_t h, const void *data, size_t len) {
    const unsigned char *p = data;
    for (size_t i = 0; i < len; ++i) h = (h ^ p[i]) * 1099511628211ULL;
    return h;
}

static netsnmp_pdu *request(void *ss, int type, const oid *name, size_t len, long maxrep) {
    netsnmp_pdu *pdu = snmp_pdu_create(type);
    if (type == SNMP_MSG_GETBULK) {
        pdu->non_repeaters = 0;
        pdu->max_repetitions = maxrep;
    }
    snmp_add_null_var(pdu, name, len);
    netsnmp_pdu *response = NULL;
    int status = snmp_sess_synch_response(ss, pdu, &response);
    if (status != STAT_SUCCESS || !response || response->errstat != SNMP_ERR_NOERROR) {
        if (response) snmp_free_pdu(response);
        return NULL;
    }
    return response;
}

static int probe(void *ss, char *out, size_t outlen) {
    static const oid probe_oid[] = {1, 3, 6, 1, 4, 1, 32473, 1, 1, 1, 1, 98, 1, 0};
    netsnmp_pdu *r = request(ss, SNMP_MSG_GET, probe_oid, OID_LENGTH(probe_oid), 0);
    if (!r) return -1;
    int ok = r->variables && r->variables->type == ASN_OCTET_STR;
    if (ok) {
        size_t n = r->variables->val_len < outlen - 1 ? r->variables->val_len : outlen - 1;
        memcpy(out, r->variables->val.string, n);
        out[n] = 0;
    }
    snmp_free_pdu(r);
    return ok ? 0 : -1;
}

static void usage(void) {
    fprintf(stderr, "usage: qv_bench_walk -p PORT -o OID [-m next|bulk] [-r MAXREP] [-P PID] [-s] [-t S] [-g]\n");
    exit(2);
}

int main(int argc, char **argv) {
    const char *port = NULL, *oid_text = NULL, *mode = "next";
    const char *pids = NULL;
    long maxrep = 25, timeout = 30, max_pdus = MAX_PDUS;
    int use_probe = 0, ready_check = 0, opt;
    while ((opt = getopt(argc, argv, "p:o:m:r:P:st:gn:")) != -1) {
        switch (opt) {
        case 'p': port = optarg; break;
        case 'o': oid_text = optarg; break;
        case 'm': mode = optarg; break;
        case 'r': maxrep = atol(optarg); break;
        case 'P': pids = optarg; break;
        case 's': use_probe = 1; break;
        case 't': timeout = atol(optarg); break;
        case 'g': ready_check = 1; break;
        case 'n': max_pdus = atol(optarg) > 0 && atol(optarg) < MAX_PDUS ? atol(optarg) : MAX_PDUS; break;
        default: usage();
        }
    }
    if (!port || !oid_text) usage();
    int bulk = strcmp(mode, "bulk") == 0;
    if (!bulk && strcmp(mode, "next") != 0) usage();

    /* Numeric OIDs only: no MIB files, no configuration. */
    setenv("MIBS", "", 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    init_snmp("qv_bench_walk");

    oid root[MAX_OID_LEN];
    size_t root_len = MAX_OID_LEN;
    if (!read_objid(oid_text, root, &root_len)) {
        fprintf(stderr, "qv_bench_walk: bad OID %s\n", oid_text);
        return 2;
    }
    char peer[64];
    snprintf(peer, sizeof peer, "udp:127.0.0.1:%s", port);
    netsnmp_session s;
    snmp_sess_init(&s);
    s.peername = peer;
    s.version = SNMP_VERSION_2c;
    s.community = (u_char *)"public";
    s.community_len = 6;
    s.retries = 0;
    s.timeout = ready_check ? 200000L : timeout * 1000000L;
    void *ss = snmp_sess_open(&s);
    if (!ss) {
        fprintf(stderr, "qv_bench_walk: cannot open session to %s\n", peer);
        return 2;
    }

    if (ready_check) {
        double deadline = now_s() + (double)timeout;
        for (int tries = 0; tries < 10000 && now_s() < deadline; ++tries) {
            netsnmp_pdu *r = request(ss, SNMP_MSG_GET, root, root_len, 0);
            if (r) {
                snmp_free_pdu(r);
                snmp_sess_close(ss);
                return 0;
            }
            usleep(50000);
        }
        fprintf(stderr, "qv_bench_walk: no answer from %s\n", peer);
        snmp_sess_close(ss);
        return 1;
    }

    char before[128] = "", after[128] = "";
    if (use_probe && probe(ss, before, sizeof before) != 0) {
        fprintf(stderr, "qv_bench_walk: probe not answering\n");
        return 1;
    }

    oid cur[MAX_OID_LEN];
    size_t cur_len = root_len;
    memcpy(cur, root, root_len * sizeof(oid));
    long varbinds = 0, pdus = 0;
    uint64_t hash = 14695981039346656037ULL;
    int failed = 0, done = 0;

    long cpu0 = cpu_ticks(pids);
    double t0 = now_s();
    while (!done && pdus < max_pdus) {
        netsnmp_pdu *r = request(ss, bulk ? SNMP_MSG_GETBULK : SNMP_MSG_GETNEXT, cur, cur_len, maxrep);
        ++pdus;
        if (!r) {
            failed = 1;
            break;
        }
        netsnmp_variable_list *v = r->variables;
        if (!v) done = 1;
        for (; v; v = v->next_variable) {
            if (v->type == SNMP_ENDOFMIBVIEW || v->type == SNMP_NOSUCHOBJECT || v->type == SNMP_NOSUCHINSTANCE ||
                v->name_length < root_len || snmp_oidtree_compare(root, root_len, v->name, v->name_length) != 0) {
                done = 1;
                break;
            }
            if (snmp_oid_compare(v->name, v->name_length, cur, cur_len) <= 0) {
                failed = 1; /* not increasing: the agent would loop */
                done = 1;
                break;
            }
            ++varbinds;
            hash = fnv(hash, v->name, v->name_length * sizeof(oid));
            hash = fnv(hash, &v->type, 1);
            hash = fnv(hash, v->val.string, v->val_len);
            memcpy(cur, v->name, v->name_length * sizeof(oid));
            cur_len = v->name_length;
        }
        snmp_free_pdu(r);
    }
    double t1 = now_s();
    long cpu1 = cpu_ticks(pids);

    if (use_probe && probe(ss, after, sizeof after) != 0) failed = 1;
    snmp_sess_close(ss);

    printf("{\"ok\": %s, \"wall_s\": %.6f, \"cpu_ticks\": %ld, \"ticks_per_s\": %ld, \"varbinds\": %ld, "
           "\"pdus\": %ld, \"hash\": \"%016llx\", \"probe\": \"%s\"}\n",
           failed ? "false" : "true", t1 - t0, (cpu0 >= 0 && cpu1 >= 0) ? cpu1 - cpu0 : -1, sysconf(_SC_CLK_TCK),
           varbinds, pdus, (unsigned long long)hash, after);
    return failed ? 1 : 0;
}
