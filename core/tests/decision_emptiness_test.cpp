#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decision_fixture.hpp"
#include "quillmar/core/decision/emptiness.hpp"

namespace quillmar::core {
namespace {

using namespace decision_testing;

// Pool constants by index; 3 and 0 are equal values at different indices,
// 9 is a constant the host cannot order.
constexpr std::uint64_t C3 = 0, C4 = 1, C5 = 2, C3_AGAIN = 3, C3_5 = 4, OPAQUE = 9;

struct Case {
  std::string name;
  SchemaNode node;
  bool empty;
  bool exact;
  KindMask kinds = 0;  // checked only when exact
};

class EmptinessTest : public ::testing::Test {
 protected:
  EmptinessTest() { oracle.constants = {{C3, 3}, {C4, 4}, {C5, 5}, {C3_AGAIN, 3}, {C3_5, 3.5}}; }

  Emptiness decide(const SchemaNode& node) {
    ExpansionStack stack;
    Emptiness e = emptiness(node, oracle, definitions, stack, counter);
    EXPECT_TRUE(stack.empty());
    return e;
  }
  // Units of work one decision of node spends.
  std::uint32_t spent(const SchemaNode& node) {
    counter = WORK_BUDGET;
    decide(node);
    return WORK_BUDGET - counter;
  }
  void check(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      const Emptiness e = decide(c.node);
      EXPECT_EQ(e.empty, c.empty);
      EXPECT_EQ(e.exact, c.exact);
      if (c.exact) {
        EXPECT_EQ(e.kinds, c.kinds);
      }
    }
  }

  FakeOracle oracle;
  std::vector<SchemaNode> definitions;
  std::uint32_t counter = WORK_BUDGET;
};

TEST_F(EmptinessTest, LeafKinds) {
  check({
      {"Anything", anything(), false, true, ALL_KINDS},
      {"Any is not the set of all values", any(), false, false},
      {"Nothing", nothing(), true, true, 0},
      {"None", none(), false, true, 0x01},
      {"Bool", boolean(), false, true, 0x02},
      {"Int holds the bools", int_(), false, true, 0x06},
      {"Float", float_(), false, true, 0x08},
      {"Str", str(), false, true, 0x10},
      {"Bytes", bytes(), false, true, 0x20},
      {"Literal", literal(0), false, false},
      {"Set of Nothing holds the empty set", set_of(nothing()), false, false},
      {"FrozenSet of Nothing", frozen_set_of(nothing()), false, false},
      {"Instance", instance(0), false, false},
      {"Placeholder", SchemaNode::placeholder(7), false, false},
  });
}

TEST_F(EmptinessTest, Sequences) {
  check({
      {"list of Nothing holds []", list_of(nothing()), false, false},
      {"tuple with a Nothing position", tuple_of(int_(), nothing()), true, false},
      {"empty tuple", tuple_of(), false, false},
      {"Empty pattern", list_pattern(SeqPattern::empty()), false, false},
      {"lone Item of Nothing", list_pattern(item(nothing())), true, false},
      {"prefix then Star of Nothing", tuple_pattern(concat(item(int_()), star(item(nothing())))), false, false},
      {"Alt with one live alternative", list_pattern(alt(item(nothing()), item(int_()))), false, false},
      {"Alt of dead alternatives", list_pattern(alt(item(nothing()), concat(item(int_()), item(nothing())))), true,
       false},
      {"Alt without alternatives", list_pattern(alt()), true, false},
      {"Star over a dead pattern", list_pattern(star(concat(item(nothing())))), false, false},
  });
}

TEST_F(EmptinessTest, RecordsAndObjects) {
  check({
      {"optional Nothing field", record(fields(opt("a", nothing()))), false, false},
      {"required Nothing field", record(fields(req("a", int_()), req("b", nothing()))), true, false},
      {"extras are never decided", record({}, extras(extra(nothing(), nothing()))), false, false},
      {"Object with a Nothing attribute", object(0, fields(req("a", nothing()))), true, false},
      {"Object with an optional Nothing attribute", object(0, fields(opt("a", nothing()))), false, false},
  });
}

// One key stands for all its fields: the value must match each of them, and
// the key is required when any field is.
TEST_F(EmptinessTest, RepeatedKeysMeetInOneValue) {
  check({
      {"required int and optional str under one key", record(fields(req("a", int_()), opt("a", str()))), true,
       false},
      {"optional Nothing before a required field of that key", record(fields(opt("a", nothing()), req("a", int_()))),
       true, false},
      {"bool and int share values", record(fields(req("a", int_()), opt("a", boolean()))), false, false},
      {"both optional", record(fields(opt("a", int_()), opt("a", str()))), false, false},
      {"Object attribute declared twice", object(0, fields(req("x", float_()), req("x", str()))), true, false},
  });
}

TEST_F(EmptinessTest, Unions) {
  check({
      {"no members", any_of(), true, true, 0},
      {"only empty members", any_of(nothing(), all_of(int_(), str())), true, true, 0},
      {"kinds are joined", any_of(int_(), str()), false, true, 0x16},
      {"one inexact member", any_of(int_(), literal(0)), false, false},
  });
}

TEST_F(EmptinessTest, Intersections) {
  check({
      {"no members is Anything", all_of(), false, true, ALL_KINDS},
      {"int and str", all_of(int_(), str()), true, true, 0},
      {"bool and int", all_of(boolean(), int_()), false, true, 0x02},
      {"float and int", all_of(float_(), int_()), true, true, 0},
      {"an empty member", all_of(literal(0), nothing()), true, false},
      {"X and not X", all_of(list_of(int_()), not_(list_of(int_()))), true, false},
      {"not X and X", all_of(not_(record(fields(req("a", int_())))), record(fields(req("a", int_())))), true, false},
      {"Any and not Any", all_of(any(), not_(any())), false, false},
      {"refined int and str", all_of(refined(int_(), {}), str()), true, false},
      {"list and tuple", all_of(list_of(int_()), tuple_star(int_())), true, false},
      {"a literal never makes classes disjoint", all_of(literal(0), str()), false, false},
      {"bounds across members", all_of(refined(int_(), {Constraint::ge(C5)}), refined(int_(), {Constraint::le(C3)})),
       true, false},
      {"compatible bounds across members",
       all_of(refined(int_(), {Constraint::ge(C3)}), refined(int_(), {Constraint::le(C5)})), false, false},
  });
}

TEST_F(EmptinessTest, Complements) {
  check({
      {"not Anything", not_(anything()), true, true, 0},
      {"not Nothing", not_(nothing()), false, true, ALL_KINDS},
      {"not int", not_(int_()), false, true, 0x79},
      {"not not int", not_(not_(int_())), false, true, 0x06},
      {"not a literal", not_(literal(0)), false, false},
      {"not Any", not_(any()), false, false},
      {"not (int or not int)", not_(any_of(int_(), not_(int_()))), true, true, 0},
  });
}

TEST_F(EmptinessTest, Refinements) {
  check({
      {"over Nothing", refined(nothing(), {}), true, false},
      {"no integer strictly between 3 and 4", refined(int_(), {Constraint::gt(C3), Constraint::lt(C4)}), true, false},
      {"floats strictly between 3 and 4", refined(float_(), {Constraint::gt(C3), Constraint::lt(C4)}), false, false},
      {"int in [3, 3]", refined(int_(), {Constraint::ge(C3), Constraint::le(C3)}), false, false},
      {"int in (3, 3]", refined(int_(), {Constraint::gt(C3), Constraint::le(C3)}), true, false},
      {"min 5 max 3", refined(str(), {Constraint::min_len(5), Constraint::max_len(3)}), true, false},
      {"min 3 max 3", refined(str(), {Constraint::min_len(3), Constraint::max_len(3)}), false, false},
      {"each level keeps its own constraints",
       refined(refined(int_(), {Constraint::ge(C5)}), {Constraint::le(C3)}), false, false},
      {"an empty inner level", refined(refined(int_(), {Constraint::ge(C5), Constraint::le(C3)}), {}), true, false},
  });
}

TEST(ExactKinds, Table) {
  struct Row {
    std::string name;
    SchemaNode node;
    bool exact;
    KindMask kinds;
  };
  const std::vector<Row> rows = {
      {"Anything", anything(), true, ALL_KINDS},
      {"Nothing", nothing(), true, 0},
      {"None", none(), true, 0x01},
      {"Int", int_(), true, 0x06},
      {"Bytes", bytes(), true, 0x20},
      {"empty union", any_of(), true, 0},
      {"empty intersection", all_of(), true, ALL_KINDS},
      {"union", any_of(none(), str()), true, 0x11},
      {"intersection", all_of(int_(), any_of(boolean(), str())), true, 0x02},
      {"complement", not_(any_of(int_(), float_())), true, 0x71},
      {"an inexact member", any_of(int_(), literal(0)), false, 0},
      {"Any", any(), false, 0},
      {"Refined", refined(int_(), {}), false, 0},
      {"Ref", ref(0), false, 0},
      {"Sequence", list_of(int_()), false, 0},
      {"complement of Any", not_(any()), false, 0},
      {"Literal", literal(0), false, 0},
      {"Set", set_of(int_()), false, 0},
      {"FrozenSet", frozen_set_of(int_()), false, 0},
      {"Record", record({}), false, 0},
      {"Instance", instance(0), false, 0},
      {"Object", object(0, {}), false, 0},
      {"Placeholder", SchemaNode::placeholder(1), false, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const auto [exact, kinds] = exact_kinds(r.node);
    EXPECT_EQ(exact, r.exact);
    if (r.exact) {
      EXPECT_EQ(kinds, r.kinds);
    }
  }
}

TEST(HasDisjointClasses, Table) {
  struct Row {
    std::string name;
    std::vector<SchemaNode> members;
    bool disjoint;
  };
  const std::vector<Row> rows = {
      {"no members", nodes(), false},
      {"a lone Nothing", nodes(nothing()), false},
      {"Nothing beside anything", nodes(literal(0), nothing()), true},
      {"Nothing under a refinement is not Nothing itself", nodes(refined(nothing(), {}), literal(0)), false},
      {"bool and int overlap", nodes(boolean(), int_()), false},
      {"same class twice", nodes(str(), refined(str(), {Constraint::min_len(1)})), false},
      {"through refinements", nodes(refined(refined(int_(), {}), {}), str()), true},
      {"list and tuple", nodes(list_of(int_()), tuple_of(int_())), true},
      {"set and frozenset", nodes(set_of(int_()), frozen_set_of(int_())), true},
      {"a third class beside bool and int", nodes(boolean(), int_(), float_()), true},
      {"unknown classes", nodes(literal(0), instance(1), object(1, {}), record({}), any()), false},
      {"record and none", nodes(record({}), none()), true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(has_disjoint_classes(r.members), r.disjoint);
  }
}

TEST(HasComplementaryPair, Table) {
  struct Row {
    std::string name;
    std::vector<SchemaNode> members;
    bool pair;
  };
  const std::vector<Row> rows = {
      {"complement first", nodes(not_(int_()), int_()), true},
      {"complement last", nodes(literal(1), tuple_of(str()), not_(tuple_of(str()))), true},
      {"Any never counts", nodes(not_(any()), any()), false},
      {"structurally different", nodes(not_(int_()), boolean()), false},
      {"different pool indices", nodes(not_(literal(1)), literal(2)), false},
      {"a lone complement", nodes(not_(int_())), false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(has_complementary_pair(r.members), r.pair);
  }
}

// The tightest bounds, and how strictness survives equal bounds.
TEST_F(EmptinessTest, BoundTracking) {
  struct Row {
    std::string name;
    std::vector<Constraint> constraints;
    bool contradict;
  };
  using C = Constraint;
  const std::vector<Row> rows = {
      {"inclusive equal bounds", {C::ge(C3), C::le(C3)}, false},
      {"strict lower at the upper", {C::gt(C3), C::le(C3)}, true},
      {"strict upper at the lower", {C::ge(C3), C::lt(C3)}, true},
      {"lower above upper", {C::ge(C5), C::le(C3)}, true},
      {"a later greater lower replaces", {C::ge(C3), C::ge(C5), C::le(C4)}, true},
      {"a later smaller lower is ignored", {C::ge(C5), C::ge(C3), C::le(C4)}, true},
      {"an equal Gt makes the lower strict", {C::ge(C3), C::gt(C3_AGAIN), C::le(C3)}, true},
      {"an equal Ge leaves it strict", {C::gt(C3), C::ge(C3_AGAIN), C::le(C3)}, true},
      {"an equal Lt makes the upper strict", {C::le(C3), C::lt(C3_AGAIN), C::ge(C3)}, true},
      {"an equal Le leaves it strict", {C::lt(C3), C::le(C3_AGAIN), C::ge(C3)}, true},
      {"a later smaller upper replaces", {C::le(C5), C::le(C3), C::ge(C4)}, true},
      {"a later greater upper is ignored", {C::le(C3), C::le(C5), C::ge(C4)}, true},
      {"an unorderable bound is passed over", {C::ge(C3), C::ge(OPAQUE), C::le(C4)}, false},
      {"an unorderable current bound stays", {C::ge(OPAQUE), C::ge(C5), C::le(C4)}, false},
      {"one side only", {C::ge(C5), C::ge(C4)}, false},
      {"other kinds are passed over",
       {C::multiple_of(C3), C::predicate(7), C::regex("a+"), C::ge(C5), C::le(C3)}, true},
      {"largest MinLen against smallest MaxLen", {C::min_len(2), C::min_len(5), C::max_len(9), C::max_len(4)}, true},
      {"lengths that fit", {C::min_len(4), C::max_len(4), C::min_len(1)}, false},
      {"MinLen alone", {C::min_len(5)}, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(constraints_contradict(r.constraints, oracle, false), r.contradict);
  }
  EXPECT_TRUE(oracle.gap_calls.empty());
}

TEST_F(EmptinessTest, LengthContradictionAsksNothing) {
  const std::vector<Constraint> constraints = {Constraint::ge(C3), Constraint::le(C4), Constraint::min_len(5),
                                               Constraint::max_len(3)};
  EXPECT_TRUE(constraints_contradict(constraints, oracle, true));
  EXPECT_EQ(oracle.calls(), 0);
}

TEST_F(EmptinessTest, IntegerGapIsAskedOnlyOverInt) {
  const std::vector<Constraint> open_3_4 = {Constraint::gt(C3), Constraint::lt(C4)};
  struct Row {
    std::string name;
    SchemaNode node;
    bool asked;
    bool empty;
  };
  const std::vector<Row> rows = {
      {"int", refined(int_(), open_3_4), true, true},
      {"int under another refinement", refined(refined(int_(), {Constraint::ge(C3)}), open_3_4), true, true},
      {"bool", refined(boolean(), open_3_4), false, false},
      {"float", refined(float_(), open_3_4), false, false},
      {"a union holding int", refined(any_of(int_()), open_3_4), false, false},
      {"an integer fits", refined(int_(), {Constraint::ge(C3), Constraint::lt(C3_5)}), true, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    oracle.gap_calls.clear();
    EXPECT_EQ(decide(r.node).empty, r.empty);
    EXPECT_EQ(oracle.gap_calls.size(), r.asked ? 1u : 0u);
  }

  oracle.gap_calls.clear();
  EXPECT_TRUE(decide(refined(int_(), {Constraint::gt(C3), Constraint::le(C4), Constraint::lt(C4)})).empty);
  ASSERT_EQ(oracle.gap_calls.size(), 1u);
  EXPECT_EQ(oracle.gap_calls[0], (FakeOracle::GapCall{C3, true, C4, true}));

  // An unorderable pair still reaches the host's integer test.
  oracle.gap_calls.clear();
  oracle.gap_answer = Verdict::Yes;
  EXPECT_TRUE(constraints_contradict(std::vector<Constraint>{Constraint::ge(OPAQUE), Constraint::le(C4)}, oracle, true));
  EXPECT_EQ(oracle.gap_calls.size(), 1u);
  oracle.gap_answer = Verdict::Unknown;
  EXPECT_FALSE(constraints_contradict(std::vector<Constraint>{Constraint::ge(OPAQUE), Constraint::le(C4)}, oracle, true));
}

TEST_F(EmptinessTest, RefinementsContradictAcrossMembers) {
  using C = Constraint;
  oracle.gap_answer = Verdict::Yes;
  EXPECT_TRUE(refinements_contradict(nodes(refined(int_(), {C::ge(C5)}), refined(int_(), {C::le(C3)})), oracle));
  EXPECT_TRUE(
      refinements_contradict(nodes(refined(str(), {C::min_len(5)}), str(), refined(str(), {C::max_len(3)})), oracle));
  // No integer test across members, even over int.
  EXPECT_FALSE(refinements_contradict(nodes(refined(int_(), {C::gt(C3)}), refined(int_(), {C::lt(C4)})), oracle));
  EXPECT_TRUE(oracle.gap_calls.empty());
  // Only each member's own constraints are gathered.
  EXPECT_FALSE(
      refinements_contradict(nodes(refined(refined(int_(), {C::ge(C5)}), {}), refined(int_(), {C::le(C3)})), oracle));
  EXPECT_FALSE(refinements_contradict(nodes(int_(), str()), oracle));
}

TEST_F(EmptinessTest, BudgetIsOneUnitPerStep) {
  definitions = nodes(int_(), tuple_of(int_(), ref(1)));
  struct Row {
    std::string name;
    SchemaNode node;
    std::uint32_t units;
  };
  const std::vector<Row> rows = {
      {"a leaf", int_(), 1},
      {"every union member, after an empty one", any_of(nothing(), int_(), str()), 4},
      {"every intersection member, after an empty one", all_of(nothing(), int_()), 3},
      {"Concat stops at the first empty part", tuple_of(nothing(), int_()), 2},
      {"Alt stops at the first live alternative", list_pattern(alt(item(int_()), item(nothing()))), 2},
      {"Star is not looked into", list_of(int_()), 1},
      {"only required fields", record(fields(opt("a", int_()), req("b", nothing()), req("c", int_()))), 2},
      {"a repeated key decides one intersection", record(fields(req("a", int_()), opt("a", str()))), 4},
      {"a Ref and its body", ref(0), 2},
      {"each Ref occurrence afresh", tuple_of(ref(0), ref(0)), 5},
      {"a recursion back to the path", ref(1), 4},
      {"a chain of refinements level by level", refined(refined(int_(), {}), {}), 3},
      {"a complement", not_(int_()), 2},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(spent(r.node), r.units);
  }
}

TEST_F(EmptinessTest, ExhaustedBudgetIsNotProven) {
  counter = 0;
  const Emptiness e = decide(nothing());
  EXPECT_FALSE(e.empty);
  EXPECT_FALSE(e.exact);
  EXPECT_EQ(e.kinds, 0);
  EXPECT_EQ(counter, 0u);

  counter = 1;
  EXPECT_TRUE(decide(nothing()).empty);
  EXPECT_EQ(counter, 0u);

  // The last member finds the counter at zero.
  const SchemaNode both = any_of(nothing(), nothing());
  counter = 2;
  EXPECT_FALSE(decide(both).empty);
  counter = 3;
  EXPECT_TRUE(decide(both).empty);

  // An exhausted inner is not exact, so its complement is not proven either.
  counter = 1;
  EXPECT_FALSE(decide(not_(anything())).empty);
}

TEST_F(EmptinessTest, RefExpansion) {
  definitions = nodes(tuple_of(int_(), ref(0)),        // every member needs another: empty
                      list_of(ref(1)),                 // [] is a member
                      any_of(ref(2), int_()),          // an int escapes
                      any_of(ref(3)),                  // nothing but itself
                      tuple_of(ref(5)), tuple_of(ref(4)));  // mutual, no way out
  EXPECT_TRUE(decide(ref(0)).empty);
  EXPECT_FALSE(decide(ref(1)).empty);
  EXPECT_FALSE(decide(ref(2)).empty);
  EXPECT_TRUE(decide(ref(3)).empty);
  EXPECT_TRUE(decide(ref(4)).empty);
  EXPECT_FALSE(decide(ref(6)).empty) << "past the last definition";
  const Emptiness e = decide(ref(3));
  EXPECT_FALSE(e.exact) << "a Ref is never exact";

  // A definition already on the stack is found there, and the stack is left
  // as it was.
  ExpansionStack stack;
  stack.push(1);
  EXPECT_TRUE(emptiness(ref(1), oracle, definitions, stack, counter).empty);
  EXPECT_FALSE(emptiness(ref(2), oracle, definitions, stack, counter).empty);
  EXPECT_EQ(stack.size(), 1u);
  EXPECT_TRUE(stack.contains(1));
  EXPECT_FALSE(stack.contains(2));
}

TEST_F(EmptinessTest, PatternIsEmptySpendsOnlyThroughNodes) {
  ExpansionStack stack;
  counter = 0;
  EXPECT_FALSE(pattern_is_empty(concat(item(nothing())), oracle, definitions, stack, counter));
  EXPECT_TRUE(pattern_is_empty(alt(), oracle, definitions, stack, counter));
  counter = 1;
  EXPECT_FALSE(pattern_is_empty(concat(item(int_()), item(nothing())), oracle, definitions, stack, counter));
  counter = 2;
  EXPECT_TRUE(pattern_is_empty(concat(item(int_()), item(nothing())), oracle, definitions, stack, counter));
}

// Trees far deeper than the native stack could follow are answered, not
// proven, without crashing; ordinary depths are still decided in full.
TEST_F(EmptinessTest, NestingCap) {
  constexpr int DEEP = 100'000;
  auto union_chain = [](int depth) {
    SchemaNode n = nothing();
    for (int i = 0; i < depth; ++i) n = any_of(std::move(n));
    return DeepTree(std::move(n));
  };
  auto complement_chain = [](int depth) {
    SchemaNode n = anything();
    for (int i = 0; i < depth; ++i) n = not_(std::move(n));
    return DeepTree(std::move(n));
  };
  auto tuple_chain = [](int depth) {
    SchemaNode n = nothing();
    for (int i = 0; i < depth; ++i) n = tuple_of(std::move(n));
    return DeepTree(std::move(n));
  };
  auto concat_chain = [](int depth) {
    SeqPattern p = item(nothing());
    for (int i = 0; i < depth; ++i) p = concat(std::move(p));
    return DeepTree(list_pattern(std::move(p)));
  };
  auto refined_chain = [](int depth) {
    SchemaNode n = nothing();
    for (int i = 0; i < depth; ++i) n = refined(std::move(n), {Constraint::ge(C3)});
    return DeepTree(std::move(n));
  };
  auto record_chain = [](int depth) {
    SchemaNode n = nothing();
    for (int i = 0; i < depth; ++i) n = record(fields(req("a", std::move(n))));
    return DeepTree(std::move(n));
  };

  // Each of these is empty, and shown to be at a modest depth.
  using Build = DeepTree (*)(int);
  const std::vector<std::pair<std::string, Build>> chains = {
      {"unions", union_chain}, {"tuples", tuple_chain},   {"concats", concat_chain},
      {"refinements", refined_chain}, {"records", record_chain},
  };
  for (const auto& [name, build] : chains) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(decide(*build(500)).empty);
    EXPECT_FALSE(decide(*build(DEEP)).empty);
  }
  EXPECT_TRUE(decide(*complement_chain(501)).empty);
  const Emptiness deep_complement = decide(*complement_chain(DEEP + 1));
  EXPECT_FALSE(deep_complement.empty);
  EXPECT_FALSE(exact_kinds(*complement_chain(DEEP)).exact);

  // A path through many definitions, each expanded once: Python reaches its
  // deepest decisions this way, since each body is shallow.
  auto ref_chain = [this](int length) {
    definitions.clear();
    definitions.push_back(record(fields(req("k", nothing()))));
    for (int i = 1; i < length; ++i) definitions.push_back(tuple_of(int_(), ref(i - 1)));
  };
  ref_chain(100);
  EXPECT_TRUE(decide(ref(99)).empty);
  ref_chain(DEEP);
  EXPECT_FALSE(decide(ref(DEEP - 1)).empty);

  // Where the cap falls: a chain of n unions over Nothing takes n + 1 steps.
  EXPECT_TRUE(decide(*union_chain(MAX_DECISION_DEPTH - 1)).empty);
  EXPECT_FALSE(decide(*union_chain(MAX_DECISION_DEPTH)).empty);

  // Refused steps spend nothing.
  counter = WORK_BUDGET;
  decide(*union_chain(DEEP));
  EXPECT_EQ(WORK_BUDGET - counter, MAX_DECISION_DEPTH);
}

}  // namespace
}  // namespace quillmar::core
