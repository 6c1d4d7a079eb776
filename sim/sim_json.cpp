// SPDX-License-Identifier: BSD-3-Clause
// Reads an access point description (JSON) into a Model. Every problem is
// reported as one line that names where it is: the line and column for a
// syntax error, the path of the value (associations[2].qvClientRSSI) for
// anything else.
#include "sim_internal.h"

#include <arpa/inet.h>

#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>

namespace qvsim {
namespace {

using json = nlohmann::json;

struct Failure {
    std::string message;
};

[[noreturn]] void fail(const std::string &where, const std::string &what) {
    throw Failure{where.empty() ? what : where + ": " + what};
}

int64_t get_integer(const json &v, const std::string &where, int64_t lo, int64_t hi) {
    const std::string range = std::to_string(lo) + ".." + std::to_string(hi);
    if (!v.is_number_integer()) fail(where, "expected an integer in " + range + ", got " + std::string(v.type_name()));
    if (v.is_number_unsigned()) {
        uint64_t u = v.get<uint64_t>();
        if (u > static_cast<uint64_t>(hi)) fail(where, "value " + std::to_string(u) + " out of range " + range);
        return static_cast<int64_t>(u);
    }
    int64_t s = v.get<int64_t>();
    if (s < lo || s > hi) fail(where, "value " + std::to_string(s) + " out of range " + range);
    return s;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::vector<unsigned char> get_hex(const json &v, const std::string &where) {
    const char *want = "expected a non-empty string of hex byte pairs like \"a5\" or \"41424344\"";
    if (!v.is_string()) fail(where, want);
    const std::string &s = v.get_ref<const std::string &>();
    if (s.empty() || s.size() % 2 != 0) fail(where, want);
    std::vector<unsigned char> bytes;
    for (size_t i = 0; i < s.size(); i += 2) {
        int hi = hex_digit(s[i]), lo = hex_digit(s[i + 1]);
        if (hi < 0 || lo < 0) fail(where, want);
        bytes.push_back(static_cast<unsigned char>(hi * 16 + lo));
    }
    return bytes;
}

void set_mac(unsigned char *field, const json &v, const std::string &where) {
    const char *want = "expected a MAC address like \"00:11:22:33:44:55\"";
    if (!v.is_string()) fail(where, want);
    const std::string &s = v.get_ref<const std::string &>();
    if (s.size() != 17) fail(where, want);
    for (int i = 0; i < 6; ++i) {
        int hi = hex_digit(s[3 * i]), lo = hex_digit(s[3 * i + 1]);
        if (hi < 0 || lo < 0 || (i < 5 && s[3 * i + 2] != ':')) fail(where, want);
        field[i] = static_cast<unsigned char>(hi * 16 + lo);
    }
}

void set_u32(unsigned char *field, uint32_t value) { std::memcpy(field, &value, sizeof value); }

void set_column(const ColumnInfo &col, unsigned char *record, const json &v, const std::string &where) {
    unsigned char *field = record + col.offset;
    switch (col.type) {
    case ValueType::String: {
        if (!v.is_string()) fail(where, "expected a string");
        const std::string &s = v.get_ref<const std::string &>();
        if (s.size() > col.size - 1)
            fail(where, "string of " + std::to_string(s.size()) + " bytes does not fit: the room holds at most " +
                            std::to_string(col.size - 1) + " bytes before its NUL");
        std::memset(field, 0, col.size);
        std::memcpy(field, s.data(), s.size());
        break;
    }
    case ValueType::Mac: set_mac(field, v, where); break;
    case ValueType::IpAddress: {
        const char *want = "expected an IPv4 address like \"192.168.1.10\"";
        if (!v.is_string()) fail(where, want);
        in_addr addr;
        if (inet_pton(AF_INET, v.get_ref<const std::string &>().c_str(), &addr) != 1) fail(where, want);
        std::memcpy(field, &addr, 4); // network order, as the record holds it
        break;
    }
    case ValueType::Integer:
        set_u32(field, static_cast<uint32_t>(static_cast<int32_t>(get_integer(v, where, INT32_MIN, INT32_MAX))));
        break;
    case ValueType::Counter32: set_u32(field, static_cast<uint32_t>(get_integer(v, where, 0, UINT32_MAX))); break;
    }
}

StoredRow parse_entry(int kind, const json &entry, size_t position, const std::string &where) {
    const KindInfo &info = kind_info(kind);
    if (!entry.is_object()) fail(where, "expected an object, got " + std::string(entry.type_name()));

    StoredRow row;
    row.cursor = static_cast<uint32_t>(position);
    row.bytes.assign(info.record_size, 0);

    // The fill pattern goes under everything else, whatever the key order.
    if (auto it = entry.find("fill"); it != entry.end()) {
        std::vector<unsigned char> pattern = get_hex(*it, where + ".fill");
        for (size_t i = 0; i < row.bytes.size(); ++i) row.bytes[i] = pattern[i % pattern.size()];
    }

    for (auto it = entry.begin(); it != entry.end(); ++it) {
        const std::string &key = it.key();
        const std::string at = where + "." + key;
        if (key == "fill" || key == "raw" || key == "rates") continue;
        if (key == "cursor") {
            row.cursor = static_cast<uint32_t>(get_integer(*it, at, 0, UINT32_MAX));
        } else if (key == "first_index" && kind == Associations) {
            set_u32(row.bytes.data(),
                    static_cast<uint32_t>(static_cast<int32_t>(get_integer(*it, at, INT32_MIN, INT32_MAX))));
        } else if (const ColumnInfo *col = find_column(kind, key)) {
            set_column(*col, row.bytes.data(), *it, at);
        } else {
            fail(where, "unknown key '" + key + "' (not a column of " + info.json_key + ")");
        }
    }

    if (auto it = entry.find("rates"); it != entry.end()) {
        if (!it->is_object()) fail(where + ".rates", "expected an object of column: increase per second");
        for (auto r = it->begin(); r != it->end(); ++r) {
            const std::string at = where + ".rates." + r.key();
            const ColumnInfo *col = find_column(kind, r.key());
            if (!col || col->type != ValueType::Counter32)
                fail(at, "not a Counter32 column of " + std::string(info.json_key));
            if (!r->is_number() || r->get<double>() < 0 || r->get<double>() > 4294967295.0)
                fail(at, "expected a number of counts per second in 0..4294967295");
            row.rates.push_back(
                Rate{static_cast<uint32_t>(col->offset), static_cast<uint64_t>(std::llround(r->get<double>() * 1e6))});
        }
    }

    if (auto it = entry.find("raw"); it != entry.end()) {
        if (!it->is_array()) fail(where + ".raw", "expected an array of {\"offset\": N, \"hex\": \"...\"}");
        for (size_t i = 0; i < it->size(); ++i) {
            const json &patch = (*it)[i];
            const std::string at = where + ".raw[" + std::to_string(i) + "]";
            if (!patch.is_object()) fail(at, "expected an object {\"offset\": N, \"hex\": \"...\"}");
            for (auto k = patch.begin(); k != patch.end(); ++k)
                if (k.key() != "offset" && k.key() != "hex") fail(at, "unknown key '" + k.key() + "' (offset, hex)");
            if (!patch.contains("offset") || !patch.contains("hex")) fail(at, "needs both \"offset\" and \"hex\"");
            size_t offset = static_cast<size_t>(get_integer(patch["offset"], at + ".offset", 0, UINT32_MAX));
            std::vector<unsigned char> bytes = get_hex(patch["hex"], at + ".hex");
            if (offset + bytes.size() > row.bytes.size())
                fail(at, "bytes " + std::to_string(offset) + ".." + std::to_string(offset + bytes.size() - 1) +
                             " lie beyond the " + std::to_string(row.bytes.size()) + "-byte record");
            std::memcpy(row.bytes.data() + offset, bytes.data(), bytes.size());
        }
    }
    return row;
}

std::unique_ptr<Table> parse_table(int kind, const json &list) {
    const std::string key = kind_info(kind).json_key;
    if (!list.is_array()) fail(key, "expected an array of entries, got " + std::string(list.type_name()));
    std::vector<StoredRow> rows;
    rows.reserve(list.size());
    std::unordered_map<uint32_t, size_t> seen;
    for (size_t i = 0; i < list.size(); ++i) {
        const std::string where = key + "[" + std::to_string(i) + "]";
        rows.push_back(parse_entry(kind, list[i], i, where));
        auto [it, fresh] = seen.emplace(rows.back().cursor, i);
        if (!fresh)
            fail(where + ".cursor", "duplicate cursor " + std::to_string(rows.back().cursor) + " (also " + key + "[" +
                                        std::to_string(it->second) + "])");
    }
    return std::make_unique<StoredTable>(std::move(rows));
}

GenerateParams parse_generate(const json &v) {
    if (!v.is_object()) fail("generate", "expected an object like {\"clients\": 100, \"vifs\": 8, \"radios\": 2}");
    GenerateParams p;
    for (auto it = v.begin(); it != v.end(); ++it) {
        const std::string at = "generate." + it.key();
        uint32_t n = static_cast<uint32_t>(get_integer(*it, at, 0, UINT32_MAX));
        if (it.key() == "clients")
            p.clients = n;
        else if (it.key() == "vifs")
            p.vifs = n;
        else if (it.key() == "radios")
            p.radios = n;
        else if (it.key() == "still")
            p.still = n;
        else
            fail("generate", "unknown key '" + it.key() + "' (clients, vifs, radios, still)");
    }
    std::string error;
    if (!check_generate_params(p, &error)) fail("", error);
    return p;
}

// "[json.exception.parse_error.101] parse error at line 2, column 3: syntax
// error ..." -> "syntax error ..."; the position is computed separately.
std::string parse_error_text(const char *what) {
    std::string s = what;
    size_t column = s.find("column ");
    if (column != std::string::npos) {
        size_t colon = s.find(": ", column);
        if (colon != std::string::npos) return s.substr(colon + 2);
    }
    size_t bracket = s.find("] ");
    return bracket == std::string::npos ? s : s.substr(bracket + 2);
}

} // namespace

std::unique_ptr<Model> parse_description(const std::string &text, std::string *error) {
    json doc;
    try {
        doc = json::parse(text);
    } catch (const json::parse_error &e) {
        // e.byte counts the characters read, the offending one included.
        size_t end = std::min<size_t>(e.byte ? e.byte - 1 : 0, text.size());
        size_t line = 1, line_start = 0;
        for (size_t i = 0; i < end; ++i)
            if (text[i] == '\n') {
                ++line;
                line_start = i + 1;
            }
        *error = "line " + std::to_string(line) + ", column " + std::to_string(end - line_start + 1) + ": " +
                 parse_error_text(e.what());
        return nullptr;
    }

    try {
        if (!doc.is_object()) fail("", "the description must be a JSON object, got " + std::string(doc.type_name()));
        for (auto it = doc.begin(); it != doc.end(); ++it) {
            bool known = it.key() == "generate";
            for (int k = 0; k < EntryKindCount; ++k) known = known || it.key() == kind_info(k).json_key;
            if (!known)
                fail("", "unknown key '" + it.key() +
                             "' at top level (interfaces, associations, radio_stats, vif_stats, radio_attributes, "
                             "generate)");
        }
        auto model = std::make_unique<Model>();
        if (auto it = doc.find("generate"); it != doc.end()) {
            GenerateParams p = parse_generate(*it);
            for (int k = 0; k < EntryKindCount; ++k) model->tables[k] = make_generated_table(k, p);
        }
        for (int k = 0; k < EntryKindCount; ++k) {
            auto it = doc.find(kind_info(k).json_key);
            if (it != doc.end())
                model->tables[k] = parse_table(k, *it);
            else if (!model->tables[k])
                model->tables[k] = std::make_unique<StoredTable>(std::vector<StoredRow>{});
        }
        return model;
    } catch (const Failure &f) {
        *error = f.message;
    } catch (const json::exception &e) {
        *error = e.what();
    }
    return nullptr;
}

} // namespace qvsim
