/*
 * A real snmpd on a free loopback port with the module and the simulated
 * data source loaded through snmpd.conf alone, and a small synchronous client
 * over Net-SNMP's client library to query it.
 *
 * Everything is bounded: the agent must answer within a few seconds of its
 * start, every request has a short timeout, and walks stop after a fixed
 * number of steps.
 */
#ifndef QV_TESTS_SNMPD_FIXTURE_H
#define QV_TESTS_SNMPD_FIXTURE_H

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qv_test {

using Oid = std::vector<oid>;

Oid parse_oid(const std::string &dotted); /* "1.3.6.1..." (leading dot allowed) */
std::string to_string(const Oid &name);
bool oid_less(const Oid &a, const Oid &b);               /* lexicographic, as SNMP orders them */
bool oid_has_prefix(const Oid &name, const Oid &prefix);
Oid concat(Oid head, const Oid &tail);

/* Paths of the module and the simulated data source: the build's, unless
 * QV_TEST_MODULE or QV_TEST_SIM name others. */
std::string module_library_path();
std::string sim_library_path();

struct AgentOptions {
    std::string description_file;           /* QV_SIM_CONFIG; empty: not set */
    std::vector<std::string> debug_tokens;  /* -D tokens; empty: debugging off */
    std::vector<std::string> extra_config;  /* lines appended to snmpd.conf */
    bool load_sim = true;
    bool preload_sim = false;               /* LD_PRELOAD instead of a dlmod line */
    bool load_module = true;
};

/* One snmpd process, started by start() and ended by stop() (or the
 * destructor), always by its own PID. */
class SnmpdProcess {
public:
    SnmpdProcess() = default;
    SnmpdProcess(const SnmpdProcess &) = delete;
    SnmpdProcess &operator=(const SnmpdProcess &) = delete;
    ~SnmpdProcess();

    /* Starts snmpd and waits until it answers an SNMP request. On failure
     * returns false with the reason and snmpd's log in *error. */
    bool start(const AgentOptions &options, std::string *error);
    /* SIGTERM, then SIGKILL if it has not exited within a few seconds. */
    void stop();
    bool running();  /* false once the process has exited */

    int port() const { return port_; }
    std::string peer() const;  /* "udp:127.0.0.1:<port>" */
    std::string log() const;   /* everything snmpd wrote so far */
    const std::string &work_dir() const { return dir_; }

private:
    bool spawn(const AgentOptions &options, std::string *error);
    bool wait_until_answering(std::string *error);

    pid_t pid_ = -1;
    int port_ = 0;
    std::string dir_;
    std::string log_path_;
    bool keep_dir_ = false;
};

struct VarBind {
    Oid name;
    u_char type = 0;       /* ASN tag, or SNMP_NOSUCHOBJECT/NOSUCHINSTANCE/ENDOFMIBVIEW */
    long integer = 0;      /* INTEGER (signed) */
    uint32_t unsigned32 = 0; /* Counter32, Gauge32, TimeTicks */
    std::string octets;    /* OCTET STRING, IpAddress: the raw bytes */
};

struct Response {
    int status = STAT_ERROR;  /* STAT_SUCCESS, STAT_TIMEOUT or STAT_ERROR */
    long errstat = -1;
    long errindex = -1;
    std::vector<VarBind> vbs;
    bool ok() const { return status == STAT_SUCCESS && errstat == SNMP_ERR_NOERROR; }
};

/* A typed value for a SET. */
struct SetValue {
    u_char type;
    long integer;
    std::string octets;
};

/* SNMPv2c session to one agent, through the single-session API. */
class SnmpClient {
public:
    SnmpClient(const std::string &peer, const std::string &community, long timeout_us = 1000000,
               int retries = 1);
    ~SnmpClient();
    SnmpClient(const SnmpClient &) = delete;
    SnmpClient &operator=(const SnmpClient &) = delete;

    bool is_open() const { return session_ != nullptr; }

    Response get(const std::vector<Oid> &names);
    Response get_next(const std::vector<Oid> &names);
    Response get_bulk(const std::vector<Oid> &names, long non_repeaters, long max_repetitions);
    Response set(const Oid &name, const SetValue &value);

    VarBind get_one(const Oid &name);  /* type 0 when there was no answer */

    /* GETNEXT from root while the answers stay under root; at most max_steps
     * requests. *complete is false if the walk hit an error or the bound. */
    std::vector<VarBind> walk(const Oid &root, bool *complete, size_t max_steps = 2000);
    /* The same subtree through GETBULK, max_repetitions rows at a time. */
    std::vector<VarBind> bulk_walk(const Oid &root, long max_repetitions, bool *complete,
                                   size_t max_steps = 500);

private:
    Response send(netsnmp_pdu *pdu);
    void *session_ = nullptr;
};

/* Initialises the client library once per process: no MIB files, no user
 * configuration, no persistent state. */
void init_client_library();

/* Bytes from "00:11:22" or "c0a8010a" style text (separators ignored). */
std::string bytes_from_hex(const std::string &hex);
std::string hex_of(const std::string &bytes);

} // namespace qv_test

#endif /* QV_TESTS_SNMPD_FIXTURE_H */
