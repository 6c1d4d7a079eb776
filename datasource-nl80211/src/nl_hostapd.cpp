// SPDX-License-Identifier: BSD-3-Clause
/* hostapd's control interface: one UNIX datagram socket per access-point
 * interface, under its ctrl_interface directory; a request is one datagram
 * ("STA <mac>"), the answer another. hostapd serves it from its event loop,
 * so a busy or stopped hostapd must never hold up a walk:
 *   - every request waits at most kRequestMs for its answer;
 *   - one snapshot spends at most kSnapshotMs on hostapd altogether;
 *   - a socket whose answer did not come is not asked again for kHoldOffNs,
 *     so a stopped hostapd costs one wait per hold-off, not one per walk.
 * Stations left unanswered keep the kernel's values. */
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "nl_parse.h"
#include "nl_records.h"
#include "nl_source.h"

namespace qvnl {
namespace {

constexpr int64_t kMs = 1000000;
constexpr int64_t kRequestMs = 100, kSnapshotMs = 250;
constexpr int64_t kHoldOffNs = 10000 * kMs;

std::map<std::string, int64_t> g_hold_until;  /* by socket path */
std::map<std::string, std::string> g_problem; /* the last one logged, by socket path */

/* One log line when a socket starts failing or fails differently, none
 * while it keeps failing the same way. */
void note(const std::string &path, const std::string &problem) {
    std::string &last = g_problem[path];
    if (!problem.empty() && problem != last)
        log_line(LOG_WARNING,
                 "qv_wlan_nl80211: hostapd at " + path + ": " + problem + "; its stations keep the kernel's values");
    last = problem;
}

/* A socket connected to hostapd's. Bound to an address the kernel picks in
 * the abstract namespace: no file to create, protect or remove, and, being
 * connected, it takes datagrams from hostapd's socket only. */
int open_ctrl(const std::string &path, int &err) {
    sockaddr_un to{};
    to.sun_family = AF_UNIX;
    if (path.size() >= sizeof to.sun_path) return err = ENAMETOOLONG, -1;
    std::memcpy(to.sun_path, path.data(), path.size());
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return err = errno, -1;
    sa_family_t autobind = AF_UNIX;
    if (bind(fd, reinterpret_cast<sockaddr *>(&autobind), sizeof autobind) < 0 ||
        connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) < 0) {
        err = errno;
        close(fd);
        return -1;
    }
    return fd;
}

/* One request ("STA <mac>") and its answer: 0, or an errno (ETIMEDOUT: no
 * answer by `until`). An answer about another station is a late one to an
 * earlier socket that had this address (hostapd, stopped, resumed): skipped. */
int exchange(int fd, const std::string &request, int64_t until, std::string &answer) {
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) < 0) return errno;
    const std::string mac = request.substr(4);
    pollfd p{fd, POLLIN, 0};
    for (;;) {
        int64_t left = until - monotonic_ns();
        if (left <= 0) return ETIMEDOUT;
        int r = poll(&p, 1, static_cast<int>((left + kMs - 1) / kMs));
        if (r < 0 && errno != EINTR) return errno;
        if (r <= 0) continue;
        char buf[8192]; /* hostapd answers in at most 4096 bytes */
        ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0) return errno;
        answer.assign(buf, static_cast<size_t>(n));
        if (answer.size() < mac.size() || answer[2] != ':' || answer.compare(0, mac.size(), mac) == 0) return 0;
    }
}

} // namespace

void query_hostapd(const std::string &dir, RawState &state) {
    if (dir.empty()) return;
    const int64_t start = monotonic_ns(), deadline = start + kSnapshotMs * kMs;
    const auto bss = bss_by_ifindex(state);
    for (const Iface &ap : state.ifaces) {
        if (!serves_clients(ap.iftype)) continue;
        std::vector<Mac> macs;
        for (const Station &st : state.stations)
            if (auto b = bss.find(st.ifindex); b != bss.end() && b->second == &ap) macs.push_back(st.mac);
        const std::string path = dir + "/" + ap.name;
        if (macs.empty() || monotonic_ns() < g_hold_until[path]) continue;
        int err = 0;
        UniqueFd fd(open_ctrl(path, err));
        if (fd.fd < 0) {
            /* No socket: no hostapd on this interface, nothing to say. */
            note(path, err == ENOENT ? "" : std::strerror(err));
            continue;
        }
        std::string problem;
        for (const Mac &m : macs) {
            int64_t now = monotonic_ns();
            if (now >= deadline) {
                problem = "no time left in this snapshot (" + std::to_string(kSnapshotMs) + " ms for hostapd)";
                break;
            }
            char request[32];
            std::snprintf(request, sizeof request, "STA %02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4],
                          m[5]);
            std::string answer;
            int e = exchange(fd.fd, request, std::min(deadline, now + kRequestMs * kMs), answer);
            if (e == ETIMEDOUT) {
                g_hold_until[path] = monotonic_ns() + kHoldOffNs;
                problem = "no answer within " + std::to_string(kRequestMs) + " ms, not asked again for " +
                          std::to_string(kHoldOffNs / 1000000000) + " s";
            } else if (e) {
                problem = std::strerror(e);
            }
            if (e) break;
            HostapdSta h;
            if (parse_hostapd_sta(answer, m, h)) state.hostapd[{ap.ifindex, m}] = h;
        }
        note(path, problem);
    }
    state.hostapd_ms = static_cast<unsigned>((monotonic_ns() - start) / kMs);
}

} // namespace qvnl
