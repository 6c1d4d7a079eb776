// Record layouts by column name, stored tables and generated tables.
#include "sim_internal.h"

#include <cstdio>
#include <cmath>
#include <cstring>

// The module's own column lists (X-macros), so that column names, offsets
// and kinds cannot drift from what the module reads.
#include "datasource/qv_wlan_datasource.h"

namespace qvsim {
namespace {

#define QV_SIM_COLUMN(R, number, object, kind, offset) {#object, offsetof(R, object), sizeof(R::object), Kind::kind},

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

const KindInfo kinds[TableKindCount] = {
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

void advance(unsigned char *record, const Rate &rate, uint64_t elapsed_us) {
    uint32_t value;
    std::memcpy(&value, record + rate.offset, sizeof value);
    uint64_t gained = mul_div(rate.micro_per_s, elapsed_us, 1000000000000ULL);
    value = static_cast<uint32_t>(value + static_cast<uint32_t>(gained));
    std::memcpy(record + rate.offset, &value, sizeof value);
}

StoredTable::StoredTable(std::vector<StoredRow> rows) : rows_(std::move(rows)), dense_(true) {
    for (size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].cursor != i) dense_ = false;
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
// Generated access point: entries are computed from their position when they
// are fetched, so an access point of any size costs no memory and every
// fetch is O(1). Cursor = position in every table.

namespace {

const int channels_24[] = {1, 6, 11};
const int channels_5[] = {36, 40, 44, 48, 149, 153, 157, 161};

int radio_channel(uint32_t radio) {
    return (radio % 2 == 0) ? channels_24[(radio / 2) % 3] : channels_5[(radio / 2) % 8];
}

// A counter's value: a base that depends on the entry, plus a rate.
uint32_t counter(uint32_t seed, uint32_t salt, uint64_t per_s, uint64_t elapsed_us) {
    uint32_t base = (seed + 1) * 2654435761u ^ (salt * 40503u);
    base %= 50000000u;
    uint64_t gained = mul_div(per_s, elapsed_us, 1000000u);
    return static_cast<uint32_t>(base + static_cast<uint32_t>(gained));
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
    }
    size_t size() const override { return size_; }
    uint32_t cursor_at(size_t pos) const override { return static_cast<uint32_t>(pos); }
    bool find(uint32_t cursor, size_t *pos) const override {
        if (cursor >= size_) return false;
        *pos = cursor;
        return true;
    }
    void fill(size_t pos, void *record, uint64_t elapsed_us) const override {
        const uint32_t i = static_cast<uint32_t>(pos);
        std::memset(record, 0, kinds[kind_].record_size);
        switch (kind_) {
        case Interfaces: fill_if(i, static_cast<qv_wlan_if_entry *>(record)); break;
        case Associations: fill_ass(i, static_cast<qv_wlan_ass_entry *>(record), elapsed_us); break;
        case RadioStats: fill_radio_stats(i, record, elapsed_us); break;
        case VifStats: fill_vif_stats(i, record, elapsed_us); break;
        case RadioAttributes: fill_radio_attr(i, static_cast<qv_wlan_radio_attr_entry *>(record)); break;
        }
    }

private:
    uint32_t radio_of_vif(uint32_t vif) const { return params_.radios ? vif % params_.radios : 0; }

    void fill_if(uint32_t i, qv_wlan_if_entry *e) const {
        std::snprintf(e->qvIfName, sizeof e->qvIfName, "ath%u", i);
        std::snprintf(e->qvSSIDName, sizeof e->qvSSIDName, "QV-Gen-%u", i);
        e->qvIfPromiscuous = 0;
        e->qvIfType = 2;
        e->qvIfMode = 1;
        e->qvIfConfMode = 1;
    }

    void fill_ass(uint32_t i, qv_wlan_ass_entry *e, uint64_t t) const {
        const uint32_t vif = params_.vifs ? i % params_.vifs : 0;
        e->first_index = static_cast<int32_t>(vif);
        const unsigned char mac[6] = {0x02, 0x51, static_cast<unsigned char>(i >> 24), static_cast<unsigned char>(i >> 16),
                                      static_cast<unsigned char>(i >> 8), static_cast<unsigned char>(i)};
        std::memcpy(e->qvClientMac, mac, 6);
        const unsigned char ip[4] = {10, static_cast<unsigned char>(i >> 16), static_cast<unsigned char>(i >> 8),
                                     static_cast<unsigned char>(i)};
        std::memcpy(e->qvClientIP, ip, 4);
        std::snprintf(e->qvClientHostname, sizeof e->qvClientHostname, "client-%u", i);
        e->qvClientRSSI = -40 - static_cast<int32_t>(i % 41);
        e->qvClientLinkUptime = (i * 37u) % 86400u + static_cast<uint32_t>(t / 1000000u);
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
        e->qvClientTxAirtime = counter(i, 2, 3000, t);
        e->qvClientRxAirtime = counter(i, 3, 2000, t);
        e->qvClientAssociationTime = (i * 41u) % 86400u + static_cast<uint32_t>(t / 1000000u);
        const unsigned char bssid[6] = {0x02, 0x51, 0xff, 0x00, static_cast<unsigned char>(vif >> 8),
                                        static_cast<unsigned char>(vif)};
        std::memcpy(e->qvClientBSSID, bssid, 6);
        e->qvClientRxDataFrames = counter(i, 5, 40, t);
        e->qvClientRxDataOctets = counter(i, 6, 40000, t);
        e->qvClientRxMgtFrames = counter(i, 7, 1, t);
        e->qvClientRxUnicastFrames = counter(i, 8, 38, t);
        e->qvClientRxMulticastFrames = counter(i, 9, 1, t);
        e->qvClientRxBroadcastFrames = counter(i, 10, 1, t);
        e->qvClientRxMICFailures = counter(i, 11, 0, t) % 10u;
        e->qvClientTxDataFrames = counter(i, 12, 60, t);
        e->qvClientTxMgtFrames = counter(i, 13, 1, t);
        e->qvClientTxDataOctets = counter(i, 14, 90000, t);
        e->qvClientTxUnicastFrames = counter(i, 15, 58, t);
        e->qvClientTxMulticastFrames = counter(i, 16, 1, t);
        e->qvClientTxBroadcastFrames = counter(i, 17, 1, t);
        e->qvClientTxBeDataFrames = counter(i, 18, 40, t);
        e->qvClientTxBgDataFrames = counter(i, 19, 5, t);
        e->qvClientTxViDataFrames = counter(i, 20, 10, t);
        e->qvClientTxVoDataFrames = counter(i, 21, 5, t);
    }

    // Statistics records are arrays of 32-bit counters: every counter grows.
    void fill_radio_stats(uint32_t i, void *record, uint64_t t) const {
        for (uint32_t k = 0; k < 23; ++k) put_u32(record, 4 * k, counter(i, 100 + k, 50 + 10 * k, t));
    }
    void fill_vif_stats(uint32_t i, void *record, uint64_t t) const {
        for (uint32_t k = 0; k < 18; ++k) put_u32(record, 4 * k, counter(i, 200 + k, 20 + 5 * k, t));
    }

    void fill_radio_attr(uint32_t i, qv_wlan_radio_attr_entry *e) const {
        e->qvRadioChannel = radio_channel(i);
        e->qvRadioTxPower = 17 + static_cast<int32_t>(i % 7);
        e->qvRadioNoiseFloor = -95 + static_cast<int32_t>(i % 6);
    }

    int kind_;
    GenerateParams params_;
    size_t size_;
};

} // namespace

std::unique_ptr<Table> make_generated_table(int kind, const GenerateParams &params) {
    return std::make_unique<GeneratedTable>(kind, params);
}

bool check_generate_params(const GenerateParams &p, std::string *error) {
    // MACs carry 32 bits of the position; cursors are 32-bit.
    if (p.vifs > 1000000u || p.radios > 65536u) {
        *error = "generate: at most 1000000 vifs and 65536 radios";
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
        if (key == "clients") p.clients = v;
        else if (key == "vifs") p.vifs = v;
        else if (key == "radios") p.radios = v;
        else {
            *error = "generate: unknown key '" + key + "' (clients, vifs, radios)";
            return false;
        }
    }
    if (!check_generate_params(p, error)) return false;
    *out = p;
    return true;
}

} // namespace qvsim
