#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decision_fixture.hpp"
#include "quillmar/core/decision/emptiness.hpp"
#include "quillmar/core/decision/inclusion.hpp"

namespace quillmar::core {
namespace {

using namespace decision_testing;

// Pool constants by index; C3_AGAIN holds the same value as C3, OPAQUE is a
// constant the host cannot order.
constexpr std::uint64_t C3 = 0, C4 = 1, C5 = 2, C3_AGAIN = 3, OPAQUE = 9;

struct Row {
  std::string name;
  SchemaNode sub;
  SchemaNode sup;
  bool included;
};

class InclusionTest : public ::testing::Test {
 protected:
  InclusionTest() { oracle.constants = {{C3, 3}, {C4, 4}, {C5, 5}, {C3_AGAIN, 3}}; }

  DecisionContext ctx() { return DecisionContext{oracle, definitions, &counter}; }

  // Uses what is left of the counter.
  bool within(const SchemaNode& sub, const SchemaNode& sup) {
    AssumptionStack stack;
    const bool answer = is_subtype(sub, sup, ctx(), stack);
    EXPECT_TRUE(stack.empty());
    return answer;
  }
  std::uint32_t spent(const SchemaNode& sub, const SchemaNode& sup) {
    counter = WORK_BUDGET;
    within(sub, sup);
    return WORK_BUDGET - counter;
  }
  void check(const std::vector<Row>& rows) {
    for (const Row& r : rows) {
      SCOPED_TRACE(r.name);
      EXPECT_EQ(within(r.sub, r.sup), r.included);
    }
  }

  FakeOracle oracle;
  std::vector<SchemaNode> definitions;
  std::uint32_t counter = WORK_BUDGET;
};

TEST_F(InclusionTest, ExactClassesDecideWithoutTheHost) {
  // Even a host that would say yes is not asked once both sides are exact.
  oracle.answer_leaf(int_(), boolean(), Verdict::Yes);
  check({
      {"bool within int", boolean(), int_(), true},
      {"int not within bool", int_(), boolean(), false},
      {"an empty intersection", all_of(int_(), str()), none(), true},
      {"complements", not_(int_()), not_(boolean()), true},
      {"unions", any_of(int_(), str()), any_of(str(), float_(), int_()), true},
      {"anything within its complement's complement", anything(), not_(nothing()), true},
  });
  EXPECT_EQ(oracle.leaf_calls, 0);
}

TEST_F(InclusionTest, StructuralRules) {
  definitions = nodes(boolean());
  check({
      {"equal inexact trees", list_of(literal(0)), list_of(literal(0)), true},
      {"an empty sub", tuple_of(int_(), nothing()), literal(3), true},
      {"a full sup", literal(0), any_of(str(), not_(str())), true},
      {"Nothing within anything", nothing(), literal(3), true},
      {"anything within Anything", record(fields(req("a", literal(1)))), anything(), true},
      {"Any within Anything", any(), anything(), true},
      {"Any within itself", any(), any(), true},
      {"Anything not within Any", anything(), any(), false},
      {"int not within Any", int_(), any(), false},
      {"Any not within int", any(), int_(), false},
      {"union sub: every member", any_of(int_(), tuple_of(int_())), any_of(int_(), tuple_star(int_())), true},
      {"union sub: a failing member", any_of(int_(), tuple_of(str())), any_of(int_(), tuple_star(int_())), false},
      {"an empty union sub", any_of(), literal(0), true},
      {"intersection sup: every member", tuple_of(boolean()), all_of(tuple_star(int_()), tuple_of(anything())), true},
      {"intersection sup: a failing member", tuple_of(str()), all_of(tuple_star(anything()), tuple_of(int_())), false},
      {"intersection sub: one member suffices", all_of(literal(0), list_of(int_())), list_of(any_of(int_(), str())),
       true},
      {"intersection sub: a union sup member holds it whole", all_of(instance(1), instance(2)),
       any_of(str(), all_of(instance(1), instance(2))), true},
      {"union sup: some member", literal(0), any_of(str(), literal(0)), true},
      {"an empty union sup", literal(0), any_of(), false},
      {"Ref sub unfolds", ref(0), int_(), true},
      {"Ref sup unfolds", boolean(), ref(0), true},
      {"a Ref past the definitions, as sub", ref(9), int_(), false},
      {"a Ref past the definitions, as sup", boolean(), ref(9), false},
  });
}

// Where two rules could both apply, the earlier one answers, even when the
// later one would have proven more.
TEST_F(InclusionTest, EarlierRulesAnswerFirst) {
  definitions = nodes(any_of(literal(0), literal(1)), any_of(literal(0), literal(1)));
  check({
      // Splitting the sup first proves each member from the sub's own
      // intersection; taking a sub member first would find no member that fits
      // the whole sup.
      {"an intersection sup is split before an intersection sub", all_of(instance(1), instance(2)),
       all_of(instance(2), instance(1)), true},
      // The union sup is split before the Ref sub unfolds, and no single
      // member holds the whole body.
      {"a union sup is split before a Ref sub unfolds", ref(0), any_of(literal(0), literal(1)), false},
      {"the same body behind a Ref sup is proven", ref(0), ref(1), true},
  });
}

TEST_F(InclusionTest, ByKindOfSupertype) {
  using C = Constraint;
  check({
      {"list within a wider list", list_of(int_()), list_of(any_of(int_(), str())), true},
      {"a pair of int and str not within tuple[int, ...]", tuple_of(int_(), str()), tuple_star(int_()), false},
      {"a pair of ints within tuple[int, ...]", tuple_of(int_(), int_()), tuple_star(int_()), true},
      {"list and tuple are left to the host", list_of(int_()), tuple_star(int_()), false},
      {"set elements", set_of(boolean()), set_of(int_()), true},
      {"frozenset elements", frozen_set_of(boolean()), frozen_set_of(int_()), true},
      {"a set is not a frozenset", set_of(int_()), frozen_set_of(int_()), false},
      {"complements exchange sides", not_(list_of(any_of(int_(), str()))), not_(list_of(int_())), true},
      {"complements exchange sides, failing", not_(list_of(int_())), not_(list_of(any_of(int_(), str()))), false},
      {"disjoint from the complemented schema", tuple_of(int_()), not_(list_of(int_())), true},
      {"a literal does not settle the intersection", literal(0), not_(str()), false},
      {"object attributes", object(0, fields(req("x", boolean()), req("y", str()))), object(0, fields(req("x", int_()))),
       true},
      {"a missing attribute", object(0, fields(req("x", int_()))), object(0, fields(req("x", int_()), req("y", str()))),
       false},
      {"attributes ignore required", object(0, fields(opt("x", int_()))), object(0, fields(req("x", int_()))), true},
      {"objects of another class are left to the host", object(0, {}), object(1, {}), false},
      {"refinement within a weaker one", refined(int_(), {C::ge(C5)}), refined(int_(), {C::ge(C3)}), true},
      {"refinement within a stronger one", refined(int_(), {C::ge(C3)}), refined(int_(), {C::ge(C5)}), false},
      {"refinement over a narrower base", refined(boolean(), {C::ge(C5)}), refined(int_(), {C::ge(C3)}), true},
      {"refinement within its base", refined(int_(), {C::ge(C5)}), int_(), true},
      {"plain int within a refinement is left to the host", int_(), refined(int_(), {C::ge(C3)}), false},
      {"a refined sub falls back on its base", refined(literal(0), {}), literal(0), true},
  });
}

TEST_F(InclusionTest, LeavesGoToTheHost) {
  oracle.answer_leaf(literal(0), refined(int_(), {Constraint::ge(C3)}), Verdict::Yes);
  oracle.answer_leaf(literal(0), any(), Verdict::Yes);
  oracle.answer_leaf(list_of(int_()), tuple_star(int_()), Verdict::Yes);
  oracle.answer_leaf(object(0, {}), object(1, {}), Verdict::Yes);
  oracle.answer_leaf(literal(1), int_(), Verdict::No);
  check({
      {"a literal within a refinement", literal(0), refined(int_(), {Constraint::ge(C3)}), true},
      {"a literal within Any", literal(0), any(), true},
      {"list within tuple", list_of(int_()), tuple_star(int_()), true},
      {"objects of two classes", object(0, {}), object(1, {}), true},
      {"No is not proven", literal(1), int_(), false},
  });
}

TEST_F(InclusionTest, PatternSubtype) {
  struct PatternRow {
    std::string name;
    SeqPattern sub;
    SeqPattern sup;
    bool included;
  };
  const std::vector<PatternRow> rows = {
      {"equal patterns, even without a shape", alt(item(int_()), item(str())), alt(item(int_()), item(str())), true},
      {"item and a one-item concat read alike", item(int_()), concat(item(int_())), true},
      {"star within a wider star", star(item(int_())), star(item(any_of(int_(), str()))), true},
      {"prefix then tail within the tail's star", concat(item(int_()), star(item(int_()))), star(item(int_())), true},
      {"a star is shorter than a required prefix", star(item(int_())), concat(item(int_()), star(item(int_()))),
       false},
      {"a prefix within a prefix plus tail", concat(item(int_())), concat(item(int_()), star(item(str()))), true},
      {"positions past a tailless prefix", concat(item(int_()), item(int_())), concat(item(int_())), false},
      {"a shorter prefix", concat(), concat(item(int_())), false},
      {"the empty sequence within a star", concat(), star(item(int_())), true},
      {"a tail into no tail", star(item(int_())), concat(), false},
      {"a tail nothing can match is no tail", concat(item(int_()), star(item(nothing()))), concat(item(int_())), true},
      {"every alternative of the sub", alt(item(boolean()), concat(item(int_()))), item(int_()), true},
      {"a failing alternative", alt(item(str()), item(int_())), item(int_()), false},
      {"a sub without a shape", star(star(item(int_()))), star(item(int_())), false},
      // The walk admits no sequence for a pattern without a tuple shape, so an
      // alternative of the sup is never enough.
      {"into an Alt sup", item(int_()), alt(item(int_()), item(str())), false},
      {"an Alt into a wider Alt", alt(item(int_())), alt(item(int_()), item(str())), false},
  };
  for (const PatternRow& r : rows) {
    SCOPED_TRACE(r.name);
    AssumptionStack stack;
    EXPECT_EQ(pattern_subtype(r.sub, r.sup, ctx(), stack), r.included);
  }
}

// The walk reads a sequence only through its tuple shape, so a Sequence whose
// pattern is an Alt admits no value; read as a regular expression instead, it
// would take in the subs below.
TEST_F(InclusionTest, AnAltSupAdmitsNothing) {
  check({
      {"a list into an Alt of its own pattern", list_of(int_()), list_pattern(alt(star(item(int_())))), false},
      {"a tuple into one of the alternatives", tuple_of(int_()),
       tuple_pattern(alt(concat(item(int_())), concat(item(str())))), false},
      {"an equal Alt sequence", list_pattern(alt(star(item(int_())))), list_pattern(alt(star(item(int_())))), true},
  });
}

TEST_F(InclusionTest, RecordSubtype) {
  auto dict_str = [](SchemaNode value) { return SchemaNode(dict_of(str(), std::move(value))); };
  check({
      {"a declared optional key may be missing", record(fields(req("a", int_()))),
       record(fields(req("a", int_()), opt("b", str()))), true},
      {"an undeclared key needs a pair", record(fields(req("a", int_()), req("b", str()))),
       record(fields(req("a", int_()))), false},
      {"field into dict", record(fields(req("a", int_()))), dict_str(int_()), true},
      {"only str or Anything keys admit a field", record(fields(req("a", int_()))),
       record({}, extras(extra(literal(0), int_()))), false},
      {"an open record", record(fields(req("a", int_()))), record({}, extras(extra(anything(), anything()))), true},
      {"dict into a wider dict", dict_str(int_()), dict_str(any_of(int_(), float_())), true},
      {"extras values that fit an optional field", dict_str(int_()),
       record(fields(opt("b", int_())), extras(extra(str(), int_()))), true},
      {"extras values that miss an optional field", dict_str(int_()),
       record(fields(opt("b", str())), extras(extra(str(), int_()))), false},
      {"a required field the sub lacks", dict_str(int_()), record(fields(req("b", int_())), extras(extra(str(), int_()))),
       false},
      {"extras into a closed record", dict_str(int_()), record(fields(opt("a", int_()))), false},
      {"an empty record within optional fields", record({}), record(fields(opt("a", int_()))), true},
      {"optional into required", record(fields(opt("a", int_()))), record(fields(req("a", int_()))), false},
      {"required into optional", record(fields(req("a", int_()))), record(fields(opt("a", int_()))), true},
      {"field values", record(fields(req("a", boolean()))), record(fields(req("a", int_()))), true},
  });
}

// One key stands for all its fields: on the left the value lies in their
// intersection, on the right it must fit each, required when any is.
TEST_F(InclusionTest, RepeatedKeys) {
  check({
      {"left: the value meets all its fields", record(fields(req("a", int_()), opt("a", anything()))),
       record(fields(req("a", int_()))), true},
      {"left: the key is required by any field", record(fields(opt("a", int_()), req("a", anything()))),
       record(fields(req("a", int_()))), true},
      {"left: met value into a pair", record(fields(req("a", int_()), opt("a", anything()))),
       SchemaNode(dict_of(str(), int_())), true},
      {"left: fields that share no value make the record empty", record(fields(req("a", int_()), opt("a", str()))),
       literal(0), true},
      {"left: object attributes", object(0, fields(req("x", int_()), req("x", anything()))),
       object(0, fields(req("x", int_()))), true},
      {"right: each field must fit", record(fields(req("a", int_()))),
       record(fields(req("a", int_()), opt("a", str()))), false},
      {"right: required by any field", record(fields(opt("a", int_()))),
       record(fields(opt("a", int_()), req("a", int_()))), false},
      {"right: fits both", record(fields(req("a", boolean()))), record(fields(opt("a", int_()), req("a", boolean()))),
       true},
  });
}

// Small and large records take different lookup paths; both group alike.
TEST(FieldMap, GroupsFieldsByKey) {
  for (int count : {3, 20}) {
    SCOPED_TRACE(count);
    std::vector<RecordField> declared;
    for (int i = 0; i < count; ++i) {
      std::string key = std::to_string(i);
      key.insert(key.begin(), 'k');
      declared.push_back(opt(std::move(key), literal(i)));
    }
    declared.push_back(req("k1", int_()));
    declared.push_back(opt("k1", str()));
    const FieldMap map = field_map(declared);

    ASSERT_EQ(map.groups().size(), static_cast<std::size_t>(count));
    EXPECT_EQ(map.groups()[1].key, "k1");
    const FieldGroup* repeated = map.find("k1");
    ASSERT_NE(repeated, nullptr);
    EXPECT_TRUE(repeated->required);
    ASSERT_EQ(repeated->nodes.size(), 3u);
    EXPECT_EQ(repeated->nodes[0], &declared[1].node);
    EXPECT_EQ(repeated->nodes[1], &declared[count].node);
    EXPECT_EQ(repeated->nodes[2], &declared[count + 1].node);
    const FieldGroup* single = map.find("k2");
    ASSERT_NE(single, nullptr);
    EXPECT_FALSE(single->required);
    EXPECT_EQ(single->nodes.size(), 1u);
    EXPECT_EQ(map.find("k"), nullptr);
  }
}

TEST_F(InclusionTest, RecordTestsAllRun) {
  // The declared field fails first; the extras pairs are still compared.
  const SchemaNode sub = record(fields(req("a", instance(1))), extras(extra(instance(2), instance(3))));
  const SchemaNode sup = record(fields(req("a", instance(4))), extras(extra(instance(5), instance(6))));
  EXPECT_FALSE(within(sub, sup));
  bool keys_compared = false;
  for (const auto& [s, p] : oracle.leaf_log) {
    keys_compared = keys_compared || (nodes_equal(s, instance(2)) && nodes_equal(p, instance(5)));
  }
  EXPECT_TRUE(keys_compared);
}

TEST_F(InclusionTest, ConstraintsImply) {
  using C = Constraint;
  struct ImplyRow {
    std::string name;
    std::vector<Constraint> sup;
    std::vector<Constraint> sub;
    bool implied;
  };
  const std::vector<ImplyRow> rows = {
      {"nothing to imply", {}, {C::ge(C3)}, true},
      {"an unconstrained sub", {C::ge(C3)}, {}, false},
      {"Ge by an equal-valued Ge", {C::ge(C3)}, {C::ge(C3_AGAIN)}, true},
      {"Ge by a Gt at the bound", {C::ge(C3)}, {C::gt(C3_AGAIN)}, true},
      {"Ge by a greater Ge", {C::ge(C3)}, {C::ge(C5)}, true},
      {"Ge by a smaller Ge", {C::ge(C5)}, {C::ge(C3)}, false},
      {"Ge by an unorderable bound", {C::ge(C3)}, {C::gt(OPAQUE)}, false},
      {"Gt by a Gt at the bound", {C::gt(C3)}, {C::gt(C3_AGAIN)}, true},
      {"Gt not by a Ge at the bound", {C::gt(C3)}, {C::ge(C3_AGAIN)}, false},
      {"Gt by a greater Ge", {C::gt(C3)}, {C::ge(C4)}, true},
      {"Le by a smaller Le", {C::le(C5)}, {C::le(C3)}, true},
      {"Le by an Lt at the bound", {C::le(C5)}, {C::lt(C5)}, true},
      {"Le by a greater Le", {C::le(C3)}, {C::le(C5)}, false},
      {"Lt by a smaller Lt", {C::lt(C5)}, {C::lt(C3)}, true},
      {"Lt not by an Le at the bound", {C::lt(C5)}, {C::le(C5)}, false},
      {"Lt by a smaller Le", {C::lt(C5)}, {C::le(C4)}, true},
      {"upper bounds never imply lower ones", {C::ge(C3)}, {C::le(C5), C::lt(C5)}, false},
      {"the scan passes over what does not qualify", {C::ge(C3)}, {C::le(C4), C::ge(C3_AGAIN)}, true},
      {"MinLen by a longer MinLen", {C::min_len(3)}, {C::min_len(5)}, true},
      {"MinLen by a shorter MinLen", {C::min_len(5)}, {C::min_len(3)}, false},
      {"MaxLen by a shorter MaxLen", {C::max_len(5)}, {C::max_len(3)}, true},
      {"MaxLen by a longer MaxLen", {C::max_len(3)}, {C::max_len(5)}, false},
      {"MultipleOf only when identical", {C::multiple_of(C3)}, {C::multiple_of(C3_AGAIN)}, false},
      {"an identical MultipleOf", {C::multiple_of(C3)}, {C::multiple_of(C3)}, true},
      {"an identical Predicate", {C::predicate(7)}, {C::predicate(7)}, true},
      {"an identical Regex", {C::regex("a+")}, {C::regex("a+")}, true},
      {"a Regex that differs", {C::regex("a")}, {C::regex("a+")}, false},
      {"every sup constraint", {C::ge(C3), C::le(C5)}, {C::le(C4), C::ge(C4)}, true},
      {"one sup constraint left unimplied", {C::ge(C3), C::le(C5)}, {C::ge(C4)}, false},
  };
  for (const ImplyRow& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(constraints_imply(r.sup, r.sub, oracle), r.implied);
  }

  // An identical bound needs no comparison.
  oracle.compare_calls = 0;
  EXPECT_TRUE(constraints_imply(std::vector<Constraint>{C::ge(OPAQUE)}, std::vector<Constraint>{C::ge(OPAQUE)}, oracle));
  EXPECT_EQ(oracle.compare_calls, 0);
}

TEST_F(InclusionTest, WithinComplement) {
  EXPECT_TRUE(within_complement(tuple_of(int_()), list_of(int_()), ctx()));
  EXPECT_TRUE(within_complement(int_(), str(), ctx()));
  EXPECT_FALSE(within_complement(literal(0), str(), ctx()));
  // One step for the intersection and one for each side.
  counter = WORK_BUDGET;
  within_complement(int_(), str(), ctx());
  EXPECT_EQ(WORK_BUDGET - counter, 3u);
}

TEST_F(InclusionTest, RecursionByAssumption) {
  definitions = nodes(list_of(ref(0)),                                       // 0: list of self
                      list_of(ref(1)),                                       // 1: the same shape again
                      any_of(none(), tuple_of(int_(), ref(2))),              // 2: int chain
                      any_of(none(), tuple_of(any_of(int_(), str()), ref(3))));  // 3: wider chain
  EXPECT_TRUE(within(ref(0), ref(1)));
  EXPECT_TRUE(within(ref(1), ref(0)));
  EXPECT_TRUE(within(ref(2), ref(3)));
  EXPECT_FALSE(within(ref(3), ref(2)));
  EXPECT_TRUE(is_equivalent(ref(0), ref(1), ctx()));
  EXPECT_FALSE(is_equivalent(ref(2), ref(3), ctx()));
  EXPECT_TRUE(query_is_equivalent(ref(0), ref(1), oracle, definitions));
  EXPECT_TRUE(query_is_subtype(ref(2), ref(3), oracle, definitions));

  // An assumption in force is taken before anything else, exact classes
  // included.
  const SchemaNode assumed_sub = int_();
  const SchemaNode assumed_sup = boolean();
  AssumptionStack stack;
  stack.push(assumed_sub, assumed_sup);
  EXPECT_TRUE(is_subtype(int_(), boolean(), ctx(), stack));
  EXPECT_FALSE(is_subtype(str(), boolean(), ctx(), stack));
  EXPECT_EQ(stack.size(), 1u);
}

// Entries are found by structure, not address, however deep the stack; a
// pair that only agrees near the root is not taken for another.
TEST(AssumptionStack, FindsPairsByStructure) {
  auto deep = [](int depth, SchemaNode leaf_node) {
    SchemaNode n = std::move(leaf_node);
    for (int i = 0; i < depth; ++i) n = list_of(std::move(n));
    return n;
  };
  std::vector<SchemaNode> subs;
  for (int i = 0; i < 200; ++i) subs.push_back(literal(static_cast<std::uint64_t>(i)));
  const SchemaNode deep_int = deep(60, int_());
  const SchemaNode deep_str = deep(60, str());

  AssumptionStack stack;
  for (const SchemaNode& s : subs) stack.push(s, deep_int);
  EXPECT_EQ(stack.size(), subs.size());
  EXPECT_TRUE(stack.holds(literal(0), deep(60, int_())));
  EXPECT_TRUE(stack.holds(literal(199), deep(60, int_())));
  EXPECT_FALSE(stack.holds(literal(200), deep_int));
  EXPECT_FALSE(stack.holds(literal(5), deep_str)) << "differs only far below the root";
  EXPECT_FALSE(stack.holds(deep_int, literal(5))) << "the sides are not interchangeable";

  stack.pop();
  EXPECT_FALSE(stack.holds(literal(199), deep_int));
  EXPECT_TRUE(stack.holds(literal(198), deep_int));
  while (!stack.empty()) stack.pop();
  EXPECT_FALSE(stack.holds(literal(0), deep_int));

  // A pair pushed twice stays until both are popped.
  stack.push(subs[0], deep_int);
  stack.push(subs[0], deep_int);
  stack.pop();
  EXPECT_TRUE(stack.holds(literal(0), deep_int));
}

TEST_F(InclusionTest, BudgetIsOneUnitPerStep) {
  struct BudgetRow {
    std::string name;
    SchemaNode sub;
    SchemaNode sup;
    std::uint32_t units;
  };
  const std::vector<BudgetRow> rows = {
      {"exact sides", int_(), boolean(), 1},
      {"equal trees", literal(0), literal(0), 1},
      // The step, the sub's emptiness, and the sup's complement with the sup.
      {"a leaf pair goes to the host", literal(0), literal(1), 4},
      {"an empty sub stops at its emptiness", tuple_of(nothing()), literal(1), 3},
  };
  for (const BudgetRow& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(spent(r.sub, r.sup), r.units);
  }

  counter = 0;
  EXPECT_FALSE(within(int_(), int_()));
  EXPECT_FALSE(within(nothing(), literal(0)));
  EXPECT_EQ(counter, 0u);

  // A step already begun finishes on what its sub-steps answered: one unit
  // short, the last sub-step finds the counter at zero and the proof fails.
  const SchemaNode sub = any_of(literal(0), literal(1));
  const SchemaNode sup = any_of(str(), literal(1), literal(0));
  const std::uint32_t units = spent(sub, sup);
  counter = units;
  EXPECT_TRUE(within(sub, sup));
  counter = units - 1;
  EXPECT_FALSE(within(sub, sup));
}

TEST_F(InclusionTest, EquivalenceSharesOneBudget) {
  counter = 1;
  EXPECT_TRUE(within(boolean(), boolean())) << "one direction alone fits in one unit";
  counter = 1;
  EXPECT_FALSE(is_equivalent(int_(), int_(), ctx())) << "the second direction finds the counter at zero";
  counter = 2;
  EXPECT_TRUE(is_equivalent(int_(), int_(), ctx()));
  EXPECT_EQ(counter, 0u);

  // The second direction runs only after the first holds.
  counter = WORK_BUDGET;
  EXPECT_FALSE(is_equivalent(int_(), boolean(), ctx()));
  EXPECT_EQ(WORK_BUDGET - counter, 1u);
  counter = WORK_BUDGET;
  EXPECT_FALSE(is_equivalent(boolean(), int_(), ctx()));
  EXPECT_EQ(WORK_BUDGET - counter, 2u);

  // Recursive schemas: exactly the first direction's cost is not enough.
  definitions = nodes(list_of(ref(0)), list_of(ref(1)));
  const std::uint32_t forward = spent(ref(0), ref(1));
  const std::uint32_t backward = spent(ref(1), ref(0));
  counter = forward;
  EXPECT_FALSE(is_equivalent(ref(0), ref(1), ctx()));
  counter = forward + backward;
  EXPECT_TRUE(is_equivalent(ref(0), ref(1), ctx()));
}

// Nesting far past what the native stack holds answers "not proven" instead
// of crashing; the budget alone would allow it.
TEST_F(InclusionTest, NestingCap) {
  constexpr int DEEP = 100'000;
  auto list_chain = [](int depth, SchemaNode leaf_node) {
    SchemaNode n = std::move(leaf_node);
    for (int i = 0; i < depth; ++i) n = list_of(std::move(n));
    return DeepTree(std::move(n));
  };
  auto complement_chain = [](int depth, SchemaNode leaf_node) {
    SchemaNode n = std::move(leaf_node);
    for (int i = 0; i < depth; ++i) n = not_(std::move(n));
    return DeepTree(std::move(n));
  };

  EXPECT_TRUE(within(*list_chain(200, boolean()), *list_chain(200, int_())));
  EXPECT_FALSE(within(*list_chain(DEEP, boolean()), *list_chain(DEEP, int_())));
  // Equal trees are still recognised at any depth.
  EXPECT_TRUE(within(*complement_chain(DEEP, int_()), *complement_chain(DEEP, int_())));
  EXPECT_FALSE(within(*complement_chain(DEEP, int_()), *complement_chain(DEEP, str())));
  EXPECT_FALSE(within(*complement_chain(DEEP, int_()), *complement_chain(DEEP - 1, str())));

  // A chain of definitions nests through unfoldings, not through the trees.
  auto chain = [](std::uint64_t first, std::uint64_t length, SchemaNode end) {
    std::vector<SchemaNode> defs;
    for (std::uint64_t i = 0; i + 1 < length; ++i) defs.push_back(list_of(ref(first + i + 1)));
    defs.push_back(list_of(std::move(end)));
    return defs;
  };
  auto two_chains = [&](std::uint64_t length) {
    definitions = chain(0, length, boolean());
    for (SchemaNode& d : chain(length, length, int_())) definitions.push_back(std::move(d));
    return ref(length);
  };
  const SchemaNode short_sup = two_chains(100);
  counter = WORK_BUDGET;
  EXPECT_TRUE(within(ref(0), short_sup));
  const SchemaNode long_sup = two_chains(DEEP);
  counter = WORK_BUDGET;
  EXPECT_FALSE(within(ref(0), long_sup));
  EXPECT_GT(counter, 0u) << "stopped by the cap, not by the budget";
}

}  // namespace
}  // namespace quillmar::core
