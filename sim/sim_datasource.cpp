// SPDX-License-Identifier: BSD-3-Clause
// The data-source functions, the choice and reloading of the description,
// live-block accounting and the in-process API.
//
// Like the data source it stands in for, everything runs on the caller's one
// thread; nothing here is locked.
#include "sim_internal.h"
#include "qv_wlan_sim.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstddef>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

namespace qvsim {
namespace {

enum class Source { Unset, Builtin, File, Generated, Text };

// Identity of the file's content as far as stat can tell; errno_value is
// nonzero when stat failed, so a missing file is reported once, not on
// every walk.
struct FileSignature {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    int64_t mtime_ns = 0;
    int errno_value = 0;
    bool operator==(const FileSignature &o) const {
        return dev == o.dev && ino == o.ino && size == o.size && mtime_ns == o.mtime_ns && errno_value == o.errno_value;
    }
};

struct State {
    Source source = Source::Unset;
    std::string path; // Source::File
    bool have_signature = false;
    FileSignature signature;
    GenerateParams generate;
    std::unique_ptr<Model> model; // null: nothing loaded, or the last load failed
    uint64_t loaded_at_us = 0;
    std::string last_error;

    // Blocks filled and not yet released: a handful at a time (the row being
    // walked and those requests keep), so a small array beats a hash set.
    std::vector<const void *> live;
    uint64_t peak = 0;
    uint64_t first_calls = 0, next_calls = 0, release_errors = 0, config_loads = 0, config_errors = 0;

    qv_sim_clock_fn clock = nullptr;
};

// Made when the library is loaded, before any call; never destroyed: the
// agent may release rows while the process exits.
State *const g_state = new State;
inline State &state() { return *g_state; }

// Position of a live block in State::live, or -1. Searched from the newest:
// a walk releases the row it filled last.
inline ptrdiff_t live_index(const std::vector<const void *> &live, const void *record) {
    for (ptrdiff_t i = static_cast<ptrdiff_t>(live.size()) - 1; i >= 0; --i)
        if (live[static_cast<size_t>(i)] == record) return i;
    return -1;
}

uint64_t now_us() {
    State &s = state();
    if (s.clock) return s.clock();
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

void install(std::unique_ptr<Model> model) {
    State &s = state();
    s.model = std::move(model);
    s.loaded_at_us = now_us();
    s.last_error.clear();
    ++s.config_loads;
}

void reject(const std::string &name, const std::string &error) {
    State &s = state();
    s.model.reset();
    s.last_error = name + ": " + error;
    ++s.config_errors;
    snmp_log(LOG_ERR, "qv_wlan_sim: %s; all tables are empty\n", s.last_error.c_str());
}

int load_text(const std::string &text, const std::string &name) {
    std::string error;
    std::unique_ptr<Model> model = parse_description(text, &error);
    if (!model) {
        reject(name, error);
        return -1;
    }
    install(std::move(model));
    return 0;
}

FileSignature signature_of(const std::string &path) {
    FileSignature sig;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        sig.errno_value = errno ? errno : EIO;
        return sig;
    }
    sig.dev = st.st_dev;
    sig.ino = st.st_ino;
    sig.size = st.st_size;
    sig.mtime_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return sig;
}

int load_file_now(const FileSignature &sig) {
    State &s = state();
    s.signature = sig;
    s.have_signature = true;
    if (sig.errno_value) {
        reject(s.path, std::string("cannot read the description: ") + std::strerror(sig.errno_value));
        return -1;
    }
    std::ifstream in(s.path, std::ios::binary);
    std::ostringstream text;
    if (!in || !(text << in.rdbuf())) {
        // An empty file reads as nothing, which the parser reports itself.
        if (in && in.peek() == std::ifstream::traits_type::eof()) return load_text("", s.path);
        reject(s.path, std::string("cannot read the description: ") + std::strerror(errno ? errno : EIO));
        return -1;
    }
    return load_text(text.str(), s.path);
}

int load_generated(const GenerateParams &p) {
    auto model = std::make_unique<Model>();
    for (int k = 0; k < EntryKindCount; ++k) model->tables[k] = make_generated_table(k, p);
    install(std::move(model));
    return 0;
}

// Picks the description when none was chosen, and re-reads a watched file
// that changed on disk. Called on every first call: one stat at most.
void refresh() {
    State &s = state();
    if (s.source == Source::Unset) {
        if (const char *path = std::getenv("QV_SIM_CONFIG"); path && *path) {
            s.source = Source::File;
            s.path = path;
            s.have_signature = false;
        } else if (const char *text = std::getenv("QV_SIM_GENERATE"); text && *text) {
            s.source = Source::Generated;
            std::string error;
            if (!parse_generate_params(text, &s.generate, &error)) {
                reject("QV_SIM_GENERATE", error);
                return;
            }
            load_generated(s.generate);
            return;
        } else {
            s.source = Source::Builtin;
            load_text(builtin_demo_json, "built-in demo access point");
            return;
        }
    }
    if (s.source == Source::File) {
        FileSignature sig = signature_of(s.path);
        if (!s.have_signature || !(sig == s.signature)) load_file_now(sig);
    }
}

const Table *table(int kind) {
    const State &s = state();
    return s.model ? s.model->tables[kind].get() : nullptr;
}

void fill_live(const Table &t, size_t pos, void *record, uint32_t *cursor) {
    State &s = state();
    t.fill(pos, record, t.grows() ? now_us() - s.loaded_at_us : 0);
    *cursor = t.cursor_at(pos);
    if (live_index(s.live, record) < 0) s.live.push_back(record);
    if (s.live.size() > s.peak) s.peak = s.live.size();
}

template <int Kind>
int get_first(uint32_t *cursor, void *record) {
    State &s = state();
    ++s.first_calls;
    refresh();
    const Table *t = table(Kind);
    if (!cursor || !record || !t || t->size() == 0) return 1;
    fill_live(*t, 0, record, cursor);
    return 0;
}

template <int Kind>
int get_next(uint32_t *cursor, void *record) {
    State &s = state();
    ++s.next_calls;
    const Table *t = table(Kind);
    size_t pos;
    if (!cursor || !record || !t || !t->find(*cursor, &pos) || pos + 1 >= t->size()) return 1;
    fill_live(*t, pos + 1, record, cursor);
    return 0;
}

} // namespace

} // namespace qvsim

using namespace qvsim;

extern "C" {

QV_WLAN_DATASOURCE_API int qv_wlan_get_first_if(uint32_t *cursor, qv_wlan_if_entry *entry) {
    return get_first<Interfaces>(cursor, entry);
}
QV_WLAN_DATASOURCE_API int qv_wlan_get_next_if(uint32_t *cursor, qv_wlan_if_entry *entry) {
    return get_next<Interfaces>(cursor, entry);
}
QV_WLAN_DATASOURCE_API int qv_wlan_get_first_ass(uint32_t *cursor, qv_wlan_ass_entry *entry, int) {
    return get_first<Associations>(cursor, entry);
}
QV_WLAN_DATASOURCE_API int qv_wlan_get_next_ass(uint32_t *cursor, qv_wlan_ass_entry *entry) {
    return get_next<Associations>(cursor, entry);
}
QV_WLAN_DATASOURCE_API int qv_wlan_get_first_radio_statis_entry(uint32_t *cursor, qv_wlan_radio_statis_entry *entry) {
    return get_first<RadioStats>(cursor, entry);
}
QV_WLAN_DATASOURCE_API int qv_wlan_get_next_radio_statis_entry(uint32_t *cursor, qv_wlan_radio_statis_entry *entry) {
    return get_next<RadioStats>(cursor, entry);
}
QV_WLAN_DATASOURCE_API int qv_wlan_get_first_virtual_statis_entry(uint32_t *cursor,
                                                                  qv_wlan_virtual_statis_entry *entry) {
    return get_first<VifStats>(cursor, entry);
}
QV_WLAN_DATASOURCE_API int qv_wlan_get_next_virtual_statis_entry(uint32_t *cursor,
                                                                 qv_wlan_virtual_statis_entry *entry) {
    return get_next<VifStats>(cursor, entry);
}
QV_WLAN_DATASOURCE_API int qv_wlan_get_first_radio_attr_entry(uint32_t *cursor, qv_wlan_radio_attr_entry *entry) {
    return get_first<RadioAttributes>(cursor, entry);
}
QV_WLAN_DATASOURCE_API int qv_wlan_get_next_radio_attr_entry(uint32_t *cursor, qv_wlan_radio_attr_entry *entry) {
    return get_next<RadioAttributes>(cursor, entry);
}

// The kit's standard release, after checks: a release the sim cannot vouch
// for is counted and logged, never acted on: freeing or decrementing memory it
// did not fill would hide the caller's bug behind a crash somewhere else.
QV_WLAN_DATASOURCE_API int qv_free_ref_mem(void *record) {
    State &s = state();
    const ptrdiff_t live = record ? live_index(s.live, record) : -1;
    if (live < 0) {
        ++s.release_errors;
        snmp_log(LOG_ERR, "qv_wlan_sim: qv_free_ref_mem(%p): not a live block filled by the data source\n", record);
        return -1;
    }
    if (*qv_wlan_block_count(record) == 0) {
        ++s.release_errors;
        snmp_log(LOG_ERR, "qv_wlan_sim: qv_free_ref_mem(%p): reference count is already 0\n", record);
        return -1;
    }
    if (*qv_wlan_block_count(record) == 1) { // this release frees it
        s.live[static_cast<size_t>(live)] = s.live.back();
        s.live.pop_back();
    }
    qv_wlan_release_block(record);
    return 0;
}

QV_WLAN_DATASOURCE_API void qv_sim_get_stats(struct qv_sim_stats *out) {
    if (!out) return;
    const State &s = state();
    out->live_blocks = static_cast<uint32_t>(s.live.size());
    out->peak_live_blocks = static_cast<uint32_t>(s.peak);
    out->first_calls = static_cast<uint32_t>(s.first_calls);
    out->next_calls = static_cast<uint32_t>(s.next_calls);
    out->release_errors = static_cast<uint32_t>(s.release_errors);
    out->config_loads = static_cast<uint32_t>(s.config_loads);
    out->config_errors = static_cast<uint32_t>(s.config_errors);
}

QV_WLAN_DATASOURCE_API void qv_sim_reset_stats(void) {
    State &s = state();
    s.peak = s.live.size();
    s.first_calls = s.next_calls = s.release_errors = s.config_loads = s.config_errors = 0;
}

QV_WLAN_DATASOURCE_API int qv_sim_load_file(const char *path) {
    State &s = state();
    s.source = Source::File;
    s.path = path ? path : "";
    return load_file_now(signature_of(s.path));
}

QV_WLAN_DATASOURCE_API int qv_sim_load_json(const char *text, const char *name) {
    State &s = state();
    s.source = Source::Text;
    return load_text(text ? text : "", name ? name : "description");
}

QV_WLAN_DATASOURCE_API int qv_sim_generate(uint32_t clients, uint32_t vifs, uint32_t radios) {
    State &s = state();
    s.source = Source::Generated;
    GenerateParams p;
    p.clients = clients;
    p.vifs = vifs;
    p.radios = radios;
    std::string error;
    if (!check_generate_params(p, &error)) {
        reject("qv_sim_generate", error);
        return -1;
    }
    s.generate = p;
    return load_generated(p);
}

QV_WLAN_DATASOURCE_API int qv_sim_use_builtin(void) {
    state().source = Source::Builtin;
    return load_text(builtin_demo_json, "built-in demo access point");
}

QV_WLAN_DATASOURCE_API void qv_sim_reset(void) {
    State &s = state();
    s.source = Source::Unset;
    s.model.reset();
    s.have_signature = false;
    s.last_error.clear();
}

QV_WLAN_DATASOURCE_API const char *qv_sim_last_error(void) { return state().last_error.c_str(); }

QV_WLAN_DATASOURCE_API void qv_sim_set_clock(qv_sim_clock_fn clock) { state().clock = clock; }

} // extern "C"
