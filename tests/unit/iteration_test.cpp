// Row iteration: the five callbacks that the agent's table iterator installs,
// called here exactly as the iterator calls them, for every table. The fake
// data source and the heap watch show each block from malloc to its release.
#include "unit_common.h"

#include <stdlib.h>
#include <string.h>

namespace qvtest {
namespace {

void *const untouched = reinterpret_cast<void *>(0x5eed);

// One walk as the iterator runs it: loop context, data-context argument and
// the index list it hands to the first/next callbacks.
struct Walk {
    const TableInfo &t;
    void *loop = untouched;
    void *data = untouched;
    netsnmp_variable_list *indexes;

    explicit Walk(const TableInfo &ti) : t(ti), indexes(index_list(ti.table)) {}
    ~Walk() { snmp_free_varbind(indexes); }

    netsnmp_variable_list *first() { return t.first(&loop, &data, indexes, nullptr); }
    netsnmp_variable_list *next() { return t.next(&loop, &data, indexes, nullptr); }
};

uint32_t *block_start(void *record) { return reinterpret_cast<uint32_t *>(static_cast<unsigned char *>(record) - 4); }

class Iteration : public ModuleTest, public ::testing::WithParamInterface<TableInfo> {
protected:
    const TableInfo &t() const { return GetParam(); }
    void rows(std::initializer_list<uint32_t> cursors) {
        std::vector<Entry> list;
        for (uint32_t c : cursors) list.push_back(pattern_entry(t().table, c));
        fake::set_entries(t().table, list);
    }
    std::vector<Event> since(size_t from) const {
        const auto &ev = fake::events();
        return std::vector<Event>(ev.begin() + static_cast<long>(from), ev.end());
    }
};

TEST_P(Iteration, EmptySourceEndsTheWalkAtOnceAndFreesItsBlock) {
    Walk w(t());
    EXPECT_EQ(w.first(), nullptr);
    EXPECT_EQ(w.loop, nullptr);
    EXPECT_EQ(w.data, untouched) << "the data-context argument is not the callback's to write";

    auto ev = fake::events();
    ASSERT_EQ(ev.size(), 3u);
    EXPECT_EQ(ev[0].kind, Ev::Malloc);
    EXPECT_EQ(ev[0].size, block_size(t().table));
    EXPECT_EQ(ev[1].kind, Ev::First);
    EXPECT_EQ(ev[1].ptr, static_cast<unsigned char *>(ev[0].ptr) + 4);
    EXPECT_EQ(ev[2].kind, Ev::Free);
    EXPECT_EQ(ev[2].ptr, ev[0].ptr);
    EXPECT_FALSE(ev[2].via_release) << "an unfilled block goes back with free, not qv_free_ref_mem";
}

TEST_P(Iteration, SingleEntryIsHandedOverWithCountOneAndFreedWhenTheWalkMovesOn) {
    rows({5});
    Walk w(t());
    ASSERT_EQ(w.first(), w.indexes) << "the index list is the result of a produced row";
    auto malloc_ev = fake::events_of(Ev::Malloc);
    ASSERT_EQ(malloc_ev.size(), 1u);
    EXPECT_EQ(w.loop, static_cast<unsigned char *>(malloc_ev[0].ptr) + 4) << "the loop context is the record address";
    EXPECT_EQ(*block_start(w.loop), 1u);
    EXPECT_EQ(w.data, untouched);
    EXPECT_EQ(get_u32(static_cast<unsigned char *>(w.loop) + record_size(t().table)), 5u) << "cursor after the record";
    EXPECT_EQ(memcmp(w.loop, offset_pattern(t().table).data(), record_size(t().table)), 0);

    size_t mark = fake::events().size();
    void *first_record = w.loop;
    EXPECT_EQ(w.next(), nullptr);
    EXPECT_EQ(w.loop, nullptr);
    EXPECT_EQ(w.data, untouched);

    auto ev = since(mark);
    // malloc(new), release(previous) -> freed, next(cursor 5) fails, free(new)
    ASSERT_EQ(ev.size(), 5u);
    EXPECT_EQ(ev[0].kind, Ev::Malloc);
    EXPECT_EQ(ev[1].kind, Ev::Release);
    EXPECT_EQ(ev[1].ptr, first_record);
    EXPECT_EQ(ev[1].count_after, 0u);
    EXPECT_EQ(ev[2].kind, Ev::Free);
    EXPECT_TRUE(ev[2].via_release);
    EXPECT_EQ(ev[3].kind, Ev::Next);
    EXPECT_EQ(ev[3].cursor_in, 5u);
    EXPECT_NE(ev[3].result, 0);
    EXPECT_EQ(ev[4].kind, Ev::Free);
    EXPECT_EQ(ev[4].ptr, ev[0].ptr);
    EXPECT_FALSE(ev[4].via_release);
}

// Steps 2 to 5 of the next-row callback: the new block exists before the
// previous row is released, the cursor is copied before that release, and the
// release happens before the data source is asked for the next entry.
TEST_P(Iteration, NextRowAllocatesThenCopiesCursorThenReleasesThenFetches) {
    rows({11, 22, 33});
    Walk w(t());
    ASSERT_NE(w.first(), nullptr);
    void *row1 = w.loop;
    // Keep row 1, so its block survives the release and its count can be read.
    ASSERT_EQ(t().make_data_context(row1, nullptr), row1);
    EXPECT_EQ(*block_start(row1), 2u);

    size_t mark = fake::events().size();
    ASSERT_NE(w.next(), nullptr);
    void *row2 = w.loop;
    long m = find_event(Ev::Malloc, [](const Event &) { return true; }, mark);
    long r = find_event(Ev::Release, [&](const Event &e) { return e.ptr == row1; }, mark);
    long n = find_event(Ev::Next, [](const Event &) { return true; }, mark);
    ASSERT_GE(m, 0);
    ASSERT_GE(r, 0);
    ASSERT_GE(n, 0);
    EXPECT_LT(m, r) << "new block allocated before the previous row is released";
    EXPECT_LT(r, n) << "previous row released before the data source is asked";
    EXPECT_EQ(fake::events()[r].count_after, 1u);
    EXPECT_EQ(fake::events()[r].live_blocks, 2u) << "both blocks exist during the release";
    EXPECT_EQ(fake::events()[n].cursor_in, 11u);
    EXPECT_EQ(fake::events()[n].ptr, static_cast<unsigned char *>(fake::events()[m].ptr) + 4);
    EXPECT_EQ(row2, fake::events()[n].ptr);
    EXPECT_EQ(*block_start(row2), 1u);
    EXPECT_EQ(*block_start(row1), 1u);

    // Row 2 is not kept: its block is freed (and scribbled by the fake) at the
    // release, so a cursor copied after the release would not be 22.
    mark = fake::events().size();
    ASSERT_NE(w.next(), nullptr);
    n = find_event(Ev::Next, [](const Event &) { return true; }, mark);
    ASSERT_GE(n, 0);
    EXPECT_EQ(fake::events()[n].cursor_in, 22u);
    EXPECT_EQ(fake::events()[n].live_blocks, 2u) << "row 2 must be gone (only row 1 and row 3) when next is called";
    EXPECT_FALSE(fake::is_live_record(row2));

    EXPECT_EQ(w.next(), nullptr);
    EXPECT_EQ(w.loop, nullptr);
    t().free_data_context(row1, nullptr);
}

TEST_P(Iteration, RowKeptByDataContextOutlivesTheWalk) {
    rows({1, 2});
    Walk w(t());
    ASSERT_NE(w.first(), nullptr);
    ASSERT_NE(w.next(), nullptr);
    void *kept = w.loop;
    EXPECT_EQ(t().make_data_context(kept, nullptr), kept);
    EXPECT_EQ(*block_start(kept), 2u);
    EXPECT_EQ(t().make_data_context(kept, nullptr), kept) << "each data context is one more reference";
    EXPECT_EQ(*block_start(kept), 3u);
    EXPECT_EQ(w.next(), nullptr);
    ASSERT_TRUE(fake::is_live_record(kept));
    EXPECT_EQ(fake::count_of(kept), 2u);
    EXPECT_EQ(fake::live_blocks(), 1u);

    t().free_data_context(kept, nullptr);
    EXPECT_EQ(fake::count_of(kept), 1u);
    EXPECT_EQ(memcmp(kept, offset_pattern(t().table).data(), record_size(t().table)), 0) << "record intact";
    size_t mark = fake::events().size();
    t().free_data_context(kept, nullptr);
    EXPECT_GE(find_event(Ev::Free, [&](const Event &e) { return e.via_release && e.ptr == block_start(kept); }, mark),
              0);
}

TEST_P(Iteration, AgentStoppingTheWalkReleasesTheCurrentRowThroughLoopFree) {
    rows({1, 2, 3});
    Walk w(t());
    ASSERT_NE(w.first(), nullptr);
    ASSERT_NE(w.next(), nullptr);
    void *current = w.loop;
    EXPECT_EQ(t().make_data_context(current, nullptr), current);
    t().free_loop_context_at_end(current, nullptr);
    EXPECT_EQ(fake::count_of(current), 1u) << "the data context still holds the row";
    t().free_data_context(current, nullptr);
    EXPECT_EQ(fake::calls(t().table), 2u) << "no data-source call after the stop";

    // Stopped on a row nobody kept: freed at once.
    fake::reset();
    rows({1, 2, 3});
    fake::record(true);
    Walk w2(t());
    ASSERT_NE(w2.first(), nullptr);
    t().free_loop_context_at_end(w2.loop, nullptr);
    EXPECT_EQ(fake::live_blocks(), 0u);
    EXPECT_EQ(fake::events_of(Ev::Release).size(), 1u);
}

TEST_P(Iteration, NullLoopContextTouchesNothing) {
    rows({1});
    Walk w(t());
    w.loop = nullptr;
    EXPECT_EQ(w.next(), nullptr);
    EXPECT_EQ(w.loop, nullptr);
    EXPECT_EQ(t().make_data_context(nullptr, nullptr), nullptr);
    EXPECT_TRUE(fake::events().empty()) << "no allocation, release or data-source call";
}

TEST_P(Iteration, AllocationFailureForTheFirstRowGivesAnEmptyWalk) {
    rows({1, 2});
    alloc::fail_malloc_at(1);
    Walk w(t());
    EXPECT_EQ(w.first(), nullptr);
    EXPECT_EQ(w.loop, nullptr);
    EXPECT_EQ(fake::calls(t().table), 0u);
    EXPECT_TRUE(fake::events_of(Ev::Free).empty());
}

TEST_P(Iteration, AllocationFailureForALaterRowReleasesThePreviousRowAndEndsTheWalk) {
    rows({1, 2, 3});
    Walk w(t());
    ASSERT_NE(w.first(), nullptr);
    void *row1 = w.loop;
    ASSERT_EQ(t().make_data_context(row1, nullptr), row1);
    size_t mark = fake::events().size();
    alloc::fail_malloc_at(1);
    EXPECT_EQ(w.next(), nullptr);
    EXPECT_EQ(w.loop, nullptr);
    EXPECT_EQ(fake::calls(t().table), 1u) << "no data-source call without a block";
    EXPECT_GE(find_event(Ev::Release, [&](const Event &e) { return e.ptr == row1 && e.count_after == 1; }, mark), 0);
    t().free_data_context(row1, nullptr);
}

TEST_P(Iteration, AnyNonzeroResultOfTheDataSourceEndsTheWalk) {
    rows({1, 2, 3});
    fake::fail_call(t().table, 2, -7);
    Walk w(t());
    ASSERT_NE(w.first(), nullptr);
    size_t mark = fake::events().size();
    EXPECT_EQ(w.next(), nullptr);
    EXPECT_EQ(w.loop, nullptr);
    long m = find_event(Ev::Malloc, [](const Event &) { return true; }, mark);
    ASSERT_GE(m, 0);
    void *fresh = fake::events()[m].ptr;
    EXPECT_GE(find_event(Ev::Free, [&](const Event &e) { return e.ptr == fresh && !e.via_release; }, mark), 0);

    fake::reset();
    rows({1});
    fake::fail_call(t().table, 1, 42);
    Walk w2(t());
    EXPECT_EQ(w2.first(), nullptr);
    EXPECT_EQ(w2.loop, nullptr);
}

TEST_P(Iteration, UninstalledCallbacksDoNothing) {
    int dummy = 0;
    EXPECT_EQ(t().create_data_context(&dummy, &dummy), nullptr);
    EXPECT_EQ(t().commit_row(&dummy, &dummy), 0);
    EXPECT_EQ(dummy, 0);
    EXPECT_TRUE(fake::events().empty());
}

INSTANTIATE_TEST_SUITE_P(AllTables, Iteration, ::testing::ValuesIn(tables()), TableName());

// ---- index values ----------------------------------------------------------

class CursorIndexed : public Iteration {};

TEST_P(CursorIndexed, TheSingleIndexIsTheCursorAsWritten) {
    rows({0, 7, 123456});
    Walk w(t());
    std::vector<long> seen;
    for (netsnmp_variable_list *v = w.first(); v; v = w.next()) {
        EXPECT_EQ(v, w.indexes);
        EXPECT_EQ(v->next_variable, nullptr);
        EXPECT_EQ(v->type, ASN_INTEGER);
        EXPECT_EQ(v->val_len, sizeof(long));
        seen.push_back(*v->val.integer);
        ASSERT_LT(seen.size(), 10u);
    }
    EXPECT_EQ(seen, (std::vector<long>{0, 7, 123456}));
}

INSTANTIATE_TEST_SUITE_P(CursorTables, CursorIndexed,
                         ::testing::Values(table_info(Table::XIf), table_info(Table::RadioStats), table_info(Table::VIf),
                                           table_info(Table::RadioAttr)),
                         TableName());

TEST_F(ModuleTest, AssociationRowsGiveFirstIndexAndClientMacFromTheRecord) {
    const unsigned char mac1[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    const unsigned char mac2[6] = {0xff, 0x00, 0xfe, 0x01, 0x80, 0x7f};
    Entry a{offset_pattern(Table::Ass), 900}, b{offset_pattern(Table::Ass), 901};
    put_u32(a.record, 0, 3);
    put_bytes(a.record, 4, mac1, 6);
    put_u32(b.record, 0, 2147483647u);
    put_bytes(b.record, 4, mac2, 6);
    fake::set_entries(Table::Ass, {a, b});

    Walk w(table_info(Table::Ass));
    netsnmp_variable_list *v = w.first();
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(*v->val.integer, 3);
    ASSERT_NE(v->next_variable, nullptr);
    EXPECT_EQ(v->next_variable->type, ASN_OCTET_STR);
    ASSERT_EQ(v->next_variable->val_len, 6u);
    EXPECT_EQ(memcmp(v->next_variable->val.string, mac1, 6), 0);
    auto first = fake::events_of(Ev::First);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].flag, 1) << "the association kind's first function always gets 1";

    v = w.next();
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(*v->val.integer, 2147483647);
    ASSERT_EQ(v->next_variable->val_len, 6u);
    EXPECT_EQ(memcmp(v->next_variable->val.string, mac2, 6), 0);
    EXPECT_EQ(fake::events_of(Ev::Next)[0].cursor_in, 900u) << "the cursor still drives the data source";
    EXPECT_EQ(w.next(), nullptr);
}

// ---- qv_if_iterate_free_undoInfo -------------------------------------------

TEST_F(ModuleTest, FreeUndoInfoWithNullHolderDoesNothing) {
    qv_if_iterate_free_undoInfo(nullptr);
    EXPECT_TRUE(fake::events_of(Ev::Free).empty());
}

TEST_F(ModuleTest, FreeUndoInfoFreesMemberThenHolder) {
    void **holder = static_cast<void **>(malloc(2 * sizeof(void *)));
    ASSERT_NE(holder, nullptr);
    void *member = malloc(16);
    ASSERT_NE(member, nullptr);
    holder[0] = member;
    holder[1] = nullptr;
    fake::clear_events();
    qv_if_iterate_free_undoInfo(holder);
    auto frees = fake::events_of(Ev::Free);
    ASSERT_EQ(frees.size(), 2u);
    EXPECT_EQ(frees[0].ptr, member);
    EXPECT_EQ(frees[1].ptr, static_cast<void *>(holder));
}

TEST_F(ModuleTest, FreeUndoInfoWithNullMemberFreesOnlyTheHolder) {
    void **holder = static_cast<void **>(malloc(sizeof(void *)));
    ASSERT_NE(holder, nullptr);
    holder[0] = nullptr;
    fake::clear_events();
    qv_if_iterate_free_undoInfo(holder);
    auto frees = fake::events_of(Ev::Free);
    ASSERT_EQ(frees.size(), 1u);
    EXPECT_EQ(frees[0].ptr, static_cast<void *>(holder));
}

} // namespace
} // namespace qvtest
