// SPDX-License-Identifier: BSD-3-Clause
// The nl80211 data source without a kernel: the kernel's answers (data/kernel.json)
// written as the kernel lays them out, parsed and turned into records, read back
// by the column reference; hostapd's answers (data/hostapd.json); the leases file's
// checks. The snapshot cache behind the ten functions and the hostapd client are
// exercised in a real snmpd: on real radios in the QEMU guest, failing on the host.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <linux/nl80211.h>
#include <netlink/genl/genl.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "nl_parse.h"
#include "nl_records.h"
#include "nl_source.h" // parse_age

using namespace qvnl;
using nlohmann::json;

namespace {

json data(const char *file = QV_NL80211_KERNEL_DATA) {
    std::ifstream f(file);
    return json::parse(f);
}

Mac mac(const std::string &text) {
    Mac m{};
    for (size_t i = 0; i < 6; ++i) m[i] = std::stoul(text.substr(3 * i, 2), nullptr, 16);
    return m;
}

// clang-format off
#define A(name) {#name, NL80211_##name}
const std::map<std::string, int> kAttributes = {
    A(ATTR_IFINDEX), A(ATTR_IFNAME), A(ATTR_WIPHY), A(ATTR_IFTYPE), A(ATTR_MAC), A(ATTR_SSID), A(ATTR_WIPHY_FREQ),
    A(ATTR_CHANNEL_WIDTH), A(ATTR_WIPHY_TX_POWER_LEVEL), A(ATTR_STA_INFO), A(ATTR_SURVEY_INFO),
    A(STA_INFO_INACTIVE_TIME), A(STA_INFO_SIGNAL), A(STA_INFO_CONNECTED_TIME), A(STA_INFO_ASSOC_AT_BOOTTIME),
    A(STA_INFO_RX_BYTES), A(STA_INFO_RX_BYTES64), A(STA_INFO_TX_BYTES), A(STA_INFO_TX_BYTES64), A(STA_INFO_RX_PACKETS),
    A(STA_INFO_TX_PACKETS), A(STA_INFO_TX_RETRIES), A(STA_INFO_TX_FAILED), A(STA_INFO_RX_DURATION),
    A(STA_INFO_TX_DURATION), A(STA_INFO_TX_BITRATE), A(STA_INFO_RX_BITRATE), A(STA_INFO_TID_STATS),
    A(RATE_INFO_BITRATE), A(RATE_INFO_BITRATE32), A(RATE_INFO_MCS), A(RATE_INFO_VHT_MCS), A(RATE_INFO_HE_MCS),
    A(RATE_INFO_EHT_MCS), A(TID_STATS_TX_MSDU), A(TID_STATS_RX_MSDU), A(SURVEY_INFO_FREQUENCY), A(SURVEY_INFO_NOISE)};
// clang-format on

// Attributes as the kernel lays them out, written with libnl's nla_put API.
void put(nl_msg *m, const json &attributes) {
    for (const json &a : attributes) {
        const int type = a[0].is_number() ? a[0].get<int>() : kAttributes.at(a[0]);
        const std::string kind = a[1];
        if (kind == "nest") {
            nlattr *nest = nla_nest_start(m, type);
            put(m, a[2]);
            nla_nest_end(m, nest);
        } else if (kind == "string" || kind == "text") { // an interface name ends in NUL, an SSID need not
            const std::string text = a[2];
            nla_put(m, type, static_cast<int>(text.size() + (kind == "string")), text.c_str());
        } else if (kind == "mac") {
            nla_put(m, type, 6, mac(a[2]).data());
        } else {
            const int64_t v = a[2];
            kind == "u8"    ? nla_put_u8(m, type, v)
            : kind == "u16" ? nla_put_u16(m, type, v)
            : kind == "u32" ? nla_put_u32(m, type, v)
                            : nla_put_u64(m, type, v);
        }
    }
}

// One message of a dump, parsed as the netlink backend parses it.
template <typename T>
bool parse(bool (*parser)(nlmsghdr *, T &), const json &attributes, T &out) {
    nl_msg *m = nlmsg_alloc();
    genlmsg_put(m, 0, 1, 0x1c, 0, NLM_F_MULTI, 1, 1);
    put(m, attributes);
    const bool ok = parser(nlmsg_hdr(m), out);
    nlmsg_free(m);
    return ok;
}

template <typename T>
void parse_all(bool (*parser)(nlmsghdr *, T &), const json &messages, std::vector<T> &out) {
    for (const json &m : messages) EXPECT_TRUE(parse(parser, m, out.emplace_back())) << m;
}

RawState kernel() {
    const json k = data()["kernel"];
    RawState s;
    parse_all(parse_interface, k["interfaces"], s.ifaces);
    parse_all(parse_station, k["stations"], s.stations);
    parse_all(parse_survey, k["surveys"], s.surveys);
    for (auto &[ifindex, l] : k["links"].items())
        s.links[std::stoul(ifindex)] = Link{l[0], l[1], l[2], l[3], l[4], l[5], l[6], l[7]};
    for (auto &[address, ip] : k["neigh"].items())
        inet_pton(AF_INET, ip.get<std::string>().c_str(), s.neigh[mac(address)].data());
    parse_leases(k["leases"], s);
    for (auto &[key, answer] : k["hostapd"].items()) {
        const Mac m = mac(key.substr(key.find(' ') + 1));
        EXPECT_TRUE(parse_hostapd_sta(answer, m, s.hostapd[{std::stoul(key), m}])) << key;
    }
    return s;
}

// Rows of tests/reference/columns.tsv split at tabs, the header first.
std::vector<std::vector<std::string>> columns_tsv() {
    std::ifstream f(QV_REFERENCE_DIR "/columns.tsv");
    std::vector<std::vector<std::string>> rows;
    for (std::string line, field; std::getline(f, line);) {
        std::istringstream in(line);
        if (line[0] != '#')
            for (rows.emplace_back(); std::getline(in, field, '\t');) rows.back().push_back(field);
    }
    return rows;
}

// A column read back from record bytes, in the form the data file writes it.
json value(const unsigned char *rec, const std::string &kind, size_t offset, size_t room) {
    const unsigned char *p = rec + offset;
    char text[40];
    if (kind == "string") return std::string(reinterpret_cast<const char *>(p), strnlen((const char *)p, room));
    if (kind == "mac") snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", p[0], p[1], p[2], p[3], p[4], p[5]);
    if (kind == "ipaddress") snprintf(text, sizeof text, "%u.%u.%u.%u", p[0], p[1], p[2], p[3]);
    if (kind == "mac" || kind == "ipaddress") return text;
    int32_t i;
    std::memcpy(&i, p, 4);
    return kind == "integer" ? json(i) : json(static_cast<uint32_t>(i));
}

template <typename Rec>
void expect_rows(const Rows<Rec> &rows, const json &want, const std::string &table) {
    ASSERT_EQ(rows.records.size(), want.size()) << table;
    for (size_t r = 0; r < want.size(); ++r) {
        const auto *rec = reinterpret_cast<const unsigned char *>(&rows.records[r]);
        EXPECT_EQ(rows.cursors[r], want[r]["cursor"]) << table << " row " << r;
        EXPECT_EQ(value(rec, "integer", 0, 4), want[r].value("first_index", value(rec, "integer", 0, 4))) << r;
        for (const auto &c : columns_tsv()) {
            if (c[0] != table || !want[r].contains(c[3])) continue;
            EXPECT_EQ(value(rec, c[4], std::stoul(c[5]), std::stoul(c[6])), want[r][c[3]]) << table << " " << c[3];
        }
    }
}

} // namespace

TEST(Nl80211, KernelAnswersBecomeTheRecordsOfEveryTable) {
    const RawState s = kernel();
    const json want = data()["records"];
    expect_rows(build_if_rows(s), want["qvXIfTable"], "qvXIfTable");
    expect_rows(build_ass_rows(s), want["qvAssociationTable"], "qvAssociationTable");
    expect_rows(build_radio_stats_rows(s), want["qvRadioStatsTable"], "qvRadioStatsTable");
    expect_rows(build_vif_stats_rows(s), want["qvVIfStatsTable"], "qvVIfStatsTable");
    expect_rows(build_radio_attr_rows(s), want["qvRadioAttributeTable"], "qvRadioAttributeTable");
}

TEST(Nl80211, RejectedMessagesChannelsWidthsProtocolsAndSnapshotAgesAsTabulated) {
    const json d = data();
    Iface i;
    Station st;
    for (const json &m : d["rejected"]["interfaces"]) EXPECT_FALSE(parse(parse_interface, m, i)) << m;
    for (const json &m : d["rejected"]["stations"]) EXPECT_FALSE(parse(parse_station, m, st)) << m;
    for (auto &c : d["channels"]) EXPECT_EQ(freq_to_channel(c[0]), c[1]) << c;
    for (auto &w : d["widths"]) EXPECT_EQ(chan_width_mhz(w[0]), w[1]) << w;
    for (auto &p : d["mac_protocols"]) EXPECT_EQ(mac_protocol(Rate{p[0], p[1], p[2], p[3], p[4]}, p[5]), p[6]) << p;
    for (auto &a : d["snapshot_ages"]) {
        int64_t ns = -1;
        EXPECT_EQ(parse_age(a[0].get<std::string>().c_str(), ns) ? json(ns) : json(), a[1]) << a;
    }
}

// What the columns read from one hostapd answer (mac_protocol on 2412 MHz).
json columns(const HostapdSta &h) {
    return {{"akm", h.akm},   {"cipher", h.cipher},     {"mic", h.rx_mic_failures},
            {"vlan", h.vlan}, {"username", h.username}, {"protocol", mac_protocol(h, 2412)}};
}

TEST(Nl80211, HostapdAnswersRecordedCutAndForgedReadAsTabulated) {
    const json d = data(QV_NL80211_HOSTAPD_DATA), none = columns(HostapdSta{});
    HostapdSta h;
    for (const json &c : d["cases"]) {
        const std::string text = d["recorded"].value(c[0].get<std::string>(), c[0].get<std::string>());
        ASSERT_EQ(parse_hostapd_sta(text, mac(c[1]), h), !c[2].is_null()) << c;
        json want = none;
        if (c[2].is_null()) continue;
        want.update(c[2]);
        EXPECT_EQ(columns(h), want) << c;
    }
    for (auto &[name, answer] : d["recorded"].items()) {
        const std::string text = answer;
        const Mac m = mac(text);
        ASSERT_TRUE(parse_hostapd_sta(text, m, h));
        const json whole = columns(h);
        for (size_t n = 0; n < text.size(); ++n) {
            EXPECT_EQ(parse_hostapd_sta(text.substr(0, n), m, h), n > 17) << name << " cut at " << n;
            const json cut = columns(h);
            for (const auto &k : {"akm", "cipher", "mic", "vlan", "username", "protocol"})
                EXPECT_TRUE(cut[k] == whole[k] || cut[k] == none[k]) << name << " cut at " << n << ": " << k;
        }
    }
    for (auto &s : d["suites"]) EXPECT_EQ(suite_value(s[0], s[1]), s[2]) << s;
}

TEST(Nl80211, LeasesFileIsReadOnlyAsARegularFileUpToItsCap) {
    const std::string dir = std::filesystem::temp_directory_path() / ("qv-leases-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string good = dir + "/good", big = dir + "/big";
    std::ofstream(good) << "1700000000 02:00:00:00:09:01 10.0.0.2 laptop *\n";
    std::ofstream(big).close();
    std::filesystem::resize_file(big, kLeasesCap + 1);
    ASSERT_EQ(symlink(good.c_str(), (dir + "/link").c_str()), 0);
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0); // no writer: a blocking open would hang here
    std::string text, why;
    EXPECT_TRUE(read_regular_file(good, kLeasesCap, text, why) && text.find("laptop") != std::string::npos) << why;
    const json refused = data()["leases_refused"];
    for (auto &[name, reason] : refused.items()) {
        EXPECT_FALSE(read_regular_file(dir + name, kLeasesCap, text, why)) << name;
        EXPECT_TRUE(reason == "" ? why.empty() : why.find(reason.get<std::string>()) != std::string::npos)
            << name << ": " << why;
    }
    std::filesystem::remove_all(dir);
}
