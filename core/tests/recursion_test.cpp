#include <gtest/gtest.h>

#include "quillmar/core/recursion.hpp"
#include "trees.hpp"

namespace quillmar::core {
namespace {

using namespace testing;

constexpr std::uint64_t kId = 7;
constexpr std::uint64_t kDef = 3;

SchemaNode ph() { return SchemaNode::placeholder(kId); }
SchemaNode self() { return SchemaNode::ref(kDef); }

struct BindCase {
  const char* name;
  SchemaNode body;
  SchemaNode bound;      // the expected result of bind_placeholder(body, kId, kDef)
  bool contractive;      // has_unguarded_ref(bound, kDef, false) is false
};

std::vector<BindCase> bind_cases() {
  std::vector<BindCase> cases;
  // Not contractive: reachable through union, intersection, complement, refinement alone.
  cases.push_back({"placeholder_itself", ph(), self(), false});
  cases.push_back({"union", union_of(vec({int_(), ph()})), union_of(vec({int_(), self()})), false});
  cases.push_back({"intersection", intersection_of(vec({ph()})), intersection_of(vec({self()})), false});
  cases.push_back({"complement", SchemaNode::complement(ph()), SchemaNode::complement(self()), false});
  cases.push_back({"refined", refined(ph(), {Constraint::min_len(1)}), refined(self(), {Constraint::min_len(1)}), false});
  cases.push_back({"nested_non_guards", SchemaNode::complement(union_of(vec({str(), refined(intersection_of(vec({ph()})), {})}))),
                   SchemaNode::complement(union_of(vec({str(), refined(intersection_of(vec({self()})), {})}))), false});
  cases.push_back({"unguarded_beside_guarded", union_of(vec({list_of(ph()), ph()})), union_of(vec({list_of(self()), self()})),
                   false});
  // Contractive: under a structural constructor.
  cases.push_back({"list", list_of(ph()), list_of(self()), true});
  cases.push_back({"tuple_position", tuple_of({int_(), ph()}), tuple_of({int_(), self()}), true});
  cases.push_back({"tuple_variadic_tail", SchemaNode::sequence(SeqKind::Tuple, concat(vec({item(int_()), star(item(ph()))}))),
                   SchemaNode::sequence(SeqKind::Tuple, concat(vec({item(int_()), star(item(self()))}))), true});
  cases.push_back({"alt_pattern", SchemaNode::sequence(SeqKind::List, alt(vec({SeqPattern::empty(), item(ph())}))),
                   SchemaNode::sequence(SeqKind::List, alt(vec({SeqPattern::empty(), item(self())}))), true});
  cases.push_back({"set", SchemaNode::set(ph()), SchemaNode::set(self()), true});
  cases.push_back({"frozenset", SchemaNode::frozen_set(ph()), SchemaNode::frozen_set(self()), true});
  cases.push_back({"record_field", record(vec({field("a", ph(), false)})), record(vec({field("a", self(), false)})), true});
  cases.push_back({"extras_key", dict_of(ph(), int_()), dict_of(self(), int_()), true});
  cases.push_back({"extras_value", record(vec({field("a", int_())}), vec({pair(str(), ph())})),
                   record(vec({field("a", int_())}), vec({pair(str(), self())})), true});
  cases.push_back({"object_attribute", SchemaNode::object(2, vec({field("x", ph())})),
                   SchemaNode::object(2, vec({field("x", self())})), true});
  cases.push_back({"union_mentions_only_in_list", union_of(vec({none(), list_of(ph())})),
                   union_of(vec({none(), list_of(self())})), true});
  cases.push_back({"complement_of_set", SchemaNode::complement(SchemaNode::set(ph())),
                   SchemaNode::complement(SchemaNode::set(self())), true});
  // Never mentions the placeholder: bound to an equal copy.
  cases.push_back({"no_mention", dict_of(str(), list_of(int_())), dict_of(str(), list_of(int_())), true});
  // Left alone: another call's placeholder and a Ref to another definition.
  cases.push_back({"other_placeholder", union_of(vec({SchemaNode::placeholder(kId + 1)})),
                   union_of(vec({SchemaNode::placeholder(kId + 1)})), true});
  cases.push_back({"ref_to_other_definition", union_of(vec({SchemaNode::ref(kDef + 1)})),
                   union_of(vec({SchemaNode::ref(kDef + 1)})), true});
  return cases;
}

TEST(BindPlaceholder, BindsAndDecidesContractiveness) {
  for (const BindCase& c : bind_cases()) {
    SCOPED_TRACE(c.name);
    const SchemaNode before = clone_node(c.body);
    const SchemaNode bound = bind_placeholder(c.body, kId, kDef);
    EXPECT_TRUE(nodes_equal(bound, c.bound));
    EXPECT_TRUE(nodes_equal(c.body, before)) << "input changed";
    EXPECT_EQ(has_unguarded_ref(bound, kDef, false), !c.contractive);
    EXPECT_FALSE(has_unguarded_ref(bound, kDef, true));
    // The unbound body holds no Ref to the definition, only the placeholder.
    EXPECT_FALSE(has_unguarded_ref(c.body, kDef, false));
  }
}

TEST(BindPlaceholder, ExistingRefToTheSameDefinitionIsUnguarded) {
  // A Ref already in the tree counts like one made by binding.
  EXPECT_TRUE(has_unguarded_ref(union_of(vec({self()})), kDef, false));
}

TEST(BindPlaceholder, KeepsPayloadsOfEveryKind) {
  for (const SchemaNode& n : corpus()) {
    // The corpus uses placeholder ids 0 and 9; bind neither.
    EXPECT_TRUE(nodes_equal(bind_placeholder(n, 12345, 0), n));
  }
}

TEST(BindPlaceholder, BindsOnlyTheGivenId) {
  const SchemaNode body = tuple_of({SchemaNode::placeholder(1), SchemaNode::placeholder(2)});
  EXPECT_TRUE(nodes_equal(bind_placeholder(body, 2, 0), tuple_of({SchemaNode::placeholder(1), SchemaNode::ref(0)})));
}

TEST(HasUnguardedRef, GuardedIsFalseForEveryNode) {
  for (const SchemaNode& n : corpus()) EXPECT_FALSE(has_unguarded_ref(n, 0, true));
}

TEST(HasUnguardedRef, LeavesAndOtherDefinitions) {
  EXPECT_TRUE(has_unguarded_ref(SchemaNode::ref(0), 0, false));
  EXPECT_FALSE(has_unguarded_ref(SchemaNode::ref(1), 0, false));
  EXPECT_FALSE(has_unguarded_ref(SchemaNode::placeholder(0), 0, false));
  EXPECT_FALSE(has_unguarded_ref(SchemaNode::literal(0), 0, false));
  EXPECT_FALSE(has_unguarded_ref(SchemaNode::instance(0), 0, false));
  EXPECT_FALSE(has_unguarded_ref(union_of({}), 0, false));
}

TEST(HasUnguardedCycle, AgreesWithHasUnguardedRefWithoutDefinitions) {
  for (const BindCase& c : bind_cases()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(has_unguarded_cycle(c.bound, kDef, {}), !c.contractive);
  }
}

struct CycleCase {
  const char* name;
  SchemaNode body;
  std::vector<SchemaNode> definitions;  // the body is about to become definition definitions.size()
  bool unguarded;
};

SchemaNode ref(std::uint64_t definition) { return SchemaNode::ref(definition); }

std::vector<CycleCase> cycle_cases() {
  std::vector<CycleCase> cases;
  // recursive(lambda p: recursive(lambda q: p | list[q])) once p is bound in the inner body.
  cases.push_back({"through_inner_union", ref(0), vec({union_of(vec({ref(1), list_of(ref(0))}))}), true});
  cases.push_back({"chain_of_non_guards", SchemaNode::complement(ref(0)),
                   vec({refined(ref(1), {}), intersection_of(vec({ref(2)}))}), true});
  // The same back edge, guarded in the inner body or in the outer one.
  cases.push_back({"guarded_in_inner", ref(0), vec({list_of(union_of(vec({ref(1), ref(0)})))}), false});
  cases.push_back({"guarded_in_outer", list_of(ref(0)), vec({union_of(vec({ref(1), list_of(ref(0))}))}), false});
  // A cycle among the other definitions that never reaches the body ends.
  cases.push_back({"other_cycle_terminates", ref(0), vec({union_of(vec({ref(1)})), union_of(vec({ref(0)}))}), false});
  cases.push_back({"ref_past_the_end", union_of(vec({ref(7)})), vec({int_()}), false});
  // A definition met again is skipped; the search goes on past it to the back edge.
  cases.push_back({"shared_definition", union_of(vec({ref(0), ref(0), ref(1)})),
                   vec({int_(), union_of(vec({ref(0), ref(2)}))}), true});
  return cases;
}

TEST(HasUnguardedCycle, FollowsRefsThroughUnguardedPositions) {
  for (const CycleCase& c : cycle_cases()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(has_unguarded_cycle(c.body, c.definitions.size(), c.definitions), c.unguarded);
    // The single-tree test never follows the Refs.
    if (c.body.kind == NodeKind::Ref) {
      EXPECT_FALSE(has_unguarded_ref(c.body, c.definitions.size(), false));
    }
  }
}

}  // namespace
}  // namespace quillmar::core
