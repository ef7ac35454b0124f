#include <gtest/gtest.h>

#include <array>

#include "quillmar/core/transforms.hpp"
#include "trees.hpp"

namespace quillmar::core {
namespace {

using namespace testing;

SchemaNode open_pair_record(std::vector<RecordField> fields) {
  return record(std::move(fields), vec({pair(anything(), anything())}));
}

// A record with a field 'a' of Int and the extras pair (Str, Int).
SchemaNode a_record() { return record(vec({field("a", int_())}), vec({pair(str(), int_())})); }

struct OpenCase {
  const char* name;
  SchemaNode input;
  SchemaNode opened;
  SchemaNode closed;
};

std::vector<OpenCase> open_cases() {
  std::vector<OpenCase> cases;
  cases.push_back({"record_with_extras", a_record(), open_pair_record(vec({field("a", int_())})),
                   record(vec({field("a", int_())}))});
  cases.push_back({"optional_field_kept", record(vec({field("a", int_(), false)})),
                   open_pair_record(vec({field("a", int_(), false)})), record(vec({field("a", int_(), false)}))});
  cases.push_back({"dict_untouched", dict_of(str(), int_()), dict_of(str(), int_()), dict_of(str(), int_())});
  cases.push_back({"empty_record_untouched", record({}), record({}), record({})});
  cases.push_back({"record_in_field", record(vec({field("r", a_record())})),
                   open_pair_record(vec({field("r", open_pair_record(vec({field("a", int_())})))})),
                   record(vec({field("r", record(vec({field("a", int_())})))}))});
  cases.push_back({"record_in_list", list_of(a_record()), list_of(open_pair_record(vec({field("a", int_())}))),
                   list_of(record(vec({field("a", int_())})))});
  cases.push_back({"record_in_tuple_alt",
                   SchemaNode::sequence(SeqKind::Tuple, alt(vec({SeqPattern::empty(), concat(vec({item(a_record())}))}))),
                   SchemaNode::sequence(SeqKind::Tuple, alt(vec({SeqPattern::empty(),
                                                                   concat(vec({item(open_pair_record(vec({field("a", int_())})))}))}))),
                   SchemaNode::sequence(SeqKind::Tuple, alt(vec({SeqPattern::empty(),
                                                                   concat(vec({item(record(vec({field("a", int_())})))}))})))});
  cases.push_back({"record_in_union_member", union_of(vec({none(), a_record()})),
                   union_of(vec({none(), open_pair_record(vec({field("a", int_())}))})),
                   union_of(vec({none(), record(vec({field("a", int_())}))}))});
  cases.push_back({"record_in_dict_extras", dict_of(str(), a_record()),
                   dict_of(str(), open_pair_record(vec({field("a", int_())}))),
                   dict_of(str(), record(vec({field("a", int_())})))});
  cases.push_back({"record_in_extras_of_fielded_record_dropped",
                   record(vec({field("a", int_())}), vec({pair(str(), a_record())})),
                   open_pair_record(vec({field("a", int_())})), record(vec({field("a", int_())}))});
  cases.push_back({"object_keeps_fields_no_extras", SchemaNode::object(1, vec({field("x", a_record())})),
                   SchemaNode::object(1, vec({field("x", open_pair_record(vec({field("a", int_())})))})),
                   SchemaNode::object(1, vec({field("x", record(vec({field("a", int_())})))}))});
  cases.push_back({"set_complement_intersection",
                   SchemaNode::set(SchemaNode::complement(intersection_of(vec({SchemaNode::frozen_set(a_record())})))),
                   SchemaNode::set(SchemaNode::complement(
                       intersection_of(vec({SchemaNode::frozen_set(open_pair_record(vec({field("a", int_())})))})))),
                   SchemaNode::set(SchemaNode::complement(
                       intersection_of(vec({SchemaNode::frozen_set(record(vec({field("a", int_())})))}))))});
  cases.push_back({"refined_base_constraints_kept", refined(a_record(), {Constraint::min_len(1), Constraint::regex("k")}),
                   refined(open_pair_record(vec({field("a", int_())})), {Constraint::min_len(1), Constraint::regex("k")}),
                   refined(record(vec({field("a", int_())})), {Constraint::min_len(1), Constraint::regex("k")})});
  cases.push_back({"ref_untouched", union_of(vec({SchemaNode::ref(0), SchemaNode::placeholder(4)})),
                   union_of(vec({SchemaNode::ref(0), SchemaNode::placeholder(4)})),
                   union_of(vec({SchemaNode::ref(0), SchemaNode::placeholder(4)}))});
  return cases;
}

TEST(SetRecordsOpen, OpensAndCloses) {
  for (const OpenCase& c : open_cases()) {
    SCOPED_TRACE(c.name);
    const SchemaNode before = clone_node(c.input);
    const SchemaNode opened = set_records_open(c.input, true);
    const SchemaNode closed = set_records_open(c.input, false);
    EXPECT_TRUE(nodes_equal(opened, c.opened));
    EXPECT_TRUE(nodes_equal(closed, c.closed));
    EXPECT_TRUE(nodes_equal(c.input, before)) << "input changed";
    // Idempotent, and each direction undoes the other on fielded records.
    EXPECT_TRUE(nodes_equal(set_records_open(opened, true), opened));
    EXPECT_TRUE(nodes_equal(set_records_open(opened, false), closed));
    EXPECT_TRUE(nodes_equal(set_records_open(closed, true), opened));
  }
}

TEST(SetRecordsOpen, KindsWithoutRecordsCopyUnchanged) {
  for (const SchemaNode& n : corpus()) {
    const bool has_fielded_record = n.kind == NodeKind::Record && !n.fields.empty();
    if (has_fielded_record) continue;
    EXPECT_TRUE(nodes_equal(set_records_open(n, true), n));
    EXPECT_TRUE(nodes_equal(set_records_open(n, false), n));
  }
}

struct RemapCase {
  const char* name;
  SchemaNode input;
  SchemaNode expected;
};

const std::array<std::uint64_t, 2> kTable = {5, 2};

std::vector<RemapCase> remap_cases() {
  std::vector<RemapCase> cases;
  cases.push_back({"literal_mapped", SchemaNode::literal(0), SchemaNode::literal(5)});
  cases.push_back({"instance_mapped", SchemaNode::instance(1), SchemaNode::instance(2)});
  cases.push_back({"literal_past_table", SchemaNode::literal(7), SchemaNode::literal(7)});
  cases.push_back({"literal_at_table_end", SchemaNode::literal(2), SchemaNode::literal(2)});
  cases.push_back({"ref_shifted", SchemaNode::ref(0), SchemaNode::ref(3)});
  cases.push_back({"placeholder_kept", SchemaNode::placeholder(0), SchemaNode::placeholder(0)});
  cases.push_back({"object", SchemaNode::object(0, vec({field("x", SchemaNode::literal(1), false)})),
                   SchemaNode::object(5, vec({field("x", SchemaNode::literal(2), false)}))});
  cases.push_back({"constraints_by_variant",
                   refined(SchemaNode::instance(0),
                           {Constraint::ge(1), Constraint::gt(0), Constraint::le(1), Constraint::lt(9), Constraint::min_len(1),
                            Constraint::max_len(0), Constraint::multiple_of(1), Constraint::predicate(0),
                            Constraint::regex("0")}),
                   refined(SchemaNode::instance(5),
                           {Constraint::ge(2), Constraint::gt(5), Constraint::le(2), Constraint::lt(9), Constraint::min_len(1),
                            Constraint::max_len(0), Constraint::multiple_of(2), Constraint::predicate(5),
                            Constraint::regex("0")})});
  cases.push_back({"nested_everywhere",
                   union_of(vec({list_of(SchemaNode::literal(0)),
                                 SchemaNode::sequence(SeqKind::Tuple, alt(vec({SeqPattern::empty(),
                                                                              concat(vec({item(SchemaNode::ref(1))}))}))),
                                 SchemaNode::set(SchemaNode::instance(1)), SchemaNode::frozen_set(SchemaNode::ref(2)),
                                 record(vec({field("a", SchemaNode::literal(1))}), vec({pair(SchemaNode::literal(0), SchemaNode::ref(0))})),
                                 intersection_of(vec({SchemaNode::complement(SchemaNode::literal(1))}))})),
                   union_of(vec({list_of(SchemaNode::literal(5)),
                                 SchemaNode::sequence(SeqKind::Tuple, alt(vec({SeqPattern::empty(),
                                                                              concat(vec({item(SchemaNode::ref(4))}))}))),
                                 SchemaNode::set(SchemaNode::instance(2)), SchemaNode::frozen_set(SchemaNode::ref(5)),
                                 record(vec({field("a", SchemaNode::literal(2))}), vec({pair(SchemaNode::literal(5), SchemaNode::ref(3))})),
                                 intersection_of(vec({SchemaNode::complement(SchemaNode::literal(2))}))}))});
  for (std::size_t k = 0; k <= static_cast<std::size_t>(NodeKind::Bytes); ++k) {
    cases.push_back({"payload_free", SchemaNode::leaf(static_cast<NodeKind>(k)), SchemaNode::leaf(static_cast<NodeKind>(k))});
  }
  return cases;
}

TEST(RemapIndices, TableAndOffset) {
  const PoolRemap remap{kTable, 3};
  for (const RemapCase& c : remap_cases()) {
    SCOPED_TRACE(c.name);
    const SchemaNode before = clone_node(c.input);
    EXPECT_TRUE(nodes_equal(remap_indices(c.input, remap), c.expected));
    EXPECT_TRUE(nodes_equal(c.input, before)) << "input changed";
  }
}

TEST(RemapIndices, EmptyTableStillShiftsRefs) {
  const PoolRemap remap{{}, 3};
  const SchemaNode input =
      tuple_of({SchemaNode::literal(0), SchemaNode::instance(1), refined(int_(), {Constraint::ge(4)}), SchemaNode::ref(2)});
  const SchemaNode expected =
      tuple_of({SchemaNode::literal(0), SchemaNode::instance(1), refined(int_(), {Constraint::ge(4)}), SchemaNode::ref(5)});
  EXPECT_TRUE(nodes_equal(remap_indices(input, remap), expected));
}

TEST(RemapIndices, IdentityRemapCopiesTheCorpus) {
  const std::array<std::uint64_t, 10> identity = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  const PoolRemap remap{identity, 0};
  for (const SchemaNode& n : corpus()) EXPECT_TRUE(nodes_equal(remap_indices(n, remap), n));
}

TEST(RemapIndices, DoesNotChangeRecordsOpenness) {
  const PoolRemap remap{kTable, 0};
  EXPECT_TRUE(nodes_equal(remap_indices(a_record(), remap), a_record()));
}

}  // namespace
}  // namespace quillmar::core
