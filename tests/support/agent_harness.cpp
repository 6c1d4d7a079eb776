// In-process agent for tests. Only Net-SNMP's own APIs are used; the client
// talks to the agent through the callback transport that init_agent opens.
#include "agent_harness.h"

#include <stdlib.h>

#include <net-snmp/library/snmpCallbackDomain.h>

#include "core/qv_if_iterate.h"

// Set by init_agent: the agent end of its internal callback transport.
extern "C" int callback_master_num;

namespace qvtest {
namespace agent {
namespace {

std::vector<LogLine> &captured() {
    static auto *lines = new std::vector<LogLine>;
    return *lines;
}

int on_log(int, int, void *server_arg, void *) {
    auto *msg = static_cast<snmp_log_message *>(server_arg);
    if (msg && msg->msg) captured().push_back({msg->priority, msg->msg});
    // QV_TEST_ECHO_LOG=1 shows the agent's log while debugging a test.
    if (msg && msg->msg && getenv("QV_TEST_ECHO_LOG")) fputs(msg->msg, stderr);
    return 0;
}

netsnmp_session *client = nullptr;

Response exchange(netsnmp_pdu *pdu) {
    Response r;
    netsnmp_pdu *response = nullptr;
    int status = snmp_synch_response(client, pdu, &response);
    if (status == STAT_SUCCESS && response) {
        r.ok = true;
        r.errstat = response->errstat;
        r.errindex = response->errindex;
        for (netsnmp_variable_list *v = response->variables; v; v = v->next_variable) {
            Varbind vb;
            vb.name.assign(v->name, v->name + v->name_length);
            vb.type = v->type;
            switch (v->type) {
            case ASN_INTEGER: vb.integer = *v->val.integer; break;
            case ASN_COUNTER:
            case ASN_GAUGE:
            case ASN_TIMETICKS: vb.integer = static_cast<long>(static_cast<unsigned long>(*v->val.integer) & 0xffffffffUL); break;
            case ASN_OCTET_STR:
            case ASN_IPADDRESS:
            case ASN_OPAQUE:
                if (v->val_len) vb.bytes.assign(v->val.string, v->val.string + v->val_len);
                break;
            default: break;
            }
            r.vbs.push_back(vb);
        }
    }
    if (response) snmp_free_pdu(response);
    return r;
}

netsnmp_pdu *make_pdu(int command, const std::vector<std::vector<oid>> &names) {
    netsnmp_pdu *pdu = snmp_pdu_create(command);
    // Access control is the agent's configuration, not the module's concern:
    // in-process requests bypass it, as the agent's own internal queries do.
    pdu->flags |= UCD_MSG_FLAG_ALWAYS_IN_VIEW;
    for (const auto &n : names) snmp_add_null_var(pdu, n.data(), n.size());
    return pdu;
}

const char *const table_names[] = {"qvXIfTable", "qvAssociationTable", "qvRadioStatsTable", "qvVIfStatsTable",
                                   "qvRadioAttributeTable"};

} // namespace

void init() {
    static bool done = false;
    if (done) return;
    done = true;

    // Nothing from the machine's configuration may leak into the tests.
    setenv("SNMPCONFPATH", "/nonexistent-qv-test", 1);
    setenv("MIBS", "", 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_APPLICATION_ID, NETSNMP_DS_AGENT_ROLE, 0 /* master */);

    snmp_register_callback(SNMP_CALLBACK_LIBRARY, SNMP_CALLBACK_LOGGING, on_log, nullptr);
    snmp_enable_calllog();
    snmp_set_do_debugging(0);

    init_agent("qvunit");
    init_snmp("qvunit");

    client = netsnmp_callback_open(callback_master_num, nullptr, nullptr, nullptr);
    if (client) {
        client->version = SNMP_VERSION_2c;
        client->community = reinterpret_cast<u_char *>(strdup("public"));
        client->community_len = 6;
    }
    captured().clear();
}

const std::vector<LogLine> &log() { return captured(); }
void clear_log() { captured().clear(); }

std::string log_text(int max_priority) {
    std::string out;
    for (const auto &l : captured())
        if (l.priority <= max_priority) out += l.text;
    return out;
}

void register_module() { init_qv_if_iterate(); }

void unregister_module() {
    for (unsigned t = 1; t <= 5; ++t) {
        netsnmp_handler_registration *reg = registration_at(table_root(t));
        if (reg && reg->handlerName && strcmp(reg->handlerName, table_names[t - 1]) == 0)
            netsnmp_unregister_handler(reg);
    }
}

netsnmp_handler_registration *registration_at(const std::vector<oid> &name) {
    netsnmp_subtree *sub = netsnmp_subtree_find(name.data(), name.size(), nullptr, "");
    return sub ? sub->reginfo : nullptr;
}

Response get(const std::vector<std::vector<oid>> &names) { return exchange(make_pdu(SNMP_MSG_GET, names)); }
Response getnext(const std::vector<std::vector<oid>> &names) { return exchange(make_pdu(SNMP_MSG_GETNEXT, names)); }
Response getbulk(const std::vector<std::vector<oid>> &names, long non_repeaters, long max_repetitions) {
    netsnmp_pdu *pdu = make_pdu(SNMP_MSG_GETBULK, names);
    pdu->non_repeaters = non_repeaters;
    pdu->max_repetitions = max_repetitions;
    return exchange(pdu);
}

Response set_integer(const std::vector<oid> &name, long value) {
    netsnmp_pdu *pdu = snmp_pdu_create(SNMP_MSG_SET);
    pdu->flags |= UCD_MSG_FLAG_ALWAYS_IN_VIEW;
    snmp_pdu_add_variable(pdu, name.data(), name.size(), ASN_INTEGER, &value, sizeof value);
    return exchange(pdu);
}

std::vector<Varbind> walk(const std::vector<oid> &root, size_t max_steps) {
    std::vector<Varbind> out;
    std::vector<oid> at = root;
    for (size_t i = 0; i < max_steps; ++i) {
        Response r = getnext({at});
        if (!r.ok || r.errstat != SNMP_ERR_NOERROR || r.vbs.size() != 1) break;
        const Varbind &vb = r.vbs[0];
        if (vb.type == SNMP_ENDOFMIBVIEW) break;
        if (vb.name.size() < root.size() || !std::equal(root.begin(), root.end(), vb.name.begin())) break;
        out.push_back(vb);
        at = vb.name;
    }
    return out;
}

std::vector<oid> table_root(unsigned table) { return {1, 3, 6, 1, 4, 1, 32473, 1, 1, 1, 2, 1, table}; }

std::vector<oid> instance(unsigned table, unsigned column, const std::vector<oid> &index) {
    std::vector<oid> n = table_root(table);
    n.push_back(1);
    n.push_back(column);
    n.insert(n.end(), index.begin(), index.end());
    return n;
}

std::string to_string(const std::vector<oid> &name) {
    std::string s;
    for (oid o : name) s += "." + std::to_string(o);
    return s;
}

} // namespace agent
} // namespace qvtest
