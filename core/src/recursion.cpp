#include "quillmar/core/recursion.hpp"

#include <vector>

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

// Where the search may follow Refs to other definitions; null keeps it inside
// the one tree it is given.
struct RefFollowing {
  std::span<const SchemaNode> definitions;
  std::vector<bool> visited;
};

bool search(const SchemaNode& node, std::uint64_t definition, bool guarded, RefFollowing* follow);

// Every Item of a sequence pattern sits under the sequence constructor, so it
// is searched with guarded true.
bool pattern_has_unguarded_ref(const SeqPattern& pattern, std::uint64_t definition, RefFollowing* follow) {
  for (const SchemaNode& item : pattern.item) {
    if (search(item, definition, true, follow)) return true;
  }
  for (const SeqPattern& part : pattern.parts) {
    if (pattern_has_unguarded_ref(part, definition, follow)) return true;
  }
  return false;
}

bool fields_have_unguarded_ref(const std::vector<RecordField>& fields, std::uint64_t definition,
                               RefFollowing* follow) {
  for (const RecordField& field : fields) {
    if (search(field.node, definition, true, follow)) return true;
  }
  return false;
}

bool search(const SchemaNode& node, std::uint64_t definition, bool guarded, RefFollowing* follow) {
  // Below a structural constructor nothing can be unguarded any more.
  if (guarded) return false;
  switch (node.kind) {
    case NodeKind::Ref: {
      if (node.definition() == definition) return true;
      if (!follow || node.definition() >= follow->definitions.size()) return false;
      auto index = static_cast<std::size_t>(node.definition());
      if (follow->visited[index]) return false;
      follow->visited[index] = true;
      return search(follow->definitions[index], definition, false, follow);
    }
    case NodeKind::Union:
    case NodeKind::Intersection:
      for (const SchemaNode& member : node.members()) {
        if (search(member, definition, guarded, follow)) return true;
      }
      return false;
    case NodeKind::Complement:
    case NodeKind::Refined:
      return search(node.children.front(), definition, guarded, follow);
    case NodeKind::Sequence:
      return pattern_has_unguarded_ref(node.seq_pattern(), definition, follow);
    case NodeKind::Set:
    case NodeKind::FrozenSet:
      return search(node.element(), definition, true, follow);
    case NodeKind::Record:
      if (fields_have_unguarded_ref(node.fields, definition, follow)) return true;
      for (const ExtrasPair& pair : node.extras) {
        if (search(pair.key, definition, true, follow) || search(pair.value, definition, true, follow)) {
          return true;
        }
      }
      return false;
    case NodeKind::Object:
      return fields_have_unguarded_ref(node.fields, definition, follow);
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

}  // namespace

bool has_unguarded_ref(const SchemaNode& node, std::uint64_t definition, bool guarded) {
  return search(node, definition, guarded, nullptr);
}

bool has_unguarded_cycle(const SchemaNode& body, std::uint64_t definition, std::span<const SchemaNode> definitions) {
  RefFollowing follow{definitions, std::vector<bool>(definitions.size(), false)};
  return search(body, definition, false, &follow);
}

}  // namespace quillmar::core
