/* SPDX-License-Identifier: BSD-3-Clause */
// The wireless data source as the unit tests and the fuzz target fake it:
// rows programmed per table, and a watch on the module's malloc, calloc and
// free (the binaries link with --wrap of all three) that checks the row-block
// rules as they happen. Table and column facts come from tests/reference; the
// module's entry points are found by their exported names.
#pragma once

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/agent/net-snmp-agent-includes.h>

#include <string>
#include <vector>

namespace fake {

struct Column {
    std::string value; // integer, counter32, ipaddress, mac, string
    size_t offset, room;
};

struct Table {
    std::string name;
    unsigned arc, last;
    size_t size;
    bool mac_index; // association: record bytes 0-3 and 4-9, not the cursor
    Netsnmp_Node_Handler *handler;
    netsnmp_iterator_info callbacks{}; // the five the table registers with the iterator, nothing else
    std::vector<Column> columns{};
};

struct Row {
    std::vector<uint8_t> record;
    uint32_t cursor;
    int result; // of the first/next call that reaches it; not 0: no entry
};

extern std::vector<Table> tables; // registration order
extern std::vector<Row> rows[5];
// In order: m malloc, c calloc, x failed allocation, f free() of a watched
// block, g/n first/next call, r/R release keeping/dropping the last reference.
extern std::string events, logged; // logged: "<priority>:<text>" of every message to the agent's log
extern std::vector<void *> allocs, frees;
extern std::vector<std::string> problems;
extern unsigned fail_at; // the Nth allocation from now fails; 0: none

// Once: the agent library (no configuration read), its log captured, the reference read.
void load(const std::string &reference_dir);
// The rows of a tab-separated file, without comment lines and the header line.
std::vector<std::vector<std::string>> tsv(const std::string &path);
void *symbol(const std::string &name);
size_t live(); // malloc'd blocks not yet freed
void reset();
// A request list as the table helper and the iterator leave it for a handler.
struct Requests {
    std::vector<netsnmp_request_info> list = std::vector<netsnmp_request_info>(64);
    std::vector<netsnmp_table_request_info> columns = std::vector<netsnmp_table_request_info>(64);
    size_t n = 0;
    ~Requests() {
        for (size_t i = 0; i < n; ++i) netsnmp_free_request_data_sets(&list[i]), snmp_free_varbind(list[i].requestvb);
    }
    void add(void *row, int column, bool processed); // column -1: no table information
    int run(const Table &t, int mode) {
        netsnmp_agent_request_info info{};
        return info.mode = mode, t.handler(nullptr, nullptr, &info, &list[0]);
    }
};

// Runs a walk of table t as the agent's iterator does: F first-row, N next-row,
// K make-data-context of the current row, D free-data-context of the oldest
// kept row, L the agent stops the walk, x the next allocation fails; a walk
// left running is stopped at the end. Checks each row handed out (count,
// loop context, index values) into `problems`; returns the rows still kept.
std::vector<void *> walk(const Table &t, const std::string &script);
// Whether `vb` is what a GET of column `c` answers for `record`.
bool answers(const Column &c, const uint8_t *record, const netsnmp_variable_list *vb);

} // namespace fake
