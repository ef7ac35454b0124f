#include <gtest/gtest.h>

#include <memory>

#include "quillmar/core/node.hpp"
#include "trees.hpp"

namespace quillmar::core {
namespace {

using namespace testing;

// A shape written with the kinds of its prefix nodes and its tail.
struct ShapeCase {
  const char* name;
  SeqPattern pattern;
  bool present;
  std::vector<NodeKind> prefix;
  std::optional<NodeKind> tail;
};

std::vector<ShapeCase> shape_cases() {
  std::vector<ShapeCase> cases;
  cases.push_back({"empty", SeqPattern::empty(), true, {}, std::nullopt});
  cases.push_back({"item", item(int_()), true, {NodeKind::Int}, std::nullopt});
  cases.push_back({"star_of_item", star(item(str())), true, {}, NodeKind::Str});
  cases.push_back({"concat_no_parts", concat({}), true, {}, std::nullopt});
  cases.push_back({"concat_items", concat(vec({item(int_()), item(str())})), true, {NodeKind::Int, NodeKind::Str},
                   std::nullopt});
  cases.push_back({"concat_prefix_then_star", concat(vec({item(int_()), star(item(str()))})), true, {NodeKind::Int},
                   NodeKind::Str});
  cases.push_back({"concat_only_star", concat(vec({star(item(str()))})), true, {}, NodeKind::Str});
  cases.push_back({"concat_star_not_last", concat(vec({star(item(str())), item(int_())})), false, {}, std::nullopt});
  cases.push_back({"star_of_star", star(star(item(int_()))), false, {}, std::nullopt});
  cases.push_back({"star_of_concat", star(concat(vec({item(int_())}))), false, {}, std::nullopt});
  cases.push_back({"nested_concat", concat(vec({item(int_()), concat(vec({item(str())}))})), false, {}, std::nullopt});
  cases.push_back({"concat_with_empty", concat(vec({SeqPattern::empty()})), false, {}, std::nullopt});
  cases.push_back({"concat_with_alt", concat(vec({item(int_()), alt(vec({item(str())}))})), false, {}, std::nullopt});
  cases.push_back({"concat_star_of_star_last", concat(vec({item(int_()), star(star(item(str())))})), false, {},
                   std::nullopt});
  cases.push_back({"two_stars", concat(vec({star(item(int_())), star(item(str()))})), false, {}, std::nullopt});
  cases.push_back({"alt_empty", alt({}), false, {}, std::nullopt});
  cases.push_back({"alt_one_item", alt(vec({item(int_())})), false, {}, std::nullopt});
  return cases;
}

TEST(TupleShape, Table) {
  for (const ShapeCase& c : shape_cases()) {
    SCOPED_TRACE(c.name);
    const std::optional<TupleShape> shape = tuple_shape(c.pattern);
    ASSERT_EQ(shape.has_value(), c.present);
    if (!shape) continue;
    ASSERT_EQ(shape->prefix.size(), c.prefix.size());
    for (std::size_t i = 0; i < c.prefix.size(); ++i) EXPECT_EQ(shape->prefix[i]->kind, c.prefix[i]);
    ASSERT_EQ(shape->tail != nullptr, c.tail.has_value());
    if (c.tail) {
      EXPECT_EQ(shape->tail->kind, *c.tail);
    }
  }
}

TEST(TupleShape, BorrowsFromThePattern) {
  const SeqPattern p = concat(vec({item(int_()), star(item(str()))}));
  const std::optional<TupleShape> shape = tuple_shape(p);
  ASSERT_TRUE(shape);
  EXPECT_EQ(shape->prefix[0], &p.parts[0].item_node());
  EXPECT_EQ(shape->tail, &p.parts[1].star_inner().item_node());
}

TEST(TupleShape, ItemAndSingletonConcatShareAShapeButDiffer) {
  const SeqPattern single = item(int_());
  const SeqPattern wrapped = concat(vec({item(int_())}));
  EXPECT_EQ(tuple_shape(single)->prefix.size(), 1u);
  EXPECT_EQ(tuple_shape(wrapped)->prefix.size(), 1u);
  EXPECT_FALSE(patterns_equal(single, wrapped));
}

struct UnequalCase {
  const char* name;
  SchemaNode a;
  SchemaNode b;
};

TEST(NodesEqual, UnequalPairs) {
  const std::vector<UnequalCase> cases = {
      {"union_member_order", union_of(vec({int_(), str()})), union_of(vec({str(), int_()}))},
      {"literal_pool_index", SchemaNode::literal(0), SchemaNode::literal(1)},
      {"field_required", record(vec({field("a", int_(), true)})), record(vec({field("a", int_(), false)}))},
      {"regex_prefix", refined(str(), {Constraint::regex("a")}), refined(str(), {Constraint::regex("ab")})},
      {"any_vs_anything", any(), anything()},
      {"seq_kind", SchemaNode::sequence(SeqKind::List, star_of_item(int_())),
       SchemaNode::sequence(SeqKind::Tuple, star_of_item(int_()))},
      {"object_class", SchemaNode::object(1, {}), SchemaNode::object(2, {})},
      {"constraint_kind_same_word", refined(int_(), {Constraint::ge(1)}), refined(int_(), {Constraint::min_len(1)})},
      {"extras", record(vec({field("a", int_())})), record(vec({field("a", int_())}), vec({pair(str(), int_())}))},
  };
  for (const UnequalCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(nodes_equal(c.a, c.b));
    EXPECT_FALSE(nodes_equal(c.b, c.a));
    EXPECT_TRUE(nodes_equal(c.a, c.a));
  }
}

TEST(NodesEqual, DictOfEqualsHandBuiltRecord) {
  EXPECT_TRUE(nodes_equal(dict_of(str(), int_()), record({}, vec({pair(str(), int_())}))));
}

TEST(NodesEqual, StarOfItem) {
  EXPECT_TRUE(patterns_equal(star_of_item(int_()), star(item(int_()))));
}

TEST(CloneNode, CopyEqualsAndOutlivesTheSource) {
  for (const SchemaNode& n : corpus()) {
    auto source = std::make_unique<SchemaNode>(n);
    const SchemaNode copy = clone_node(*source);
    EXPECT_TRUE(nodes_equal(copy, *source));
    source.reset();
    EXPECT_TRUE(nodes_equal(copy, n));
  }
}

TEST(ClonePattern, CopyEquals) {
  const SeqPattern p = concat(vec({item(int_()), alt(vec({SeqPattern::empty(), star(item(str()))}))}));
  EXPECT_TRUE(patterns_equal(clone_pattern(p), p));
}

}  // namespace
}  // namespace quillmar::core
