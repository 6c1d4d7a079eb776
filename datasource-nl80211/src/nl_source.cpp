// SPDX-License-Identifier: BSD-3-Clause
#include "nl_source.h"

#include <dlfcn.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <unordered_map>

#include "datasource/qv_wlan_datasource.h"
#include "nl_parse.h"
#include "nl_records.h"

namespace qvnl {
namespace {

struct Config {
    bool loaded_env = false;
    int64_t max_age_ns = kDefaultMaxAgeNs;
    std::string leases;
    std::string hostapd = kDefaultHostapdDir;
    bool trace = false;
};

Config &config() {
    static Config c;
    if (!c.loaded_env) {
        c.loaded_env = true;
        int64_t ns;
        if (const char *age = std::getenv("QV_NL80211_SNAPSHOT_AGE")) {
            if (parse_age(age, ns))
                c.max_age_ns = ns;
            else
                log_line(LOG_WARNING, std::string("qv_wlan_nl80211: ignoring QV_NL80211_SNAPSHOT_AGE=") + age +
                                          " (want seconds >= 0)");
        }
        if (const char *leases = std::getenv("QV_NL80211_LEASES")) c.leases = leases;
        if (const char *dir = std::getenv("QV_NL80211_HOSTAPD")) set_hostapd_dir(dir);
        if (const char *trace = std::getenv("QV_NL80211_TRACE")) c.trace = *trace && *trace != '0';
    }
    return c;
}

int64_t (*g_clock)() = monotonic_ns;
std::unique_ptr<Backend> g_backend;
uint64_t g_requests = 0;
uint64_t g_snapshots[KIND_COUNT] = {};
const char *const kKindNames[KIND_COUNT] = {"interfaces", "associations", "radio statistics",
                                            "virtual interface statistics", "radio attributes"};

Backend &backend() {
    if (!g_backend) g_backend = make_netlink_backend();
    return *g_backend;
}

template <typename Rec>
struct Table {
    bool valid = false;
    bool failing = false;
    int64_t taken_ns = 0;
    Rows<Rec> rows;
    /* Row position by cursor, so a next call finds its place in O(1). */
    std::unordered_map<uint32_t, uint32_t> pos;
};

Table<qv_wlan_if_entry> g_if;
Table<qv_wlan_ass_entry> g_ass;
Table<qv_wlan_radio_statis_entry> g_radio_stats;
Table<qv_wlan_virtual_statis_entry> g_vif_stats;
Table<qv_wlan_radio_attr_entry> g_radio_attr;

template <typename Rec>
void refresh(Table<Rec> &t, KindId kind, Rows<Rec> (*build)(const RawState &), int64_t now) {
    uint64_t before = g_requests;
    RawState state;
    std::string err;
    bool ok = backend().collect(needs_of(kind), state, err);
    t.rows = ok ? build(state) : Rows<Rec>{};
    t.pos.clear();
    for (uint32_t i = 0; i < t.rows.cursors.size(); ++i) t.pos.emplace(t.rows.cursors[i], i);
    t.valid = true;
    t.taken_ns = now;
    ++g_snapshots[kind];
    /* A failure stretch is logged once, not once per walk. */
    if (!ok && !t.failing)
        log_line(LOG_ERR, std::string("qv_wlan_nl80211: cannot read ") + kKindNames[kind] + ": " + err);
    t.failing = !ok;
    if (config().trace) {
        std::ostringstream line;
        line << "qv_wlan_nl80211: snapshot of " << kKindNames[kind] << ": " << t.rows.records.size() << " rows, "
             << (g_requests - before) << " netlink requests (total " << g_requests << ")";
        if (needs_of(kind) & NEED_HOSTAPD)
            line << ", hostapd " << state.hostapd.size() << " answers in " << state.hostapd_ms << " ms";
        log_line(LOG_INFO, line.str());
    }
}

template <typename Rec>
int first(Table<Rec> &t, KindId kind, Rows<Rec> (*build)(const RawState &), uint32_t *cursor, Rec *entry) {
    if (!cursor || !entry) return 1;
    try {
        int64_t now = g_clock();
        int64_t age = config().max_age_ns;
        if (!t.valid || age == 0 || now - t.taken_ns >= age || now < t.taken_ns) refresh(t, kind, build, now);
    } catch (...) {
        t = Table<Rec>{};
        return 1;
    }
    if (t.rows.records.empty()) return 1;
    *entry = t.rows.records[0];
    *cursor = t.rows.cursors[0];
    return 0;
}

template <typename Rec>
int next(const Table<Rec> &t, uint32_t *cursor, Rec *entry) {
    if (!cursor || !entry || !t.valid) return 1;
    auto it = t.pos.find(*cursor);
    if (it == t.pos.end()) return 1;
    size_t p = it->second + 1;
    if (p >= t.rows.records.size()) return 1;
    *entry = t.rows.records[p];
    *cursor = t.rows.cursors[p];
    return 0;
}

} // namespace

int64_t monotonic_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

unsigned needs_of(KindId kind) {
    switch (kind) {
    case KIND_IF: return NEED_IFACES | NEED_LINKS;
    case KIND_ASS: return NEED_IFACES | NEED_STATIONS | NEED_NEIGH | NEED_LEASES | NEED_HOSTAPD;
    case KIND_RADIO_STATS:
    case KIND_VIF_STATS: return NEED_IFACES | NEED_LINKS | NEED_STATIONS;
    case KIND_RADIO_ATTR: return NEED_IFACES | NEED_SURVEY;
    default: return 0;
    }
}

bool parse_age(const char *text, int64_t &ns) {
    if (!text) return false;
    char *end = nullptr;
    errno = 0;
    double s = std::strtod(text, &end);
    if (end == text || errno || !std::isfinite(s) || s < 0 || s > 86400.0) return false;
    while (*end == ' ' || *end == '\t' || *end == '\n') ++end;
    if (*end) return false;
    ns = static_cast<int64_t>(std::llround(s * 1e9));
    return true;
}

void set_max_age_ns(int64_t ns) { config().max_age_ns = ns < 0 ? 0 : ns; }
int64_t max_age_ns() { return config().max_age_ns; }
void set_leases_path(const std::string &path) { config().leases = path; }
const std::string &leases_path() { return config().leases; }
void set_hostapd_dir(const std::string &dir) { config().hostapd = dir == "none" ? "" : dir; }
const std::string &hostapd_dir() { return config().hostapd; }
UniqueFd::~UniqueFd() {
    if (fd >= 0) close(fd);
}

void set_backend(std::unique_ptr<Backend> b) {
    g_backend = std::move(b);
    drop_snapshots();
}
void set_clock(int64_t (*now_ns)()) { g_clock = now_ns ? now_ns : monotonic_ns; }
void drop_snapshots() {
    g_if = {};
    g_ass = {};
    g_radio_stats = {};
    g_vif_stats = {};
    g_radio_attr = {};
}
uint64_t snapshot_count(KindId kind) { return g_snapshots[kind]; }
void count_request() { ++g_requests; }

void log_line(int priority, const std::string &text) {
    /* snmp_log when running inside the agent, found at run time so the
     * library needs no Net-SNMP at link time. */
    using snmp_log_fn = int (*)(int, const char *, ...);
    static snmp_log_fn fn = reinterpret_cast<snmp_log_fn>(dlsym(RTLD_DEFAULT, "snmp_log"));
    if (fn)
        fn(priority, "%s\n", text.c_str());
    else
        std::fprintf(stderr, "%s\n", text.c_str());
}

} // namespace qvnl

using namespace qvnl;

extern "C" {

QV_WLAN_DATASOURCE_API int qv_wlan_get_first_if(uint32_t *cursor, qv_wlan_if_entry *entry) {
    return first(g_if, KIND_IF, build_if_rows, cursor, entry);
}
QV_WLAN_DATASOURCE_API int qv_wlan_get_next_if(uint32_t *cursor, qv_wlan_if_entry *entry) {
    return next(g_if, cursor, entry);
}

QV_WLAN_DATASOURCE_API int qv_wlan_get_first_ass(uint32_t *cursor, qv_wlan_ass_entry *entry, int /*flag, always 1*/) {
    return first(g_ass, KIND_ASS, build_ass_rows, cursor, entry);
}
QV_WLAN_DATASOURCE_API int qv_wlan_get_next_ass(uint32_t *cursor, qv_wlan_ass_entry *entry) {
    return next(g_ass, cursor, entry);
}

QV_WLAN_DATASOURCE_API int qv_wlan_get_first_radio_statis_entry(uint32_t *cursor, qv_wlan_radio_statis_entry *entry) {
    return first(g_radio_stats, KIND_RADIO_STATS, build_radio_stats_rows, cursor, entry);
}
QV_WLAN_DATASOURCE_API int qv_wlan_get_next_radio_statis_entry(uint32_t *cursor, qv_wlan_radio_statis_entry *entry) {
    return next(g_radio_stats, cursor, entry);
}

QV_WLAN_DATASOURCE_API int qv_wlan_get_first_virtual_statis_entry(uint32_t *cursor,
                                                                  qv_wlan_virtual_statis_entry *entry) {
    return first(g_vif_stats, KIND_VIF_STATS, build_vif_stats_rows, cursor, entry);
}
QV_WLAN_DATASOURCE_API int qv_wlan_get_next_virtual_statis_entry(uint32_t *cursor,
                                                                 qv_wlan_virtual_statis_entry *entry) {
    return next(g_vif_stats, cursor, entry);
}

QV_WLAN_DATASOURCE_API int qv_wlan_get_first_radio_attr_entry(uint32_t *cursor, qv_wlan_radio_attr_entry *entry) {
    return first(g_radio_attr, KIND_RADIO_ATTR, build_radio_attr_rows, cursor, entry);
}
QV_WLAN_DATASOURCE_API int qv_wlan_get_next_radio_attr_entry(uint32_t *cursor, qv_wlan_radio_attr_entry *entry) {
    return next(g_radio_attr, cursor, entry);
}

QV_WLAN_DATASOURCE_API int qv_free_ref_mem(void *record) {
    if (!record) return -1;
    qv_wlan_release_block(record);
    return 0;
}

/* Netlink requests sent so far, and snapshots taken per kind (0..4 in the
 * order interfaces, associations, radio statistics, virtual interface
 * statistics, radio attributes): lets a test prove that a walk costs one set
 * of dumps per snapshot age. */
QV_WLAN_DATASOURCE_API unsigned long long qv_nl80211_request_count(void) { return g_requests; }
QV_WLAN_DATASOURCE_API unsigned long long qv_nl80211_snapshot_count(int kind) {
    return kind >= 0 && kind < KIND_COUNT ? g_snapshots[kind] : 0;
}

static void config_age(const char *token, char *line) {
    int64_t ns;
    if (parse_age(line, ns))
        set_max_age_ns(ns);
    else
        log_line(LOG_ERR,
                 std::string("qv_wlan_nl80211: ") + token + ": want seconds >= 0, got '" + (line ? line : "") + "'");
}
static std::string config_value(const char *line) {
    std::string value = line ? line : "";
    while (!value.empty() && (value.back() == ' ' || value.back() == '\n')) value.pop_back();
    return value;
}
static void config_leases(const char *, char *line) { set_leases_path(config_value(line)); }
static void config_hostapd(const char *, char *line) { set_hostapd_dir(config_value(line)); }

/* snmpd's dlmod entry. dlmod opens us with local scope, which would hide
 * the qv_wlan_* functions from the module loaded after us: promote this
 * library to global scope. Also adds three snmpd.conf directives. */
QV_WLAN_DATASOURCE_API void init_qv_wlan_nl80211(void) {
    qv_wlan_dlmod_init("qv_wlan_nl80211");
    config(); /* read the environment before the directives may override it */
    using parser_fn = void (*)(const char *, char *);
    using register_fn = void *(*)(const char *, parser_fn, void (*)(void), const char *);
    if (auto reg = reinterpret_cast<register_fn>(dlsym(RTLD_DEFAULT, "register_app_config_handler"))) {
        reg("qvNl80211SnapshotAge", config_age, nullptr, "seconds (0: a fresh snapshot on every walk)");
        reg("qvNl80211Leases", config_leases, nullptr, "path of a dnsmasq leases file");
        reg("qvNl80211Hostapd", config_hostapd, nullptr, "hostapd's ctrl_interface directory, or none");
    }
}

} // extern "C"
