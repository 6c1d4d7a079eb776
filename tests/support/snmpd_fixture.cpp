#include "snmpd_fixture.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#ifndef QV_SNMPD_PATH
#define QV_SNMPD_PATH "/usr/sbin/snmpd"
#endif

namespace qv_test {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

/* ---- OIDs and bytes ---- */

Oid parse_oid(const std::string &dotted) {
    Oid out;
    std::string part;
    std::istringstream in(dotted);
    while (std::getline(in, part, '.')) {
        if (part.empty()) continue;
        out.push_back(static_cast<oid>(std::stoul(part)));
    }
    return out;
}

std::string to_string(const Oid &name) {
    std::string out;
    for (oid sub : name) out += "." + std::to_string(sub);
    return out;
}

bool oid_less(const Oid &a, const Oid &b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
}

bool oid_has_prefix(const Oid &name, const Oid &prefix) {
    return name.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), name.begin());
}

Oid concat(Oid head, const Oid &tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

std::string bytes_from_hex(const std::string &hex) {
    std::string digits;
    for (char c : hex)
        if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
    std::string out;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
    return out;
}

std::string hex_of(const std::string &bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

/* QV_TEST_MODULE and QV_TEST_SIM point the tests at other builds, for
 * instance an installed module. */
std::string module_library_path() {
    const char *env = std::getenv("QV_TEST_MODULE");
    return env && *env ? env : QV_MODULE_PATH;
}
std::string sim_library_path() {
    const char *env = std::getenv("QV_TEST_SIM");
    return env && *env ? env : QV_SIM_PATH;
}

/* ---- snmpd process ---- */

namespace {

/* A UDP port on 127.0.0.1 that nothing is bound to right now. Another
 * process may take it before snmpd binds it; start() retries then. */
int pick_free_udp_port() {
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    int port = 0;
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string make_work_dir() {
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/qv-snmpd-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data())) return {};
    return buf.data();
}

} // namespace

SnmpdProcess::~SnmpdProcess() { stop(); }

std::string SnmpdProcess::peer() const { return "udp:127.0.0.1:" + std::to_string(port_); }

std::string SnmpdProcess::log() const { return log_path_.empty() ? std::string() : read_file(log_path_); }

bool SnmpdProcess::running() {
    if (pid_ <= 0) return false;
    int status = 0;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_ || (r < 0 && errno == ECHILD)) {
        pid_ = -1;
        return false;
    }
    return true;
}

bool SnmpdProcess::start(const AgentOptions &options, std::string *error) {
    stop();
    keep_dir_ = false; /* a failed start's directory stays where it was */
    dir_ = make_work_dir();
    if (dir_.empty()) {
        *error = "cannot create a work directory";
        return false;
    }
    log_path_ = dir_ + "/snmpd.log";
    std::string why;
    for (int attempt = 0; attempt < 3; ++attempt) {
        port_ = pick_free_udp_port();
        if (port_ == 0) {
            why = "no free UDP port on 127.0.0.1";
            continue;
        }
        if (!spawn(options, &why)) break;
        if (wait_until_answering(&why)) return true;
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        /* Only a lost race for the port is worth another try. */
        if (log().find("Error opening specified endpoint") == std::string::npos) break;
    }
    *error = why + "\n--- snmpd log (" + log_path_ + ") ---\n" + log();
    keep_dir_ = true;
    return false;
}

bool SnmpdProcess::spawn(const AgentOptions &options, std::string *error) {
    const std::string conf_path = dir_ + "/snmpd.conf";
    {
        std::ofstream conf(conf_path);
        conf << "rocommunity public 127.0.0.1\n";
        conf << "dontLogTCPWrappersConnects yes\n";
        /* The data source first: the module's undefined symbols resolve
         * against it when the module is loaded. */
        if (options.load_sim && !options.preload_sim) conf << "dlmod qv_wlan_sim " << sim_library_path() << "\n";
        if (options.load_module) conf << "dlmod qv_if_iterate " << module_library_path() << "\n";
        for (const auto &line : options.extra_config) conf << line << "\n";
        if (!conf) {
            *error = "cannot write " + conf_path;
            return false;
        }
    }
    const std::string persist = dir_ + "/persist";
    ::mkdir(persist.c_str(), 0700);

    /* QV_SNMPD_WRAPPER runs snmpd under another program, for instance
     * "valgrind --error-exitcode=99 --log-file=/tmp/vg.%p". */
    std::vector<std::string> args;
    if (const char *wrapper = std::getenv("QV_SNMPD_WRAPPER")) {
        std::istringstream words(wrapper);
        for (std::string w; words >> w;) args.push_back(w);
    }
    const std::vector<std::string> snmpd = {QV_SNMPD_PATH, "-f", "-Lo", "-C", "-c", conf_path,
                                     /* Only what these tests need: dlmod and community config. */
                                     "-I", "dlmod,vacm_conf"};
    args.insert(args.end(), snmpd.begin(), snmpd.end());
    if (!options.debug_tokens.empty()) {
        std::string tokens;
        for (const auto &t : options.debug_tokens) tokens += (tokens.empty() ? "" : ",") + t;
        args.push_back("-D" + tokens);
    }
    args.push_back("udp:127.0.0.1:" + std::to_string(port_));

    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    const pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid < 0) {
        *error = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    if (pid == 0) {
        /* Never outlive the test process, even when it is killed. */
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(127);
        int log_fd = ::open(log_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int null_fd = ::open("/dev/null", O_RDONLY);
        if (log_fd < 0 || null_fd < 0) ::_exit(127);
        ::dup2(null_fd, 0);
        ::dup2(log_fd, 1);
        ::dup2(log_fd, 2);
        ::setenv("SNMP_PERSISTENT_DIR", persist.c_str(), 1);
        ::setenv("MIBS", "", 1);
        if (options.load_sim && options.preload_sim) {
            // Keep what is preloaded already (a sanitizer runtime must stay first).
            std::string preload = sim_library_path();
            if (const char *outer = ::getenv("LD_PRELOAD"); outer && *outer) preload = std::string(outer) + ":" + preload;
            ::setenv("LD_PRELOAD", preload.c_str(), 1);
        }
        if (options.description_file.empty())
            ::unsetenv("QV_SIM_CONFIG");
        else
            ::setenv("QV_SIM_CONFIG", options.description_file.c_str(), 1);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    pid_ = pid;
    return true;
}

bool SnmpdProcess::wait_until_answering(std::string *error) {
    SnmpClient probe(peer(), "public", 200000, 0);
    if (!probe.is_open()) {
        *error = "cannot open a client session to " + peer();
        return false;
    }
    const Oid anything = parse_oid("1.3.6.1.4.1.32473.1.1.1.2.1");
    const char *wrapper = std::getenv("QV_SNMPD_WRAPPER");
    const int limit_s = wrapper && *wrapper ? 120 : 10;
    const auto deadline = Clock::now() + std::chrono::seconds(limit_s);
    while (Clock::now() < deadline) {
        if (!running()) {
            *error = "snmpd exited during start-up";
            return false;
        }
        if (probe.get({anything}).status == STAT_SUCCESS) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    *error = "snmpd did not answer within " + std::to_string(limit_s) + " s";
    return false;
}

void SnmpdProcess::stop() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        const char *wrapper = std::getenv("QV_SNMPD_WRAPPER");
        const auto deadline = Clock::now() + std::chrono::seconds(wrapper && *wrapper ? 60 : 5);
        while (running() && Clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    if (!dir_.empty() && !keep_dir_ && !std::getenv("QV_KEEP_SNMPD_DIR")) {
        std::error_code ec;
        fs::remove_all(dir_, ec);
        dir_.clear();
        log_path_.clear();
    }
}

/* ---- client ---- */

void init_client_library() {
    static bool done = false;
    if (done) return;
    done = true;
    ::setenv("MIBS", "", 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
    init_snmp("qv-e2e-client");
}

SnmpClient::SnmpClient(const std::string &peer, const std::string &community, long timeout_us, int retries) {
    init_client_library();
    netsnmp_session s;
    snmp_sess_init(&s);
    s.version = SNMP_VERSION_2c;
    std::string peer_copy = peer;
    std::string community_copy = community;
    s.peername = &peer_copy[0];
    s.community = reinterpret_cast<u_char *>(&community_copy[0]);
    s.community_len = community_copy.size();
    /* An agent under valgrind answers many times slower. */
    const char *wrapper = std::getenv("QV_SNMPD_WRAPPER");
    s.timeout = wrapper && *wrapper ? timeout_us * 5 : timeout_us;
    s.retries = retries;
    session_ = snmp_sess_open(&s); /* copies what it needs */
}

SnmpClient::~SnmpClient() {
    if (session_) snmp_sess_close(session_);
}

namespace {

VarBind convert(const netsnmp_variable_list *v) {
    VarBind vb;
    vb.name.assign(v->name, v->name + v->name_length);
    vb.type = v->type;
    switch (v->type) {
    case ASN_INTEGER:
        vb.integer = *v->val.integer;
        break;
    case ASN_COUNTER:
    case ASN_GAUGE:
    case ASN_TIMETICKS:
        vb.unsigned32 = static_cast<uint32_t>(*v->val.integer);
        vb.integer = static_cast<long>(vb.unsigned32);
        break;
    case ASN_OCTET_STR:
    case ASN_IPADDRESS:
    case ASN_OPAQUE:
        vb.octets.assign(reinterpret_cast<const char *>(v->val.string), v->val_len);
        break;
    default:
        break;
    }
    return vb;
}

} // namespace

Response SnmpClient::send(netsnmp_pdu *pdu) {
    Response out;
    if (!session_) {
        snmp_free_pdu(pdu);
        return out;
    }
    netsnmp_pdu *resp = nullptr;
    out.status = snmp_sess_synch_response(session_, pdu, &resp); /* takes pdu */
    if (out.status == STAT_SUCCESS && resp) {
        out.errstat = resp->errstat;
        out.errindex = resp->errindex;
        for (auto *v = resp->variables; v; v = v->next_variable) out.vbs.push_back(convert(v));
    }
    if (resp) snmp_free_pdu(resp);
    return out;
}

Response SnmpClient::get(const std::vector<Oid> &names) {
    netsnmp_pdu *pdu = snmp_pdu_create(SNMP_MSG_GET);
    for (const auto &n : names) snmp_add_null_var(pdu, n.data(), n.size());
    return send(pdu);
}

Response SnmpClient::get_next(const std::vector<Oid> &names) {
    netsnmp_pdu *pdu = snmp_pdu_create(SNMP_MSG_GETNEXT);
    for (const auto &n : names) snmp_add_null_var(pdu, n.data(), n.size());
    return send(pdu);
}

Response SnmpClient::get_bulk(const std::vector<Oid> &names, long non_repeaters, long max_repetitions) {
    netsnmp_pdu *pdu = snmp_pdu_create(SNMP_MSG_GETBULK);
    pdu->non_repeaters = non_repeaters;
    pdu->max_repetitions = max_repetitions;
    for (const auto &n : names) snmp_add_null_var(pdu, n.data(), n.size());
    return send(pdu);
}

Response SnmpClient::set(const Oid &name, const SetValue &value) {
    netsnmp_pdu *pdu = snmp_pdu_create(SNMP_MSG_SET);
    switch (value.type) {
    case ASN_OCTET_STR:
    case ASN_IPADDRESS:
        snmp_pdu_add_variable(pdu, name.data(), name.size(), value.type, value.octets.data(), value.octets.size());
        break;
    default: {
        long v = value.integer;
        snmp_pdu_add_variable(pdu, name.data(), name.size(), value.type, &v, sizeof v);
        break;
    }
    }
    return send(pdu);
}

VarBind SnmpClient::get_one(const Oid &name) {
    Response r = get({name});
    if (!r.ok() || r.vbs.size() != 1) return VarBind{};
    return r.vbs[0];
}

std::vector<VarBind> SnmpClient::walk(const Oid &root, bool *complete, size_t max_steps) {
    std::vector<VarBind> out;
    *complete = false;
    Oid cursor = root;
    for (size_t step = 0; step < max_steps; ++step) {
        Response r = get_next({cursor});
        if (!r.ok() || r.vbs.size() != 1) return out;
        const VarBind &vb = r.vbs[0];
        if (vb.type == SNMP_ENDOFMIBVIEW || !oid_has_prefix(vb.name, root)) {
            *complete = true;
            return out;
        }
        if (!oid_less(cursor, vb.name)) return out; /* not increasing: a loop */
        out.push_back(vb);
        cursor = vb.name;
    }
    return out;
}

std::vector<VarBind> SnmpClient::bulk_walk(const Oid &root, long max_repetitions, bool *complete,
                                           size_t max_steps) {
    std::vector<VarBind> out;
    *complete = false;
    Oid cursor = root;
    for (size_t step = 0; step < max_steps; ++step) {
        Response r = get_bulk({cursor}, 0, max_repetitions);
        if (!r.ok() || r.vbs.empty()) return out;
        for (const VarBind &vb : r.vbs) {
            if (vb.type == SNMP_ENDOFMIBVIEW || !oid_has_prefix(vb.name, root)) {
                *complete = true;
                return out;
            }
            if (!oid_less(cursor, vb.name)) return out;
            out.push_back(vb);
            cursor = vb.name;
        }
    }
    return out;
}

} // namespace qv_test
