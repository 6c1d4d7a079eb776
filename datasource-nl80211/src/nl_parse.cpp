// SPDX-License-Identifier: BSD-3-Clause
#include "nl_parse.h"

#include <arpa/inet.h>
#include <linux/nl80211.h>
#include <netlink/attr.h>
#include <netlink/genl/genl.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

namespace qvnl {
namespace {

/* Policies make libnl check each attribute's length before we read it, so a
 * short or odd attribute is rejected instead of read past its end. */
struct Policies {
    nla_policy attr[NL80211_ATTR_MAX + 1]{};
    nla_policy sta[NL80211_STA_INFO_MAX + 1]{};
    nla_policy rate[NL80211_RATE_INFO_MAX + 1]{};
    nla_policy tid[NL80211_TID_STATS_MAX + 1]{};
    nla_policy survey[NL80211_SURVEY_INFO_MAX + 1]{};
    /* Nested attributes carry no type here: libnl would reject an empty
     * nest, which only means "nothing to report". */
    Policies() {
        attr[NL80211_ATTR_IFINDEX].type = NLA_U32;
        attr[NL80211_ATTR_WIPHY].type = NLA_U32;
        attr[NL80211_ATTR_IFTYPE].type = NLA_U32;
        attr[NL80211_ATTR_IFNAME].type = NLA_STRING;
        attr[NL80211_ATTR_MAC].minlen = 6;
        attr[NL80211_ATTR_WIPHY_FREQ].type = NLA_U32;
        attr[NL80211_ATTR_CHANNEL_WIDTH].type = NLA_U32;
        attr[NL80211_ATTR_WIPHY_TX_POWER_LEVEL].type = NLA_U32;

        sta[NL80211_STA_INFO_SIGNAL].type = NLA_U8;
        sta[NL80211_STA_INFO_CONNECTED_TIME].type = NLA_U32;
        sta[NL80211_STA_INFO_ASSOC_AT_BOOTTIME].type = NLA_U64;
        sta[NL80211_STA_INFO_RX_BYTES].type = NLA_U32;
        sta[NL80211_STA_INFO_TX_BYTES].type = NLA_U32;
        sta[NL80211_STA_INFO_RX_BYTES64].type = NLA_U64;
        sta[NL80211_STA_INFO_TX_BYTES64].type = NLA_U64;
        sta[NL80211_STA_INFO_RX_PACKETS].type = NLA_U32;
        sta[NL80211_STA_INFO_TX_PACKETS].type = NLA_U32;
        sta[NL80211_STA_INFO_TX_RETRIES].type = NLA_U32;
        sta[NL80211_STA_INFO_TX_FAILED].type = NLA_U32;
        sta[NL80211_STA_INFO_RX_DURATION].type = NLA_U64;
        sta[NL80211_STA_INFO_TX_DURATION].type = NLA_U64;

        rate[NL80211_RATE_INFO_BITRATE].type = NLA_U16;
        rate[NL80211_RATE_INFO_BITRATE32].type = NLA_U32;
        rate[NL80211_RATE_INFO_MCS].type = NLA_U8;
        rate[NL80211_RATE_INFO_VHT_MCS].type = NLA_U8;
        rate[NL80211_RATE_INFO_HE_MCS].type = NLA_U8;
#ifdef NL80211_RATE_INFO_EHT_MCS
        rate[NL80211_RATE_INFO_EHT_MCS].type = NLA_U8;
#endif
        tid[NL80211_TID_STATS_TX_MSDU].type = NLA_U64;

        survey[NL80211_SURVEY_INFO_FREQUENCY].type = NLA_U32;
        survey[NL80211_SURVEY_INFO_NOISE].type = NLA_U8;
        survey[NL80211_SURVEY_INFO_IN_USE].type = NLA_FLAG;
    }
};

const Policies &policies() {
    static const Policies p;
    return p;
}

nlattr **parse_top(struct nlmsghdr *nlh, nlattr **tb) {
    if (genlmsg_parse(nlh, 0, tb, NL80211_ATTR_MAX, const_cast<nla_policy *>(policies().attr)) < 0) return nullptr;
    return tb;
}

void parse_rate(nlattr *nested, Rate &out) {
    nlattr *rb[NL80211_RATE_INFO_MAX + 1];
    if (!nested || nla_parse_nested(rb, NL80211_RATE_INFO_MAX, nested, const_cast<nla_policy *>(policies().rate)) < 0)
        return;
    if (rb[NL80211_RATE_INFO_BITRATE32])
        out.kbps = nla_get_u32(rb[NL80211_RATE_INFO_BITRATE32]) * 100u;
    else if (rb[NL80211_RATE_INFO_BITRATE])
        out.kbps = nla_get_u16(rb[NL80211_RATE_INFO_BITRATE]) * 100u;
    out.ht = rb[NL80211_RATE_INFO_MCS] != nullptr;
    out.vht = rb[NL80211_RATE_INFO_VHT_MCS] != nullptr;
    out.he = rb[NL80211_RATE_INFO_HE_MCS] != nullptr;
#ifdef NL80211_RATE_INFO_EHT_MCS
    out.eht = rb[NL80211_RATE_INFO_EHT_MCS] != nullptr;
#endif
}

bool get_mac(nlattr *a, Mac &out) {
    if (!a || nla_len(a) < 6) return false;
    std::memcpy(out.data(), nla_data(a), 6);
    return true;
}

bool parse_mac_text(const std::string &s, Mac &out) {
    unsigned v[6];
    if (std::sscanf(s.c_str(), "%x:%x:%x:%x:%x:%x", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) != 6) return false;
    for (int i = 0; i < 6; ++i) {
        if (v[i] > 255) return false;
        out[i] = static_cast<uint8_t>(v[i]);
    }
    return true;
}

} // namespace

bool parse_interface(struct nlmsghdr *nlh, Iface &out) {
    nlattr *tb[NL80211_ATTR_MAX + 1];
    if (!parse_top(nlh, tb) || !tb[NL80211_ATTR_IFINDEX]) return false;
    out = Iface{};
    out.ifindex = nla_get_u32(tb[NL80211_ATTR_IFINDEX]);
    if (tb[NL80211_ATTR_WIPHY]) out.wiphy = nla_get_u32(tb[NL80211_ATTR_WIPHY]);
    if (tb[NL80211_ATTR_IFTYPE]) out.iftype = nla_get_u32(tb[NL80211_ATTR_IFTYPE]);
    if (tb[NL80211_ATTR_IFNAME]) {
        nlattr *a = tb[NL80211_ATTR_IFNAME];
        out.name.assign(static_cast<const char *>(nla_data(a)),
                        strnlen(static_cast<const char *>(nla_data(a)), nla_len(a)));
    }
    if (tb[NL80211_ATTR_SSID]) {
        nlattr *a = tb[NL80211_ATTR_SSID];
        out.ssid.assign(static_cast<const char *>(nla_data(a)), nla_len(a));
    }
    get_mac(tb[NL80211_ATTR_MAC], out.mac);
    if (tb[NL80211_ATTR_WIPHY_FREQ]) out.freq_mhz = nla_get_u32(tb[NL80211_ATTR_WIPHY_FREQ]);
    if (tb[NL80211_ATTR_CHANNEL_WIDTH]) out.width_mhz = chan_width_mhz(nla_get_u32(tb[NL80211_ATTR_CHANNEL_WIDTH]));
    if (tb[NL80211_ATTR_WIPHY_TX_POWER_LEVEL]) {
        out.txpower_mbm = static_cast<int32_t>(nla_get_u32(tb[NL80211_ATTR_WIPHY_TX_POWER_LEVEL]));
        out.has_txpower = true;
    }
    return true;
}

bool parse_station(struct nlmsghdr *nlh, Station &out) {
    nlattr *tb[NL80211_ATTR_MAX + 1];
    if (!parse_top(nlh, tb) || !tb[NL80211_ATTR_IFINDEX] || !tb[NL80211_ATTR_STA_INFO]) return false;
    out = Station{};
    out.ifindex = nla_get_u32(tb[NL80211_ATTR_IFINDEX]);
    if (!get_mac(tb[NL80211_ATTR_MAC], out.mac)) return false;
    nlattr *si[NL80211_STA_INFO_MAX + 1];
    if (nla_parse_nested(si, NL80211_STA_INFO_MAX, tb[NL80211_ATTR_STA_INFO],
                         const_cast<nla_policy *>(policies().sta)) < 0)
        return false;
    if (si[NL80211_STA_INFO_SIGNAL]) {
        out.signal_dbm = static_cast<int8_t>(nla_get_u8(si[NL80211_STA_INFO_SIGNAL]));
        out.has_signal = true;
    }
    if (si[NL80211_STA_INFO_CONNECTED_TIME]) out.connected_s = nla_get_u32(si[NL80211_STA_INFO_CONNECTED_TIME]);
    if (si[NL80211_STA_INFO_ASSOC_AT_BOOTTIME])
        out.assoc_at_boottime_ns = nla_get_u64(si[NL80211_STA_INFO_ASSOC_AT_BOOTTIME]);
    if (si[NL80211_STA_INFO_RX_BYTES64])
        out.rx_bytes = nla_get_u64(si[NL80211_STA_INFO_RX_BYTES64]);
    else if (si[NL80211_STA_INFO_RX_BYTES])
        out.rx_bytes = nla_get_u32(si[NL80211_STA_INFO_RX_BYTES]);
    if (si[NL80211_STA_INFO_TX_BYTES64])
        out.tx_bytes = nla_get_u64(si[NL80211_STA_INFO_TX_BYTES64]);
    else if (si[NL80211_STA_INFO_TX_BYTES])
        out.tx_bytes = nla_get_u32(si[NL80211_STA_INFO_TX_BYTES]);
    if (si[NL80211_STA_INFO_RX_PACKETS]) out.rx_packets = nla_get_u32(si[NL80211_STA_INFO_RX_PACKETS]);
    if (si[NL80211_STA_INFO_TX_PACKETS]) out.tx_packets = nla_get_u32(si[NL80211_STA_INFO_TX_PACKETS]);
    if (si[NL80211_STA_INFO_TX_RETRIES]) out.tx_retries = nla_get_u32(si[NL80211_STA_INFO_TX_RETRIES]);
    if (si[NL80211_STA_INFO_TX_FAILED]) out.tx_failed = nla_get_u32(si[NL80211_STA_INFO_TX_FAILED]);
    if (si[NL80211_STA_INFO_RX_DURATION]) out.rx_duration_us = nla_get_u64(si[NL80211_STA_INFO_RX_DURATION]);
    if (si[NL80211_STA_INFO_TX_DURATION]) out.tx_duration_us = nla_get_u64(si[NL80211_STA_INFO_TX_DURATION]);
    parse_rate(si[NL80211_STA_INFO_TX_BITRATE], out.tx_rate);
    parse_rate(si[NL80211_STA_INFO_RX_BITRATE], out.rx_rate);
    if (nlattr *tids = si[NL80211_STA_INFO_TID_STATS]) {
        nlattr *tid;
        int rem;
        nla_for_each_nested(tid, tids, rem) {
            /* Attribute type is TID + 1; 17 holds non-QoS traffic. */
            int type = nla_type(tid);
            if (type < 1 || type > 17) continue;
            nlattr *ts[NL80211_TID_STATS_MAX + 1];
            if (nla_parse_nested(ts, NL80211_TID_STATS_MAX, tid, const_cast<nla_policy *>(policies().tid)) < 0)
                continue;
            if (ts[NL80211_TID_STATS_TX_MSDU]) out.tid_tx_msdu[type - 1] = nla_get_u64(ts[NL80211_TID_STATS_TX_MSDU]);
        }
    }
    return true;
}

bool parse_survey(struct nlmsghdr *nlh, Survey &out) {
    nlattr *tb[NL80211_ATTR_MAX + 1];
    if (!parse_top(nlh, tb) || !tb[NL80211_ATTR_SURVEY_INFO]) return false;
    nlattr *sv[NL80211_SURVEY_INFO_MAX + 1];
    if (nla_parse_nested(sv, NL80211_SURVEY_INFO_MAX, tb[NL80211_ATTR_SURVEY_INFO],
                         const_cast<nla_policy *>(policies().survey)) < 0 ||
        !sv[NL80211_SURVEY_INFO_FREQUENCY])
        return false;
    out = Survey{};
    if (tb[NL80211_ATTR_IFINDEX]) out.ifindex = nla_get_u32(tb[NL80211_ATTR_IFINDEX]);
    out.freq_mhz = nla_get_u32(sv[NL80211_SURVEY_INFO_FREQUENCY]);
    out.in_use = sv[NL80211_SURVEY_INFO_IN_USE] != nullptr;
    if (sv[NL80211_SURVEY_INFO_NOISE]) {
        out.noise_dbm = static_cast<int8_t>(nla_get_u8(sv[NL80211_SURVEY_INFO_NOISE]));
        out.has_noise = true;
    }
    return true;
}

int32_t freq_to_channel(uint32_t f) {
    if (f == 2484) return 14;
    if (f >= 2412 && f < 2484) return static_cast<int32_t>((f - 2407) / 5);
    if (f == 5935) return 2; /* 6 GHz channel 2 sits below the 6 GHz grid */
    if (f > 5950 && f <= 7115) return static_cast<int32_t>((f - 5950) / 5);
    if (f >= 4910 && f <= 4980) return static_cast<int32_t>((f - 4000) / 5);
    if (f >= 5000 && f < 5950) return static_cast<int32_t>((f - 5000) / 5);
    if (f >= 58320 && f <= 70200) return static_cast<int32_t>((f - 56160) / 2160);
    return 0;
}

int32_t chan_width_mhz(uint32_t w) {
    switch (w) {
    case NL80211_CHAN_WIDTH_20_NOHT:
    case NL80211_CHAN_WIDTH_20: return 20;
    case NL80211_CHAN_WIDTH_40: return 40;
    case NL80211_CHAN_WIDTH_80: return 80;
    case NL80211_CHAN_WIDTH_80P80:
    case NL80211_CHAN_WIDTH_160: return 160;
    case NL80211_CHAN_WIDTH_5: return 5;
    case NL80211_CHAN_WIDTH_10: return 10;
#ifdef NL80211_CHAN_WIDTH_320
    case NL80211_CHAN_WIDTH_320: return 320;
#endif
    default: return 0;
    }
}

void parse_leases(const std::string &text, RawState &state) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string expiry, mac_text, ip_text, name;
        if (!(fields >> expiry >> mac_text >> ip_text >> name)) continue;
        Mac mac;
        if (!parse_mac_text(mac_text, mac)) continue;
        if (name != "*") state.lease_names[mac] = name;
        std::array<uint8_t, 4> ip;
        if (!state.neigh.count(mac) && inet_pton(AF_INET, ip_text.c_str(), ip.data()) == 1) state.neigh[mac] = ip;
    }
}

namespace {

bool starts_with(const std::string &s, const char *prefix) { return s.compare(0, std::strlen(prefix), prefix) == 0; }

/* Decimal digits only, at most `max`. */
bool parse_uint(const std::string &s, uint32_t max, uint32_t &out) {
    if (s.empty() || s.size() > 10) return false;
    uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > max) return false;
    out = static_cast<uint32_t>(v);
    return true;
}

} // namespace

uint32_t suite_value(const std::string &text, bool cipher) {
    /* "xx-xx-xx-N": three hex octets, then the type in decimal. */
    if (text.size() < 10 || text[2] != '-' || text[5] != '-' || text[8] != '-') return 0;
    std::string hex = text.substr(0, 2) + text.substr(3, 2) + text.substr(6, 2);
    for (char c : hex)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return 0;
    uint32_t oui = static_cast<uint32_t>(std::strtoul(hex.c_str(), nullptr, 16)), type = 0;
    if (!parse_uint(text.substr(9), 255, type)) return 0;
    if (oui == 0x000fac || (cipher && oui == 0x0050f2)) return type;
    return oui << 8 | type;
}

bool parse_hostapd_sta(const std::string &reply, const Mac &mac, HostapdSta &out) {
    out = HostapdSta{};
    /* Whole lines only: hostapd ends each with a newline, so text after the
     * last one was cut off. */
    std::vector<std::string> lines;
    for (size_t at = 0, nl; (nl = reply.find('\n', at)) != std::string::npos; at = nl + 1)
        lines.push_back(reply.substr(at, nl - at));
    char want[18];
    std::snprintf(want, sizeof want, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    if (lines.empty() || lines[0] != want) return false;
    size_t station_text = lines.size(), stats = lines.size();
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string &l = lines[i];
        if (station_text == lines.size() &&
            (starts_with(l, "dot1x") || starts_with(l, "wps") || starts_with(l, "p2p_")))
            station_text = i;
        if (starts_with(l, "rx_packets=")) stats = i;
    }
    bool user_done = station_text == lines.size() || !starts_with(lines[station_text], "dot1x");
    for (size_t i = 1; i < lines.size(); ++i) {
        size_t eq = lines[i].find('=');
        if (eq == std::string::npos) continue;
        const std::string key = lines[i].substr(0, eq), value = lines[i].substr(eq + 1);
        uint32_t n;
        if (key == "vlan_id") {
            if (i > stats && parse_uint(value, 4094, n)) out.vlan = static_cast<int32_t>(n);
        } else if (i < station_text) {
            if (key == "flags" && i == 1) {
                out.has_flags = true;
                out.ht = value.find("[HT]") != std::string::npos;
                out.vht = value.find("[VHT]") != std::string::npos;
                out.he = value.find("[HE]") != std::string::npos;
                out.eht = value.find("[EHT]") != std::string::npos;
                out.non_erp = value.find("[NonERP]") != std::string::npos;
            } else if (key == "AKMSuiteSelector") {
                out.akm = suite_value(value, false);
            } else if (key == "dot11RSNAStatsSelectedPairwiseCipher") {
                out.cipher = suite_value(value, true);
            } else if (key == "dot11RSNAStatsTKIPLocalMICFailures" && parse_uint(value, UINT32_MAX, n)) {
                out.rx_mic_failures = n;
            }
        } else if (key == "dot1xAuthSessionUserName" && !user_done) {
            user_done = true;
            if (value != "N/A") out.username = value;
            for (char &c : out.username)
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
        }
    }
    return true;
}

} // namespace qvnl
