#include "quillmar/core/simplify.hpp"

#include <algorithm>
#include <optional>
#include <utility>

#include "quillmar/core/decision/emptiness.hpp"
#include "quillmar/core/order.hpp"
#include "quillmar/core/stack_guard.hpp"

namespace quillmar::core {
namespace {

bool node_less(const SchemaNode& a, const SchemaNode& b) { return compare_nodes(a, b) < 0; }

// The three kinds that shape one side of the lattice: the node's own kind
// (spliced), its neutral element (dropped) and its absorbing element.
struct Lattice {
  NodeKind own;
  NodeKind neutral;
  NodeKind absorbing;
};
constexpr Lattice UNION_SIDE{NodeKind::Union, NodeKind::Nothing, NodeKind::Anything};
constexpr Lattice INTERSECTION_SIDE{NodeKind::Intersection, NodeKind::Anything, NodeKind::Nothing};

// Adds one normal-form member to the gathered list; false when the member
// absorbs the whole node.
bool gather(std::vector<SchemaNode>& out, SchemaNode member, Lattice side) {
  if (member.kind == side.absorbing) return false;
  if (member.kind == side.neutral) return true;
  if (member.kind == side.own) {
    for (SchemaNode& m : member.children) out.push_back(std::move(m));
    return true;
  }
  out.push_back(std::move(member));
  return true;
}

void sort_unique(std::vector<SchemaNode>& members) {
  std::sort(members.begin(), members.end(), node_less);
  members.erase(std::unique(members.begin(), members.end(), nodes_equal), members.end());
}

// Some member is Complement(X), X not Any, and X is a member too. The members
// are sorted, so X is found by binary search.
bool has_complement_with_partner(const std::vector<SchemaNode>& sorted) {
  for (const SchemaNode& m : sorted) {
    if (m.kind != NodeKind::Complement || m.inner().kind == NodeKind::Any) continue;
    if (std::binary_search(sorted.begin(), sorted.end(), m.inner(), node_less)) return true;
  }
  return false;
}

// has_disjoint_classes over the inners of the Complement members, without
// copying them out: ¬A ∪ ¬B covers everything when A and B share no value.
bool complement_inners_disjoint(const std::vector<SchemaNode>& members) {
  std::size_t inners = 0;
  bool has_nothing = false;
  std::vector<BaseClass> classes;
  for (const SchemaNode& m : members) {
    if (m.kind != NodeKind::Complement) continue;
    ++inners;
    const SchemaNode& inner = m.inner();
    if (inner.kind == NodeKind::Nothing) has_nothing = true;
    if (std::optional<BaseClass> c = base_class(inner)) classes.push_back(*c);
  }
  if (inners < 2) return false;
  if (has_nothing) return true;
  for (std::size_t i = 0; i < classes.size(); ++i) {
    for (std::size_t j = i + 1; j < classes.size(); ++j) {
      if (classes_disjoint(classes[i], classes[j])) return true;
    }
  }
  return false;
}

SchemaNode collapse(std::vector<SchemaNode> members, Lattice side) {
  if (members.empty()) return SchemaNode::leaf(side.neutral);
  if (members.size() == 1) return std::move(members.front());
  SchemaNode n = SchemaNode::leaf(side.own);
  n.children = std::move(members);
  return n;
}

[[gnu::noinline]] std::vector<RecordField> simplify_fields(const std::vector<RecordField>& fields) {
  std::vector<RecordField> out;
  out.reserve(fields.size());
  for (const RecordField& f : fields) out.push_back(RecordField{f.key, simplify_node(f.node), f.required});
  return out;
}

// Simplifies the members one by one and gathers them; the absorbing element
// answers at once without looking at the rest.
[[gnu::noinline]] SchemaNode simplify_lattice(const std::vector<SchemaNode>& members, Lattice side) {
  std::vector<SchemaNode> gathered;
  gathered.reserve(members.size());
  for (const SchemaNode& m : members) {
    if (!gather(gathered, simplify_node(m), side)) return SchemaNode::leaf(side.absorbing);
  }
  return side.own == NodeKind::Union ? normalize_union(std::move(gathered))
                                     : normalize_intersection(std::move(gathered));
}

// De Morgan: the members negated, then gathered on the dual side.
SchemaNode negate_lattice(std::vector<SchemaNode> members, Lattice dual) {
  negate_members(members);
  std::vector<SchemaNode> gathered;
  gathered.reserve(members.size());
  for (SchemaNode& m : members) {
    if (!gather(gathered, std::move(m), dual)) return SchemaNode::leaf(dual.absorbing);
  }
  return dual.own == NodeKind::Union ? normalize_union(std::move(gathered))
                                     : normalize_intersection(std::move(gathered));
}

[[gnu::noinline]] SchemaNode simplify_refined(const SchemaNode& node) {
  SchemaNode base = simplify_node(node.base());
  std::vector<Constraint> collected = node.constraints;
  while (base.kind == NodeKind::Refined) {
    std::vector<Constraint> merged = std::move(base.constraints);
    merged.insert(merged.end(), std::make_move_iterator(collected.begin()), std::make_move_iterator(collected.end()));
    collected = std::move(merged);
    SchemaNode inner = std::move(base.children.front());
    base = std::move(inner);
  }
  std::sort(collected.begin(), collected.end(),
            [](const Constraint& a, const Constraint& b) { return compare_constraints(a, b) < 0; });
  collected.erase(std::unique(collected.begin(), collected.end(), constraint_equal), collected.end());
  if (collected.empty()) return base;
  return SchemaNode::refined(std::move(base), std::move(collected));
}

// One out-of-line step per composite kind: simplify_node recurses once per
// nesting level, so the temporaries of each kind stay out of its frame.
[[gnu::noinline]] SchemaNode simplify_sequence(const SchemaNode& node) {
  return SchemaNode::sequence(node.seq_kind, simplify_pattern(node.seq_pattern()));
}

[[gnu::noinline]] SchemaNode simplify_set(const SchemaNode& node) {
  SchemaNode element = simplify_node(node.element());
  return node.kind == NodeKind::Set ? SchemaNode::set(std::move(element)) : SchemaNode::frozen_set(std::move(element));
}

[[gnu::noinline]] SchemaNode simplify_record(const SchemaNode& node) {
  std::vector<ExtrasPair> extras;
  extras.reserve(node.extras.size());
  for (const ExtrasPair& p : node.extras) {
    ExtrasPair& pair = extras.emplace_back();
    pair.key = simplify_node(p.key);
    pair.value = simplify_node(p.value);
  }
  return SchemaNode::record(simplify_fields(node.fields), std::move(extras));
}

[[gnu::noinline]] SchemaNode simplify_object(const SchemaNode& node) {
  return SchemaNode::object(node.class_index(), simplify_fields(node.fields));
}

[[gnu::noinline]] SchemaNode simplify_complement(const SchemaNode& node) { return negate(simplify_node(node.inner())); }

[[gnu::noinline]] SchemaNode simplify_leaf(const SchemaNode& node) { return clone_node(node); }

[[gnu::noinline]] SeqPattern simplify_item(const SeqPattern& pattern) {
  return SeqPattern::item_of(simplify_node(pattern.item_node()));
}

[[gnu::noinline]] SeqPattern simplify_parts(const SeqPattern& pattern) {
  SeqPattern out;
  out.kind = pattern.kind;
  out.parts.reserve(pattern.parts.size());
  for (const SeqPattern& p : pattern.parts) out.parts.push_back(simplify_pattern(p));
  return out;
}

[[noreturn, gnu::noinline, gnu::cold]] void out_of_stack() {
  throw StackExhausted("maximum recursion depth exceeded while simplifying a schema");
}

}  // namespace

SchemaNode simplify_node(const SchemaNode& node) {
  if (stack_exhausted()) out_of_stack();
  switch (node.kind) {
    case NodeKind::Sequence:
      return simplify_sequence(node);
    case NodeKind::Set:
    case NodeKind::FrozenSet:
      return simplify_set(node);
    case NodeKind::Record:
      return simplify_record(node);
    case NodeKind::Object:
      return simplify_object(node);
    case NodeKind::Union:
      return simplify_lattice(node.members(), UNION_SIDE);
    case NodeKind::Intersection:
      return simplify_lattice(node.members(), INTERSECTION_SIDE);
    case NodeKind::Complement:
      return simplify_complement(node);
    case NodeKind::Refined:
      return simplify_refined(node);
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
    case NodeKind::Instance:
    case NodeKind::Ref:
    case NodeKind::Placeholder:
      return simplify_leaf(node);
  }
  return simplify_leaf(node);
}

SeqPattern simplify_pattern(const SeqPattern& pattern) {
  if (stack_exhausted()) out_of_stack();
  switch (pattern.kind) {
    case PatternKind::Empty:
      return SeqPattern::empty();
    case PatternKind::Item:
      return simplify_item(pattern);
    case PatternKind::Concat:
    case PatternKind::Alt:
    case PatternKind::Star:
      return simplify_parts(pattern);
  }
  return clone_pattern(pattern);
}

SchemaNode normalize_union(std::vector<SchemaNode> members) {
  sort_unique(members);
  if (has_complement_with_partner(members)) return SchemaNode::leaf(NodeKind::Anything);
  KindMask covered = 0;
  for (const SchemaNode& m : members) {
    const ExactKinds e = exact_kinds(m);
    if (e.exact) covered |= e.kinds;
  }
  if (covered == ALL_KINDS) return SchemaNode::leaf(NodeKind::Anything);
  if (complement_inners_disjoint(members)) return SchemaNode::leaf(NodeKind::Anything);
  return collapse(std::move(members), UNION_SIDE);
}

SchemaNode normalize_intersection(std::vector<SchemaNode> members) {
  sort_unique(members);
  if (has_complement_with_partner(members)) return SchemaNode::leaf(NodeKind::Nothing);
  KindMask common = ALL_KINDS;
  for (const SchemaNode& m : members) {
    const ExactKinds e = exact_kinds(m);
    if (e.exact) common &= e.kinds;
  }
  if (common == 0) return SchemaNode::leaf(NodeKind::Nothing);
  if (has_disjoint_classes(members)) return SchemaNode::leaf(NodeKind::Nothing);
  return collapse(std::move(members), INTERSECTION_SIDE);
}

SchemaNode negate(SchemaNode node) {
  if (stack_exhausted()) out_of_stack();
  switch (node.kind) {
    case NodeKind::Anything:
      return SchemaNode::leaf(NodeKind::Nothing);
    case NodeKind::Nothing:
      return SchemaNode::leaf(NodeKind::Anything);
    case NodeKind::Complement: {
      SchemaNode inner = std::move(node.children.front());
      return inner;
    }
    case NodeKind::Union:
      return negate_lattice(std::move(node.children), INTERSECTION_SIDE);
    case NodeKind::Intersection:
      return negate_lattice(std::move(node.children), UNION_SIDE);
    case NodeKind::Any:
    case NodeKind::None:
    case NodeKind::Bool:
    case NodeKind::Int:
    case NodeKind::Float:
    case NodeKind::Str:
    case NodeKind::Bytes:
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
      return SchemaNode::complement(std::move(node));
  }
  return SchemaNode::complement(std::move(node));
}

void negate_members(std::vector<SchemaNode>& members) {
  for (SchemaNode& m : members) m = negate(std::move(m));
}

}  // namespace quillmar::core
