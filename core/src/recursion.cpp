#include "quillmar/core/recursion.hpp"

namespace quillmar::core {

namespace {

SeqPattern bind_in_pattern(const SeqPattern& pattern, std::uint64_t placeholder_id, std::uint64_t definition) {
  SeqPattern copy;
  copy.kind = pattern.kind;
  for (const SchemaNode& item : pattern.item) copy.item.push_back(bind_placeholder(item, placeholder_id, definition));
  for (const SeqPattern& part : pattern.parts) copy.parts.push_back(bind_in_pattern(part, placeholder_id, definition));
  return copy;
}

}  // namespace

SchemaNode bind_placeholder(const SchemaNode& body, std::uint64_t placeholder_id, std::uint64_t definition) {
  if (body.kind == NodeKind::Placeholder && body.placeholder_id() == placeholder_id) {
    return SchemaNode::ref(definition);
  }
  // Every other kind keeps its own payload; only the nodes below it are bound.
  // A Ref and a foreign Placeholder have nothing below them.
  SchemaNode copy;
  copy.kind = body.kind;
  copy.seq_kind = body.seq_kind;
  copy.word = body.word;
  copy.constraints = body.constraints;
  copy.children.reserve(body.children.size());
  for (const SchemaNode& child : body.children) copy.children.push_back(bind_placeholder(child, placeholder_id, definition));
  for (const SeqPattern& p : body.pattern) copy.pattern.push_back(bind_in_pattern(p, placeholder_id, definition));
  copy.fields.reserve(body.fields.size());
  for (const RecordField& field : body.fields) {
    copy.fields.push_back(RecordField{field.key, bind_placeholder(field.node, placeholder_id, definition), field.required});
  }
  copy.extras.reserve(body.extras.size());
  for (const ExtrasPair& pair : body.extras) {
    copy.extras.push_back(ExtrasPair{bind_placeholder(pair.key, placeholder_id, definition),
                                     bind_placeholder(pair.value, placeholder_id, definition)});
  }
  return copy;
}

namespace {

// Every Item of a sequence pattern sits under the sequence constructor, so it
// is searched with guarded true.
bool pattern_has_unguarded_ref(const SeqPattern& pattern, std::uint64_t definition) {
  for (const SchemaNode& item : pattern.item) {
    if (has_unguarded_ref(item, definition, true)) return true;
  }
  for (const SeqPattern& part : pattern.parts) {
    if (pattern_has_unguarded_ref(part, definition)) return true;
  }
  return false;
}

bool fields_have_unguarded_ref(const std::vector<RecordField>& fields, std::uint64_t definition) {
  for (const RecordField& field : fields) {
    if (has_unguarded_ref(field.node, definition, true)) return true;
  }
  return false;
}

}  // namespace

bool has_unguarded_ref(const SchemaNode& node, std::uint64_t definition, bool guarded) {
  switch (node.kind) {
    case NodeKind::Ref:
      return !guarded && node.definition() == definition;
    case NodeKind::Union:
    case NodeKind::Intersection:
      for (const SchemaNode& member : node.members()) {
        if (has_unguarded_ref(member, definition, guarded)) return true;
      }
      return false;
    case NodeKind::Complement:
    case NodeKind::Refined:
      return has_unguarded_ref(node.children.front(), definition, guarded);
    case NodeKind::Sequence:
      return pattern_has_unguarded_ref(node.seq_pattern(), definition);
    case NodeKind::Set:
    case NodeKind::FrozenSet:
      return has_unguarded_ref(node.element(), definition, true);
    case NodeKind::Record:
      if (fields_have_unguarded_ref(node.fields, definition)) return true;
      for (const ExtrasPair& pair : node.extras) {
        if (has_unguarded_ref(pair.key, definition, true) || has_unguarded_ref(pair.value, definition, true)) {
          return true;
        }
      }
      return false;
    case NodeKind::Object:
      return fields_have_unguarded_ref(node.fields, definition);
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
    case NodeKind::Placeholder:
      return false;
  }
  return false;
}

}  // namespace quillmar::core
