#include "quillmar/core/decision/inclusion.hpp"

#include "detail.hpp"
#include "quillmar/core/decision/emptiness.hpp"

namespace quillmar::core {

using decision_detail::complement_emptiness;
using decision_detail::intersection_emptiness;
using decision_detail::pattern_trees_equal;
using decision_detail::shallow_hash;
using decision_detail::trees_equal;

namespace {

// Up to this many entries a scan is cheaper than hashing the pair.
constexpr std::size_t LINEAR_ASSUMPTIONS = 8;

std::uint64_t pair_hash(const SchemaNode& sub, const SchemaNode& sup) {
  return shallow_hash(sub) * 0x9E3779B97F4A7C15ull ^ shallow_hash(sup);
}

bool entry_matches(const SchemaNode* entry_sub, const SchemaNode* entry_sup, const SchemaNode& sub,
                   const SchemaNode& sup) {
  return trees_equal(*entry_sub, sub) && trees_equal(*entry_sup, sup);
}

}  // namespace

void AssumptionStack::push(const SchemaNode& sub, const SchemaNode& sup) {
  const std::uint64_t hash = pair_hash(sub, sup);
  by_hash_.emplace(hash, entries_.size());
  entries_.push_back(Entry{&sub, &sup, hash});
}

void AssumptionStack::pop() {
  const Entry& top = entries_.back();
  const std::size_t position = entries_.size() - 1;
  auto [first, last] = by_hash_.equal_range(top.hash);
  for (auto it = first; it != last; ++it) {
    if (it->second == position) {
      by_hash_.erase(it);
      break;
    }
  }
  entries_.pop_back();
}

bool AssumptionStack::holds(const SchemaNode& sub, const SchemaNode& sup) const {
  if (entries_.empty()) return false;
  if (entries_.size() <= LINEAR_ASSUMPTIONS) {
    for (const Entry& e : entries_) {
      if (entry_matches(e.sub, e.sup, sub, sup)) return true;
    }
    return false;
  }
  auto [first, last] = by_hash_.equal_range(pair_hash(sub, sup));
  for (auto it = first; it != last; ++it) {
    const Entry& e = entries_[it->second];
    if (entry_matches(e.sub, e.sup, sub, sup)) return true;
  }
  return false;
}

namespace {

DecisionContext deeper(DecisionContext ctx) {
  ++ctx.depth;
  return ctx;
}

bool leaf_yes(const SchemaNode& sub, const SchemaNode& sup, const DecisionContext& ctx) {
  return is_yes(ctx.oracle.leaf_subtype(sub, sup));
}

bool is_empty_at(const SchemaNode& node, const DecisionContext& ctx) {
  ExpansionStack expansions;
  return emptiness(node, ctx.oracle, ctx.definitions, expansions, *ctx.counter, ctx.depth).empty;
}

// sup admits every value.
bool is_full_at(const SchemaNode& node, const DecisionContext& ctx) {
  ExpansionStack expansions;
  return complement_emptiness(node, ctx.oracle, ctx.definitions, expansions, *ctx.counter, ctx.depth).empty;
}

bool intersection_subtype(std::span<const SchemaNode* const> members, const SchemaNode& sup, DecisionContext ctx,
                          AssumptionStack& stack);

// The value under one key must match every field with that key, so it lies in
// the intersection of their nodes.
bool value_included(std::span<const SchemaNode* const> nodes, const SchemaNode& sup, DecisionContext ctx,
                    AssumptionStack& stack) {
  if (nodes.size() == 1) return is_subtype(*nodes.front(), sup, ctx, stack);
  return intersection_subtype(nodes, sup, ctx, stack);
}

// The steps of is_subtype that apply to an Intersection sub, for one that was
// never built: the members of a repeated key. Assumptions are not consulted:
// no such intersection is ever pushed, and skipping only loses proofs.
bool intersection_subtype(std::span<const SchemaNode* const> members, const SchemaNode& sup, DecisionContext ctx,
                          AssumptionStack& stack) {
  if (ctx.depth >= MAX_DECISION_DEPTH || !spend_work(*ctx.counter)) return false;
  const DecisionContext next = deeper(ctx);

  bool all_exact = true;
  KindMask kinds = ALL_KINDS;
  for (const SchemaNode* m : members) {
    const ExactKinds e = exact_kinds(*m, next.depth);
    all_exact = all_exact && e.exact;
    kinds &= e.kinds;
    if (!all_exact) break;
  }
  if (all_exact) {
    const ExactKinds sup_kinds = exact_kinds(sup, next.depth);
    if (sup_kinds.exact) return (kinds & ~sup_kinds.kinds & ALL_KINDS) == 0;
  }

  if (sup.kind == NodeKind::Intersection && sup.members().size() == members.size()) {
    bool equal = true;
    for (std::size_t i = 0; i < members.size() && equal; ++i) equal = trees_equal(*members[i], sup.members()[i]);
    if (equal) return true;
  }

  {
    ExpansionStack expansions;
    if (intersection_emptiness(members, ctx.oracle, ctx.definitions, expansions, *ctx.counter, next.depth).empty) {
      return true;
    }
  }
  if (is_full_at(sup, next)) return true;

  if (sup.kind == NodeKind::Intersection) {
    for (const SchemaNode& m : sup.members()) {
      if (!intersection_subtype(members, m, next, stack)) return false;
    }
    return true;
  }
  for (const SchemaNode* m : members) {
    if (is_subtype(*m, sup, next, stack)) return true;
  }
  if (sup.kind == NodeKind::Union) {
    for (const SchemaNode& m : sup.members()) {
      if (intersection_subtype(members, m, next, stack)) return true;
    }
  }
  return false;
}

bool implied(const Constraint& c, std::span<const Constraint> sub_constraints, HostOracle& oracle) {
  for (const Constraint& s : sub_constraints) {
    if (constraint_equal(s, c)) return true;
  }
  auto order = [&](const Constraint& s) { return oracle.compare_constants(s.bound_index(), c.bound_index()); };
  auto at_least = [](ConstOrder o) { return o == ConstOrder::Equal || o == ConstOrder::Greater; };
  auto at_most = [](ConstOrder o) { return o == ConstOrder::Equal || o == ConstOrder::Less; };
  for (const Constraint& s : sub_constraints) {
    switch (c.kind) {
      case ConstraintKind::Ge:
        if ((s.kind == ConstraintKind::Ge || s.kind == ConstraintKind::Gt) && at_least(order(s))) return true;
        break;
      case ConstraintKind::Gt:
        if (s.kind == ConstraintKind::Gt && at_least(order(s))) return true;
        if (s.kind == ConstraintKind::Ge && order(s) == ConstOrder::Greater) return true;
        break;
      case ConstraintKind::Le:
        if ((s.kind == ConstraintKind::Le || s.kind == ConstraintKind::Lt) && at_most(order(s))) return true;
        break;
      case ConstraintKind::Lt:
        if (s.kind == ConstraintKind::Lt && at_most(order(s))) return true;
        if (s.kind == ConstraintKind::Le && order(s) == ConstOrder::Less) return true;
        break;
      case ConstraintKind::MinLen:
        if (s.kind == ConstraintKind::MinLen && s.length() >= c.length()) return true;
        break;
      case ConstraintKind::MaxLen:
        if (s.kind == ConstraintKind::MaxLen && s.length() <= c.length()) return true;
        break;
      case ConstraintKind::MultipleOf:
      case ConstraintKind::Predicate:
      case ConstraintKind::Regex:
        return false;
    }
  }
  return false;
}

bool admits_any_str_key(const ExtrasPair& pair) {
  return pair.key.kind == NodeKind::Str || pair.key.kind == NodeKind::Anything;
}

// Unfolds the definition at `definition` on one side, under the assumption
// that (sub, sup) holds.
bool unfold(std::uint64_t definition, bool on_sub_side, const SchemaNode& sub, const SchemaNode& sup,
            DecisionContext next, AssumptionStack& stack) {
  if (definition >= next.definitions.size()) return false;
  const SchemaNode& body = next.definitions[definition];
  stack.push(sub, sup);
  const bool result = on_sub_side ? is_subtype(body, sup, next, stack) : is_subtype(sub, body, next, stack);
  stack.pop();
  return result;
}

// The rules that proceed by the kind of sup; false when none applies.
bool by_supertype_kind(const SchemaNode& sub, const SchemaNode& sup, DecisionContext next, AssumptionStack& stack,
                       bool& applied) {
  applied = true;
  switch (sup.kind) {
    case NodeKind::Sequence:
      if (sub.kind != NodeKind::Sequence) break;
      if (sub.seq_kind != sup.seq_kind) return leaf_yes(sub, sup, next);
      return pattern_subtype(sub.seq_pattern(), sup.seq_pattern(), next, stack);
    case NodeKind::Set:
    case NodeKind::FrozenSet:
      if (sub.kind != sup.kind) break;
      return is_subtype(sub.element(), sup.element(), next, stack);
    case NodeKind::Record:
      if (sub.kind != NodeKind::Record) break;
      return record_subtype(sub.fields, sub.extras, sup.fields, sup.extras, next, stack);
    case NodeKind::Complement:
      // Within the complement of Y: either the sides exchange, or sub must
      // share no value with Y.
      if (sub.kind == NodeKind::Complement) return is_subtype(sup.inner(), sub.inner(), next, stack);
      return within_complement(sub, sup.inner(), next);
    case NodeKind::Object:
      if (sub.kind != NodeKind::Object) break;
      if (sub.class_index() != sup.class_index()) return leaf_yes(sub, sup, next);
      return attributes_subtype(sup.fields, field_map(sub.fields), next, stack);
    case NodeKind::Refined:
      if (sub.kind != NodeKind::Refined) return leaf_yes(sub, sup, next);
      return is_subtype(sub.base(), sup.base(), next, stack) &&
             constraints_imply(sup.constraints, sub.constraints, next.oracle);
    case NodeKind::Ref:
      return unfold(sup.definition(), false, sub, sup, next, stack);
    case NodeKind::Anything:
    case NodeKind::Any:
    case NodeKind::Nothing:
    case NodeKind::None:
    case NodeKind::Bool:
    case NodeKind::Int:
    case NodeKind::Float:
    case NodeKind::Str:
    case NodeKind::Bytes:
    case NodeKind::Literal:
    case NodeKind::Union:
    case NodeKind::Intersection:
    case NodeKind::Instance:
    case NodeKind::Placeholder:
      break;
  }
  applied = false;
  return false;
}

}  // namespace

bool is_subtype(const SchemaNode& sub, const SchemaNode& sup, DecisionContext ctx, AssumptionStack& stack) {
  if (ctx.depth >= MAX_DECISION_DEPTH || !spend_work(*ctx.counter)) return false;
  const DecisionContext next = deeper(ctx);

  if (stack.holds(sub, sup)) return true;

  if (const ExactKinds sub_kinds = exact_kinds(sub, next.depth); sub_kinds.exact) {
    if (const ExactKinds sup_kinds = exact_kinds(sup, next.depth); sup_kinds.exact) {
      return (sub_kinds.kinds & ~sup_kinds.kinds & ALL_KINDS) == 0;
    }
  }

  if (trees_equal(sub, sup)) return true;
  if (is_empty_at(sub, next)) return true;
  if (is_full_at(sup, next)) return true;

  if (sub.kind == NodeKind::Union) {
    for (const SchemaNode& m : sub.members()) {
      if (!is_subtype(m, sup, next, stack)) return false;
    }
    return true;
  }
  if (sup.kind == NodeKind::Intersection) {
    for (const SchemaNode& m : sup.members()) {
      if (!is_subtype(sub, m, next, stack)) return false;
    }
    return true;
  }
  if (sub.kind == NodeKind::Intersection) {
    for (const SchemaNode& m : sub.members()) {
      if (is_subtype(m, sup, next, stack)) return true;
    }
    if (sup.kind != NodeKind::Union) return false;
    for (const SchemaNode& m : sup.members()) {
      if (is_subtype(sub, m, next, stack)) return true;
    }
    return false;
  }
  if (sup.kind == NodeKind::Union) {
    for (const SchemaNode& m : sup.members()) {
      if (is_subtype(sub, m, next, stack)) return true;
    }
    return false;
  }
  if (sub.kind == NodeKind::Ref) return unfold(sub.definition(), true, sub, sup, next, stack);

  bool applied = false;
  const bool answer = by_supertype_kind(sub, sup, next, stack, applied);
  if (applied) return answer;

  if (sub.kind == NodeKind::Refined) return is_subtype(sub.base(), sup, next, stack);
  return leaf_yes(sub, sup, next);
}

bool pattern_subtype(const SeqPattern& sub, const SeqPattern& sup, DecisionContext ctx, AssumptionStack& stack) {
  // Pattern levels spend nothing but still nest on the native stack.
  if (ctx.depth >= MAX_DECISION_DEPTH) return false;
  const DecisionContext next = deeper(ctx);

  if (pattern_trees_equal(sub, sup)) return true;
  // A pattern without a tuple shape admits no sequence at all, so nothing but
  // an equal pattern is proven within it.
  const std::optional<TupleShape> sup_shape = tuple_shape(sup);
  if (!sup_shape) return false;
  if (sub.kind == PatternKind::Alt) {
    for (const SeqPattern& alternative : sub.parts) {
      if (!pattern_subtype(alternative, sup, next, stack)) return false;
    }
    return true;
  }
  const std::optional<TupleShape> sub_shape = tuple_shape(sub);
  if (!sub_shape) return false;

  const std::vector<const SchemaNode*>& sub_prefix = sub_shape->prefix;
  const std::vector<const SchemaNode*>& sup_prefix = sup_shape->prefix;
  const SchemaNode* sub_tail = sub_shape->tail;
  const SchemaNode* sup_tail = sup_shape->tail;
  // A tail no element can match allows no element past the prefix.
  if (sub_tail != nullptr && is_empty_at(*sub_tail, next)) sub_tail = nullptr;
  if (sub_prefix.size() < sup_prefix.size()) return false;
  for (std::size_t i = 0; i < sub_prefix.size(); ++i) {
    const SchemaNode* target = i < sup_prefix.size() ? sup_prefix[i] : sup_tail;
    if (target == nullptr || !is_subtype(*sub_prefix[i], *target, next, stack)) return false;
  }
  if (sub_tail != nullptr) return sup_tail != nullptr && is_subtype(*sub_tail, *sup_tail, next, stack);
  return sub_prefix.size() == sup_prefix.size() || sup_tail != nullptr;
}

bool record_subtype(std::span<const RecordField> sub_fields, std::span<const ExtrasPair> sub_extras,
                    std::span<const RecordField> sup_fields, std::span<const ExtrasPair> sup_extras,
                    DecisionContext ctx, AssumptionStack& stack) {
  if (ctx.depth >= MAX_DECISION_DEPTH) return false;
  const DecisionContext next = deeper(ctx);
  const FieldMap sub_map(sub_fields);
  const FieldMap sup_map(sup_fields);

  // Every key the supertype declares: the subtype's value fits each of its
  // fields, and is required wherever one of them is.
  bool declared_fit = true;
  for (const RecordField& field : sup_fields) {
    if (const FieldGroup* own = sub_map.find(field.key)) {
      if (!value_included(own->nodes, field.node, next, stack) || (field.required && !own->required)) {
        declared_fit = false;
        break;
      }
      continue;
    }
    bool covered = !field.required;
    for (std::size_t i = 0; covered && i < sub_extras.size(); ++i) {
      covered = is_subtype(sub_extras[i].value, field.node, next, stack);
    }
    if (!covered) {
      declared_fit = false;
      break;
    }
  }

  // Keys only the subtype declares must be admitted by a supertype pair that
  // takes any str key.
  bool undeclared_fit = true;
  for (const FieldGroup& own : sub_map.groups()) {
    if (sup_map.find(own.key) != nullptr) continue;
    bool admitted = false;
    for (const ExtrasPair& pair : sup_extras) {
      if (admits_any_str_key(pair) && value_included(own.nodes, pair.value, next, stack)) {
        admitted = true;
        break;
      }
    }
    if (!admitted) {
      undeclared_fit = false;
      break;
    }
  }

  bool extras_fit = true;
  for (const ExtrasPair& own : sub_extras) {
    bool admitted = false;
    for (const ExtrasPair& pair : sup_extras) {
      if (is_subtype(own.key, pair.key, next, stack) && is_subtype(own.value, pair.value, next, stack)) {
        admitted = true;
        break;
      }
    }
    if (!admitted) {
      extras_fit = false;
      break;
    }
  }

  return declared_fit && undeclared_fit && extras_fit;
}

bool within_complement(const SchemaNode& sub, const SchemaNode& inner, DecisionContext ctx) {
  const SchemaNode* members[] = {&sub, &inner};
  ExpansionStack expansions;
  return intersection_emptiness(members, ctx.oracle, ctx.definitions, expansions, *ctx.counter, ctx.depth).empty;
}

bool attributes_subtype(std::span<const RecordField> sup_fields, const FieldMap& sub_fields, DecisionContext ctx,
                        AssumptionStack& stack) {
  if (ctx.depth >= MAX_DECISION_DEPTH) return false;
  const DecisionContext next = deeper(ctx);
  for (const RecordField& field : sup_fields) {
    const FieldGroup* own = sub_fields.find(field.key);
    if (own == nullptr || !value_included(own->nodes, field.node, next, stack)) return false;
  }
  return true;
}

bool constraints_imply(std::span<const Constraint> sup_constraints, std::span<const Constraint> sub_constraints,
                       HostOracle& oracle) {
  for (const Constraint& c : sup_constraints) {
    if (!implied(c, sub_constraints, oracle)) return false;
  }
  return true;
}

bool is_equivalent(const SchemaNode& a, const SchemaNode& b, DecisionContext ctx) {
  AssumptionStack forward;
  if (!is_subtype(a, b, ctx, forward)) return false;
  AssumptionStack backward;
  return is_subtype(b, a, ctx, backward);
}

bool query_is_subtype(const SchemaNode& sub, const SchemaNode& sup, HostOracle& oracle,
                      std::span<const SchemaNode> definitions) {
  std::uint32_t counter = WORK_BUDGET;
  AssumptionStack stack;
  return is_subtype(sub, sup, DecisionContext{oracle, definitions, &counter}, stack);
}

bool query_is_equivalent(const SchemaNode& a, const SchemaNode& b, HostOracle& oracle,
                         std::span<const SchemaNode> definitions) {
  std::uint32_t counter = WORK_BUDGET;
  return is_equivalent(a, b, DecisionContext{oracle, definitions, &counter});
}

}  // namespace quillmar::core
