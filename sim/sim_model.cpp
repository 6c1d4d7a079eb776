// SPDX-License-Identifier: BSD-3-Clause
// Record layouts by column name, stored tables and generated tables.
#include "sim_internal.h"

#include <cstddef>
#include <cstdio>
#include <cmath>
#include <cstring>
#include <iterator>
#include <vector>

// The module's own column lists (X-macros), so that column names, offsets
// and kinds cannot drift from what the module reads.
#include "datasource/qv_wlan_datasource.h"

namespace qvsim {
namespace {

#define QV_SIM_COLUMN(R, number, object, value_type, offset) \
    {#object, offsetof(R, object), sizeof(R::object), ValueType::value_type},

const ColumnInfo if_columns[] = {QV_XIF_TABLE_COLUMNS(QV_SIM_COLUMN, qv_wlan_if_entry)};
const ColumnInfo ass_columns[] = {QV_ASSOCIATION_TABLE_COLUMNS(QV_SIM_COLUMN, qv_wlan_ass_entry)};
const ColumnInfo radio_stats_columns[] = {QV_RADIO_STATS_TABLE_COLUMNS(QV_SIM_COLUMN, qv_wlan_radio_statis_entry)};
const ColumnInfo vif_stats_columns[] = {QV_VIF_STATS_TABLE_COLUMNS(QV_SIM_COLUMN, qv_wlan_virtual_statis_entry)};
const ColumnInfo radio_attr_columns[] = {QV_RADIO_ATTRIBUTE_TABLE_COLUMNS(QV_SIM_COLUMN, qv_wlan_radio_attr_entry)};

#undef QV_SIM_COLUMN

template <size_t N>
constexpr KindInfo make_kind(const char *key, size_t record_size, const ColumnInfo (&columns)[N]) {
    return KindInfo{key, record_size, columns, N};
}

const KindInfo kinds[EntryKindCount] = {
    make_kind("interfaces", sizeof(qv_wlan_if_entry), if_columns),
    make_kind("associations", sizeof(qv_wlan_ass_entry), ass_columns),
    make_kind("radio_stats", sizeof(qv_wlan_radio_statis_entry), radio_stats_columns),
    make_kind("vif_stats", sizeof(qv_wlan_virtual_statis_entry), vif_stats_columns),
    make_kind("radio_attributes", sizeof(qv_wlan_radio_attr_entry), radio_attr_columns),
};

inline void put_u32(void *record, size_t offset, uint32_t value) {
    std::memcpy(static_cast<unsigned char *>(record) + offset, &value, sizeof value);
}

} // namespace

const KindInfo &kind_info(int kind) { return kinds[kind]; }

const ColumnInfo *find_column(int kind, const std::string &name) {
    const KindInfo &info = kinds[kind];
    for (size_t i = 0; i < info.column_count; ++i)
        if (name == info.columns[i].name) return &info.columns[i];
    return nullptr;
}

// floor(a * b / c), wrapped to 64 bits. Exact where the compiler has a
// 128-bit type (a high rate over months of uptime overflows 64 bits); 32-bit
// targets fall back to long double, close enough for a simulation.
uint64_t mul_div(uint64_t a, uint64_t b, uint64_t c) {
#ifdef __SIZEOF_INT128__
    return static_cast<uint64_t>(static_cast<unsigned __int128>(a) * b / c);
#else
    long double q = static_cast<long double>(a) * static_cast<long double>(b) / static_cast<long double>(c);
    return static_cast<uint64_t>(std::fmod(q, 18446744073709551616.0L));
#endif
}

namespace {

// floor(per * elapsed / divisor), with 64-bit arithmetic while the product fits
// (years of uptime at the rates seen in practice).
template <uint64_t divisor>
inline uint32_t gain(uint64_t per, uint64_t elapsed) {
    uint64_t product;
    if (!__builtin_mul_overflow(per, elapsed, &product)) return static_cast<uint32_t>(product / divisor);
    return static_cast<uint32_t>(mul_div(per, elapsed, divisor));
}

inline void add_u32(unsigned char *record, size_t offset, uint32_t gained) {
    uint32_t value;
    std::memcpy(&value, record + offset, sizeof value);
    value += gained; // wraps at 2^32 like a Counter32
    std::memcpy(record + offset, &value, sizeof value);
}

} // namespace

void advance(unsigned char *record, const Rate &rate, uint64_t elapsed_us) {
    add_u32(record, rate.offset, gain<1000000000000ULL>(rate.micro_per_s, elapsed_us));
}

StoredTable::StoredTable(std::vector<StoredRow> rows) : rows_(std::move(rows)), dense_(true) {
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].cursor != i) dense_ = false;
        if (!rows_[i].rates.empty()) grows_ = true;
    }
    if (!dense_) {
        positions_.reserve(rows_.size());
        for (size_t i = 0; i < rows_.size(); ++i) positions_.emplace(rows_[i].cursor, i);
    }
}

bool StoredTable::find(uint32_t cursor, size_t *pos) const {
    if (dense_) {
        if (cursor >= rows_.size()) return false;
        *pos = cursor;
        return true;
    }
    auto it = positions_.find(cursor);
    if (it == positions_.end()) return false;
    *pos = it->second;
    return true;
}

void StoredTable::fill(size_t pos, void *record, uint64_t elapsed_us) const {
    const StoredRow &row = rows_[pos];
    std::memcpy(record, row.bytes.data(), row.bytes.size());
    for (const Rate &rate : row.rates) advance(static_cast<unsigned char *>(record), rate, elapsed_us);
}

// ---------------------------------------------------------------------------
// Generated access point. An entry is a function of its position: its record
// at time 0 (strings, addresses, counter bases), plus counters that grow at
// fixed rates per column. Access points up to kPrebuiltBytes keep every
// record at time 0, built once, so a call is a record copy and a few
// additions; larger ones are built on each call and cost no memory.
// Cursor = position in every table.

namespace {

constexpr size_t kPrebuiltBytes = size_t{64} << 20;

const int channels_24[] = {1, 6, 11};
const int channels_5[] = {36, 40, 44, 48, 149, 153, 157, 161};

int radio_channel(uint32_t radio) {
    return (radio % 2 == 0) ? channels_24[(radio / 2) % 3] : channels_5[(radio / 2) % 8];
}

// A counter's value at time 0, different for every entry and column.
uint32_t counter_base(uint32_t seed, uint32_t salt) { return ((seed + 1) * 2654435761u ^ (salt * 40503u)) % 50000000u; }

// A column that grows by `per_s` a second.
struct Growth {
    uint32_t offset;
    uint32_t per_s;
};

#define QV_GROW(field, per_s) \
    Growth { offsetof(qv_wlan_ass_entry, field), per_s }
const Growth ass_growth[] = {
    QV_GROW(qvClientLinkUptime, 1),        QV_GROW(qvClientTxAirtime, 3000),     QV_GROW(qvClientRxAirtime, 2000),
    QV_GROW(qvClientAssociationTime, 1),   QV_GROW(qvClientRxDataFrames, 40),    QV_GROW(qvClientRxDataOctets, 40000),
    QV_GROW(qvClientRxMgtFrames, 1),       QV_GROW(qvClientRxUnicastFrames, 38), QV_GROW(qvClientRxMulticastFrames, 1),
    QV_GROW(qvClientRxBroadcastFrames, 1), QV_GROW(qvClientTxDataFrames, 60),    QV_GROW(qvClientTxMgtFrames, 1),
    QV_GROW(qvClientTxDataOctets, 90000),  QV_GROW(qvClientTxUnicastFrames, 58), QV_GROW(qvClientTxMulticastFrames, 1),
    QV_GROW(qvClientTxBroadcastFrames, 1), QV_GROW(qvClientTxBeDataFrames, 40),  QV_GROW(qvClientTxBgDataFrames, 5),
    QV_GROW(qvClientTxViDataFrames, 10),   QV_GROW(qvClientTxVoDataFrames, 5),
};
#undef QV_GROW

// Statistics records are arrays of 32-bit counters (the radio's up to its
// reserved tail): every counter grows.
constexpr uint32_t kRadioCounters = offsetof(qv_wlan_radio_statis_entry, reserved_92) / 4;
constexpr uint32_t kVifCounters = sizeof(qv_wlan_virtual_statis_entry) / 4;

template <uint32_t N, uint32_t first, uint32_t step>
std::vector<Growth> every_counter() {
    std::vector<Growth> out;
    for (uint32_t k = 0; k < N; ++k) out.push_back(Growth{4 * k, first + step * k});
    return out;
}

class GeneratedTable final : public Table {
  public:
    GeneratedTable(int kind, const GenerateParams &params) : kind_(kind), params_(params) {
        switch (kind) {
        case Interfaces:
        case VifStats: size_ = params.vifs; break;
        case Associations: size_ = params.clients; break;
        default: size_ = params.radios; break;
        }
        switch (params.still ? EntryKindCount : kind) {
        case Associations: growth_.assign(std::begin(ass_growth), std::end(ass_growth)); break;
        case RadioStats: growth_ = every_counter<kRadioCounters, 50, 10>(); break;
        case VifStats: growth_ = every_counter<kVifCounters, 20, 5>(); break;
        default: break;
        }
        const size_t record_size = kinds[kind_].record_size;
        if (size_ * record_size <= kPrebuiltBytes) {
            prebuilt_.resize(size_ * record_size);
            for (size_t pos = 0; pos < size_; ++pos) build(pos, &prebuilt_[pos * record_size]);
        }
    }
    size_t size() const override { return size_; }
    uint32_t cursor_at(size_t pos) const override { return static_cast<uint32_t>(pos); }
    bool find(uint32_t cursor, size_t *pos) const override {
        if (cursor >= size_) return false;
        *pos = cursor;
        return true;
    }
    bool grows() const override { return !growth_.empty(); }
    void fill(size_t pos, void *record, uint64_t elapsed_us) const override {
        const size_t record_size = kinds[kind_].record_size;
        if (!prebuilt_.empty())
            std::memcpy(record, &prebuilt_[pos * record_size], record_size);
        else
            build(pos, record);
        auto *bytes = static_cast<unsigned char *>(record);
        for (const Growth &g : growth_) add_u32(bytes, g.offset, gain<1000000>(g.per_s, elapsed_us));
    }

  private:
    uint32_t radio_of_vif(uint32_t vif) const { return params_.radios ? vif % params_.radios : 0; }

    // The entry at time 0.
    void build(size_t pos, void *record) const {
        const uint32_t i = static_cast<uint32_t>(pos);
        std::memset(record, 0, kinds[kind_].record_size);
        switch (kind_) {
        case Interfaces: build_if(i, static_cast<qv_wlan_if_entry *>(record)); break;
        case Associations: build_ass(i, static_cast<qv_wlan_ass_entry *>(record)); break;
        case RadioStats:
            for (uint32_t k = 0; k < kRadioCounters; ++k) put_u32(record, 4 * k, counter_base(i, 100 + k));
            break;
        case VifStats:
            for (uint32_t k = 0; k < kVifCounters; ++k) put_u32(record, 4 * k, counter_base(i, 200 + k));
            break;
        case RadioAttributes: build_radio_attr(i, static_cast<qv_wlan_radio_attr_entry *>(record)); break;
        }
    }

    void build_if(uint32_t i, qv_wlan_if_entry *e) const {
        std::snprintf(e->qvIfName, sizeof e->qvIfName, "ath%u", i);
        std::snprintf(e->qvSSIDName, sizeof e->qvSSIDName, "QV-Gen-%u", i);
        e->qvIfPromiscuous = 0;
        e->qvIfType = 2;
        e->qvIfMode = 1;
        e->qvIfConfMode = 1;
    }

    void build_ass(uint32_t i, qv_wlan_ass_entry *e) const {
        const uint32_t vif = params_.vifs ? i % params_.vifs : 0;
        e->first_index = static_cast<int32_t>(vif);
        const unsigned char mac[6] = {0x02,
                                      0x51,
                                      static_cast<unsigned char>(i >> 24),
                                      static_cast<unsigned char>(i >> 16),
                                      static_cast<unsigned char>(i >> 8),
                                      static_cast<unsigned char>(i)};
        std::memcpy(e->qvClientMac, mac, 6);
        const unsigned char ip[4] = {10, static_cast<unsigned char>(i >> 16), static_cast<unsigned char>(i >> 8),
                                     static_cast<unsigned char>(i)};
        std::memcpy(e->qvClientIP, ip, 4);
        std::snprintf(e->qvClientHostname, sizeof e->qvClientHostname, "client-%u", i);
        e->qvClientRSSI = -40 - static_cast<int32_t>(i % 41);
        e->qvClientLinkUptime = (i * 37u) % 86400u;
        e->qvClientCWPUsed = 0;
        e->qvClientAuthMethod = 1 + static_cast<int32_t>(i % 3);
        e->qvClientEncryptionMethod = 1 + static_cast<int32_t>(i % 2);
        e->qvClientMACProtocol = 1 + static_cast<int32_t>(i % 4);
        std::snprintf(e->qvClientSSID, sizeof e->qvClientSSID, "QV-Gen-%u", vif);
        e->qvClientVLAN = 1 + static_cast<int32_t>(vif % 4094);
        e->qvClientUserProfId = static_cast<int32_t>(vif % 8);
        e->qvClientChannel = radio_channel(radio_of_vif(vif));
        e->qvClientLastTxRate = 6 + static_cast<int32_t>(i % 860);
        e->qvClientLastRxRate = 6 + static_cast<int32_t>((i * 7) % 860);
        std::snprintf(e->qvClientUsername, sizeof e->qvClientUsername, "user%u", i);
        e->qvClientTxAirtime = counter_base(i, 2);
        e->qvClientRxAirtime = counter_base(i, 3);
        e->qvClientAssociationTime = (i * 41u) % 86400u;
        const unsigned char bssid[6] = {
            0x02, 0x51, 0xff, 0x00, static_cast<unsigned char>(vif >> 8), static_cast<unsigned char>(vif)};
        std::memcpy(e->qvClientBSSID, bssid, 6);
        e->qvClientRxDataFrames = counter_base(i, 5);
        e->qvClientRxDataOctets = counter_base(i, 6);
        e->qvClientRxMgtFrames = counter_base(i, 7);
        e->qvClientRxUnicastFrames = counter_base(i, 8);
        e->qvClientRxMulticastFrames = counter_base(i, 9);
        e->qvClientRxBroadcastFrames = counter_base(i, 10);
        e->qvClientRxMICFailures = counter_base(i, 11) % 10u;
        e->qvClientTxDataFrames = counter_base(i, 12);
        e->qvClientTxMgtFrames = counter_base(i, 13);
        e->qvClientTxDataOctets = counter_base(i, 14);
        e->qvClientTxUnicastFrames = counter_base(i, 15);
        e->qvClientTxMulticastFrames = counter_base(i, 16);
        e->qvClientTxBroadcastFrames = counter_base(i, 17);
        e->qvClientTxBeDataFrames = counter_base(i, 18);
        e->qvClientTxBgDataFrames = counter_base(i, 19);
        e->qvClientTxViDataFrames = counter_base(i, 20);
        e->qvClientTxVoDataFrames = counter_base(i, 21);
    }

    void build_radio_attr(uint32_t i, qv_wlan_radio_attr_entry *e) const {
        e->qvRadioChannel = radio_channel(i);
        e->qvRadioTxPower = 17 + static_cast<int32_t>(i % 7);
        e->qvRadioNoiseFloor = -95 + static_cast<int32_t>(i % 6);
    }

    int kind_;
    GenerateParams params_;
    size_t size_;
    std::vector<Growth> growth_;
    std::vector<unsigned char> prebuilt_; // every record at time 0, or empty
};

} // namespace

std::unique_ptr<Table> make_generated_table(int kind, const GenerateParams &params) {
    return std::make_unique<GeneratedTable>(kind, params);
}

bool check_generate_params(const GenerateParams &p, std::string *error) {
    // MACs carry 32 bits of the position; cursors are 32-bit.
    if (p.vifs > 1000000u || p.radios > 65536u || p.still > 1u) {
        *error = "generate: at most 1000000 vifs and 65536 radios; still is 0 or 1";
        return false;
    }
    return true;
}

bool parse_generate_params(const std::string &text, GenerateParams *out, std::string *error) {
    GenerateParams p;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(',', start);
        if (end == std::string::npos) end = text.size();
        std::string item = text.substr(start, end - start);
        start = end + 1;
        if (item.empty()) continue;
        size_t eq = item.find('=');
        std::string key = item.substr(0, eq);
        std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
        char *stop = nullptr;
        unsigned long long n = std::strtoull(value.c_str(), &stop, 10);
        if (value.empty() || *stop != '\0' || value[0] == '-' || n > 0xFFFFFFFFull) {
            *error = "generate: bad value in '" + item + "' (want key=N)";
            return false;
        }
        uint32_t v = static_cast<uint32_t>(n);
        if (key == "clients")
            p.clients = v;
        else if (key == "vifs")
            p.vifs = v;
        else if (key == "radios")
            p.radios = v;
        else if (key == "still")
            p.still = v;
        else {
            *error = "generate: unknown key '" + key + "' (clients, vifs, radios, still)";
            return false;
        }
    }
    if (!check_generate_params(p, error)) return false;
    *out = p;
    return true;
}

} // namespace qvsim
