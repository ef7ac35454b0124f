#include "quillmar/core/transforms.hpp"

#include "quillmar/core/stack_guard.hpp"

namespace quillmar::core {

namespace {

// A copy of node with its own payload kept and every node below it (children,
// pattern items, field nodes, both schemas of every extras pair) replaced by
// map(child). Kinds the caller treats specially are fixed up afterwards.
template <class Map>
SeqPattern map_pattern(const SeqPattern& pattern, const Map& map) {
  SeqPattern copy;
  copy.kind = pattern.kind;
  for (const SchemaNode& item : pattern.item) copy.item.push_back(map(item));
  copy.parts.reserve(pattern.parts.size());
  for (const SeqPattern& part : pattern.parts) copy.parts.push_back(map_pattern(part, map));
  return copy;
}

template <class Map>
[[gnu::noinline]] std::vector<RecordField> map_fields(const std::vector<RecordField>& fields, const Map& map) {
  std::vector<RecordField> copy;
  copy.reserve(fields.size());
  for (const RecordField& field : fields) copy.push_back(RecordField{field.key, map(field.node), field.required});
  return copy;
}

template <class Map>
[[gnu::noinline]] std::vector<ExtrasPair> map_extras(const std::vector<ExtrasPair>& extras, const Map& map) {
  std::vector<ExtrasPair> copy;
  copy.reserve(extras.size());
  for (const ExtrasPair& pair : extras) copy.push_back(ExtrasPair{map(pair.key), map(pair.value)});
  return copy;
}

template <class Map>
[[gnu::noinline]] SchemaNode map_below(const SchemaNode& node, const Map& map) {
  if (stack_exhausted()) [[unlikely]] throw StackExhausted("maximum recursion depth exceeded while transforming a schema");
  SchemaNode copy;
  copy.kind = node.kind;
  copy.seq_kind = node.seq_kind;
  copy.word = node.word;
  copy.constraints = node.constraints;
  copy.children.reserve(node.children.size());
  for (const SchemaNode& child : node.children) copy.children.push_back(map(child));
  for (const SeqPattern& p : node.pattern) copy.pattern.push_back(map_pattern(p, map));
  copy.fields = map_fields(node.fields, map);
  copy.extras = map_extras(node.extras, map);
  return copy;
}

// Out of line, like map_below: set_records_open recurses once per nesting
// level and keeps neither's temporaries in its own frame.
[[gnu::noinline]] std::vector<ExtrasPair> extras_when(bool open) {
  std::vector<ExtrasPair> extras;
  if (open) {
    extras.push_back(ExtrasPair{SchemaNode::leaf(NodeKind::Anything), SchemaNode::leaf(NodeKind::Anything)});
  }
  return extras;
}

template <class Map>
[[gnu::noinline]] SchemaNode reopen_record(const SchemaNode& node, bool open, const Map& map) {
  // The old extras are dropped, not transformed.
  return SchemaNode::record(map_fields(node.fields, map), extras_when(open));
}

}  // namespace

SchemaNode set_records_open(const SchemaNode& node, bool open) {
  const auto recurse = [open](const SchemaNode& child) { return set_records_open(child, open); };
  if (node.kind == NodeKind::Record && !node.fields.empty()) return reopen_record(node, open, recurse);
  // A field-less record (dict[K, V]) is neither opened nor closed; its pairs
  // are transformed like any other children.
  return map_below(node, recurse);
}

SchemaNode remap_indices(const SchemaNode& node, const PoolRemap& remap) {
  const auto pool = [&remap](std::uint64_t index) { return index < remap.table.size() ? remap.table[index] : index; };
  SchemaNode copy = map_below(node, [&remap](const SchemaNode& child) { return remap_indices(child, remap); });
  switch (node.kind) {
    case NodeKind::Literal:
    case NodeKind::Instance:
    case NodeKind::Object:
      copy.word = pool(node.word);
      break;
    case NodeKind::Ref:
      copy.word = node.word + remap.definition_offset;
      break;
    case NodeKind::Refined:
      for (Constraint& constraint : copy.constraints) {
        switch (constraint.kind) {
          case ConstraintKind::Ge:
          case ConstraintKind::Gt:
          case ConstraintKind::Le:
          case ConstraintKind::Lt:
          case ConstraintKind::MultipleOf:
          case ConstraintKind::Predicate:
            constraint.word = pool(constraint.word);
            break;
          case ConstraintKind::MinLen:
          case ConstraintKind::MaxLen:  // a count, not an index
          case ConstraintKind::Regex:
            break;
        }
      }
      break;
    case NodeKind::Placeholder:  // a process-wide id, not an index
    case NodeKind::Anything:
    case NodeKind::Any:
    case NodeKind::Nothing:
    case NodeKind::None:
    case NodeKind::Bool:
    case NodeKind::Int:
    case NodeKind::Float:
    case NodeKind::Str:
    case NodeKind::Bytes:
    case NodeKind::Sequence:
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Record:
    case NodeKind::Union:
    case NodeKind::Intersection:
    case NodeKind::Complement:
      break;
  }
  return copy;
}

}  // namespace quillmar::core
