// SPDX-License-Identifier: BSD-3-Clause
#include "nl_records.h"
#include "nl_parse.h"

#include <linux/if.h>
#include <linux/nl80211.h>

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace qvnl {
namespace {

/* Counter32 columns carry the low 32 bits; wrapping is the manager's job. */
inline uint32_t low32(uint64_t v) { return static_cast<uint32_t>(v & 0xffffffffu); }

template <size_t N>
void copy_string(char (&room)[N], const std::string &s) {
    size_t n = std::min(s.size(), N - 1);
    std::memcpy(room, s.data(), n);
    room[n] = '\0';
}

/* Per-access-category sums of transmitted MSDUs, in the order Be, Bg, Vi, Vo.
 * TIDs map to categories as 802.11 (User Priority) does; non-QoS frames
 * count as best effort. */
struct AcCounts {
    uint64_t ac[4] = {0, 0, 0, 0};
    void add(const Station &st) {
        static const int tid_ac[8] = {0, 1, 1, 0, 2, 2, 3, 3};
        for (int tid = 0; tid < 16; ++tid) ac[tid_ac[tid & 7]] += st.tid_tx_msdu[tid];
        ac[0] += st.tid_tx_msdu[16];
    }
};

struct StaSums {
    uint64_t rx_packets = 0, tx_packets = 0, tx_retries = 0, tx_failed = 0, rx_us = 0, tx_us = 0;
    AcCounts acs;
    void add(const Station &st) {
        rx_packets += st.rx_packets;
        tx_packets += st.tx_packets;
        tx_retries += st.tx_retries;
        tx_failed += st.tx_failed;
        rx_us += st.rx_duration_us;
        tx_us += st.tx_duration_us;
        acs.add(st);
    }
};

const Link *link_of(const RawState &s, uint32_t ifindex) {
    auto it = s.links.find(ifindex);
    return it == s.links.end() ? nullptr : &it->second;
}

StaSums station_sums(const RawState &s, uint32_t ifindex) {
    StaSums sums;
    for (const Station &st : s.stations)
        if (st.ifindex == ifindex) sums.add(st);
    return sums;
}

/* Radios in order of their first interface in the dump. */
std::vector<uint32_t> radios(const RawState &s) {
    std::vector<uint32_t> out;
    for (const Iface &i : s.ifaces)
        if (i.wiphy != UINT32_MAX && std::find(out.begin(), out.end(), i.wiphy) == out.end()) out.push_back(i.wiphy);
    return out;
}

} // namespace

bool serves_clients(uint32_t iftype) { return iftype == NL80211_IFTYPE_AP || iftype == NL80211_IFTYPE_P2P_GO; }

std::unordered_map<uint32_t, const Iface *> bss_by_ifindex(const RawState &s) {
    std::unordered_map<uint32_t, const Iface *> bss;
    for (const Iface &i : s.ifaces) {
        const Iface *&b = bss[i.ifindex];
        if (serves_clients(i.iftype)) b = &i;
        if (i.iftype != NL80211_IFTYPE_AP_VLAN) continue;
        for (const Iface &ap : s.ifaces)
            if (ap.iftype == NL80211_IFTYPE_AP && ap.wiphy == i.wiphy && ap.mac == i.mac) {
                b = &ap;
                break;
            }
    }
    return bss;
}

int32_t mac_protocol(const Rate &tx, uint32_t freq_mhz) {
    if (tx.eht) return PROTO_BE;
    if (tx.he) return PROTO_AX;
    if (tx.vht) return PROTO_AC;
    if (tx.ht) return PROTO_N;
    if (freq_mhz >= 2400 && freq_mhz < 2500) {
        switch (tx.kbps) {
        case 1000:
        case 2000:
        case 5500:
        case 11000: return PROTO_B;
        default: return PROTO_G;
        }
    }
    if (freq_mhz >= 4900 && freq_mhz < 5900) return PROTO_A;
    return PROTO_UNKNOWN;
}

int32_t mac_protocol(const HostapdSta &h, uint32_t freq_mhz) {
    if (!h.has_flags) return PROTO_UNKNOWN;
    if (h.eht) return PROTO_BE;
    if (h.he) return PROTO_AX;
    if (h.vht) return PROTO_AC;
    if (h.ht) return PROTO_N;
    if (freq_mhz >= 2400 && freq_mhz < 2500) return h.non_erp ? PROTO_B : PROTO_G;
    if (freq_mhz >= 4900 && freq_mhz < 5900) return PROTO_A;
    return PROTO_UNKNOWN;
}

Rows<qv_wlan_if_entry> build_if_rows(const RawState &s) {
    Rows<qv_wlan_if_entry> rows;
    for (const Iface &i : s.ifaces) {
        qv_wlan_if_entry e;
        std::memset(&e, 0, sizeof e);
        copy_string(e.qvIfName, i.name);
        copy_string(e.qvSSIDName, i.ssid);
        const Link *l = link_of(s, i.ifindex);
        e.qvIfPromiscuous = (l && (l->flags & IFF_PROMISC)) ? 1 : 0;
        e.qvIfType = static_cast<int32_t>(i.iftype);
        /* The MIB's two modes, in the nl80211 interface type numbering: the
         * configured mode is the type the interface was set up as; the current
         * mode is that type while the interface runs (up, with carrier: an
         * access point serving its BSS, a station associated), else 0. */
        e.qvIfConfMode = static_cast<int32_t>(i.iftype);
        e.qvIfMode = (l && (l->flags & IFF_RUNNING)) ? e.qvIfConfMode : 0;
        rows.records.push_back(e);
        rows.cursors.push_back(i.ifindex);
    }
    return rows;
}

Rows<qv_wlan_ass_entry> build_ass_rows(const RawState &s) {
    Rows<qv_wlan_ass_entry> rows;
    const auto bss = bss_by_ifindex(s);
    for (const Iface &ap : s.ifaces) {
        if (!serves_clients(ap.iftype)) continue;
        for (const Station &st : s.stations) {
            auto b = bss.find(st.ifindex);
            if (b == bss.end() || b->second != &ap) continue;
            qv_wlan_ass_entry e;
            std::memset(&e, 0, sizeof e);
            e.first_index = static_cast<int32_t>(ap.ifindex);
            std::memcpy(e.qvClientMac, st.mac.data(), 6);
            auto ip = s.neigh.find(st.mac);
            if (ip != s.neigh.end()) std::memcpy(e.qvClientIP, ip->second.data(), 4);
            auto name = s.lease_names.find(st.mac);
            if (name != s.lease_names.end()) copy_string(e.qvClientHostname, name->second);
            e.qvClientRSSI = st.has_signal ? st.signal_dbm : 0;
            e.qvClientLinkUptime = st.connected_s;
            e.qvClientMACProtocol = mac_protocol(st.tx_rate, ap.freq_mhz);
            copy_string(e.qvClientSSID, ap.ssid);
            e.qvClientChannel = freq_to_channel(ap.freq_mhz);
            e.qvClientLastTxRate = static_cast<int32_t>(st.tx_rate.kbps);
            e.qvClientLastRxRate = static_cast<int32_t>(st.rx_rate.kbps);
            e.qvClientTxAirtime = low32(st.tx_duration_us);
            e.qvClientRxAirtime = low32(st.rx_duration_us);
            e.qvClientAssociationTime = low32(st.assoc_at_boottime_ns / 1000000000u);
            std::memcpy(e.qvClientBSSID, ap.mac.data(), 6);
            e.qvClientRxDataFrames = low32(st.rx_packets);
            e.qvClientRxDataOctets = low32(st.rx_bytes);
            e.qvClientRxUnicastFrames = low32(st.rx_packets);
            e.qvClientTxDataFrames = low32(st.tx_packets);
            e.qvClientTxDataOctets = low32(st.tx_bytes);
            e.qvClientTxUnicastFrames = low32(st.tx_packets);
            AcCounts acs;
            acs.add(st);
            e.qvClientTxBeDataFrames = low32(acs.ac[0]);
            e.qvClientTxBgDataFrames = low32(acs.ac[1]);
            e.qvClientTxViDataFrames = low32(acs.ac[2]);
            e.qvClientTxVoDataFrames = low32(acs.ac[3]);
            auto h = s.hostapd.find({ap.ifindex, st.mac});
            if (h != s.hostapd.end()) {
                e.qvClientAuthMethod = static_cast<int32_t>(h->second.akm);
                e.qvClientEncryptionMethod = static_cast<int32_t>(h->second.cipher);
                e.qvClientVLAN = h->second.vlan;
                copy_string(e.qvClientUsername, h->second.username);
                e.qvClientRxMICFailures = h->second.rx_mic_failures;
                if (int32_t proto = mac_protocol(h->second, ap.freq_mhz)) e.qvClientMACProtocol = proto;
            }
            rows.records.push_back(e);
            rows.cursors.push_back(static_cast<uint32_t>(rows.cursors.size()));
        }
    }
    return rows;
}

Rows<qv_wlan_radio_statis_entry> build_radio_stats_rows(const RawState &s) {
    Rows<qv_wlan_radio_statis_entry> rows;
    for (uint32_t phy : radios(s)) {
        Link net;
        StaSums sta;
        for (const Iface &i : s.ifaces) {
            if (i.wiphy != phy) continue;
            if (const Link *l = link_of(s, i.ifindex)) {
                net.rx_packets += l->rx_packets;
                net.tx_packets += l->tx_packets;
                net.rx_errors += l->rx_errors;
                net.tx_errors += l->tx_errors;
                net.rx_dropped += l->rx_dropped;
                net.tx_dropped += l->tx_dropped;
                net.multicast += l->multicast;
            }
            for (const Station &st : s.stations)
                if (st.ifindex == i.ifindex) sta.add(st);
        }
        qv_wlan_radio_statis_entry e;
        std::memset(&e, 0, sizeof e);
        e.qvRadioTxDataFrames = low32(net.tx_packets);
        e.qvRadioTxTotalRetries = low32(sta.tx_retries);
        e.qvRadioTxTotalFramesDropped = low32(net.tx_dropped);
        e.qvRadioTxTotalFrameErrors = low32(net.tx_errors);
        e.qvRadioTxFEForExcessiveHWRetries = low32(sta.tx_failed);
        e.qvRadioTxUnicastDataFrames = low32(sta.tx_packets);
        e.qvRadioRxTotalDataFrames = low32(net.rx_packets);
        e.qvRadioRxTotalFrameDropped = low32(net.rx_dropped);
        e.qvRadioRxUnicastDataFrames = low32(sta.rx_packets);
        e.qvRadioRxMulticastDataFrames = low32(net.multicast);
        e.qvRadioTxBeDataFrames = low32(sta.acs.ac[0]);
        e.qvRadioTxBgDataFrames = low32(sta.acs.ac[1]);
        e.qvRadioTxViDataFrames = low32(sta.acs.ac[2]);
        e.qvRadioTxVoDataFrames = low32(sta.acs.ac[3]);
        e.qvRadioTxAirtime = low32(sta.tx_us);
        e.qvRadioRxAirtime = low32(sta.rx_us);
        rows.records.push_back(e);
        rows.cursors.push_back(phy);
    }
    return rows;
}

Rows<qv_wlan_virtual_statis_entry> build_vif_stats_rows(const RawState &s) {
    Rows<qv_wlan_virtual_statis_entry> rows;
    for (const Iface &i : s.ifaces) {
        Link none;
        const Link *l = link_of(s, i.ifindex);
        if (!l) l = &none;
        StaSums sta = station_sums(s, i.ifindex);
        qv_wlan_virtual_statis_entry e;
        std::memset(&e, 0, sizeof e);
        e.qvVIfRxDataFrames = low32(l->rx_packets);
        e.qvVIfRxErrorFrames = low32(l->rx_errors);
        e.qvVIfRxDroppedFrames = low32(l->rx_dropped);
        e.qvVIfRxUnicastDataFrames = low32(sta.rx_packets);
        e.qvVIfRxMulticastDataFrames = low32(l->multicast);
        e.qvVIfTxDataFrames = low32(l->tx_packets);
        e.qvVIfTxErrorFrames = low32(l->tx_errors);
        e.qvVIfTxDroppedFrames = low32(l->tx_dropped);
        e.qvVIfTxUnicastDataFrames = low32(sta.tx_packets);
        e.qvVIfTxBeDataFrames = low32(sta.acs.ac[0]);
        e.qvVIfTxBgDataFrames = low32(sta.acs.ac[1]);
        e.qvVIfTxViDataFrames = low32(sta.acs.ac[2]);
        e.qvVIfTxVoDataFrames = low32(sta.acs.ac[3]);
        e.qvVIfTxAirtime = low32(sta.tx_us);
        e.qvVIfRxAirtime = low32(sta.rx_us);
        rows.records.push_back(e);
        rows.cursors.push_back(i.ifindex);
    }
    return rows;
}

Rows<qv_wlan_radio_attr_entry> build_radio_attr_rows(const RawState &s) {
    Rows<qv_wlan_radio_attr_entry> rows;
    for (uint32_t phy : radios(s)) {
        /* The radio's operating channel and power are those of its first
         * interface that has a channel. */
        const Iface *op = nullptr;
        for (const Iface &i : s.ifaces)
            if (i.wiphy == phy && (!op || (!op->freq_mhz && i.freq_mhz))) op = &i;
        qv_wlan_radio_attr_entry e;
        std::memset(&e, 0, sizeof e);
        e.qvRadioChannel = freq_to_channel(op->freq_mhz);
        e.qvRadioTxPower = op->has_txpower ? op->txpower_mbm / 100 : 0;
        /* Noise of the channel in use: the entry flagged in use, else the one
         * on the operating frequency (not every driver sets the flag). */
        const Survey *best = nullptr;
        for (const Survey &sv : s.surveys) {
            bool ours = false;
            for (const Iface &i : s.ifaces)
                if (i.ifindex == sv.ifindex && i.wiphy == phy) ours = true;
            if (!ours || !sv.has_noise) continue;
            if (sv.in_use)
                best = &sv;
            else if (!best && op->freq_mhz && sv.freq_mhz == op->freq_mhz)
                best = &sv;
        }
        if (best) e.qvRadioNoiseFloor = best->noise_dbm;
        /* Bytes 12..23 are ours: frequency (MHz), width (MHz), phy index. */
        int32_t extra[3] = {static_cast<int32_t>(op->freq_mhz), op->width_mhz, static_cast<int32_t>(phy)};
        std::memcpy(e.reserved_12, extra, sizeof extra);
        rows.records.push_back(e);
        rows.cursors.push_back(phy);
    }
    return rows;
}

} // namespace qvnl
