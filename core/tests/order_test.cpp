#include <gtest/gtest.h>

#include <functional>

#include "quillmar/core/hash.hpp"
#include "quillmar/core/order.hpp"
#include "trees.hpp"

namespace quillmar::core {
namespace {

using namespace testing;

struct LessCase {
  const char* name;
  SchemaNode lesser;
  SchemaNode greater;
};

std::vector<LessCase> less_cases() {
  const SchemaNode tuple_any_pattern = SchemaNode::sequence(SeqKind::Tuple, SeqPattern::empty());
  return {
      {"int_before_str", int_(), str()},
      {"bytes_before_literal", bytes(), SchemaNode::literal(0)},
      {"literal_before_sequence", SchemaNode::literal(~std::uint64_t{0}),
       SchemaNode::sequence(SeqKind::List, SeqPattern::empty())},
      {"literal_by_pool_index", SchemaNode::literal(1), SchemaNode::literal(2)},
      {"list_before_tuple_whatever_pattern", SchemaNode::sequence(SeqKind::List, star(star(item(bytes())))),
       tuple_any_pattern},
      {"concat_before_star", SchemaNode::sequence(SeqKind::List, concat(vec({item(bytes()), item(bytes())}))),
       SchemaNode::sequence(SeqKind::List, star(item(anything())))},
      {"pattern_variant_empty_item", SchemaNode::sequence(SeqKind::List, SeqPattern::empty()),
       SchemaNode::sequence(SeqKind::List, item(anything()))},
      {"pattern_item_alt", SchemaNode::sequence(SeqKind::List, item(bytes())),
       SchemaNode::sequence(SeqKind::List, alt({}))},
      {"concat_shorter_first", tuple_of({int_()}), tuple_of({int_(), anything()})},
      {"concat_part_decides", tuple_of({int_(), str()}), tuple_of({str(), anything()})},
      {"set_by_element", SchemaNode::set(int_()), SchemaNode::set(str())},
      {"set_before_frozenset", SchemaNode::set(bytes()), SchemaNode::frozen_set(anything())},
      {"key_a_before_ab", record(vec({field("a", int_())})), record(vec({field("ab", int_())}))},
      {"key_bytes_unsigned", record(vec({field("z", int_())})), record(vec({field("\xc3\xa9", int_())}))},
      {"key_before_node", record(vec({field("a", str())})), record(vec({field("b", int_())}))},
      {"node_before_required", record(vec({field("a", int_(), true)})), record(vec({field("a", str(), false)}))},
      {"optional_first", record(vec({field("a", int_(), false)})), record(vec({field("a", int_(), true)}))},
      {"field_prefix_first", record(vec({field("a", int_())})), record(vec({field("a", int_()), field("b", int_())}))},
      {"fields_before_extras", record(vec({field("a", int_())}), vec({pair(str(), str())})),
       record(vec({field("b", int_())}))},
      {"extras_when_fields_equal", record(vec({field("a", int_())}), vec({pair(str(), int_())})),
       record(vec({field("a", int_())}), vec({pair(str(), str())}))},
      {"no_extras_first", record({}), dict_of(anything(), anything())},
      {"extras_key_before_value", dict_of(int_(), str()), dict_of(str(), int_())},
      {"union_members_in_order", union_of(vec({none(), str()})), union_of(vec({str(), none()}))},
      {"union_prefix_first", union_of(vec({none()})), union_of(vec({none(), anything()}))},
      {"empty_union_first", union_of({}), union_of(vec({anything()}))},
      {"union_before_intersection", union_of(vec({bytes()})), intersection_of({})},
      {"complement_by_inner", SchemaNode::complement(int_()), SchemaNode::complement(str())},
      {"instance_by_class", SchemaNode::instance(3), SchemaNode::instance(4)},
      {"object_class_first", SchemaNode::object(1, vec({field("z", bytes())})), SchemaNode::object(2, {})},
      {"object_fields_then", SchemaNode::object(1, {}), SchemaNode::object(1, vec({field("a", anything())}))},
      {"refined_base_first", refined(int_(), {Constraint::regex("zzz")}), refined(str(), {Constraint::ge(0)})},
      {"refined_constraints_then", refined(int_(), {Constraint::ge(0)}), refined(int_(), {Constraint::gt(0)})},
      {"constraint_prefix_first", refined(int_(), {Constraint::ge(0)}),
       refined(int_(), {Constraint::ge(0), Constraint::ge(0)})},
      {"ref_by_definition", SchemaNode::ref(0), SchemaNode::ref(1)},
      {"ref_before_placeholder", SchemaNode::ref(~std::uint64_t{0}), SchemaNode::placeholder(0)},
      {"placeholder_by_id", SchemaNode::placeholder(5), SchemaNode::placeholder(6)},
  };
}

TEST(CompareNodes, OrderedPairsInBothDirections) {
  for (const LessCase& c : less_cases()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(compare_nodes(c.lesser, c.greater), std::strong_ordering::less);
    EXPECT_EQ(compare_nodes(c.greater, c.lesser), std::strong_ordering::greater);
    EXPECT_EQ(compare_nodes(c.lesser, c.lesser), std::strong_ordering::equal);
  }
}

struct ConstraintLessCase {
  const char* name;
  Constraint lesser;
  Constraint greater;
};

TEST(CompareConstraints, OrderedPairsInBothDirections) {
  const std::vector<ConstraintLessCase> cases = {
      {"regex_a_before_a_plus", Constraint::regex("a"), Constraint::regex("a+")},
      {"regex_bytes_unsigned", Constraint::regex("z"), Constraint::regex("\xc3\xa9")},
      {"ge_before_gt_any_bound", Constraint::ge(~std::uint64_t{0}), Constraint::gt(0)},
      {"gt_le", Constraint::gt(9), Constraint::le(0)},
      {"le_lt", Constraint::le(9), Constraint::lt(0)},
      {"lt_min_len", Constraint::lt(9), Constraint::min_len(0)},
      {"min_len_max_len", Constraint::min_len(9), Constraint::max_len(0)},
      {"max_len_multiple_of", Constraint::max_len(9), Constraint::multiple_of(0)},
      {"multiple_of_predicate", Constraint::multiple_of(9), Constraint::predicate(0)},
      {"predicate_regex", Constraint::predicate(~std::uint64_t{0}), Constraint::regex("")},
      {"payload_word", Constraint::min_len(2), Constraint::min_len(10)},
  };
  for (const ConstraintLessCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(compare_constraints(c.lesser, c.greater), std::strong_ordering::less);
    EXPECT_EQ(compare_constraints(c.greater, c.lesser), std::strong_ordering::greater);
    EXPECT_EQ(compare_constraints(c.lesser, c.lesser), std::strong_ordering::equal);
  }
}

TEST(CompareLists, ShorterFirst) {
  EXPECT_EQ(compare_constraint_lists({}, {Constraint::ge(0)}), std::strong_ordering::less);
  EXPECT_EQ(compare_field_lists(vec({field("a", int_())}), {}), std::strong_ordering::greater);
  EXPECT_EQ(compare_pair_lists({}, {}), std::strong_ordering::equal);
  EXPECT_EQ(compare_pair_lists(vec({pair(int_(), int_())}), vec({pair(int_(), int_()), pair(int_(), int_())})),
            std::strong_ordering::less);
}

TEST(CompareNodes, CorpusCoversEveryKindAndPatternVariant) {
  std::vector<bool> kinds(NODE_KIND_COUNT, false);
  std::vector<bool> variants(5, false);
  std::vector<bool> constraints(9, false);
  std::function<void(const SeqPattern&)> visit = [&](const SeqPattern& p) {
    variants[static_cast<std::size_t>(p.kind)] = true;
    for (const SeqPattern& part : p.parts) visit(part);
  };
  for (const SchemaNode& n : corpus()) {
    kinds[static_cast<std::size_t>(n.kind)] = true;
    for (const SeqPattern& p : n.pattern) visit(p);
    for (const Constraint& c : n.constraints) constraints[static_cast<std::size_t>(c.kind)] = true;
  }
  for (std::size_t i = 0; i < kinds.size(); ++i) EXPECT_TRUE(kinds[i]) << "kind " << i;
  for (std::size_t i = 0; i < variants.size(); ++i) EXPECT_TRUE(variants[i]) << "pattern variant " << i;
  for (std::size_t i = 0; i < constraints.size(); ++i) EXPECT_TRUE(constraints[i]) << "constraint " << i;
}

// Over every pair of the corpus (and clones, so equal pairs are separate
// objects): the order answers equal exactly when nodes_equal does, exactly
// when the hash streams agree, and it is antisymmetric.
TEST(CompareNodes, AgreesWithEqualityAndStreamOverCorpus) {
  const std::vector<SchemaNode> nodes = corpus();
  std::vector<std::vector<std::uint8_t>> streams;
  for (const SchemaNode& n : nodes) streams.push_back(stream_of(n));
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    const SchemaNode a_copy = clone_node(nodes[i]);
    EXPECT_EQ(compare_nodes(nodes[i], a_copy), std::strong_ordering::equal) << i;
    EXPECT_EQ(stream_of(a_copy), streams[i]) << i;
    for (std::size_t j = 0; j < nodes.size(); ++j) {
      const bool same = i == j;
      const std::strong_ordering ij = compare_nodes(nodes[i], nodes[j]);
      const std::strong_ordering ji = compare_nodes(nodes[j], nodes[i]);
      EXPECT_EQ(ij == 0, same) << i << " vs " << j;
      EXPECT_EQ(nodes_equal(nodes[i], nodes[j]), same) << i << " vs " << j;
      EXPECT_EQ(streams[i] == streams[j], same) << i << " vs " << j;
      EXPECT_EQ(ij < 0, ji > 0) << i << " vs " << j;
    }
  }
}

TEST(CompareNodes, TransitiveOverCorpus) {
  const std::vector<SchemaNode> nodes = corpus();
  for (const SchemaNode& a : nodes) {
    for (const SchemaNode& b : nodes) {
      if (compare_nodes(a, b) >= 0) continue;
      for (const SchemaNode& c : nodes) {
        if (compare_nodes(b, c) < 0) {
          EXPECT_TRUE(compare_nodes(a, c) < 0);
        }
      }
    }
  }
}

TEST(CompareNodes, CorpusUnionsAndRecordsNested) {
  // Wrapping every corpus node in the same context keeps the order of the nodes.
  const std::vector<SchemaNode> nodes = corpus();
  for (std::size_t i = 0; i + 1 < nodes.size(); ++i) {
    const SchemaNode& a = nodes[i];
    const SchemaNode& b = nodes[i + 1];
    const std::strong_ordering direct = compare_nodes(a, b);
    EXPECT_EQ(compare_nodes(union_of(vec({anything(), a})), union_of(vec({anything(), b}))), direct);
    EXPECT_EQ(compare_nodes(record(vec({field("k", a)})), record(vec({field("k", b)}))), direct);
    EXPECT_EQ(compare_nodes(list_of(a), list_of(b)), direct);
    EXPECT_EQ(compare_nodes(refined(a, {}), refined(b, {})), direct);
  }
}

}  // namespace
}  // namespace quillmar::core
