// The ten data-source functions over the snapshot cache, with the kernel
// replaced by a table (the backend seam); walks follow the module's calling
// pattern: first once, then next with the previous cursor copied.
#include <gtest/gtest.h>

#include <linux/if.h>
#include <linux/nl80211.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "datasource/qv_wlan_datasource.h"
#include "nl_source.h"

extern "C" unsigned long long qv_nl80211_snapshot_count(int kind);

using namespace qvnl;

namespace {

int64_t g_now = 1000;
int64_t fake_clock() { return g_now; }

struct FakeKernel : Backend {
    RawState state;
    bool broken = false;
    int *collects;
    unsigned *last_needs;
    FakeKernel(int *c, unsigned *n) : collects(c), last_needs(n) {}
    bool collect(unsigned needs, RawState &out, std::string &err) override {
        ++*collects;
        *last_needs = needs;
        if (broken) {
            err = "nl80211 receive: Operation not permitted";
            return false;
        }
        out = state;
        return true;
    }
};

Iface ap(uint32_t ifindex, uint32_t wiphy) {
    Iface i;
    i.ifindex = ifindex;
    i.wiphy = wiphy;
    i.iftype = NL80211_IFTYPE_AP;
    i.name = "wlan" + std::to_string(ifindex);
    i.ssid = "qv";
    i.freq_mhz = 2412;
    return i;
}

class Source : public ::testing::Test {
protected:
    int collects = 0;
    unsigned needs = 0;
    FakeKernel *kernel = nullptr;

    void SetUp() override {
        auto k = std::make_unique<FakeKernel>(&collects, &needs);
        kernel = k.get();
        for (uint32_t n = 0; n < 3; ++n) kernel->state.ifaces.push_back(ap(10 + 7 * n, n));
        for (uint8_t n = 0; n < 50; ++n) {
            Station st;
            st.ifindex = 10 + 7 * (n % 3);
            st.mac = {2, 0, 0, 0, 1, n};
            st.rx_packets = n;
            kernel->state.stations.push_back(st);
        }
        set_backend(std::move(k));
        set_clock(fake_clock);
        set_max_age_ns(kDefaultMaxAgeNs);
    }
    void TearDown() override {
        set_backend(nullptr);
        set_clock(nullptr);
        set_max_age_ns(kDefaultMaxAgeNs);
    }

    /* One walk as the module's iteration callbacks make it. */
    template <typename Rec, typename First, typename Next>
    std::vector<std::pair<uint32_t, Rec>> walk(First first, Next next) {
        std::vector<std::pair<uint32_t, Rec>> rows;
        uint32_t cursor;
        Rec rec;
        if (first(&cursor, &rec) != 0) return rows;
        rows.emplace_back(cursor, rec);
        for (int guard = 0; guard < 10000; ++guard) {
            uint32_t copy = cursor;
            if (next(&copy, &rec) != 0) break;
            cursor = copy;
            rows.emplace_back(cursor, rec);
        }
        return rows;
    }
    std::vector<std::pair<uint32_t, qv_wlan_ass_entry>> walk_ass() {
        return walk<qv_wlan_ass_entry>([](uint32_t *c, qv_wlan_ass_entry *e) { return qv_wlan_get_first_ass(c, e, 1); },
                                       qv_wlan_get_next_ass);
    }
};

} // namespace

TEST_F(Source, WalksEveryKindWithTheCursorsOfTheirIndexes) {
    auto ifs = walk<qv_wlan_if_entry>(qv_wlan_get_first_if, qv_wlan_get_next_if);
    ASSERT_EQ(ifs.size(), 3u);
    EXPECT_EQ(ifs[1].first, 17u);
    EXPECT_STREQ(ifs[1].second.qvIfName, "wlan17");
    auto vifs = walk<qv_wlan_virtual_statis_entry>(qv_wlan_get_first_virtual_statis_entry,
                                                   qv_wlan_get_next_virtual_statis_entry);
    ASSERT_EQ(vifs.size(), 3u);
    EXPECT_EQ(vifs[2].first, 24u);
    auto radios = walk<qv_wlan_radio_statis_entry>(qv_wlan_get_first_radio_statis_entry,
                                                   qv_wlan_get_next_radio_statis_entry);
    ASSERT_EQ(radios.size(), 3u);
    EXPECT_EQ(radios[2].first, 2u);
    auto attrs = walk<qv_wlan_radio_attr_entry>(qv_wlan_get_first_radio_attr_entry,
                                                qv_wlan_get_next_radio_attr_entry);
    ASSERT_EQ(attrs.size(), 3u);
    EXPECT_EQ(attrs[0].second.qvRadioChannel, 1);
    auto ass = walk_ass();
    ASSERT_EQ(ass.size(), 50u);
    for (size_t n = 0; n < ass.size(); ++n) EXPECT_EQ(ass[n].first, n);
    EXPECT_EQ(ass[0].second.first_index, 10);
    EXPECT_EQ(needs, NEED_IFACES | NEED_STATIONS | NEED_NEIGH | NEED_LEASES);
}

TEST_F(Source, OneSnapshotPerAgeNotPerRowOrWalk) {
    // A walk of N rows is restarted from the first row for every GETNEXT:
    // N+1 walks in one second must cost one snapshot.
    for (int pass = 0; pass < 51; ++pass) ASSERT_EQ(walk_ass().size(), 50u);
    EXPECT_EQ(collects, 1);
    g_now += kDefaultMaxAgeNs - 1;
    walk_ass();
    EXPECT_EQ(collects, 1);
    g_now += 1;
    walk_ass();
    EXPECT_EQ(collects, 2);
    // Each kind has its own snapshot.
    walk<qv_wlan_if_entry>(qv_wlan_get_first_if, qv_wlan_get_next_if);
    EXPECT_EQ(collects, 3);
    EXPECT_EQ(qv_nl80211_snapshot_count(KIND_ASS), snapshot_count(KIND_ASS));
}

TEST_F(Source, AgeZeroTakesAFreshSnapshotOnEveryFirstCall) {
    set_max_age_ns(0);
    walk_ass();
    walk_ass();
    walk_ass();
    EXPECT_EQ(collects, 3); // next calls never take one
}

TEST_F(Source, NextFindsItsPlaceFromTheCursorAlone) {
    auto rows = walk_ass();
    qv_wlan_ass_entry e;
    uint32_t cursor = 41; // a cursor handed back from any earlier row
    ASSERT_EQ(qv_wlan_get_next_ass(&cursor, &e), 0);
    EXPECT_EQ(cursor, 42u);
    EXPECT_EQ(0, std::memcmp(&e, &rows[42].second, sizeof e));
    cursor = 49;
    EXPECT_NE(qv_wlan_get_next_ass(&cursor, &e), 0);
    cursor = 12345;
    EXPECT_NE(qv_wlan_get_next_ass(&cursor, &e), 0);
    qv_wlan_if_entry ie;
    cursor = 10;
    EXPECT_NE(qv_wlan_get_next_if(&cursor, &ie), 0) << "no snapshot yet is no entry";
}

TEST_F(Source, RowsThatVanishBetweenSnapshotsAreGone) {
    auto before = walk<qv_wlan_if_entry>(qv_wlan_get_first_if, qv_wlan_get_next_if);
    ASSERT_EQ(before.size(), 3u);
    kernel->state.ifaces.erase(kernel->state.ifaces.begin() + 1); // ifindex 17 leaves
    g_now += kDefaultMaxAgeNs;
    auto after = walk<qv_wlan_if_entry>(qv_wlan_get_first_if, qv_wlan_get_next_if);
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(after[1].first, 24u);
    qv_wlan_if_entry e;
    uint32_t stale = 17;
    EXPECT_NE(qv_wlan_get_next_if(&stale, &e), 0);
    kernel->state.ifaces.clear();
    kernel->state.stations.clear();
    g_now += kDefaultMaxAgeNs;
    EXPECT_TRUE(walk_ass().empty());
}

TEST_F(Source, AFailingKernelGivesEmptyTablesAndOneLogLine) {
    kernel->broken = true;
    testing::internal::CaptureStderr();
    for (int n = 0; n < 5; ++n) {
        g_now += kDefaultMaxAgeNs;
        EXPECT_TRUE(walk_ass().empty());
    }
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(log, "qv_wlan_nl80211: cannot read associations: nl80211 receive: Operation not permitted\n");
    kernel->broken = false;
    g_now += kDefaultMaxAgeNs;
    EXPECT_EQ(walk_ass().size(), 50u);
}

TEST_F(Source, NullArgumentsAreNoEntry) {
    qv_wlan_radio_attr_entry e;
    uint32_t c;
    EXPECT_NE(qv_wlan_get_first_radio_attr_entry(nullptr, &e), 0);
    EXPECT_NE(qv_wlan_get_first_radio_attr_entry(&c, nullptr), 0);
    EXPECT_NE(qv_wlan_get_next_radio_attr_entry(nullptr, &e), 0);
}

TEST(RefMem, CountedReleaseFreesAtZero) {
    // A block as the module allocates it: count, record, cursor.
    auto *block = static_cast<unsigned char *>(std::malloc(4 + sizeof(qv_wlan_radio_attr_entry) + 4));
    uint32_t two = 2;
    std::memcpy(block, &two, 4);
    void *record = block + 4;
    EXPECT_EQ(qv_free_ref_mem(record), 0);
    uint32_t count;
    std::memcpy(&count, block, 4);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(qv_free_ref_mem(record), 0); // frees; leak checkers would see it otherwise
    EXPECT_NE(qv_free_ref_mem(nullptr), 0);
}

TEST(Config, SnapshotAgeText) {
    int64_t ns = -1;
    EXPECT_TRUE(parse_age("1", ns));
    EXPECT_EQ(ns, 1000000000);
    EXPECT_TRUE(parse_age("0.25", ns));
    EXPECT_EQ(ns, 250000000);
    EXPECT_TRUE(parse_age("0", ns));
    EXPECT_EQ(ns, 0);
    EXPECT_TRUE(parse_age(" 2 \n", ns));
    EXPECT_EQ(ns, 2000000000);
    EXPECT_FALSE(parse_age("-1", ns));
    EXPECT_FALSE(parse_age("soon", ns));
    EXPECT_FALSE(parse_age("1s", ns));
    EXPECT_FALSE(parse_age("nan", ns));
    EXPECT_FALSE(parse_age("", ns));
}
