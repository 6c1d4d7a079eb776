// SPDX-License-Identifier: BSD-3-Clause
// libFuzzer target: the iteration callbacks and handlers of the five tables,
// in process with the real Net-SNMP agent library and the unit tests' fake
// data source. An input programs every table's rows (records, cursors,
// results), then rounds of: a walk that keeps rows, fails an allocation and
// stops anywhere, and a request list of any mode, columns, rows, table
// information and processed flags. A broken row-block rule, an answer that is
// not the reference value of its row, a wrong log text or a block left after
// a round aborts.
#include <fuzzer/FuzzedDataProvider.h>

#include "fake_source.h"

namespace {

#define check(ok, what) (ok) || (fprintf(stderr, "qv_fuzz: %s\n", std::string(what).c_str()), abort(), 0)

void round(FuzzedDataProvider &in, const fake::Table &t) {
    std::string script = "F"; // then next-row, keep, release, stop and allocation failure at the input's choice
    for (uint8_t c : in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange(0, 24))) script += "NNNKKDLx"[c % 8];
    std::vector<void *> kept = fake::walk(t, script);
    static const int modes[] = {MODE_GET, MODE_GET, MODE_GETNEXT, MODE_GETBULK, MODE_SET_RESERVE1};
    const int mode = in.PickValueInArray(modes);
    fake::Requests r;
    for (size_t i = in.ConsumeIntegralInRange<size_t>(1, 6); i > 0; --i) {
        void *row =
            !kept.empty() && in.ConsumeBool() ? kept[in.ConsumeIntegralInRange<size_t>(0, kept.size() - 1)] : nullptr;
        r.add(row, in.ConsumeIntegralInRange(0, 7) ? in.ConsumeIntegralInRange(0, int(t.last) + 1) : -1,
              !in.ConsumeIntegralInRange(0, 7));
    }
    check(r.run(t, mode) == SNMP_ERR_NOERROR, "handler result");
    // Anything answered is the reference value of its row's column, and only in GET.
    for (size_t i = 0; i < r.n; ++i) {
        const netsnmp_variable_list *vb = r.list[i].requestvb;
        const auto *row = static_cast<const uint8_t *>(netsnmp_extract_iterator_context(&r.list[i]));
        const unsigned c = r.columns[i].colnum;
        check(vb->type == ASN_NULL || vb->type == SNMP_NOSUCHINSTANCE ||
                  (mode == MODE_GET && row && c >= 1 && c <= t.last && fake::answers(t.columns[c - 1], row, vb)),
              t.name + " request " + std::to_string(i) + ": not the value of its row");
    }
    for (void *row : kept) t.callbacks.free_data_context(row, nullptr);
    check(fake::problems.empty() && fake::live() == 0, fake::problems.empty() ? "row blocks left" : fake::problems[0]);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) { return fake::load(QV_REFERENCE_DIR), 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzedDataProvider in(data, size);
    fake::reset();
    for (size_t t = 0; t < 5; ++t)
        for (size_t i = in.ConsumeIntegralInRange<size_t>(0, 8); i > 0; --i) {
            fake::Row row{in.ConsumeBytes<uint8_t>(fake::tables[t].size), in.ConsumeIntegral<uint32_t>(),
                          in.ConsumeIntegralInRange(0, 15) ? 0 : -1};
            row.record.resize(fake::tables[t].size, 0x5a);
            fake::rows[t].push_back(std::move(row));
        }
    for (int r = in.ConsumeIntegralInRange(1, 6); r > 0 && in.remaining_bytes(); --r)
        round(in, fake::tables[in.ConsumeIntegralInRange<size_t>(0, 4)]);
    return 0;
}
