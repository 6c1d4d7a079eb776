/*
 * The real Net-SNMP agent library, run inside the test process: the agent's
 * registry, table helper and table iterator, and its internal "callback"
 * transport, through which a client session in the same process sends real
 * GET / GETNEXT / GETBULK PDUs without any network. Log output of the agent
 * (snmp_log and token debugging) is captured through the library's callback
 * log handler.
 */
#ifndef QV_TEST_AGENT_HARNESS_H
#define QV_TEST_AGENT_HARNESS_H

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

#include <string>
#include <vector>

namespace qvtest {
namespace agent {

/* Initialises the agent library once per process (no config files, no
 * listening ports, no persistent state) and starts capturing its log. */
void init();

struct LogLine {
    int priority;
    std::string text;
};
const std::vector<LogLine> &log();
void clear_log();
/* Concatenation of captured texts at priority `max_priority` or more urgent. */
std::string log_text(int max_priority = LOG_DEBUG);

/* Registers the module's five tables (init_qv_if_iterate) / removes whatever
 * of them is registered, so that every test starts from a clean registry. */
void register_module();
void unregister_module();

/* The agent's registration covering `name`, or null. */
netsnmp_handler_registration *registration_at(const std::vector<oid> &name);

struct Varbind {
    std::vector<oid> name;
    u_char type = 0;
    std::vector<unsigned char> bytes; /* string types */
    long integer = 0;                 /* INTEGER, Counter32 (as unsigned) */
};

struct Response {
    bool ok = false; /* a response PDU came back */
    long errstat = -1;
    long errindex = -1;
    std::vector<Varbind> vbs;
};

Response get(const std::vector<std::vector<oid>> &names);
Response getnext(const std::vector<std::vector<oid>> &names);
Response getbulk(const std::vector<std::vector<oid>> &names, long non_repeaters, long max_repetitions);
Response set_integer(const std::vector<oid> &name, long value);
/* GETNEXT from `from` until the answer leaves `root` (bounded). */
std::vector<Varbind> walk(const std::vector<oid> &root, size_t max_steps = 2000);

/* 1.3.6.1.4.1.32473.1.1.1.2.1.<table>[.1.<column>[.<index...>]] */
std::vector<oid> table_root(unsigned table);
std::vector<oid> instance(unsigned table, unsigned column, const std::vector<oid> &index);

std::string to_string(const std::vector<oid> &name);

} // namespace agent
} // namespace qvtest

#endif
