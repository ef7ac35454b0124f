#include <gtest/gtest.h>

#include "quillmar/core/kinds.hpp"
#include "quillmar/core/measures.hpp"
#include "trees.hpp"

namespace quillmar::core {
namespace {

using namespace testing;

struct KindRow {
  SchemaNode node;
  std::string_view code;
  std::string_view name;
};

// The full code and name table, one row per kind (two for Sequence).
std::vector<KindRow> kind_rows() {
  return {
      {anything(), "anything", "anything"},
      {any(), "any", "any"},
      {nothing(), "no_match", "nothing"},
      {none(), "none_type", "None"},
      {boolean(), "bool_type", "bool"},
      {int_(), "int_type", "int"},
      {float_(), "float_type", "float"},
      {str(), "string_type", "str"},
      {bytes(), "bytes_type", "bytes"},
      {SchemaNode::literal(0), "literal_error", "literal"},
      {list_of(int_()), "list_type", "list"},
      {tuple_of({int_()}), "tuple_type", "tuple"},
      {SchemaNode::set(int_()), "set_type", "set"},
      {SchemaNode::frozen_set(int_()), "frozen_set_type", "frozenset"},
      {dict_of(str(), int_()), "dict_type", "dict"},
      {union_of(vec({int_(), str()})), "union_error", "union"},
      {intersection_of({}), "intersection_error", "intersection"},
      {SchemaNode::complement(int_()), "unexpected_match", "complement"},
      {SchemaNode::instance(0), "instance_type", "instance"},
      {SchemaNode::object(0, {}), "instance_type", "object"},
      {refined(int_(), {Constraint::ge(0)}), "int_type", "int"},
      {SchemaNode::ref(0), "recursion", "value"},
      {SchemaNode::placeholder(0), "unresolved_recursion", "recursive value"},
  };
}

TEST(KindTables, FullTable) {
  for (const KindRow& row : kind_rows()) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(error_code(row.node), row.code);
    EXPECT_EQ(kind_name(row.node), row.name);
  }
}

TEST(KindTables, RefinedAnswersForItsBaseThroughAnyChain) {
  const SchemaNode tuple = refined(SchemaNode::sequence(SeqKind::Tuple, star_of_item(int_())), {Constraint::min_len(1)});
  EXPECT_EQ(error_code(tuple), "tuple_type");
  EXPECT_EQ(kind_name(tuple), "tuple");
  const SchemaNode twice = refined(refined(str(), {Constraint::min_len(1)}), {Constraint::regex("a")});
  EXPECT_EQ(error_code(twice), "string_type");
  EXPECT_EQ(kind_name(twice), "str");
  const SchemaNode over_union = refined(refined(refined(union_of({}), {}), {}), {});
  EXPECT_EQ(error_code(over_union), "union_error");
  EXPECT_EQ(kind_name(over_union), "union");
}

TEST(KindTables, TextsAreStatic) {
  // The texts outlive the node they were read from.
  std::string_view code, name;
  {
    const SchemaNode n = SchemaNode::placeholder(1);
    code = error_code(n);
    name = kind_name(n);
  }
  EXPECT_EQ(code, "unresolved_recursion");
  EXPECT_EQ(name, "recursive value");
}

struct MeasureCase {
  const char* name;
  SchemaNode node;
  std::uint64_t count;
  std::uint64_t depth;
};

std::vector<MeasureCase> measure_cases() {
  SchemaNode big_definition = list_of(list_of(list_of(int_())));
  return {
      // Counts and depths worked out by hand.
      {"int", int_(), 1, 1},
      {"list_of_int", list_of(int_()), 2, 3},
      {"tuple_int_str", tuple_of({int_(), str()}), 3, 3},
      {"empty_tuple", tuple_of({}), 1, 2},
      {"list_literal_variadic",
       SchemaNode::sequence(SeqKind::List, concat(vec({item(int_()), star(item(str()))}))), 3, 4},
      {"dict_str_int", dict_of(str(), int_()), 3, 2},
      {"record_one_field", record(vec({field("a", int_())})), 2, 2},
      {"int_ge_le", refined(int_(), {Constraint::ge(0), Constraint::le(1)}), 4, 2},
      {"union_int_none", union_of(vec({int_(), none()})), 3, 2},
      {"empty_union", union_of({}), 1, 1},
      {"set_of_int", SchemaNode::set(int_()), 2, 2},
      // Edge cases.
      {"ref", SchemaNode::ref(0), 1, 1},
      {"placeholder", SchemaNode::placeholder(3), 1, 1},
      {"empty_record", record({}), 1, 1},
      {"int_three_constraints", refined(int_(), {Constraint::ge(0), Constraint::le(1), Constraint::regex("x")}), 5, 2},
      {"refined_no_constraints", refined(str(), {}), 2, 2},
      {"empty_pattern", SchemaNode::sequence(SeqKind::List, SeqPattern::empty()), 1, 1},
      {"item_pattern", SchemaNode::sequence(SeqKind::Tuple, item(int_())), 2, 2},
      {"empty_alt", SchemaNode::sequence(SeqKind::List, alt({})), 1, 2},
      {"alt_of_items", SchemaNode::sequence(SeqKind::List, alt(vec({item(int_()), star(item(list_of(int_())))}))), 4, 6},
      {"star_of_star", SchemaNode::sequence(SeqKind::List, star(star(item(int_())))), 2, 4},
      {"frozenset_complement", SchemaNode::frozen_set(SchemaNode::complement(none())), 3, 3},
      {"record_extras_deeper", record(vec({field("a", int_())}), vec({pair(str(), list_of(int_()))})), 5, 4},
      {"object", SchemaNode::object(0, vec({field("a", int_()), field("b", SchemaNode::set(str()))})), 4, 3},
      {"object_no_fields", SchemaNode::object(0, {}), 1, 1},
      {"intersection_uneven", intersection_of(vec({int_(), SchemaNode::set(SchemaNode::set(int_()))})), 5, 4},
      {"union_of_refs", union_of(vec({SchemaNode::ref(0), SchemaNode::ref(1)})), 3, 2},
  };
}

TEST(Measures, CountsAndDepths) {
  for (const MeasureCase& c : measure_cases()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(node_count(c.node), c.count);
    EXPECT_EQ(node_depth(c.node), c.depth);
  }
}

TEST(Measures, PatternMeasures) {
  EXPECT_EQ(pattern_node_count(SeqPattern::empty()), 0u);
  EXPECT_EQ(pattern_depth(SeqPattern::empty()), 0u);
  EXPECT_EQ(pattern_node_count(concat({})), 0u);
  EXPECT_EQ(pattern_depth(concat({})), 1u);
  EXPECT_EQ(pattern_node_count(item(dict_of(str(), int_()))), 3u);
  EXPECT_EQ(pattern_depth(item(dict_of(str(), int_()))), 2u);
  EXPECT_EQ(pattern_node_count(star(concat(vec({item(int_()), item(str())})))), 2u);
  EXPECT_EQ(pattern_depth(star(concat(vec({item(int_()), item(str())})))), 3u);
}

TEST(Measures, DeepChain) {
  SchemaNode n = int_();
  for (int i = 0; i < 200; ++i) n = SchemaNode::complement(std::move(n));
  EXPECT_EQ(node_count(n), 201u);
  EXPECT_EQ(node_depth(n), 201u);
}

}  // namespace
}  // namespace quillmar::core
