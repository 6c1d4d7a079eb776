/* SPDX-License-Identifier: BSD-3-Clause */
/*
 * What the nl80211 data source learns from the kernel in one snapshot, before
 * it is turned into the records the module reads. Plain values only, so the
 * record builders can be tested without a kernel.
 */
#ifndef QV_NL_STATE_H
#define QV_NL_STATE_H

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace qvnl {

using Mac = std::array<uint8_t, 6>;

/* Last transmit or receive rate of a station. */
struct Rate {
    uint32_t kbps = 0; /* 0: the driver reported none */
    bool ht = false, vht = false, he = false, eht = false;
};

/* One nl80211 interface (NL80211_CMD_GET_INTERFACE). */
struct Iface {
    uint32_t ifindex = 0;
    uint32_t wiphy = UINT32_MAX;
    uint32_t iftype = 0; /* enum nl80211_iftype */
    std::string name;
    std::string ssid; /* raw bytes; empty when not operating a BSS */
    Mac mac{};
    uint32_t freq_mhz = 0;   /* 0: no channel */
    int32_t width_mhz = 0;   /* 0: unknown */
    int32_t txpower_mbm = 0; /* valid when has_txpower */
    bool has_txpower = false;
};

/* One station of an interface (NL80211_CMD_GET_STATION). */
struct Station {
    uint32_t ifindex = 0;
    Mac mac{};
    int32_t signal_dbm = 0;
    bool has_signal = false;
    uint32_t connected_s = 0;
    uint64_t assoc_at_boottime_ns = 0;
    uint64_t rx_bytes = 0, tx_bytes = 0;
    uint64_t rx_packets = 0, tx_packets = 0;
    uint64_t tx_retries = 0, tx_failed = 0;
    uint64_t rx_duration_us = 0, tx_duration_us = 0;
    Rate tx_rate, rx_rate;
    /* Transmitted MSDUs per TID 0..15, and [16] for non-QoS frames. */
    std::array<uint64_t, 17> tid_tx_msdu{};
};

/* One channel of a survey dump (NL80211_CMD_GET_SURVEY). */
struct Survey {
    uint32_t ifindex = 0;
    uint32_t freq_mhz = 0;
    bool in_use = false;
    int32_t noise_dbm = 0;
    bool has_noise = false;
};

/* A network device's counters and flags (rtnetlink). */
struct Link {
    uint32_t flags = 0; /* IFF_* */
    uint64_t rx_packets = 0, tx_packets = 0;
    uint64_t rx_errors = 0, tx_errors = 0;
    uint64_t rx_dropped = 0, tx_dropped = 0;
    uint64_t multicast = 0; /* received */
};

/* What hostapd's control interface says about one station (`STA <addr>`).
 * Suites are numbered as docs/nl80211-mapping.md says: the IEEE 802.11
 * suite type (OUI 00-0F-AC), else OUI * 256 + type; 0 none. */
struct HostapdSta {
    uint32_t akm = 0;
    uint32_t cipher = 0; /* pairwise */
    uint32_t rx_mic_failures = 0;
    int32_t vlan = 0; /* 802.1Q VLAN ID 1..4094, else 0 */
    std::string username;
    bool has_flags = false; /* the flags below were read */
    bool ht = false, vht = false, he = false, eht = false, non_erp = false;
};

/* What one kind of entry asks the kernel for. */
enum Need : unsigned {
    NEED_IFACES = 1u << 0,
    NEED_STATIONS = 1u << 1, /* implies NEED_IFACES */
    NEED_SURVEY = 1u << 2,   /* implies NEED_IFACES */
    NEED_LINKS = 1u << 3,
    NEED_NEIGH = 1u << 4,
    NEED_LEASES = 1u << 5,
    NEED_HOSTAPD = 1u << 6, /* implies NEED_STATIONS */
};

struct RawState {
    std::vector<Iface> ifaces;                   /* dump order */
    std::vector<Station> stations;               /* grouped by ifindex */
    std::vector<Survey> surveys;                 /* one dump per radio */
    std::unordered_map<uint32_t, Link> links;    /* by ifindex */
    std::map<Mac, std::array<uint8_t, 4>> neigh; /* IPv4 by MAC */
    std::map<Mac, std::string> lease_names;      /* host name by MAC */
    /* hostapd's view by (access-point interface index, station MAC). */
    std::map<std::pair<uint32_t, Mac>, HostapdSta> hostapd;
    unsigned hostapd_ms = 0; /* for the trace line */
};

} // namespace qvnl

#endif
