#include "quillmar/core/decision/emptiness.hpp"

#include <bit>
#include <limits>
#include <memory>

#include "detail.hpp"
#include "quillmar/core/decision/field_map.hpp"

namespace quillmar::core {

void ExpansionStack::push(std::uint64_t definition) {
  if (definition >= on_stack_.size()) on_stack_.resize(definition + 1, false);
  on_stack_[definition] = true;
  indices_.push_back(definition);
}

void ExpansionStack::pop() {
  on_stack_[indices_.back()] = false;
  indices_.pop_back();
}

std::optional<BaseClass> base_class(const SchemaNode& node) {
  const SchemaNode* n = &node;
  while (n->kind == NodeKind::Refined) n = &n->base();
  switch (n->kind) {
    case NodeKind::None:
      return BaseClass::None;
    case NodeKind::Bool:
      return BaseClass::Bool;
    case NodeKind::Int:
      return BaseClass::Int;
    case NodeKind::Float:
      return BaseClass::Float;
    case NodeKind::Str:
      return BaseClass::Str;
    case NodeKind::Bytes:
      return BaseClass::Bytes;
    case NodeKind::Sequence:
      return n->seq_kind == SeqKind::List ? BaseClass::List : BaseClass::Tuple;
    case NodeKind::Set:
      return BaseClass::Set;
    case NodeKind::FrozenSet:
      return BaseClass::FrozenSet;
    case NodeKind::Record:
      return BaseClass::Record;
    case NodeKind::Anything:
    case NodeKind::Any:
    case NodeKind::Nothing:
    case NodeKind::Literal:
    case NodeKind::Union:
    case NodeKind::Intersection:
    case NodeKind::Complement:
    case NodeKind::Instance:
    case NodeKind::Object:
    case NodeKind::Refined:
    case NodeKind::Ref:
    case NodeKind::Placeholder:
      return std::nullopt;
  }
  return std::nullopt;
}

bool classes_disjoint(BaseClass a, BaseClass b) {
  if (a == b) return false;
  const bool bool_and_int = (a == BaseClass::Bool && b == BaseClass::Int) || (a == BaseClass::Int && b == BaseClass::Bool);
  return !bool_and_int;
}

namespace {

using decision_detail::StructureCache;

constexpr Emptiness NOT_PROVEN{false, false, 0};

const SchemaNode& deref(const SchemaNode& node) { return node; }
const SchemaNode& deref(const SchemaNode* node) { return *node; }

// A host answer outside the four orders counts as Unknown.
ConstOrder checked(ConstOrder order) {
  switch (order) {
    case ConstOrder::Less:
    case ConstOrder::Equal:
    case ConstOrder::Greater:
    case ConstOrder::Unknown:
      return order;
  }
  return ConstOrder::Unknown;
}

struct Bound {
  std::uint64_t index = 0;
  bool strict = false;
};

// The contradiction test over a stream of constraints; for_each(fn) calls fn
// on each constraint in order, and may be run twice.
template <class ForEach>
bool bounds_contradict(ForEach for_each, HostOracle& oracle, bool ask_integer_gap) {
  bool has_min = false;
  bool has_max = false;
  std::uint64_t largest_min = 0;
  std::uint64_t smallest_max = std::numeric_limits<std::uint64_t>::max();
  for_each([&](const Constraint& c) {
    if (c.kind == ConstraintKind::MinLen) {
      has_min = true;
      if (c.length() > largest_min) largest_min = c.length();
    } else if (c.kind == ConstraintKind::MaxLen) {
      has_max = true;
      if (c.length() < smallest_max) smallest_max = c.length();
    }
  });
  if (has_min && has_max && largest_min > smallest_max) return true;

  // The tightest bounds the host can order; an unorderable bound leaves the
  // current one in place, which is still a true bound on every member.
  std::optional<Bound> lower;
  std::optional<Bound> upper;
  auto tighten_lower = [&](std::uint64_t index, bool strict) {
    if (!lower) {
      lower = Bound{index, strict};
      return;
    }
    switch (checked(oracle.compare_constants(index, lower->index))) {
      case ConstOrder::Greater:
        *lower = Bound{index, strict};
        break;
      case ConstOrder::Equal:
        if (strict) lower->strict = true;
        break;
      case ConstOrder::Less:
      case ConstOrder::Unknown:
        break;
    }
  };
  auto tighten_upper = [&](std::uint64_t index, bool strict) {
    if (!upper) {
      upper = Bound{index, strict};
      return;
    }
    switch (checked(oracle.compare_constants(index, upper->index))) {
      case ConstOrder::Less:
        *upper = Bound{index, strict};
        break;
      case ConstOrder::Equal:
        if (strict) upper->strict = true;
        break;
      case ConstOrder::Greater:
      case ConstOrder::Unknown:
        break;
    }
  };
  for_each([&](const Constraint& c) {
    switch (c.kind) {
      case ConstraintKind::Ge:
        tighten_lower(c.bound_index(), false);
        break;
      case ConstraintKind::Gt:
        tighten_lower(c.bound_index(), true);
        break;
      case ConstraintKind::Le:
        tighten_upper(c.bound_index(), false);
        break;
      case ConstraintKind::Lt:
        tighten_upper(c.bound_index(), true);
        break;
      case ConstraintKind::MinLen:
      case ConstraintKind::MaxLen:
      case ConstraintKind::MultipleOf:
      case ConstraintKind::Predicate:
      case ConstraintKind::Regex:
        break;
    }
  });
  if (!lower || !upper) return false;
  switch (checked(oracle.compare_constants(lower->index, upper->index))) {
    case ConstOrder::Greater:
      return true;
    case ConstOrder::Equal:
      return lower->strict || upper->strict;
    case ConstOrder::Less:
    case ConstOrder::Unknown:
      return ask_integer_gap &&
             is_yes(oracle.no_integer_between(lower->index, lower->strict, upper->index, upper->strict));
  }
  return false;
}

template <class Members>
bool complementary_pair_in(const Members& members, StructureCache& structure) {
  for (const auto& m : members) {
    const SchemaNode& node = deref(m);
    if (node.kind != NodeKind::Complement || node.inner().kind == NodeKind::Any) continue;
    for (const auto& other : members) {
      if (structure.equal(deref(other), node.inner())) return true;
    }
  }
  return false;
}

template <class Members>
bool disjoint_classes_in(const Members& members) {
  if (members.size() < 2) return false;
  // Any two distinct known classes are disjoint except Bool with Int, so it
  // is enough to know which classes occur.
  std::uint32_t seen = 0;
  for (const auto& m : members) {
    const SchemaNode& node = deref(m);
    if (node.kind == NodeKind::Nothing) return true;
    if (std::optional<BaseClass> c = base_class(node)) seen |= 1u << static_cast<unsigned>(*c);
  }
  const std::uint32_t bool_and_int = (1u << static_cast<unsigned>(BaseClass::Bool)) |
                                     (1u << static_cast<unsigned>(BaseClass::Int));
  return std::popcount(seen) >= 2 && seen != bool_and_int;
}

template <class Members>
bool refinements_contradict_in(const Members& members, HostOracle& oracle) {
  auto for_each = [&](auto&& fn) {
    for (const auto& m : members) {
      const SchemaNode& node = deref(m);
      if (node.kind != NodeKind::Refined) continue;
      for (const Constraint& c : node.constraints) fn(c);
    }
  };
  return bounds_contradict(for_each, oracle, false);
}

// Follows Refined bases to the first other node. A chain deeper than any
// decision could follow is not known to be over Int.
bool innermost_base_is_int(const SchemaNode& refined) {
  const SchemaNode* n = &refined;
  for (std::uint32_t level = 0; n->kind == NodeKind::Refined; ++level) {
    if (level >= MAX_DECISION_DEPTH) return false;
    n = &n->base();
  }
  return n->kind == NodeKind::Int;
}

// The step tests of an intersection that need no recursion. Kept out of line
// so that their locals never sit in the frames of a deep recursion.
template <class Members>
[[gnu::noinline]] bool intersection_contradicts(const Members& members, StructureCache& structure,
                                                HostOracle& oracle) {
  return complementary_pair_in(members, structure) || disjoint_classes_in(members) ||
         refinements_contradict_in(members, oracle);
}

// The recursion keeps its frames lean, with the tests that do not recurse out
// of line, so that MAX_DECISION_DEPTH nested steps take well under a megabyte
// of native stack (a few megabytes in sanitizer builds).
class Decider {
 public:
  Decider(HostOracle& oracle, std::span<const SchemaNode> definitions, ExpansionStack& stack, std::uint32_t& counter,
          StructureCache& structure, StackGuard guard)
      : oracle_(oracle),
        definitions_(definitions),
        stack_(stack),
        counter_(counter),
        structure_(structure),
        guard_(guard) {}

  // One step. `refined_over_int` is known when the caller is a Refined node
  // of the same chain, which saves walking the chain again at every level.
  [[gnu::noinline]] Emptiness decide(const SchemaNode& node, std::uint32_t depth,
                                     std::optional<bool> refined_over_int = {}) {
    if (step_too_deep(depth, guard_) || !spend_work(counter_)) return NOT_PROVEN;
    const std::uint32_t next = depth + 1;
    switch (node.kind) {
      case NodeKind::Anything:
        return {false, true, ALL_KINDS};
      case NodeKind::Nothing:
        return {true, true, 0};
      case NodeKind::None:
        return {false, true, NONE_KIND};
      case NodeKind::Bool:
        return {false, true, BOOL_KIND};
      case NodeKind::Int:
        return {false, true, BOOL_KIND | INT_KIND};
      case NodeKind::Float:
        return {false, true, FLOAT_KIND};
      case NodeKind::Str:
        return {false, true, STR_KIND};
      case NodeKind::Bytes:
        return {false, true, BYTES_KIND};
      case NodeKind::Any:
      case NodeKind::Literal:
      case NodeKind::Set:
      case NodeKind::FrozenSet:
      case NodeKind::Instance:
      case NodeKind::Placeholder:
        return NOT_PROVEN;
      case NodeKind::Sequence:
        return {pattern_empty(node.seq_pattern(), next), false, 0};
      case NodeKind::Record:
      case NodeKind::Object:
        return {fields_empty(node.fields, next), false, 0};
      case NodeKind::Union:
        return union_of(node.members(), next);
      case NodeKind::Intersection:
        return intersection_of(node.members(), next);
      case NodeKind::Complement:
        return complement_of(decide(node.inner(), next));
      case NodeKind::Refined:
        return refined(node, next, refined_over_int ? *refined_over_int : innermost_base_is_int(node));
      case NodeKind::Ref:
        return ref(node.definition(), next);
    }
    return NOT_PROVEN;
  }

  [[gnu::noinline]] bool pattern_empty(const SeqPattern& pattern, std::uint32_t depth) {
    // Pattern levels spend nothing but still nest on the native stack.
    if (step_too_deep(depth, guard_)) return false;
    const std::uint32_t next = depth + 1;
    switch (pattern.kind) {
      case PatternKind::Empty:
      case PatternKind::Star:
        return false;
      case PatternKind::Item:
        return decide(pattern.item_node(), next).empty;
      case PatternKind::Concat:
        for (const SeqPattern& part : pattern.parts) {
          if (pattern_empty(part, next)) return true;
        }
        return false;
      case PatternKind::Alt:
        for (const SeqPattern& alternative : pattern.parts) {
          if (!pattern_empty(alternative, next)) return false;
        }
        return true;
    }
    return false;
  }

  // An intersection whose own step is already spent.
  template <class Members>
  [[gnu::noinline]] Emptiness intersection_of(const Members& members, std::uint32_t depth) {
    if (members.size() == 0) return {false, true, ALL_KINDS};
    bool some_empty = false;
    bool all_exact = true;
    KindMask kinds = ALL_KINDS;
    for (const auto& m : members) {
      const Emptiness e = decide(deref(m), depth);
      some_empty = some_empty || e.empty;
      all_exact = all_exact && e.exact;
      kinds &= e.kinds;
    }
    const bool empty =
        some_empty || (all_exact && kinds == 0) || intersection_contradicts(members, structure_, oracle_);
    return {empty, all_exact, kinds};
  }

  Emptiness intersection_step(std::span<const SchemaNode* const> members, std::uint32_t depth) {
    if (step_too_deep(depth, guard_) || !spend_work(counter_)) return NOT_PROVEN;
    return intersection_of(members, depth + 1);
  }

  Emptiness complement_step(const SchemaNode& inner, std::uint32_t depth) {
    if (step_too_deep(depth, guard_) || !spend_work(counter_)) return NOT_PROVEN;
    return complement_of(decide(inner, depth + 1));
  }

 private:
  static Emptiness complement_of(const Emptiness& inner) {
    if (!inner.exact) return NOT_PROVEN;
    const KindMask inner_kinds = inner.kinds & ALL_KINDS;
    return {inner_kinds == ALL_KINDS, true, static_cast<KindMask>(ALL_KINDS & ~inner_kinds)};
  }

  [[gnu::noinline]] Emptiness union_of(const std::vector<SchemaNode>& members, std::uint32_t depth) {
    if (members.empty()) return {true, true, 0};
    bool all_empty = true;
    bool all_exact = true;
    KindMask kinds = 0;
    for (const SchemaNode& m : members) {
      const Emptiness e = decide(m, depth);
      all_empty = all_empty && e.empty;
      all_exact = all_exact && e.exact;
      kinds |= e.kinds;
    }
    return {all_empty, all_exact, kinds};
  }

  // Each level of a chain is decided with its own constraints only.
  [[gnu::noinline]] Emptiness refined(const SchemaNode& node, std::uint32_t depth, bool over_int) {
    const SchemaNode& base = node.base();
    const Emptiness base_answer =
        decide(base, depth, base.kind == NodeKind::Refined ? std::optional<bool>(over_int) : std::nullopt);
    if (base_answer.empty) return {true, false, 0};
    return {constraints_contradict(node.constraints, oracle_, over_int), false, 0};
  }

  // Empty when some required key's value can match none of its fields
  // together. Extras and the class admit nothing that could rescue it. The
  // key map lives on the heap, out of the recursion's frames.
  [[gnu::noinline]] bool fields_empty(const std::vector<RecordField>& fields, std::uint32_t depth) {
    bool any_required = false;
    for (const RecordField& f : fields) any_required = any_required || f.required;
    if (!any_required) return false;
    const std::unique_ptr<const FieldMap> map = std::make_unique<const FieldMap>(fields);
    for (const FieldGroup& group : map->groups()) {
      if (!group.required) continue;
      const bool empty = group.nodes.size() == 1 ? decide(*group.nodes.front(), depth).empty
                                                 : intersection_step(group.nodes, depth).empty;
      if (empty) return true;
    }
    return false;
  }

  [[gnu::noinline]] Emptiness ref(std::uint64_t definition, std::uint32_t depth) {
    // Meeting a definition again on the path: every value would have to be
    // infinitely nested, so this path admits none.
    if (stack_.contains(definition)) return {true, false, 0};
    if (definition >= definitions_.size()) return NOT_PROVEN;
    stack_.push(definition);
    const Emptiness body = decide(definitions_[definition], depth);
    stack_.pop();
    return {body.empty, false, 0};
  }

  HostOracle& oracle_;
  std::span<const SchemaNode> definitions_;
  ExpansionStack& stack_;
  std::uint32_t& counter_;
  StructureCache& structure_;
  StackGuard guard_;
};

}  // namespace

Emptiness emptiness(const SchemaNode& node, HostOracle& oracle, std::span<const SchemaNode> definitions,
                    ExpansionStack& stack, std::uint32_t& counter, std::uint32_t depth) {
  StructureCache structure;
  return Decider(oracle, definitions, stack, counter, structure, StackGuard()).decide(node, depth);
}

bool pattern_is_empty(const SeqPattern& pattern, HostOracle& oracle, std::span<const SchemaNode> definitions,
                      ExpansionStack& stack, std::uint32_t& counter, std::uint32_t depth) {
  StructureCache structure;
  return Decider(oracle, definitions, stack, counter, structure, StackGuard()).pattern_empty(pattern, depth);
}

bool has_complementary_pair(std::span<const SchemaNode> members) {
  StructureCache structure;
  return complementary_pair_in(members, structure);
}

bool has_disjoint_classes(std::span<const SchemaNode> members) { return disjoint_classes_in(members); }

bool refinements_contradict(std::span<const SchemaNode> members, HostOracle& oracle) {
  return refinements_contradict_in(members, oracle);
}

// Out of line: the recursion over Refined chains calls it at every level.
[[gnu::noinline]] bool constraints_contradict(std::span<const Constraint> constraints, HostOracle& oracle,
                                              bool base_is_int) {
  auto for_each = [&](auto&& fn) {
    for (const Constraint& c : constraints) fn(c);
  };
  return bounds_contradict(for_each, oracle, base_is_int);
}

ExactKinds exact_kinds(const SchemaNode& node, std::uint32_t depth) {
  if (depth >= MAX_DECISION_DEPTH) return {};
  switch (node.kind) {
    case NodeKind::Anything:
      return {true, ALL_KINDS};
    case NodeKind::Nothing:
      return {true, 0};
    case NodeKind::None:
      return {true, NONE_KIND};
    case NodeKind::Bool:
      return {true, BOOL_KIND};
    case NodeKind::Int:
      return {true, BOOL_KIND | INT_KIND};
    case NodeKind::Float:
      return {true, FLOAT_KIND};
    case NodeKind::Str:
      return {true, STR_KIND};
    case NodeKind::Bytes:
      return {true, BYTES_KIND};
    case NodeKind::Union: {
      KindMask kinds = 0;
      for (const SchemaNode& m : node.members()) {
        const ExactKinds e = exact_kinds(m, depth + 1);
        if (!e.exact) return {};
        kinds |= e.kinds;
      }
      return {true, kinds};
    }
    case NodeKind::Intersection: {
      KindMask kinds = ALL_KINDS;
      for (const SchemaNode& m : node.members()) {
        const ExactKinds e = exact_kinds(m, depth + 1);
        if (!e.exact) return {};
        kinds &= e.kinds;
      }
      return {true, kinds};
    }
    case NodeKind::Complement: {
      const ExactKinds inner = exact_kinds(node.inner(), depth + 1);
      if (!inner.exact) return {};
      return {true, static_cast<KindMask>(ALL_KINDS & ~inner.kinds)};
    }
    case NodeKind::Any:
    case NodeKind::Literal:
    case NodeKind::Sequence:
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Record:
    case NodeKind::Instance:
    case NodeKind::Object:
    case NodeKind::Refined:
    case NodeKind::Ref:
    case NodeKind::Placeholder:
      return {};
  }
  return {};
}

bool query_is_empty(const SchemaNode& root, HostOracle& oracle, std::span<const SchemaNode> definitions) {
  std::uint32_t counter = WORK_BUDGET;
  ExpansionStack stack;
  return emptiness(root, oracle, definitions, stack, counter).empty;
}

namespace decision_detail {

Emptiness node_emptiness(const SchemaNode& node, const EmptinessQuery& query, std::uint32_t depth) {
  ExpansionStack stack;
  return Decider(query.oracle, query.definitions, stack, query.counter, query.structure, query.stack).decide(node, depth);
}

Emptiness intersection_emptiness(std::span<const SchemaNode* const> members, const EmptinessQuery& query,
                                 std::uint32_t depth) {
  ExpansionStack stack;
  return Decider(query.oracle, query.definitions, stack, query.counter, query.structure, query.stack)
      .intersection_step(members, depth);
}

Emptiness complement_emptiness(const SchemaNode& inner, const EmptinessQuery& query, std::uint32_t depth) {
  ExpansionStack stack;
  return Decider(query.oracle, query.definitions, stack, query.counter, query.structure, query.stack).complement_step(inner, depth);
}

}  // namespace decision_detail

}  // namespace quillmar::core
