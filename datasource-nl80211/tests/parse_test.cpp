// nl80211 answers decoded from messages built the way the kernel lays them
// out, with libnl's own nla_put API.
#include <gtest/gtest.h>

#include <linux/nl80211.h>
#include <netlink/attr.h>
#include <netlink/genl/genl.h>
#include <netlink/msg.h>

#include <cstring>
#include <memory>

#include "nl_parse.h"

using namespace qvnl;

namespace {

struct MsgFree {
    void operator()(nl_msg *m) const { nlmsg_free(m); }
};
using Msg = std::unique_ptr<nl_msg, MsgFree>;

Msg genl(uint8_t cmd) {
    Msg m(nlmsg_alloc());
    EXPECT_NE(genlmsg_put(m.get(), 0, 1, 0x1c, 0, NLM_F_MULTI, cmd, 1), nullptr);
    return m;
}

const uint8_t kMac[6] = {0x02, 0x00, 0x00, 0x00, 0x01, 0x00};

void put_station_header(nl_msg *m, uint32_t ifindex) {
    nla_put_u32(m, NL80211_ATTR_IFINDEX, ifindex);
    nla_put(m, NL80211_ATTR_MAC, 6, kMac);
}

} // namespace

TEST(Parse, InterfaceOfAnAccessPoint) {
    Msg m = genl(NL80211_CMD_NEW_INTERFACE);
    nla_put_u32(m.get(), NL80211_ATTR_IFINDEX, 7);
    nla_put_string(m.get(), NL80211_ATTR_IFNAME, "wlan0");
    nla_put_u32(m.get(), NL80211_ATTR_WIPHY, 2);
    nla_put_u32(m.get(), NL80211_ATTR_IFTYPE, NL80211_IFTYPE_AP);
    nla_put(m.get(), NL80211_ATTR_MAC, 6, kMac);
    const char ssid[] = {'q', 'v', 0, '\xff'}; // SSIDs are bytes, not C strings
    nla_put(m.get(), NL80211_ATTR_SSID, sizeof ssid, ssid);
    nla_put_u32(m.get(), NL80211_ATTR_WIPHY_FREQ, 2437);
    nla_put_u32(m.get(), NL80211_ATTR_CHANNEL_WIDTH, NL80211_CHAN_WIDTH_40);
    nla_put_u32(m.get(), NL80211_ATTR_WIPHY_TX_POWER_LEVEL, 2000);

    Iface i;
    ASSERT_TRUE(parse_interface(nlmsg_hdr(m.get()), i));
    EXPECT_EQ(i.ifindex, 7u);
    EXPECT_EQ(i.name, "wlan0");
    EXPECT_EQ(i.wiphy, 2u);
    EXPECT_EQ(i.iftype, static_cast<uint32_t>(NL80211_IFTYPE_AP));
    EXPECT_EQ(0, std::memcmp(i.mac.data(), kMac, 6));
    EXPECT_EQ(i.ssid, std::string(ssid, sizeof ssid));
    EXPECT_EQ(i.freq_mhz, 2437u);
    EXPECT_EQ(i.width_mhz, 40);
    EXPECT_TRUE(i.has_txpower);
    EXPECT_EQ(i.txpower_mbm, 2000);
}

TEST(Parse, InterfaceWithoutChannelOrIndex) {
    // A down interface: no frequency, SSID or power. A P2P device: no index.
    Msg down = genl(NL80211_CMD_NEW_INTERFACE);
    nla_put_u32(down.get(), NL80211_ATTR_IFINDEX, 3);
    nla_put_u32(down.get(), NL80211_ATTR_IFTYPE, NL80211_IFTYPE_STATION);
    Iface i;
    ASSERT_TRUE(parse_interface(nlmsg_hdr(down.get()), i));
    EXPECT_EQ(i.freq_mhz, 0u);
    EXPECT_TRUE(i.ssid.empty());
    EXPECT_FALSE(i.has_txpower);
    EXPECT_EQ(i.wiphy, UINT32_MAX);

    Msg p2p = genl(NL80211_CMD_NEW_INTERFACE);
    nla_put_u32(p2p.get(), NL80211_ATTR_WIPHY, 0);
    nla_put_u32(p2p.get(), NL80211_ATTR_IFTYPE, NL80211_IFTYPE_P2P_DEVICE);
    EXPECT_FALSE(parse_interface(nlmsg_hdr(p2p.get()), i));
}

TEST(Parse, ShortAttributeIsRejectedNotOverread) {
    Msg m = genl(NL80211_CMD_NEW_INTERFACE);
    uint16_t half = 7;
    nla_put(m.get(), NL80211_ATTR_IFINDEX, sizeof half, &half);
    Iface i;
    EXPECT_FALSE(parse_interface(nlmsg_hdr(m.get()), i));
}

TEST(Parse, StationWithFullStatistics) {
    Msg m = genl(NL80211_CMD_NEW_STATION);
    put_station_header(m.get(), 7);
    nlattr *info = nla_nest_start(m.get(), NL80211_ATTR_STA_INFO);
    nla_put_u8(m.get(), NL80211_STA_INFO_SIGNAL, static_cast<uint8_t>(-30));
    nla_put_u32(m.get(), NL80211_STA_INFO_CONNECTED_TIME, 42);
    nla_put_u64(m.get(), NL80211_STA_INFO_ASSOC_AT_BOOTTIME, 12345000000000ull);
    nla_put_u32(m.get(), NL80211_STA_INFO_RX_BYTES, 1);           // superseded by the 64-bit one
    nla_put_u64(m.get(), NL80211_STA_INFO_RX_BYTES64, 0x100000005ull);
    nla_put_u32(m.get(), NL80211_STA_INFO_TX_BYTES, 900);         // no 64-bit one: used
    nla_put_u32(m.get(), NL80211_STA_INFO_RX_PACKETS, 11);
    nla_put_u32(m.get(), NL80211_STA_INFO_TX_PACKETS, 12);
    nla_put_u32(m.get(), NL80211_STA_INFO_TX_RETRIES, 3);
    nla_put_u32(m.get(), NL80211_STA_INFO_TX_FAILED, 2);
    nla_put_u64(m.get(), NL80211_STA_INFO_RX_DURATION, 5000);
    nla_put_u64(m.get(), NL80211_STA_INFO_TX_DURATION, 6000);
    nlattr *tx = nla_nest_start(m.get(), NL80211_STA_INFO_TX_BITRATE);
    nla_put_u32(m.get(), NL80211_RATE_INFO_BITRATE32, 5850);
    nla_put_u8(m.get(), NL80211_RATE_INFO_VHT_MCS, 7);
    nla_nest_end(m.get(), tx);
    nlattr *rx = nla_nest_start(m.get(), NL80211_STA_INFO_RX_BITRATE);
    nla_put_u16(m.get(), NL80211_RATE_INFO_BITRATE, 540);
    nla_nest_end(m.get(), rx);
    nlattr *tids = nla_nest_start(m.get(), NL80211_STA_INFO_TID_STATS);
    for (int tid : {0, 1, 5, 6, 16}) {
        nlattr *t = nla_nest_start(m.get(), tid + 1);
        nla_put_u64(m.get(), NL80211_TID_STATS_TX_MSDU, 100u + tid);
        nla_put_u64(m.get(), NL80211_TID_STATS_RX_MSDU, 9999); // not ours to count
        nla_nest_end(m.get(), t);
    }
    nla_nest_end(m.get(), tids);
    nla_nest_end(m.get(), info);

    Station s;
    ASSERT_TRUE(parse_station(nlmsg_hdr(m.get()), s));
    EXPECT_EQ(s.ifindex, 7u);
    EXPECT_EQ(0, std::memcmp(s.mac.data(), kMac, 6));
    EXPECT_TRUE(s.has_signal);
    EXPECT_EQ(s.signal_dbm, -30);
    EXPECT_EQ(s.connected_s, 42u);
    EXPECT_EQ(s.assoc_at_boottime_ns, 12345000000000ull);
    EXPECT_EQ(s.rx_bytes, 0x100000005ull);
    EXPECT_EQ(s.tx_bytes, 900u);
    EXPECT_EQ(s.rx_packets, 11u);
    EXPECT_EQ(s.tx_packets, 12u);
    EXPECT_EQ(s.tx_retries, 3u);
    EXPECT_EQ(s.tx_failed, 2u);
    EXPECT_EQ(s.rx_duration_us, 5000u);
    EXPECT_EQ(s.tx_duration_us, 6000u);
    EXPECT_EQ(s.tx_rate.kbps, 585000u);
    EXPECT_TRUE(s.tx_rate.vht);
    EXPECT_FALSE(s.tx_rate.ht);
    EXPECT_EQ(s.rx_rate.kbps, 54000u);
    EXPECT_EQ(s.tid_tx_msdu[0], 100u);
    EXPECT_EQ(s.tid_tx_msdu[1], 101u);
    EXPECT_EQ(s.tid_tx_msdu[2], 0u);
    EXPECT_EQ(s.tid_tx_msdu[5], 105u);
    EXPECT_EQ(s.tid_tx_msdu[6], 106u);
    EXPECT_EQ(s.tid_tx_msdu[16], 116u);
}

TEST(Parse, StationFromADriverThatOmitsAttributes) {
    Msg bare = genl(NL80211_CMD_NEW_STATION);
    put_station_header(bare.get(), 4);
    nlattr *info = nla_nest_start(bare.get(), NL80211_ATTR_STA_INFO);
    nla_put_u32(bare.get(), NL80211_STA_INFO_INACTIVE_TIME, 10); // all this driver tells
    nla_nest_end(bare.get(), info);
    Station s;
    ASSERT_TRUE(parse_station(nlmsg_hdr(bare.get()), s));
    EXPECT_FALSE(s.has_signal);
    EXPECT_EQ(s.rx_packets, 0u);
    EXPECT_EQ(s.tx_rate.kbps, 0u);

    Msg no_info = genl(NL80211_CMD_NEW_STATION);
    put_station_header(no_info.get(), 4);
    EXPECT_FALSE(parse_station(nlmsg_hdr(no_info.get()), s));

    Msg no_mac = genl(NL80211_CMD_NEW_STATION);
    nla_put_u32(no_mac.get(), NL80211_ATTR_IFINDEX, 4);
    info = nla_nest_start(no_mac.get(), NL80211_ATTR_STA_INFO);
    nla_put_u32(no_mac.get(), NL80211_STA_INFO_INACTIVE_TIME, 10);
    nla_nest_end(no_mac.get(), info);
    EXPECT_FALSE(parse_station(nlmsg_hdr(no_mac.get()), s));
}

TEST(Parse, SurveyChannels) {
    Msg used = genl(NL80211_CMD_NEW_SURVEY_RESULTS);
    nla_put_u32(used.get(), NL80211_ATTR_IFINDEX, 7);
    nlattr *sv = nla_nest_start(used.get(), NL80211_ATTR_SURVEY_INFO);
    nla_put_u32(used.get(), NL80211_SURVEY_INFO_FREQUENCY, 2412);
    nla_put_u8(used.get(), NL80211_SURVEY_INFO_NOISE, static_cast<uint8_t>(-92));
    nla_put_flag(used.get(), NL80211_SURVEY_INFO_IN_USE);
    nla_nest_end(used.get(), sv);
    Survey s;
    ASSERT_TRUE(parse_survey(nlmsg_hdr(used.get()), s));
    EXPECT_EQ(s.freq_mhz, 2412u);
    EXPECT_TRUE(s.in_use);
    EXPECT_TRUE(s.has_noise);
    EXPECT_EQ(s.noise_dbm, -92);

    Msg quiet = genl(NL80211_CMD_NEW_SURVEY_RESULTS);
    sv = nla_nest_start(quiet.get(), NL80211_ATTR_SURVEY_INFO);
    nla_put_u32(quiet.get(), NL80211_SURVEY_INFO_FREQUENCY, 2462);
    nla_nest_end(quiet.get(), sv);
    ASSERT_TRUE(parse_survey(nlmsg_hdr(quiet.get()), s));
    EXPECT_FALSE(s.in_use);
    EXPECT_FALSE(s.has_noise);
}

TEST(Parse, ChannelNumbersAndWidths) {
    EXPECT_EQ(freq_to_channel(2412), 1);
    EXPECT_EQ(freq_to_channel(2472), 13);
    EXPECT_EQ(freq_to_channel(2484), 14);
    EXPECT_EQ(freq_to_channel(5180), 36);
    EXPECT_EQ(freq_to_channel(5825), 165);
    EXPECT_EQ(freq_to_channel(5955), 1);
    EXPECT_EQ(freq_to_channel(5935), 2);
    EXPECT_EQ(freq_to_channel(6115), 33);
    EXPECT_EQ(freq_to_channel(58320), 1);
    EXPECT_EQ(freq_to_channel(0), 0);
    EXPECT_EQ(freq_to_channel(1000), 0);
    EXPECT_EQ(chan_width_mhz(NL80211_CHAN_WIDTH_20_NOHT), 20);
    EXPECT_EQ(chan_width_mhz(NL80211_CHAN_WIDTH_80), 80);
    EXPECT_EQ(chan_width_mhz(NL80211_CHAN_WIDTH_80P80), 160);
    EXPECT_EQ(chan_width_mhz(999), 0);
}

TEST(Parse, DnsmasqLeases) {
    RawState s;
    Mac known{0x02, 0, 0, 0, 1, 0};
    s.neigh[known] = {10, 0, 0, 9}; // the neighbour table wins over a lease
    parse_leases("1700000000 02:00:00:00:01:00 10.0.0.2 laptop 01:02:00:00:00:01:00\n"
                 "1700000000 02:00:00:00:02:00 10.0.0.3 * *\n"
                 "garbage line\n"
                 "1700000000 zz:00:00:00:02:00 10.0.0.4 bad *\n",
                 s);
    EXPECT_EQ(s.lease_names.size(), 1u);
    EXPECT_EQ(s.lease_names[known], "laptop");
    EXPECT_EQ((s.neigh[known]), (std::array<uint8_t, 4>{10, 0, 0, 9}));
    Mac second{0x02, 0, 0, 0, 2, 0};
    ASSERT_TRUE(s.neigh.count(second));
    EXPECT_EQ((s.neigh[second]), (std::array<uint8_t, 4>{10, 0, 0, 3}));
}
