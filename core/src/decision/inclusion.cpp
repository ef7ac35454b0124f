#include "quillmar/core/decision/inclusion.hpp"

#include "detail.hpp"
#include "quillmar/core/decision/emptiness.hpp"

namespace quillmar::core {

using decision_detail::complement_emptiness;
using decision_detail::EmptinessQuery;
using decision_detail::intersection_emptiness;
using decision_detail::node_emptiness;
using decision_detail::shallow_hash;
using decision_detail::StructureCache;
using decision_detail::trees_equal;

namespace {

// Up to this many entries a scan is cheaper than hashing the pair.
constexpr std::size_t LINEAR_ASSUMPTIONS = 8;

std::uint64_t pair_hash(const SchemaNode& sub, const SchemaNode& sup) {
  return shallow_hash(sub) * 0x9E3779B97F4A7C15ull ^ shallow_hash(sup);
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

template <class Equal>
bool AssumptionStack::holds_by(const SchemaNode& sub, const SchemaNode& sup, Equal equal) const {
  auto matches = [&](const Entry& e) { return equal(*e.sub, sub) && equal(*e.sup, sup); };
  if (entries_.empty()) return false;
  if (entries_.size() <= LINEAR_ASSUMPTIONS) {
    for (const Entry& e : entries_) {
      if (matches(e)) return true;
    }
    return false;
  }
  auto [first, last] = by_hash_.equal_range(pair_hash(sub, sup));
  for (auto it = first; it != last; ++it) {
    if (matches(entries_[it->second])) return true;
  }
  return false;
}

bool AssumptionStack::holds(const SchemaNode& sub, const SchemaNode& sup) const {
  return holds_by(sub, sup, trees_equal);
}

bool AssumptionStack::holds(const SchemaNode& sub, const SchemaNode& sup, StructureCache& structure) const {
  return holds_by(sub, sup, [&](const SchemaNode& a, const SchemaNode& b) { return structure.equal(a, b); });
}

namespace {

// Every internal step below has ctx.structure set.

DecisionContext deeper(DecisionContext ctx) {
  ++ctx.depth;
  return ctx;
}

EmptinessQuery emptiness_query(const DecisionContext& ctx) {
  return EmptinessQuery{ctx.oracle, ctx.definitions, *ctx.counter, *ctx.structure, ctx.stack};
}

bool leaf_yes(const SchemaNode& sub, const SchemaNode& sup, const DecisionContext& ctx) {
  return is_yes(ctx.oracle.leaf_subtype(sub, sup));
}

bool is_empty_at(const SchemaNode& node, const DecisionContext& ctx) {
  return node_emptiness(node, emptiness_query(ctx), ctx.depth).empty;
}

// The node admits every value.
bool is_full_at(const SchemaNode& node, const DecisionContext& ctx) {
  return complement_emptiness(node, emptiness_query(ctx), ctx.depth).empty;
}

bool subtype(const SchemaNode& sub, const SchemaNode& sup, DecisionContext ctx, AssumptionStack& stack);
bool patterns_within(const SeqPattern& sub, const SeqPattern& sup, DecisionContext ctx, AssumptionStack& stack);
bool records_within(std::span<const RecordField> sub_fields, std::span<const ExtrasPair> sub_extras,
                    std::span<const RecordField> sup_fields, std::span<const ExtrasPair> sup_extras,
                    DecisionContext ctx, AssumptionStack& stack);
bool attributes_within(std::span<const RecordField> sup_fields, const FieldMap& sub_fields, DecisionContext ctx,
                       AssumptionStack& stack);
bool intersection_within(std::span<const SchemaNode* const> members, const SchemaNode& sup, DecisionContext ctx,
                         AssumptionStack& stack);

bool complement_within(const SchemaNode& sub, const SchemaNode& inner, const DecisionContext& ctx) {
  const SchemaNode* members[] = {&sub, &inner};
  return intersection_emptiness(members, emptiness_query(ctx), ctx.depth).empty;
}

// The value under one key must match every field with that key, so it lies in
// the intersection of their nodes.
bool value_within(std::span<const SchemaNode* const> nodes, const SchemaNode& sup, DecisionContext ctx,
                  AssumptionStack& stack) {
  if (nodes.size() == 1) return subtype(*nodes.front(), sup, ctx, stack);
  return intersection_within(nodes, sup, ctx, stack);
}

// The steps of is_subtype that apply to an Intersection sub, for one that is
// never built: the fields of a repeated key. The assumption stack is not
// consulted, since no such intersection is ever pushed on it.
bool intersection_within(std::span<const SchemaNode* const> members, const SchemaNode& sup, DecisionContext ctx,
                         AssumptionStack& stack) {
  if (step_too_deep(ctx.depth, ctx.stack) || !spend_work(*ctx.counter)) return false;
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
    for (std::size_t i = 0; i < members.size() && equal; ++i) {
      equal = ctx.structure->equal(*members[i], sup.members()[i]);
    }
    if (equal) return true;
  }

  if (intersection_emptiness(members, emptiness_query(next), next.depth).empty) return true;
  if (is_full_at(sup, next)) return true;

  if (sup.kind == NodeKind::Intersection) {
    for (const SchemaNode& m : sup.members()) {
      if (!intersection_within(members, m, next, stack)) return false;
    }
    return true;
  }
  for (const SchemaNode* m : members) {
    if (subtype(*m, sup, next, stack)) return true;
  }
  if (sup.kind == NodeKind::Union) {
    for (const SchemaNode& m : sup.members()) {
      if (intersection_within(members, m, next, stack)) return true;
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

// Unfolds one side's definition under the assumption that (sub, sup) holds.
bool unfold(std::uint64_t definition, bool on_sub_side, const SchemaNode& sub, const SchemaNode& sup,
            DecisionContext next, AssumptionStack& stack) {
  if (definition >= next.definitions.size()) return false;
  const SchemaNode& body = next.definitions[definition];
  stack.push(sub, sup);
  const bool result = on_sub_side ? subtype(body, sup, next, stack) : subtype(sub, body, next, stack);
  stack.pop();
  return result;
}

// The rules that go by the kind of sup; `applied` is cleared when none does.
bool by_supertype_kind(const SchemaNode& sub, const SchemaNode& sup, DecisionContext next, AssumptionStack& stack,
                       bool& applied) {
  applied = true;
  switch (sup.kind) {
    case NodeKind::Sequence:
      if (sub.kind != NodeKind::Sequence) break;
      if (sub.seq_kind != sup.seq_kind) return leaf_yes(sub, sup, next);
      return patterns_within(sub.seq_pattern(), sup.seq_pattern(), next, stack);
    case NodeKind::Set:
    case NodeKind::FrozenSet:
      if (sub.kind != sup.kind) break;
      return subtype(sub.element(), sup.element(), next, stack);
    case NodeKind::Record:
      if (sub.kind != NodeKind::Record) break;
      return records_within(sub.fields, sub.extras, sup.fields, sup.extras, next, stack);
    case NodeKind::Complement:
      // Within the complement of Y: the sides exchange, or sub must share no
      // value with Y.
      if (sub.kind == NodeKind::Complement) return subtype(sup.inner(), sub.inner(), next, stack);
      return complement_within(sub, sup.inner(), next);
    case NodeKind::Object:
      if (sub.kind != NodeKind::Object) break;
      if (sub.class_index() != sup.class_index()) return leaf_yes(sub, sup, next);
      return attributes_within(sup.fields, field_map(sub.fields), next, stack);
    case NodeKind::Refined:
      if (sub.kind != NodeKind::Refined) return leaf_yes(sub, sup, next);
      return subtype(sub.base(), sup.base(), next, stack) &&
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

bool subtype(const SchemaNode& sub, const SchemaNode& sup, DecisionContext ctx, AssumptionStack& stack) {
  if (step_too_deep(ctx.depth, ctx.stack) || !spend_work(*ctx.counter)) return false;
  const DecisionContext next = deeper(ctx);

  if (stack.holds(sub, sup, *ctx.structure)) return true;

  if (const ExactKinds sub_kinds = exact_kinds(sub, next.depth); sub_kinds.exact) {
    if (const ExactKinds sup_kinds = exact_kinds(sup, next.depth); sup_kinds.exact) {
      return (sub_kinds.kinds & ~sup_kinds.kinds & ALL_KINDS) == 0;
    }
  }

  if (ctx.structure->equal(sub, sup)) return true;
  if (is_empty_at(sub, next)) return true;
  if (is_full_at(sup, next)) return true;

  if (sub.kind == NodeKind::Union) {
    for (const SchemaNode& m : sub.members()) {
      if (!subtype(m, sup, next, stack)) return false;
    }
    return true;
  }
  if (sup.kind == NodeKind::Intersection) {
    for (const SchemaNode& m : sup.members()) {
      if (!subtype(sub, m, next, stack)) return false;
    }
    return true;
  }
  if (sub.kind == NodeKind::Intersection) {
    for (const SchemaNode& m : sub.members()) {
      if (subtype(m, sup, next, stack)) return true;
    }
    if (sup.kind != NodeKind::Union) return false;
    for (const SchemaNode& m : sup.members()) {
      if (subtype(sub, m, next, stack)) return true;
    }
    return false;
  }
  if (sup.kind == NodeKind::Union) {
    for (const SchemaNode& m : sup.members()) {
      if (subtype(sub, m, next, stack)) return true;
    }
    return false;
  }
  if (sub.kind == NodeKind::Ref) return unfold(sub.definition(), true, sub, sup, next, stack);

  bool applied = false;
  const bool answer = by_supertype_kind(sub, sup, next, stack, applied);
  if (applied) return answer;

  if (sub.kind == NodeKind::Refined) return subtype(sub.base(), sup, next, stack);
  return leaf_yes(sub, sup, next);
}

bool patterns_within(const SeqPattern& sub, const SeqPattern& sup, DecisionContext ctx, AssumptionStack& stack) {
  // Pattern levels spend nothing but still nest on the native stack.
  if (step_too_deep(ctx.depth, ctx.stack)) return false;
  const DecisionContext next = deeper(ctx);

  if (ctx.structure->equal(sub, sup)) return true;
  // A pattern without a tuple shape admits no sequence at all, so nothing but
  // an equal pattern is proven within it.
  const std::optional<TupleShape> sup_shape = tuple_shape(sup);
  if (!sup_shape) return false;
  if (sub.kind == PatternKind::Alt) {
    for (const SeqPattern& alternative : sub.parts) {
      if (!patterns_within(alternative, sup, next, stack)) return false;
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
    if (target == nullptr || !subtype(*sub_prefix[i], *target, next, stack)) return false;
  }
  if (sub_tail != nullptr) return sup_tail != nullptr && subtype(*sub_tail, *sup_tail, next, stack);
  return sub_prefix.size() == sup_prefix.size() || sup_tail != nullptr;
}

bool records_within(std::span<const RecordField> sub_fields, std::span<const ExtrasPair> sub_extras,
                    std::span<const RecordField> sup_fields, std::span<const ExtrasPair> sup_extras,
                    DecisionContext ctx, AssumptionStack& stack) {
  if (step_too_deep(ctx.depth, ctx.stack)) return false;
  const DecisionContext next = deeper(ctx);
  const FieldMap sub_map(sub_fields);
  const FieldMap sup_map(sup_fields);

  // Every field the supertype declares: the subtype's value under that key
  // fits it, and the key is required where the field is.
  bool declared_fit = true;
  for (const RecordField& field : sup_fields) {
    if (const FieldGroup* own = sub_map.find(field.key)) {
      if (!value_within(own->nodes, field.node, next, stack) || (field.required && !own->required)) {
        declared_fit = false;
        break;
      }
      continue;
    }
    bool covered = !field.required;
    for (std::size_t i = 0; covered && i < sub_extras.size(); ++i) {
      covered = subtype(sub_extras[i].value, field.node, next, stack);
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
      if (admits_any_str_key(pair) && value_within(own.nodes, pair.value, next, stack)) {
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
      if (subtype(own.key, pair.key, next, stack) && subtype(own.value, pair.value, next, stack)) {
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

bool attributes_within(std::span<const RecordField> sup_fields, const FieldMap& sub_fields, DecisionContext ctx,
                       AssumptionStack& stack) {
  if (step_too_deep(ctx.depth, ctx.stack)) return false;
  const DecisionContext next = deeper(ctx);
  for (const RecordField& field : sup_fields) {
    const FieldGroup* own = sub_fields.find(field.key);
    if (own == nullptr || !value_within(own->nodes, field.node, next, stack)) return false;
  }
  return true;
}

// Runs fn with a structure cache in the context, making one for this call
// when the caller brought none.
template <class Fn>
bool with_structure(DecisionContext ctx, Fn fn) {
  if (ctx.structure != nullptr) return fn(ctx);
  StructureCache structure;
  ctx.structure = &structure;
  return fn(ctx);
}

}  // namespace

bool is_subtype(const SchemaNode& sub, const SchemaNode& sup, DecisionContext ctx, AssumptionStack& stack) {
  return with_structure(ctx, [&](DecisionContext c) { return subtype(sub, sup, c, stack); });
}

bool pattern_subtype(const SeqPattern& sub, const SeqPattern& sup, DecisionContext ctx, AssumptionStack& stack) {
  return with_structure(ctx, [&](DecisionContext c) { return patterns_within(sub, sup, c, stack); });
}

bool record_subtype(std::span<const RecordField> sub_fields, std::span<const ExtrasPair> sub_extras,
                    std::span<const RecordField> sup_fields, std::span<const ExtrasPair> sup_extras,
                    DecisionContext ctx, AssumptionStack& stack) {
  return with_structure(ctx, [&](DecisionContext c) {
    return records_within(sub_fields, sub_extras, sup_fields, sup_extras, c, stack);
  });
}

bool within_complement(const SchemaNode& sub, const SchemaNode& inner, DecisionContext ctx) {
  return with_structure(ctx, [&](DecisionContext c) { return complement_within(sub, inner, c); });
}

bool attributes_subtype(std::span<const RecordField> sup_fields, const FieldMap& sub_fields, DecisionContext ctx,
                        AssumptionStack& stack) {
  return with_structure(ctx, [&](DecisionContext c) { return attributes_within(sup_fields, sub_fields, c, stack); });
}

bool constraints_imply(std::span<const Constraint> sup_constraints, std::span<const Constraint> sub_constraints,
                       HostOracle& oracle) {
  for (const Constraint& c : sup_constraints) {
    if (!implied(c, sub_constraints, oracle)) return false;
  }
  return true;
}

bool is_equivalent(const SchemaNode& a, const SchemaNode& b, DecisionContext ctx) {
  return with_structure(ctx, [&](DecisionContext c) {
    AssumptionStack forward;
    if (!subtype(a, b, c, forward)) return false;
    AssumptionStack backward;
    return subtype(b, a, c, backward);
  });
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
