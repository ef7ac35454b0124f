#include "quillmar/core/node.hpp"

#include <algorithm>

namespace quillmar::core {

SchemaNode SchemaNode::leaf(NodeKind kind) {
  SchemaNode n;
  n.kind = kind;
  return n;
}

static SchemaNode with_word(NodeKind kind, std::uint64_t word) {
  SchemaNode n;
  n.kind = kind;
  n.word = word;
  return n;
}

static SchemaNode with_child(NodeKind kind, SchemaNode child) {
  SchemaNode n;
  n.kind = kind;
  n.children.push_back(std::move(child));
  return n;
}

SchemaNode SchemaNode::literal(std::uint64_t value_index) { return with_word(NodeKind::Literal, value_index); }
SchemaNode SchemaNode::instance(std::uint64_t class_index) { return with_word(NodeKind::Instance, class_index); }
SchemaNode SchemaNode::ref(std::uint64_t definition) { return with_word(NodeKind::Ref, definition); }
SchemaNode SchemaNode::placeholder(std::uint64_t placeholder_id) {
  return with_word(NodeKind::Placeholder, placeholder_id);
}

SchemaNode SchemaNode::sequence(SeqKind seq_kind, SeqPattern seq_pattern) {
  SchemaNode n;
  n.kind = NodeKind::Sequence;
  n.seq_kind = seq_kind;
  n.pattern.push_back(std::move(seq_pattern));
  return n;
}

SchemaNode SchemaNode::set(SchemaNode element) { return with_child(NodeKind::Set, std::move(element)); }
SchemaNode SchemaNode::frozen_set(SchemaNode element) { return with_child(NodeKind::FrozenSet, std::move(element)); }
SchemaNode SchemaNode::complement(SchemaNode inner) { return with_child(NodeKind::Complement, std::move(inner)); }

SchemaNode SchemaNode::record(std::vector<RecordField> fields, std::vector<ExtrasPair> extras) {
  SchemaNode n;
  n.kind = NodeKind::Record;
  n.fields = std::move(fields);
  n.extras = std::move(extras);
  return n;
}

SchemaNode SchemaNode::union_of(std::vector<SchemaNode> members) {
  SchemaNode n;
  n.kind = NodeKind::Union;
  n.children = std::move(members);
  return n;
}

SchemaNode SchemaNode::intersection_of(std::vector<SchemaNode> members) {
  SchemaNode n;
  n.kind = NodeKind::Intersection;
  n.children = std::move(members);
  return n;
}

SchemaNode SchemaNode::object(std::uint64_t class_index, std::vector<RecordField> fields) {
  SchemaNode n = with_word(NodeKind::Object, class_index);
  n.fields = std::move(fields);
  return n;
}

SchemaNode SchemaNode::refined(SchemaNode base, std::vector<Constraint> constraints) {
  SchemaNode n = with_child(NodeKind::Refined, std::move(base));
  n.constraints = std::move(constraints);
  return n;
}

SeqPattern SeqPattern::empty() { return SeqPattern{}; }

SeqPattern SeqPattern::item_of(SchemaNode node) {
  SeqPattern p;
  p.kind = PatternKind::Item;
  p.item.push_back(std::move(node));
  return p;
}

SeqPattern SeqPattern::concat(std::vector<SeqPattern> parts) {
  SeqPattern p;
  p.kind = PatternKind::Concat;
  p.parts = std::move(parts);
  return p;
}

SeqPattern SeqPattern::alt(std::vector<SeqPattern> alternatives) {
  SeqPattern p;
  p.kind = PatternKind::Alt;
  p.parts = std::move(alternatives);
  return p;
}

SeqPattern SeqPattern::star(SeqPattern inner) {
  SeqPattern p;
  p.kind = PatternKind::Star;
  p.parts.push_back(std::move(inner));
  return p;
}

SchemaNode clone_node(const SchemaNode& node) { return node; }
SeqPattern clone_pattern(const SeqPattern& pattern) { return pattern; }

template <class T, class Eq>
static bool vectors_equal(const std::vector<T>& a, const std::vector<T>& b, Eq eq) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), eq);
}

static bool fields_equal(const RecordField& a, const RecordField& b) {
  return a.key == b.key && a.required == b.required && nodes_equal(a.node, b.node);
}

static bool pairs_equal(const ExtrasPair& a, const ExtrasPair& b) {
  return nodes_equal(a.key, b.key) && nodes_equal(a.value, b.value);
}

bool nodes_equal(const SchemaNode& a, const SchemaNode& b) {
  if (a.kind != b.kind) return false;
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
      return true;
    case NodeKind::Literal:
    case NodeKind::Instance:
    case NodeKind::Ref:
    case NodeKind::Placeholder:
      return a.word == b.word;
    case NodeKind::Sequence:
      return a.seq_kind == b.seq_kind && patterns_equal(a.seq_pattern(), b.seq_pattern());
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Complement:
      return nodes_equal(a.children.front(), b.children.front());
    case NodeKind::Record:
      return vectors_equal(a.fields, b.fields, fields_equal) && vectors_equal(a.extras, b.extras, pairs_equal);
    case NodeKind::Union:
    case NodeKind::Intersection:
      return vectors_equal(a.children, b.children, nodes_equal);
    case NodeKind::Object:
      return a.word == b.word && vectors_equal(a.fields, b.fields, fields_equal);
    case NodeKind::Refined:
      return nodes_equal(a.base(), b.base()) && constraint_lists_equal(a.constraints, b.constraints);
  }
  return false;
}

bool patterns_equal(const SeqPattern& a, const SeqPattern& b) {
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case PatternKind::Empty:
      return true;
    case PatternKind::Item:
      return nodes_equal(a.item_node(), b.item_node());
    case PatternKind::Concat:
    case PatternKind::Alt:
    case PatternKind::Star:
      return vectors_equal(a.parts, b.parts, patterns_equal);
  }
  return false;
}

bool constraint_equal(const Constraint& a, const Constraint& b) {
  if (a.kind != b.kind) return false;
  if (a.kind == ConstraintKind::Regex) return a.pattern_text == b.pattern_text;
  return a.word == b.word;
}

bool constraint_lists_equal(const std::vector<Constraint>& a, const std::vector<Constraint>& b) {
  return vectors_equal(a, b, constraint_equal);
}

static bool is_star_of_item(const SeqPattern& p) {
  return p.kind == PatternKind::Star && p.star_inner().kind == PatternKind::Item;
}

std::optional<TupleShape> tuple_shape(const SeqPattern& pattern) {
  TupleShape shape;
  switch (pattern.kind) {
    case PatternKind::Empty:
      return shape;
    case PatternKind::Item:
      shape.prefix.push_back(&pattern.item_node());
      return shape;
    case PatternKind::Star:
      if (!is_star_of_item(pattern)) return std::nullopt;
      shape.tail = &pattern.star_inner().item_node();
      return shape;
    case PatternKind::Concat:
      for (std::size_t i = 0; i < pattern.parts.size(); ++i) {
        const SeqPattern& part = pattern.parts[i];
        if (part.kind == PatternKind::Item) {
          shape.prefix.push_back(&part.item_node());
        } else if (i + 1 == pattern.parts.size() && is_star_of_item(part)) {
          shape.tail = &part.star_inner().item_node();
        } else {
          return std::nullopt;
        }
      }
      return shape;
    case PatternKind::Alt:
      return std::nullopt;
  }
  return std::nullopt;
}

SchemaNode dict_of(SchemaNode key, SchemaNode value) {
  std::vector<ExtrasPair> extras;
  extras.push_back(ExtrasPair{std::move(key), std::move(value)});
  return SchemaNode::record({}, std::move(extras));
}

SeqPattern star_of_item(SchemaNode node) { return SeqPattern::star(SeqPattern::item_of(std::move(node))); }

}  // namespace quillmar::core
