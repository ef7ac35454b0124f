#include "quillmar/core/measures.hpp"

#include <algorithm>

namespace quillmar::core {

std::uint64_t node_count(const SchemaNode& node) {
  switch (node.kind) {
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
      return 1;
    case NodeKind::Sequence:
      return 1 + pattern_node_count(node.seq_pattern());
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Complement:
      return 1 + node_count(node.children.front());
    case NodeKind::Record: {
      std::uint64_t count = 1;
      for (const RecordField& field : node.fields) count += node_count(field.node);
      for (const ExtrasPair& pair : node.extras) count += node_count(pair.key) + node_count(pair.value);
      return count;
    }
    case NodeKind::Union:
    case NodeKind::Intersection: {
      std::uint64_t count = 1;
      for (const SchemaNode& member : node.children) count += node_count(member);
      return count;
    }
    case NodeKind::Object: {
      std::uint64_t count = 1;
      for (const RecordField& field : node.fields) count += node_count(field.node);
      return count;
    }
    case NodeKind::Refined:
      return 1 + node_count(node.base()) + node.constraints.size();
  }
  return 1;
}

std::uint64_t pattern_node_count(const SeqPattern& pattern) {
  switch (pattern.kind) {
    case PatternKind::Empty:
      return 0;
    case PatternKind::Item:
      return node_count(pattern.item_node());
    case PatternKind::Concat:
    case PatternKind::Alt:
    case PatternKind::Star: {
      std::uint64_t count = 0;
      for (const SeqPattern& part : pattern.parts) count += pattern_node_count(part);
      return count;
    }
  }
  return 0;
}

std::uint64_t node_depth(const SchemaNode& node) {
  switch (node.kind) {
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
      return 1;
    case NodeKind::Sequence:
      return 1 + pattern_depth(node.seq_pattern());
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Complement:
    case NodeKind::Refined:  // constraints add no depth
      return 1 + node_depth(node.children.front());
    case NodeKind::Record: {
      std::uint64_t deepest = 0;
      for (const RecordField& field : node.fields) deepest = std::max(deepest, node_depth(field.node));
      for (const ExtrasPair& pair : node.extras) {
        deepest = std::max({deepest, node_depth(pair.key), node_depth(pair.value)});
      }
      return 1 + deepest;
    }
    case NodeKind::Union:
    case NodeKind::Intersection: {
      std::uint64_t deepest = 0;
      for (const SchemaNode& member : node.children) deepest = std::max(deepest, node_depth(member));
      return 1 + deepest;
    }
    case NodeKind::Object: {
      std::uint64_t deepest = 0;
      for (const RecordField& field : node.fields) deepest = std::max(deepest, node_depth(field.node));
      return 1 + deepest;
    }
  }
  return 1;
}

std::uint64_t pattern_depth(const SeqPattern& pattern) {
  switch (pattern.kind) {
    case PatternKind::Empty:
      return 0;
    case PatternKind::Item:
      return node_depth(pattern.item_node());
    case PatternKind::Star:
      return 1 + pattern_depth(pattern.star_inner());
    case PatternKind::Concat:
    case PatternKind::Alt: {
      std::uint64_t deepest = 0;
      for (const SeqPattern& part : pattern.parts) deepest = std::max(deepest, pattern_depth(part));
      return 1 + deepest;
    }
  }
  return 0;
}

}  // namespace quillmar::core

namespace quillmar::core {
namespace {

void number_pattern(SeqPattern& pattern, std::uint32_t& next);

void number_node(SchemaNode& node, std::uint32_t& next) {
  node.slot = next++;
  for (SchemaNode& child : node.children) number_node(child, next);
  for (SeqPattern& pattern : node.pattern) number_pattern(pattern, next);
  for (RecordField& field : node.fields) number_node(field.node, next);
  for (ExtrasPair& pair : node.extras) {
    number_node(pair.key, next);
    number_node(pair.value, next);
  }
}

void number_pattern(SeqPattern& pattern, std::uint32_t& next) {
  for (SchemaNode& item : pattern.item) number_node(item, next);
  for (SeqPattern& part : pattern.parts) number_pattern(part, next);
}

}  // namespace

std::uint32_t number_nodes(SchemaNode& root, std::vector<SchemaNode>& definitions) {
  std::uint32_t next = 0;
  number_node(root, next);
  for (SchemaNode& body : definitions) number_node(body, next);
  return next;
}

}  // namespace quillmar::core
