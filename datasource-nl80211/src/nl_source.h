/* SPDX-License-Identifier: BSD-3-Clause */
/*
 * The snapshot cache behind the ten data-source functions. A first call
 * takes a snapshot of its kind unless the last one is younger than the
 * configured age; next calls serve from it in O(1) from the cursor.
 */
#ifndef QV_NL_SOURCE_H
#define QV_NL_SOURCE_H

#include <cstdint>
#include <memory>
#include <string>

#include "nl_state.h"

namespace qvnl {

/* Where kernel state comes from: netlink in production, a table in tests. */
class Backend {
  public:
    virtual ~Backend() = default;
    /* Fills `out` with what `needs` asks for. false: `err` says why. */
    virtual bool collect(unsigned needs, RawState &out, std::string &err) = 0;
};

std::unique_ptr<Backend> make_netlink_backend();

/* Asks hostapd, over its control sockets under `dir` (one per access-point
 * interface, named after it), about every station of the interfaces that
 * serve clients, and fills state.hostapd. Bounded: see nl_hostapd.cpp. */
void query_hostapd(const std::string &dir, RawState &state);

/* Reads a regular file of at most `cap` bytes without following a symbolic
 * link or blocking on a FIFO. false: `why` says what was refused (empty
 * when the file does not exist). */
bool read_regular_file(const std::string &path, size_t cap, std::string &text, std::string &why);
constexpr size_t kLeasesCap = 1 << 20;

/* Closes a descriptor when it goes out of scope. */
struct UniqueFd {
    int fd;
    explicit UniqueFd(int f) : fd(f) {}
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    ~UniqueFd();
};

enum KindId { KIND_IF, KIND_ASS, KIND_RADIO_STATS, KIND_VIF_STATS, KIND_RADIO_ATTR, KIND_COUNT };

/* What each kind asks the kernel for. */
unsigned needs_of(KindId kind);

/* Configuration. The age comes from QV_NL80211_SNAPSHOT_AGE (seconds,
 * fractions allowed) or the snmpd.conf directive qvNl80211SnapshotAge; the
 * leases file from QV_NL80211_LEASES or qvNl80211Leases; hostapd's control
 * directory from QV_NL80211_HOSTAPD or qvNl80211Hostapd ("none": not asked). */
constexpr int64_t kDefaultMaxAgeNs = 1000000000;
void set_max_age_ns(int64_t ns);
int64_t max_age_ns();
bool parse_age(const char *text, int64_t &ns);
void set_leases_path(const std::string &path);
const std::string &leases_path();
constexpr const char *kDefaultHostapdDir = "/var/run/hostapd";
void set_hostapd_dir(const std::string &dir);
const std::string &hostapd_dir(); /* empty: hostapd is not asked */

/* Test seams. */
void set_backend(std::unique_ptr<Backend> backend); /* null: netlink again */
void set_clock(int64_t (*now_ns)());                /* null: monotonic_ns */
int64_t monotonic_ns();                             /* CLOCK_MONOTONIC in nanoseconds */
void drop_snapshots();
uint64_t snapshot_count(KindId kind);

/* Counts every request the netlink backend sends (dumps and the one-time
 * family lookup). */
void count_request();

/* One line to the agent's log (stderr outside an agent). */
void log_line(int priority, const std::string &text);

} // namespace qvnl

#endif
