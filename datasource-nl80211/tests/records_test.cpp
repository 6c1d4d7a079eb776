// From one snapshot of kernel state to the records of each kind.
#include <gtest/gtest.h>

#include <linux/if.h>
#include <linux/nl80211.h>

#include <cstring>

#include "nl_records.h"

using namespace qvnl;

namespace {

Iface iface(uint32_t ifindex, uint32_t wiphy, uint32_t type, const char *name, const char *ssid, uint32_t freq) {
    Iface i;
    i.ifindex = ifindex;
    i.wiphy = wiphy;
    i.iftype = type;
    i.name = name;
    i.ssid = ssid;
    i.mac = {0x02, 0, 0, 0, static_cast<uint8_t>(wiphy), 0};
    i.freq_mhz = freq;
    i.width_mhz = 20;
    i.txpower_mbm = 2000;
    i.has_txpower = true;
    return i;
}

Station station(uint32_t ifindex, uint8_t last) {
    Station s;
    s.ifindex = ifindex;
    s.mac = {0x02, 0, 0, 0, 9, last};
    s.signal_dbm = -30;
    s.has_signal = true;
    s.rx_packets = 10;
    s.tx_packets = 20;
    return s;
}

/* An access point on phy0 (wlan0, AP, two clients; wlan0-mon, a monitor)
 * and a client interface on phy1. */
RawState access_point() {
    RawState s;
    s.ifaces.push_back(iface(5, 0, NL80211_IFTYPE_AP, "wlan0", "qv-test", 2412));
    s.ifaces.push_back(iface(6, 0, NL80211_IFTYPE_MONITOR, "wlan0-mon", "", 2412));
    s.ifaces.push_back(iface(8, 1, NL80211_IFTYPE_STATION, "wlan1", "", 0));
    s.stations.push_back(station(5, 1));
    s.stations.push_back(station(5, 2));
    s.stations.push_back(station(8, 3)); // the AP that wlan1 is associated with
    s.links[5] = Link{IFF_UP | IFF_RUNNING, 100, 200, 1, 2, 3, 4, 7};
    s.links[6] = Link{IFF_UP | IFF_PROMISC, 1000, 0, 0, 0, 0, 0, 0};
    s.links[8] = Link{0, 5, 6, 0, 0, 0, 0, 0};
    s.surveys.push_back(Survey{5, 2412, false, -92, true});
    return s;
}

} // namespace

TEST(Records, InterfacesOneRowPerNl80211InterfaceKeyedByIfindex) {
    RawState s = access_point();
    s.ifaces[0].name = "a-name-of-17-bytes";
    s.ifaces[0].ssid = std::string(40, 'S');
    auto rows = build_if_rows(s);
    ASSERT_EQ(rows.records.size(), 3u);
    EXPECT_EQ(rows.cursors, (std::vector<uint32_t>{5, 6, 8}));
    const qv_wlan_if_entry &ap = rows.records[0];
    EXPECT_STREQ(ap.qvIfName, "a-name-of-17-byt");       // 16 bytes and its NUL
    EXPECT_EQ(std::string(ap.qvSSIDName), std::string(34, 'S'));
    EXPECT_EQ(ap.qvIfPromiscuous, 0);
    EXPECT_EQ(ap.qvIfType, NL80211_IFTYPE_AP);
    EXPECT_EQ(ap.qvIfMode, NL80211_IFTYPE_AP);
    EXPECT_EQ(ap.qvIfConfMode, NL80211_IFTYPE_AP);
    EXPECT_EQ(rows.records[1].qvIfPromiscuous, 1);
    EXPECT_EQ(rows.records[2].qvIfMode, 0); // down: not running in its configured mode
    EXPECT_EQ(rows.records[2].qvIfConfMode, NL80211_IFTYPE_STATION);
    EXPECT_EQ(rows.records[2].qvSSIDName[0], '\0');
}

TEST(Records, AssociationsOnlyFromInterfacesThatServeClients) {
    RawState s = access_point();
    s.neigh[s.stations[0].mac] = {192, 168, 7, 10};
    s.lease_names[s.stations[0].mac] = "laptop";
    Station &st = s.stations[0];
    st.connected_s = 61;
    st.assoc_at_boottime_ns = 3500000000000ull;
    st.rx_bytes = 0x1'0000'0010ull; // 64-bit counters keep their low 32 bits
    st.tx_bytes = 77;
    st.tx_rate = Rate{65000, true, false, false, false};
    st.rx_rate = Rate{54000, false, false, false, false};
    st.tx_duration_us = 0x2'0000'0003ull;
    st.rx_duration_us = 9;
    for (int tid = 0; tid < 8; ++tid) st.tid_tx_msdu[tid] = 1u << tid;
    st.tid_tx_msdu[16] = 1000;

    auto rows = build_ass_rows(s);
    ASSERT_EQ(rows.records.size(), 2u);
    EXPECT_EQ(rows.cursors, (std::vector<uint32_t>{0, 1}));
    const qv_wlan_ass_entry &e = rows.records[0];
    EXPECT_EQ(e.first_index, 5);
    EXPECT_EQ(0, std::memcmp(e.qvClientMac, st.mac.data(), 6));
    EXPECT_EQ(0, std::memcmp(e.qvClientIP, "\xc0\xa8\x07\x0a", 4));
    EXPECT_STREQ(e.qvClientHostname, "laptop");
    EXPECT_EQ(e.qvClientRSSI, -30);
    EXPECT_EQ(e.qvClientLinkUptime, 61u);
    EXPECT_EQ(e.qvClientAssociationTime, 3500u);
    EXPECT_EQ(e.qvClientMACProtocol, PROTO_N);
    EXPECT_STREQ(e.qvClientSSID, "qv-test");
    EXPECT_EQ(e.qvClientChannel, 1);
    EXPECT_EQ(e.qvClientLastTxRate, 65000);
    EXPECT_EQ(e.qvClientLastRxRate, 54000);
    EXPECT_EQ(e.qvClientTxAirtime, 3u);
    EXPECT_EQ(e.qvClientRxAirtime, 9u);
    EXPECT_EQ(0, std::memcmp(e.qvClientBSSID, s.ifaces[0].mac.data(), 6));
    EXPECT_EQ(e.qvClientRxDataFrames, 10u);
    EXPECT_EQ(e.qvClientRxUnicastFrames, 10u);
    EXPECT_EQ(e.qvClientRxDataOctets, 0x10u);
    EXPECT_EQ(e.qvClientTxDataFrames, 20u);
    EXPECT_EQ(e.qvClientTxDataOctets, 77u);
    // TIDs 0,3 and non-QoS: best effort; 1,2: background; 4,5: video; 6,7: voice.
    EXPECT_EQ(e.qvClientTxBeDataFrames, 1u + 8u + 1000u);
    EXPECT_EQ(e.qvClientTxBgDataFrames, 2u + 4u);
    EXPECT_EQ(e.qvClientTxViDataFrames, 16u + 32u);
    EXPECT_EQ(e.qvClientTxVoDataFrames, 64u + 128u);
    // Nothing nl80211 lacks is invented, and no byte is left undefined.
    EXPECT_EQ(e.qvClientUsername[0], '\0');
    EXPECT_EQ(e.qvClientAuthMethod, 0);
    EXPECT_EQ(e.qvClientRxMgtFrames, 0u);
    const qv_wlan_ass_entry &other = rows.records[1];
    EXPECT_EQ(0, std::memcmp(other.qvClientIP, "\0\0\0\0", 4));
    EXPECT_EQ(other.qvClientHostname[0], '\0');
    static const uint8_t zeros[44] = {};
    EXPECT_EQ(0, std::memcmp(other.reserved_408, zeros, sizeof other.reserved_408));
}

TEST(Records, MacProtocolFromRateAndBand) {
    EXPECT_EQ(mac_protocol(Rate{0, false, false, true, false}, 5180), PROTO_AX);
    EXPECT_EQ(mac_protocol(Rate{0, false, true, false, false}, 5180), PROTO_AC);
    EXPECT_EQ(mac_protocol(Rate{11000, false, false, false, false}, 2437), PROTO_B);
    EXPECT_EQ(mac_protocol(Rate{54000, false, false, false, false}, 2437), PROTO_G);
    EXPECT_EQ(mac_protocol(Rate{54000, false, false, false, false}, 5180), PROTO_A);
    EXPECT_EQ(mac_protocol(Rate{}, 0), PROTO_UNKNOWN);
}

TEST(Records, RadioStatisticsSumTheRadiosInterfaces) {
    RawState s = access_point();
    s.stations[0].tx_retries = 4;
    s.stations[1].tx_failed = 2;
    s.stations[0].tx_duration_us = 0xffffffffull;
    s.stations[1].tx_duration_us = 2; // the sum wraps like the counter would
    s.stations[0].tid_tx_msdu[6] = 5;
    auto rows = build_radio_stats_rows(s);
    ASSERT_EQ(rows.records.size(), 2u);
    EXPECT_EQ(rows.cursors, (std::vector<uint32_t>{0, 1}));
    const qv_wlan_radio_statis_entry &phy0 = rows.records[0];
    EXPECT_EQ(phy0.qvRadioTxDataFrames, 200u);
    EXPECT_EQ(phy0.qvRadioRxTotalDataFrames, 1100u); // wlan0 and its monitor
    EXPECT_EQ(phy0.qvRadioRxMulticastDataFrames, 7u);
    EXPECT_EQ(phy0.qvRadioTxTotalFrameErrors, 2u);
    EXPECT_EQ(phy0.qvRadioTxTotalFramesDropped, 4u);
    EXPECT_EQ(phy0.qvRadioRxTotalFrameDropped, 3u);
    EXPECT_EQ(phy0.qvRadioTxTotalRetries, 4u);
    EXPECT_EQ(phy0.qvRadioTxFEForExcessiveHWRetries, 2u);
    EXPECT_EQ(phy0.qvRadioTxUnicastDataFrames, 40u);
    EXPECT_EQ(phy0.qvRadioRxUnicastDataFrames, 20u);
    EXPECT_EQ(phy0.qvRadioTxVoDataFrames, 5u);
    EXPECT_EQ(phy0.qvRadioTxAirtime, 1u);
    EXPECT_EQ(phy0.qvRadioTxBeaconFrames, 0u);
    EXPECT_EQ(rows.records[1].qvRadioTxUnicastDataFrames, 20u); // phy1's own station
}

TEST(Records, VirtualInterfaceStatisticsPerInterface) {
    RawState s = access_point();
    s.links[5].rx_packets = 0x1'0000'0001ull;
    auto rows = build_vif_stats_rows(s);
    ASSERT_EQ(rows.records.size(), 3u);
    EXPECT_EQ(rows.cursors, (std::vector<uint32_t>{5, 6, 8}));
    const qv_wlan_virtual_statis_entry &e = rows.records[0];
    EXPECT_EQ(e.qvVIfRxDataFrames, 1u);
    EXPECT_EQ(e.qvVIfRxErrorFrames, 1u);
    EXPECT_EQ(e.qvVIfTxErrorFrames, 2u);
    EXPECT_EQ(e.qvVIfRxDroppedFrames, 3u);
    EXPECT_EQ(e.qvVIfTxDroppedFrames, 4u);
    EXPECT_EQ(e.qvVIfRxMulticastDataFrames, 7u);
    EXPECT_EQ(e.qvVIfTxDataFrames, 200u);
    EXPECT_EQ(e.qvVIfRxUnicastDataFrames, 20u);
    EXPECT_EQ(e.qvVIfTxUnicastDataFrames, 40u);
    // An interface that vanished from the link dump reads as zeros.
    s.links.erase(8);
    rows = build_vif_stats_rows(s);
    EXPECT_EQ(rows.records[2].qvVIfRxDataFrames, 0u);
}

TEST(Records, RadioAttributesChannelPowerNoise) {
    RawState s = access_point();
    s.ifaces[0].txpower_mbm = 1750; // 17.5 dBm: whole dBm, rounded toward zero
    s.surveys.push_back(Survey{5, 2437, false, -80, true});
    auto rows = build_radio_attr_rows(s);
    ASSERT_EQ(rows.records.size(), 2u);
    EXPECT_EQ(rows.cursors, (std::vector<uint32_t>{0, 1}));
    const qv_wlan_radio_attr_entry &phy0 = rows.records[0];
    EXPECT_EQ(phy0.qvRadioChannel, 1);
    EXPECT_EQ(phy0.qvRadioTxPower, 17);
    EXPECT_EQ(phy0.qvRadioNoiseFloor, -92); // the operating channel's, not -80
    int32_t extra[3];
    std::memcpy(extra, phy0.reserved_12, sizeof extra);
    EXPECT_EQ(extra[0], 2412);
    EXPECT_EQ(extra[1], 20);
    EXPECT_EQ(extra[2], 0);
    // A channel flagged in use wins over a frequency match.
    s.surveys.push_back(Survey{5, 2412, true, -95, true});
    EXPECT_EQ(build_radio_attr_rows(s).records[0].qvRadioNoiseFloor, -95);
    // phy1 has no channel: channel 0 and no noise floor.
    EXPECT_EQ(rows.records[1].qvRadioChannel, 0);
    EXPECT_EQ(rows.records[1].qvRadioNoiseFloor, 0);
}

TEST(Records, NoWirelessInterfacesNoRows) {
    RawState empty;
    EXPECT_TRUE(build_if_rows(empty).records.empty());
    EXPECT_TRUE(build_ass_rows(empty).records.empty());
    EXPECT_TRUE(build_radio_stats_rows(empty).records.empty());
    EXPECT_TRUE(build_vif_stats_rows(empty).records.empty());
    EXPECT_TRUE(build_radio_attr_rows(empty).records.empty());
}
