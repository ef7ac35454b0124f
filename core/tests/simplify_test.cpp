#include "quillmar/core/simplify.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

#include "quillmar/core/order.hpp"
#include "trees.hpp"

namespace quillmar::core {
namespace {

using namespace testing;

SchemaNode complement(SchemaNode inner) { return SchemaNode::complement(std::move(inner)); }

struct RewriteCase {
  const char* name;
  SchemaNode input;
  SchemaNode expected;
};

std::vector<RewriteCase> rewrite_cases() {
  std::vector<RewriteCase> c;
  // Neutral, absorbing and single members.
  c.push_back({"empty_union", union_of({}), nothing()});
  c.push_back({"empty_intersection", intersection_of({}), anything()});
  c.push_back({"one_member_union", union_of(vec({str()})), str()});
  c.push_back({"one_member_intersection", intersection_of(vec({list_of(int_())})), list_of(int_())});
  c.push_back({"union_dedup", union_of(vec({int_(), int_()})), int_()});
  c.push_back({"union_drops_nothing", union_of(vec({int_(), nothing()})), int_()});
  c.push_back({"union_with_anything", union_of(vec({int_(), anything()})), anything()});
  c.push_back({"intersection_drops_anything", intersection_of(vec({anything(), list_of(str())})), list_of(str())});
  c.push_back({"intersection_with_nothing", intersection_of(vec({list_of(str()), nothing()})), nothing()});
  c.push_back({"union_member_becomes_anything", union_of(vec({str(), complement(nothing())})), anything()});
  c.push_back({"union_member_becomes_nothing", union_of(vec({str(), union_of({})})), str()});
  // Sorting and flattening.
  c.push_back({"union_sorted_by_kind", union_of(vec({str(), int_()})), union_of(vec({int_(), str()}))});
  c.push_back({"union_flattened", union_of(vec({int_(), union_of(vec({str(), bytes()}))})),
               union_of(vec({int_(), str(), bytes()}))});
  c.push_back({"deep_union_flattened", union_of(vec({union_of(vec({bytes(), union_of(vec({none(), str()}))})), none()})),
               union_of(vec({none(), str(), bytes()}))});
  c.push_back({"intersection_flattened",
               intersection_of(vec({list_of(str()), intersection_of(vec({list_of(int_()), list_of(str())}))})),
               intersection_of(vec({list_of(int_()), list_of(str())}))});
  c.push_back({"literals_by_pool_index", union_of(vec({SchemaNode::literal(7), SchemaNode::literal(2)})),
               union_of(vec({SchemaNode::literal(2), SchemaNode::literal(7)}))});
  // Complementary pairs and exact kinds.
  c.push_back({"x_or_not_x", union_of(vec({list_of(int_()), complement(list_of(int_()))})), anything()});
  c.push_back({"x_and_not_x", intersection_of(vec({complement(SchemaNode::literal(3)), SchemaNode::literal(3)})),
               nothing()});
  c.push_back({"any_or_not_any_kept", union_of(vec({any(), complement(any())})),
               union_of(vec({any(), complement(any())}))});
  c.push_back({"any_and_not_any_kept", intersection_of(vec({complement(any()), any()})),
               intersection_of(vec({any(), complement(any())}))});
  c.push_back({"exact_kinds_cover_all", union_of(vec({int_(), complement(boolean())})), anything()});
  c.push_back({"exact_kinds_short_of_all", union_of(vec({boolean(), complement(int_())})),
               union_of(vec({boolean(), complement(int_())}))});
  c.push_back({"complements_of_disjoint_kinds", union_of(vec({complement(int_()), complement(str())})), anything()});
  c.push_back({"complements_of_disjoint_classes",
               union_of(vec({complement(list_of(int_())), complement(tuple_of({}))})), anything()});
  c.push_back({"complements_of_bool_and_int_kept", union_of(vec({complement(boolean()), complement(int_())})),
               union_of(vec({complement(boolean()), complement(int_())}))});
  c.push_back({"int_and_str", intersection_of(vec({int_(), str()})), nothing()});
  c.push_back({"bool_and_int_kept", intersection_of(vec({int_(), boolean()})),
               intersection_of(vec({boolean(), int_()}))});
  c.push_back({"refined_int_and_str_disjoint",
               intersection_of(vec({refined(int_(), {Constraint::ge(0)}), str()})), nothing()});
  c.push_back({"list_and_tuple_disjoint", intersection_of(vec({list_of(int_()), tuple_of({int_()})})), nothing()});
  c.push_back({"literal_never_disjoint", intersection_of(vec({SchemaNode::literal(0), str()})),
               intersection_of(vec({str(), SchemaNode::literal(0)}))});
  // Negation normal form.
  c.push_back({"double_complement", complement(complement(int_())), int_()});
  c.push_back({"complement_of_anything", complement(anything()), nothing()});
  c.push_back({"complement_of_nothing", complement(nothing()), anything()});
  c.push_back({"de_morgan_union", complement(union_of(vec({str(), int_()}))),
               intersection_of(vec({complement(int_()), complement(str())}))});
  c.push_back({"de_morgan_intersection", complement(intersection_of(vec({list_of(str()), list_of(int_())}))),
               union_of(vec({complement(list_of(int_())), complement(list_of(str()))}))});
  c.push_back({"de_morgan_drops_and_cancels",
               complement(union_of(vec({complement(list_of(int_())), intersection_of(vec({list_of(str()), tuple_of({})}))}))),
               list_of(int_())});
  c.push_back({"de_morgan_nested",
               complement(union_of(vec({SchemaNode::literal(1), complement(intersection_of(vec({list_of(int_()), SchemaNode::instance(4)})))}))),
               intersection_of(vec({list_of(int_()), complement(SchemaNode::literal(1)), SchemaNode::instance(4)}))});
  c.push_back({"complement_of_x_or_not_x", complement(union_of(vec({str(), complement(str())}))), nothing()});
  c.push_back({"complement_of_leaf_kept", complement(SchemaNode::ref(0)), complement(SchemaNode::ref(0))});
  // Refined chains.
  c.push_back({"refined_chain_merged", refined(refined(int_(), {Constraint::le(5)}), {Constraint::ge(1)}),
               refined(int_(), {Constraint::ge(1), Constraint::le(5)})});
  c.push_back({"refined_three_levels",
               refined(refined(refined(str(), {Constraint::regex("b")}), {Constraint::max_len(4)}), {Constraint::min_len(1)}),
               refined(str(), {Constraint::min_len(1), Constraint::max_len(4), Constraint::regex("b")})});
  c.push_back({"repeated_constraint_once", refined(refined(int_(), {Constraint::ge(1)}), {Constraint::ge(1)}),
               refined(int_(), {Constraint::ge(1)})});
  c.push_back({"bounds_not_merged_by_value", refined(int_(), {Constraint::ge(2), Constraint::ge(1)}),
               refined(int_(), {Constraint::ge(1), Constraint::ge(2)})});
  c.push_back({"regex_shorter_first", refined(str(), {Constraint::regex("ab"), Constraint::regex("a"), Constraint::predicate(0)}),
               refined(str(), {Constraint::predicate(0), Constraint::regex("a"), Constraint::regex("ab")})});
  c.push_back({"refined_without_constraints", refined(refined(int_(), {}), {}), int_()});
  c.push_back({"refined_base_simplified", refined(union_of(vec({str(), str()})), {Constraint::min_len(2)}),
               refined(str(), {Constraint::min_len(2)})});
  c.push_back({"refined_base_to_anything", refined(union_of(vec({int_(), complement(int_())})), {Constraint::predicate(3)}),
               refined(anything(), {Constraint::predicate(3)})});
  // Containers keep their shape, with children simplified.
  c.push_back({"set_element", SchemaNode::set(union_of(vec({str(), int_()}))), SchemaNode::set(union_of(vec({int_(), str()})))});
  c.push_back({"frozenset_element", SchemaNode::frozen_set(complement(complement(none()))), SchemaNode::frozen_set(none())});
  c.push_back({"record_keeps_duplicate_keys",
               record(vec({field("a", union_of(vec({int_()}))), field("a", str(), false)}), vec({pair(union_of(vec({str()})), intersection_of({}))})),
               record(vec({field("a", int_()), field("a", str(), false)}), vec({pair(str(), anything())}))});
  c.push_back({"object_fields", SchemaNode::object(3, vec({field("y", int_()), field("x", union_of(vec({str(), none()})))})),
               SchemaNode::object(3, vec({field("y", int_()), field("x", union_of(vec({none(), str()})))}))});
  c.push_back({"pattern_structure_kept",
               SchemaNode::sequence(SeqKind::Tuple, concat(vec({item(union_of(vec({int_()}))), concat(vec({item(str())})),
                                                                 alt(vec({SeqPattern::empty(), star(item(complement(anything())))}))}))),
               SchemaNode::sequence(SeqKind::Tuple, concat(vec({item(int_()), concat(vec({item(str())})),
                                                                 alt(vec({SeqPattern::empty(), star(item(nothing()))}))})))});
  c.push_back({"refs_sorted_not_followed", union_of(vec({SchemaNode::ref(1), SchemaNode::ref(0), SchemaNode::ref(1)})),
               union_of(vec({SchemaNode::ref(0), SchemaNode::ref(1)}))});
  c.push_back({"placeholder_untouched", SchemaNode::placeholder(9), SchemaNode::placeholder(9)});
  return c;
}

TEST(Simplify, Rewrites) {
  for (const RewriteCase& c : rewrite_cases()) {
    SchemaNode before = c.input;
    SchemaNode got = simplify_node(c.input);
    EXPECT_TRUE(nodes_equal(got, c.expected)) << c.name;
    EXPECT_TRUE(nodes_equal(before, c.input)) << c.name << ": the input changed";
    EXPECT_TRUE(nodes_equal(simplify_node(got), got)) << c.name << ": not idempotent";
  }
}

TEST(Simplify, NegateIsAnInvolutionOnNormalForms) {
  std::vector<SchemaNode> forms;
  forms.push_back(int_());
  forms.push_back(union_of(vec({int_(), str()})));
  forms.push_back(intersection_of(vec({list_of(str()), complement(int_())})));
  forms.push_back(refined(str(), {Constraint::min_len(1)}));
  for (const SchemaNode& f : forms) {
    SchemaNode twice = negate(negate(f));
    EXPECT_TRUE(nodes_equal(twice, f));
  }
  std::vector<SchemaNode> members = vec({anything(), complement(str()), int_()});
  negate_members(members);
  ASSERT_EQ(members.size(), 3u);
  EXPECT_TRUE(nodes_equal(members[0], nothing()));
  EXPECT_TRUE(nodes_equal(members[1], str()));
  EXPECT_TRUE(nodes_equal(members[2], complement(int_())));
}

// ---- Normal-form and meaning properties over random trees ----

// A model of the values the walk tests, enough to give every generated node
// its meaning: the scalar classes, lists and tuples, and one other object.
struct Value {
  enum class Type { None, Bool, Int, Float, Str, Bytes, List, Tuple, Other } type;
  double number = 0;
  std::string text;
  std::vector<Value> items;
};

Value scalar(Value::Type t, double n = 0, std::string s = {}) { return Value{t, n, std::move(s), {}}; }
Value seq(Value::Type t, std::vector<Value> items) { return Value{t, 0, {}, std::move(items)}; }

// Pool indices 0-4 are literals, 10-13 numeric bounds.
Value pool_constant(std::uint64_t index) {
  switch (index) {
    case 0: return scalar(Value::Type::Int, 1);
    case 1: return scalar(Value::Type::Float, 1);
    case 2: return scalar(Value::Type::Str, 0, "a");
    case 3: return scalar(Value::Type::Bool, 1);
    case 4: return scalar(Value::Type::Int, 5);
    case 10: return scalar(Value::Type::Int, 0);
    case 11: return scalar(Value::Type::Int, 1);
    case 12: return scalar(Value::Type::Float, 2.5);
    default: return scalar(Value::Type::Int, 5);
  }
}

std::vector<Value> universe() {
  using T = Value::Type;
  std::vector<Value> u = {
      scalar(T::None), scalar(T::Bool, 0), scalar(T::Bool, 1), scalar(T::Int, 0), scalar(T::Int, 1),
      scalar(T::Int, 5), scalar(T::Int, -2), scalar(T::Float, 1), scalar(T::Float, 2.5), scalar(T::Str, 0, ""),
      scalar(T::Str, 0, "a"), scalar(T::Str, 0, "abc"), scalar(T::Bytes, 0, ""), scalar(T::Bytes, 0, "xy"),
      scalar(T::Other),
  };
  u.push_back(seq(T::List, {}));
  u.push_back(seq(T::List, {scalar(T::Int, 1)}));
  u.push_back(seq(T::List, {scalar(T::Str, 0, "a")}));
  u.push_back(seq(T::List, {scalar(T::Int, 5), scalar(T::Str, 0, "a")}));
  u.push_back(seq(T::List, {scalar(T::Bool, 1), scalar(T::None)}));
  u.push_back(seq(T::Tuple, {}));
  u.push_back(seq(T::Tuple, {scalar(T::Int, 1)}));
  u.push_back(seq(T::Tuple, {scalar(T::Float, 2.5), scalar(T::Str, 0, "abc")}));
  return u;
}

bool is_number(const Value& v) {
  return v.type == Value::Type::Bool || v.type == Value::Type::Int || v.type == Value::Type::Float;
}

std::optional<std::size_t> length_of(const Value& v) {
  switch (v.type) {
    case Value::Type::Str:
    case Value::Type::Bytes:
      return v.text.size();
    case Value::Type::List:
    case Value::Type::Tuple:
      return v.items.size();
    default:
      return std::nullopt;
  }
}

bool meets(const Constraint& c, const Value& v) {
  switch (c.kind) {
    case ConstraintKind::Ge:
      return is_number(v) && v.number >= pool_constant(c.bound_index()).number;
    case ConstraintKind::Gt:
      return is_number(v) && v.number > pool_constant(c.bound_index()).number;
    case ConstraintKind::Le:
      return is_number(v) && v.number <= pool_constant(c.bound_index()).number;
    case ConstraintKind::Lt:
      return is_number(v) && v.number < pool_constant(c.bound_index()).number;
    case ConstraintKind::MinLen:
      return length_of(v) && *length_of(v) >= c.length();
    case ConstraintKind::MaxLen:
      return length_of(v) && *length_of(v) <= c.length();
    case ConstraintKind::MultipleOf:
    case ConstraintKind::Predicate:
    case ConstraintKind::Regex:
      return false;
  }
  return false;
}

bool member(const SchemaNode& n, const Value& v) {
  using T = Value::Type;
  switch (n.kind) {
    case NodeKind::Anything:
    case NodeKind::Any:
      return true;
    case NodeKind::Nothing:
      return false;
    case NodeKind::None:
      return v.type == T::None;
    case NodeKind::Bool:
      return v.type == T::Bool;
    case NodeKind::Int:
      return v.type == T::Int || v.type == T::Bool;
    case NodeKind::Float:
      return v.type == T::Float;
    case NodeKind::Str:
      return v.type == T::Str;
    case NodeKind::Bytes:
      return v.type == T::Bytes;
    case NodeKind::Literal: {
      Value lit = pool_constant(n.value_index());
      return lit.type == v.type && lit.number == v.number && lit.text == v.text;
    }
    case NodeKind::Sequence: {
      if (v.type != (n.seq_kind == SeqKind::List ? T::List : T::Tuple)) return false;
      std::optional<TupleShape> shape = tuple_shape(n.seq_pattern());
      if (!shape) return false;
      if (shape->tail ? v.items.size() < shape->prefix.size() : v.items.size() != shape->prefix.size()) return false;
      for (std::size_t i = 0; i < v.items.size(); ++i) {
        const SchemaNode& e = i < shape->prefix.size() ? *shape->prefix[i] : *shape->tail;
        if (!member(e, v.items[i])) return false;
      }
      return true;
    }
    case NodeKind::Union:
      for (const SchemaNode& m : n.members()) {
        if (member(m, v)) return true;
      }
      return false;
    case NodeKind::Intersection:
      for (const SchemaNode& m : n.members()) {
        if (!member(m, v)) return false;
      }
      return true;
    case NodeKind::Complement:
      return !member(n.inner(), v);
    case NodeKind::Refined:
      if (!member(n.base(), v)) return false;
      for (const Constraint& c : n.constraints) {
        if (!meets(c, v)) return false;
      }
      return true;
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Record:
    case NodeKind::Instance:
    case NodeKind::Object:
    case NodeKind::Ref:
    case NodeKind::Placeholder:
      return false;
  }
  return false;
}

class TreeGen {
 public:
  explicit TreeGen(std::uint32_t seed) : rng_(seed) {}

  SchemaNode node(int depth) {
    int choice = pick(depth <= 0 ? 12 : 19);
    switch (choice) {
      case 0: return anything();
      case 1: return any();
      case 2: return nothing();
      case 3: return none();
      case 4: return boolean();
      case 5: return int_();
      case 6: return float_();
      case 7: return str();
      case 8: return bytes();
      case 9:
      case 10: return SchemaNode::literal(static_cast<std::uint64_t>(pick(5)));
      case 11: return refined(pick(2) ? int_() : str(), constraints());
      case 12: return refined(node(depth - 1), constraints());
      case 13:
      case 14: return union_of(members(depth));
      case 15:
      case 16: return intersection_of(members(depth));
      case 17: return SchemaNode::complement(node(depth - 1));
      default: return pick(2) ? list_of(node(depth - 1)) : tuple_of(vec({node(depth - 1)}));
    }
  }

 private:
  int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

  std::vector<SchemaNode> members(int depth) {
    std::vector<SchemaNode> out;
    for (int i = pick(4); i > 0; --i) out.push_back(node(depth - 1));
    return out;
  }

  std::vector<Constraint> constraints() {
    std::vector<Constraint> out;
    for (int i = pick(3); i > 0; --i) {
      std::uint64_t bound = 10 + static_cast<std::uint64_t>(pick(4));
      switch (pick(6)) {
        case 0: out.push_back(Constraint::ge(bound)); break;
        case 1: out.push_back(Constraint::gt(bound)); break;
        case 2: out.push_back(Constraint::le(bound)); break;
        case 3: out.push_back(Constraint::lt(bound)); break;
        case 4: out.push_back(Constraint::min_len(static_cast<std::uint64_t>(pick(3)))); break;
        default: out.push_back(Constraint::max_len(static_cast<std::uint64_t>(pick(3)))); break;
      }
    }
    return out;
  }

  std::mt19937 rng_;
};

// The normal form's shape, node by node; an empty text when it holds.
std::string normal_form_fault(const SchemaNode& n) {
  auto check_children = [](const SchemaNode& node) -> std::string {
    for (const SchemaNode& c : node.children) {
      if (std::string f = normal_form_fault(c); !f.empty()) return f;
    }
    for (const RecordField& f : node.fields) {
      if (std::string e = normal_form_fault(f.node); !e.empty()) return e;
    }
    for (const ExtrasPair& p : node.extras) {
      if (std::string e = normal_form_fault(p.key); !e.empty()) return e;
      if (std::string e = normal_form_fault(p.value); !e.empty()) return e;
    }
    std::function<std::string(const SeqPattern&)> in_pattern = [&](const SeqPattern& p) -> std::string {
      for (const SchemaNode& i : p.item) {
        if (std::string e = normal_form_fault(i); !e.empty()) return e;
      }
      for (const SeqPattern& q : p.parts) {
        if (std::string e = in_pattern(q); !e.empty()) return e;
      }
      return {};
    };
    for (const SeqPattern& p : node.pattern) {
      if (std::string e = in_pattern(p); !e.empty()) return e;
    }
    return {};
  };
  if (n.kind == NodeKind::Union || n.kind == NodeKind::Intersection) {
    if (n.members().size() < 2) return "a lattice node with fewer than two members";
    for (std::size_t i = 0; i < n.members().size(); ++i) {
      const SchemaNode& m = n.members()[i];
      if (m.kind == NodeKind::Anything || m.kind == NodeKind::Nothing || m.kind == n.kind) {
        return "a neutral, absorbing or unflattened member";
      }
      if (i > 0 && compare_nodes(n.members()[i - 1], m) >= 0) return "members out of order or repeated";
    }
  }
  if (n.kind == NodeKind::Complement) {
    const NodeKind inner = n.inner().kind;
    if (inner == NodeKind::Anything || inner == NodeKind::Nothing || inner == NodeKind::Union ||
        inner == NodeKind::Intersection || inner == NodeKind::Complement) {
      return "a complement above a non-leaf";
    }
  }
  if (n.kind == NodeKind::Refined) {
    if (n.base().kind == NodeKind::Refined) return "a Refined chain";
    if (n.constraints.empty()) return "a Refined without constraints";
    for (std::size_t i = 1; i < n.constraints.size(); ++i) {
      if (compare_constraints(n.constraints[i - 1], n.constraints[i]) >= 0) return "constraints out of order";
    }
  }
  return check_children(n);
}

TEST(Simplify, RandomTreesKeepTheirMeaningInNormalForm) {
  const std::vector<Value> values = universe();
  TreeGen gen(20240611);
  int rewritten = 0;
  for (int round = 0; round < 4000; ++round) {
    SchemaNode tree = gen.node(4);
    SchemaNode before = tree;
    SchemaNode s = simplify_node(tree);
    ASSERT_TRUE(nodes_equal(before, tree)) << "round " << round << ": the input changed";
    ASSERT_EQ(normal_form_fault(s), "") << "round " << round;
    ASSERT_TRUE(nodes_equal(simplify_node(s), s)) << "round " << round << ": not idempotent";
    for (std::size_t i = 0; i < values.size(); ++i) {
      ASSERT_EQ(member(s, values[i]), member(tree, values[i])) << "round " << round << ", value " << i;
    }
    if (!nodes_equal(s, tree)) ++rewritten;
  }
  // The generator must exercise the rewrites, not only trees already normal.
  EXPECT_GT(rewritten, 1000);
}

TEST(Simplify, WideComplementGrowsTheTree) {
  std::vector<SchemaNode> wide;
  for (std::uint64_t i = 0; i < 50; ++i) wide.push_back(SchemaNode::literal(i));
  SchemaNode s = simplify_node(complement(union_of(std::move(wide))));
  ASSERT_EQ(s.kind, NodeKind::Intersection);
  EXPECT_EQ(s.members().size(), 50u);
  for (const SchemaNode& m : s.members()) EXPECT_EQ(m.kind, NodeKind::Complement);
}

}  // namespace
}  // namespace quillmar::core
