// SPDX-License-Identifier: BSD-3-Clause
// Loading the sim into snmpd with `dlmod qv_wlan_sim /path/qv_wlan_sim.so`:
// the data-source symbols are made global for the modules loaded after it,
// the qvSimConfig directive is registered, and the sim's counters are
// published as read-only diagnostic scalars.
#include "sim_internal.h"
#include "qv_wlan_sim.h"


#include <cctype>
#include <cstring>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

namespace {

// 1.3.6.1.4.1.32473.1.1.1.99.<n>.0: test and diagnostic use only, outside the
// module's subtree.
const oid stats_root[] = {1, 3, 6, 1, 4, 1, 32473, 1, 1, 1, 99};
constexpr size_t stats_root_len = sizeof stats_root / sizeof stats_root[0];

struct Scalar {
    const char *name;
    u_char type;
};

const Scalar scalars[] = {
    {"qvSimLiveBlocks", ASN_GAUGE},     {"qvSimPeakLiveBlocks", ASN_GAUGE},  {"qvSimFirstCalls", ASN_COUNTER},
    {"qvSimNextCalls", ASN_COUNTER},    {"qvSimReleaseErrors", ASN_COUNTER}, {"qvSimConfigLoads", ASN_COUNTER},
    {"qvSimConfigErrors", ASN_COUNTER},
};
constexpr size_t scalar_count = sizeof scalars / sizeof scalars[0];

netsnmp_handler_registration *registrations[scalar_count];
bool directive_registered = false;

uint32_t stat_value(const qv_sim_stats &s, size_t which) {
    switch (which) {
    case 0: return s.live_blocks;
    case 1: return s.peak_live_blocks;
    case 2: return s.first_calls;
    case 3: return s.next_calls;
    case 4: return s.release_errors;
    case 5: return s.config_loads;
    default: return s.config_errors;
    }
}

int stats_handler(netsnmp_mib_handler *, netsnmp_handler_registration *reg, netsnmp_agent_request_info *reqinfo,
                  netsnmp_request_info *requests) {
    if (reqinfo->mode != MODE_GET) return SNMP_ERR_NOERROR;
    const size_t which = reinterpret_cast<uintptr_t>(reg->my_reg_void);
    qv_sim_stats s;
    qv_sim_get_stats(&s);
    for (netsnmp_request_info *r = requests; r; r = r->next)
        snmp_set_var_typed_integer(r->requestvb, scalars[which].type, static_cast<long>(stat_value(s, which)));
    return SNMP_ERR_NOERROR;
}

void register_stats() {
    for (size_t i = 0; i < scalar_count; ++i) {
        if (registrations[i]) continue;
        oid name[stats_root_len + 1];
        std::memcpy(name, stats_root, sizeof stats_root);
        name[stats_root_len] = static_cast<oid>(i + 1);
        netsnmp_handler_registration *reg = netsnmp_create_handler_registration(scalars[i].name, stats_handler, name,
                                                                                stats_root_len + 1, HANDLER_CAN_RONLY);
        if (!reg) continue;
        reg->my_reg_void = reinterpret_cast<void *>(static_cast<uintptr_t>(i));
        if (netsnmp_register_scalar(reg) == MIB_REGISTERED_OK)
            registrations[i] = reg;
        else
            snmp_log(LOG_ERR, "qv_wlan_sim: could not register %s\n", scalars[i].name);
    }
}

void parse_sim_config(const char *, char *line) {
    char *start = line;
    while (*start && std::isspace(static_cast<unsigned char>(*start))) ++start;
    char *end = start + std::strlen(start);
    while (end > start && std::isspace(static_cast<unsigned char>(end[-1]))) *--end = '\0';
    if (!*start) {
        config_perror("qvSimConfig needs the path of an access point description");
        return;
    }
    qv_sim_load_file(start); // a bad file is logged here, at start-up
}

} // namespace

extern "C" QV_WLAN_DATASOURCE_API void init_qv_wlan_sim(void) {
    // dlmod opens modules with local scope: a module loaded later could not
    // resolve the data-source functions from this library.
    qv_wlan_dlmod_init("qv_wlan_sim");
    if (!directive_registered) {
        register_config_handler("snmpd", "qvSimConfig", parse_sim_config, nullptr,
                                "PATH (JSON access point description)");
        directive_registered = true;
    }
    register_stats();
}

extern "C" QV_WLAN_DATASOURCE_API void deinit_qv_wlan_sim(void) {
    for (auto &reg : registrations) {
        if (reg) netsnmp_unregister_handler(reg);
        reg = nullptr;
    }
    if (directive_registered) unregister_config_handler("snmpd", "qvSimConfig");
    directive_registered = false;
}
