/* SPDX-License-Identifier: BSD-3-Clause */
// The simulated access point's model: five tables of entries, each either
// stored (from a description) or computed on demand (generated).
#ifndef QV_SIM_INTERNAL_H
#define QV_SIM_INTERNAL_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "datasource/qv_wlan_datasource.h"

namespace qvsim {

enum class ValueType { String, Mac, IpAddress, Integer, Counter32 };

struct ColumnInfo {
    const char *name;
    size_t offset;
    size_t size;
    ValueType type;
};

enum EntryKind { Interfaces, Associations, RadioStats, VifStats, RadioAttributes, EntryKindCount };

struct KindInfo {
    const char *json_key; // key of the table in a description
    size_t record_size;
    const ColumnInfo *columns;
    size_t column_count;
};

const KindInfo &kind_info(int kind);
const ColumnInfo *find_column(int kind, const std::string &name);

// A Counter32 field that grows with time: `micro_per_s` millionths per second.
struct Rate {
    uint32_t offset;
    uint64_t micro_per_s;
};

// Adds what `rate` gained in `elapsed_us` to the field, wrapping at 2^32.
void advance(unsigned char *record, const Rate &rate, uint64_t elapsed_us);

class Table {
  public:
    virtual ~Table() = default;
    virtual size_t size() const = 0;
    virtual uint32_t cursor_at(size_t pos) const = 0;
    // Position of the entry whose cursor is `cursor`, in O(1).
    virtual bool find(uint32_t cursor, size_t *pos) const = 0;
    virtual void fill(size_t pos, void *record, uint64_t elapsed_us) const = 0;
    // false: fill ignores the time, so callers need not read the clock.
    virtual bool grows() const = 0;
};

struct StoredRow {
    uint32_t cursor;
    std::vector<unsigned char> bytes;
    std::vector<Rate> rates;
};

class StoredTable final : public Table {
  public:
    explicit StoredTable(std::vector<StoredRow> rows);
    size_t size() const override { return rows_.size(); }
    uint32_t cursor_at(size_t pos) const override { return rows_[pos].cursor; }
    bool find(uint32_t cursor, size_t *pos) const override;
    void fill(size_t pos, void *record, uint64_t elapsed_us) const override;
    bool grows() const override { return grows_; }

  private:
    std::vector<StoredRow> rows_;
    bool grows_ = false; // some row has rates
    bool dense_;         // cursor == position for every row: no map needed
    std::unordered_map<uint32_t, size_t> positions_;
};

struct Model {
    std::unique_ptr<Table> tables[EntryKindCount];
};

struct GenerateParams {
    uint32_t clients = 12;
    uint32_t vifs = 4;
    uint32_t radios = 2;
    uint32_t still = 0; // 1: counters keep their values (walks compared byte for byte)
};

std::unique_ptr<Table> make_generated_table(int kind, const GenerateParams &params);
// "clients=N,vifs=M,radios=R,still=S" (any subset, any order).
bool parse_generate_params(const std::string &text, GenerateParams *out, std::string *error);
bool check_generate_params(const GenerateParams &params, std::string *error);

// Parses a description. On failure returns null and sets `error` to one line
// (without the file name).
std::unique_ptr<Model> parse_description(const std::string &text, std::string *error);

extern const char builtin_demo_json[];

} // namespace qvsim

#endif
