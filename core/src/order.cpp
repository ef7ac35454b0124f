#include "quillmar/core/order.hpp"

#include <string_view>

namespace quillmar::core {

namespace {

// Byte-string order: unsigned bytes over the common length, then the shorter
// first. string_view::compare is specified through char_traits<char>, which
// compares as unsigned char, so UTF-8 text orders by code point.
std::strong_ordering compare_bytes(std::string_view a, std::string_view b) { return a.compare(b) <=> 0; }

template <class T, class Cmp>
std::strong_ordering compare_vectors(const std::vector<T>& a, const std::vector<T>& b, Cmp cmp) {
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < common; ++i) {
    if (auto c = cmp(a[i], b[i]); c != 0) return c;
  }
  return a.size() <=> b.size();
}

std::strong_ordering compare_fields(const RecordField& a, const RecordField& b) {
  if (auto c = compare_bytes(a.key, b.key); c != 0) return c;
  if (auto c = compare_nodes(a.node, b.node); c != 0) return c;
  return a.required <=> b.required;
}

std::strong_ordering compare_pairs(const ExtrasPair& a, const ExtrasPair& b) {
  if (auto c = compare_nodes(a.key, b.key); c != 0) return c;
  return compare_nodes(a.value, b.value);
}

}  // namespace

std::strong_ordering compare_nodes(const SchemaNode& a, const SchemaNode& b) {
  if (auto c = static_cast<unsigned>(a.kind) <=> static_cast<unsigned>(b.kind); c != 0) return c;
  switch (a.kind) {
    case NodeKind::Anything:
    case NodeKind::Any:
    case NodeKind::Nothing:
    case NodeKind::None:
    case NodeKind::Bool:
    case NodeKind::Int:
    case NodeKind::Float:
    case NodeKind::Str:
    case NodeKind::Bytes:
      return std::strong_ordering::equal;
    case NodeKind::Literal:
    case NodeKind::Instance:
    case NodeKind::Ref:
    case NodeKind::Placeholder:
      return a.word <=> b.word;
    case NodeKind::Sequence:
      if (auto c = static_cast<unsigned>(a.seq_kind) <=> static_cast<unsigned>(b.seq_kind); c != 0) return c;
      return compare_patterns(a.seq_pattern(), b.seq_pattern());
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Complement:
      return compare_nodes(a.children.front(), b.children.front());
    case NodeKind::Record:
      if (auto c = compare_field_lists(a.fields, b.fields); c != 0) return c;
      return compare_pair_lists(a.extras, b.extras);
    case NodeKind::Union:
    case NodeKind::Intersection:
      return compare_vectors(a.children, b.children, compare_nodes);
    case NodeKind::Object:
      if (auto c = a.word <=> b.word; c != 0) return c;
      return compare_field_lists(a.fields, b.fields);
    case NodeKind::Refined:
      if (auto c = compare_nodes(a.base(), b.base()); c != 0) return c;
      return compare_constraint_lists(a.constraints, b.constraints);
  }
  return std::strong_ordering::equal;
}

std::strong_ordering compare_patterns(const SeqPattern& a, const SeqPattern& b) {
  if (auto c = static_cast<unsigned>(a.kind) <=> static_cast<unsigned>(b.kind); c != 0) return c;
  switch (a.kind) {
    case PatternKind::Empty:
      return std::strong_ordering::equal;
    case PatternKind::Item:
      return compare_nodes(a.item_node(), b.item_node());
    case PatternKind::Concat:
    case PatternKind::Alt:
      return compare_vectors(a.parts, b.parts, compare_patterns);
    case PatternKind::Star:
      return compare_patterns(a.star_inner(), b.star_inner());
  }
  return std::strong_ordering::equal;
}

std::strong_ordering compare_field_lists(const std::vector<RecordField>& a, const std::vector<RecordField>& b) {
  return compare_vectors(a, b, compare_fields);
}

std::strong_ordering compare_pair_lists(const std::vector<ExtrasPair>& a, const std::vector<ExtrasPair>& b) {
  return compare_vectors(a, b, compare_pairs);
}

std::strong_ordering compare_constraint_lists(const std::vector<Constraint>& a, const std::vector<Constraint>& b) {
  return compare_vectors(a, b, compare_constraints);
}

std::strong_ordering compare_constraints(const Constraint& a, const Constraint& b) {
  if (auto c = static_cast<unsigned>(a.kind) <=> static_cast<unsigned>(b.kind); c != 0) return c;
  if (a.kind == ConstraintKind::Regex) return compare_bytes(a.pattern_text, b.pattern_text);
  return a.word <=> b.word;
}

}  // namespace quillmar::core
