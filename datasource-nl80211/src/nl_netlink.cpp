// SPDX-License-Identifier: BSD-3-Clause
/* The production backend: nl80211 through libnl-genl, netdev counters and
 * the neighbour table through libnl-route. */
#include <linux/nl80211.h>
#include <netlink/genl/ctrl.h>
#include <netlink/genl/genl.h>
#include <netlink/netlink.h>
#include <netlink/route/link.h>
#include <netlink/route/neighbour.h>
#include <linux/neighbour.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>

#include "nl_parse.h"
#include "nl_records.h"
#include "nl_source.h"

namespace qvnl {
namespace {

struct DumpContext {
    std::function<void(nlmsghdr *)> on_message;
    int kernel_errno = 0; /* from an NLMSG_ERROR answer */
};

int on_valid(nl_msg *msg, void *arg) {
    static_cast<DumpContext *>(arg)->on_message(nlmsg_hdr(msg));
    return NL_OK;
}

int on_error(sockaddr_nl *, nlmsgerr *err, void *arg) {
    static_cast<DumpContext *>(arg)->kernel_errno = -err->error;
    return NL_STOP;
}

class NetlinkBackend : public Backend {
  public:
    ~NetlinkBackend() override { close(); }

    bool collect(unsigned needs, RawState &out, std::string &err) override {
        if (needs & NEED_HOSTAPD) needs |= NEED_STATIONS;
        if (needs & (NEED_STATIONS | NEED_SURVEY)) needs |= NEED_IFACES;
        if (!connect(needs, err)) return false;
        bool ok = collect_connected(needs, out, err);
        /* A failed exchange may leave answers queued on the socket: start
         * clean next time rather than read them as the next dump's. */
        if (!ok) close();
        return ok;
    }

  private:
    nl_sock *genl_ = nullptr;
    nl_sock *route_ = nullptr;
    int family_ = -1;
    std::string leases_problem_;

    void close() {
        if (genl_) nl_socket_free(genl_);
        if (route_) nl_socket_free(route_);
        genl_ = route_ = nullptr;
        family_ = -1;
    }

    bool connect(unsigned needs, std::string &err) {
        if ((needs & NEED_IFACES) && !genl_) {
            genl_ = nl_socket_alloc();
            if (!genl_) return fail(err, "cannot allocate a netlink socket");
            int r = genl_connect(genl_);
            if (r < 0) return fail(err, std::string("generic netlink: ") + nl_geterror(r));
            nl_socket_set_buffer_size(genl_, 1 << 20, 0);
            count_request();
            family_ = genl_ctrl_resolve(genl_, "nl80211");
            if (family_ < 0) {
                std::string why = nl_geterror(family_);
                close();
                return fail(err, "nl80211 is not available (" + why + "; is cfg80211 loaded?)");
            }
        }
        if ((needs & (NEED_LINKS | NEED_NEIGH)) && !route_) {
            route_ = nl_socket_alloc();
            if (!route_) return fail(err, "cannot allocate a netlink socket");
            int r = nl_connect(route_, NETLINK_ROUTE);
            if (r < 0) {
                nl_socket_free(route_);
                route_ = nullptr;
                return fail(err, std::string("route netlink: ") + nl_geterror(r));
            }
        }
        return true;
    }

    static bool fail(std::string &err, const std::string &why) {
        err = why;
        return false;
    }

    /* One nl80211 dump. Returns 0, or the kernel's errno, or -1 with err set
     * for a transport failure. */
    int dump(uint8_t cmd, uint32_t ifindex, const std::function<void(nlmsghdr *)> &each, std::string &err) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            nl_msg *msg = nlmsg_alloc();
            if (!msg) return fail(err, "out of memory"), -1;
            if (!genlmsg_put(msg, NL_AUTO_PORT, NL_AUTO_SEQ, family_, 0, NLM_F_DUMP, cmd, 0) ||
                (ifindex && nla_put_u32(msg, NL80211_ATTR_IFINDEX, ifindex) < 0)) {
                nlmsg_free(msg);
                return fail(err, "cannot build an nl80211 request"), -1;
            }
            count_request();
            int r = nl_send_auto(genl_, msg);
            nlmsg_free(msg);
            if (r < 0) return fail(err, std::string("nl80211 send: ") + nl_geterror(r)), -1;
            DumpContext ctx{each, 0};
            nl_cb *cb = nl_cb_alloc(NL_CB_DEFAULT);
            if (!cb) return fail(err, "out of memory"), -1;
            nl_cb_set(cb, NL_CB_VALID, NL_CB_CUSTOM, on_valid, &ctx);
            nl_cb_err(cb, NL_CB_CUSTOM, on_error, &ctx);
            r = nl_recvmsgs(genl_, cb);
            nl_cb_put(cb);
            if (ctx.kernel_errno) return ctx.kernel_errno;
            /* The kernel's tables changed under the dump: take it again. */
            if (r == -NLE_DUMP_INTR) continue;
            if (r < 0) return fail(err, std::string("nl80211 receive: ") + nl_geterror(r)), -1;
            return 0;
        }
        return fail(err, "nl80211 dump kept being interrupted"), -1;
    }

    static bool vanished(int e) { return e == ENODEV || e == ENOENT || e == ENOLINK; }

    bool collect_connected(unsigned needs, RawState &out, std::string &err) {
        if (needs & NEED_IFACES) {
            int r = dump(
                NL80211_CMD_GET_INTERFACE, 0,
                [&](nlmsghdr *h) {
                    Iface i;
                    if (parse_interface(h, i)) out.ifaces.push_back(std::move(i));
                },
                err);
            if (r > 0) return fail(err, std::string("interface dump: ") + std::strerror(r));
            if (r < 0) return false;
        }
        if (needs & NEED_STATIONS) {
            for (size_t k = 0; k < out.ifaces.size();) {
                const Iface &i = out.ifaces[k];
                if (i.iftype == NL80211_IFTYPE_MONITOR || i.iftype == NL80211_IFTYPE_P2P_DEVICE) {
                    ++k;
                    continue;
                }
                int r = dump(
                    NL80211_CMD_GET_STATION, i.ifindex,
                    [&](nlmsghdr *h) {
                        Station st;
                        if (parse_station(h, st) && st.ifindex == i.ifindex) out.stations.push_back(st);
                    },
                    err);
                /* Gone since the interface dump: no row for it. */
                if (r > 0 && vanished(r)) {
                    out.ifaces.erase(out.ifaces.begin() + static_cast<long>(k));
                    continue;
                }
                if (r > 0 && r != EOPNOTSUPP) return fail(err, "station dump of " + i.name + ": " + std::strerror(r));
                if (r < 0) return false;
                ++k;
            }
        }
        if (needs & NEED_SURVEY) {
            std::vector<uint32_t> done;
            for (const Iface &i : out.ifaces) {
                if (i.wiphy == UINT32_MAX || !i.freq_mhz) continue;
                bool seen = false;
                for (uint32_t w : done) seen = seen || w == i.wiphy;
                if (seen) continue;
                done.push_back(i.wiphy);
                int r = dump(
                    NL80211_CMD_GET_SURVEY, i.ifindex,
                    [&](nlmsghdr *h) {
                        Survey sv;
                        if (parse_survey(h, sv)) {
                            sv.ifindex = i.ifindex;
                            out.surveys.push_back(sv);
                        }
                    },
                    err);
                /* No survey support or the interface left: no noise floor. */
                if (r > 0 && (vanished(r) || r == EOPNOTSUPP)) continue;
                if (r > 0) return fail(err, "survey dump of " + i.name + ": " + std::strerror(r));
                if (r < 0) return false;
            }
        }
        if (needs & NEED_LINKS) {
            nl_cache *cache = nullptr;
            count_request();
            int r = rtnl_link_alloc_cache(route_, AF_UNSPEC, &cache);
            if (r < 0) return fail(err, std::string("link dump: ") + nl_geterror(r));
            for (nl_object *o = nl_cache_get_first(cache); o; o = nl_cache_get_next(o)) {
                rtnl_link *l = reinterpret_cast<rtnl_link *>(o);
                Link v;
                v.flags = rtnl_link_get_flags(l);
                v.rx_packets = rtnl_link_get_stat(l, RTNL_LINK_RX_PACKETS);
                v.tx_packets = rtnl_link_get_stat(l, RTNL_LINK_TX_PACKETS);
                v.rx_errors = rtnl_link_get_stat(l, RTNL_LINK_RX_ERRORS);
                v.tx_errors = rtnl_link_get_stat(l, RTNL_LINK_TX_ERRORS);
                v.rx_dropped = rtnl_link_get_stat(l, RTNL_LINK_RX_DROPPED);
                v.tx_dropped = rtnl_link_get_stat(l, RTNL_LINK_TX_DROPPED);
                v.multicast = rtnl_link_get_stat(l, RTNL_LINK_MULTICAST);
                out.links[static_cast<uint32_t>(rtnl_link_get_ifindex(l))] = v;
            }
            nl_cache_free(cache);
        }
        if (needs & NEED_NEIGH) {
            nl_cache *cache = nullptr;
            count_request();
            int r = rtnl_neigh_alloc_cache(route_, &cache);
            if (r < 0) return fail(err, std::string("neighbour dump: ") + nl_geterror(r));
            for (nl_object *o = nl_cache_get_first(cache); o; o = nl_cache_get_next(o)) {
                rtnl_neigh *n = reinterpret_cast<rtnl_neigh *>(o);
                if (rtnl_neigh_get_family(n) != AF_INET) continue;
                int state = rtnl_neigh_get_state(n);
                if (state & (NUD_FAILED | NUD_INCOMPLETE | NUD_NOARP)) continue;
                nl_addr *ll = rtnl_neigh_get_lladdr(n);
                nl_addr *dst = rtnl_neigh_get_dst(n);
                if (!ll || !dst || nl_addr_get_len(ll) != 6 || nl_addr_get_len(dst) != 4) continue;
                Mac mac;
                std::array<uint8_t, 4> ip;
                std::memcpy(mac.data(), nl_addr_get_binary_addr(ll), 6);
                std::memcpy(ip.data(), nl_addr_get_binary_addr(dst), 4);
                out.neigh[mac] = ip;
            }
            nl_cache_free(cache);
        }
        if ((needs & NEED_LEASES) && !leases_path().empty()) {
            /* A missing leases file only means no host names; a refused one
             * is logged once per stretch. */
            std::string text, why;
            if (read_regular_file(leases_path(), kLeasesCap, text, why))
                parse_leases(text, out);
            else if (!why.empty() && why != leases_problem_)
                log_line(LOG_WARNING, "qv_wlan_nl80211: not reading the leases file " + leases_path() + ": " + why);
            leases_problem_ = why;
        }
        if (needs & NEED_HOSTAPD) query_hostapd(hostapd_dir(), out);
        return true;
    }
};

} // namespace

bool read_regular_file(const std::string &path, size_t cap, std::string &text, std::string &why) {
    why.clear();
    /* O_NONBLOCK: opening a FIFO must not wait for a writer. */
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat st;
    if (fd.fd < 0) {
        if (errno != ENOENT) why = errno == ELOOP ? "it is a symbolic link" : std::strerror(errno);
        return false;
    }
    if (fstat(fd.fd, &st) < 0) return why = std::strerror(errno), false;
    if (!S_ISREG(st.st_mode)) return why = "it is not a regular file", false;
    const std::string too_large = "it is larger than " + std::to_string(cap) + " bytes";
    if (static_cast<uint64_t>(st.st_size) > cap) return why = too_large, false;
    text.resize(cap + 1); /* one byte more tells a file that grew past the cap */
    size_t got = 0;
    while (got < text.size()) {
        ssize_t n = read(fd.fd, &text[got], text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return why = std::strerror(errno), false;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    if (got > cap) return why = too_large, false;
    text.resize(got);
    return true;
}

std::unique_ptr<Backend> make_netlink_backend() { return std::make_unique<NetlinkBackend>(); }

} // namespace qvnl
