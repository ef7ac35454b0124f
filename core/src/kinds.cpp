#include "quillmar/core/kinds.hpp"

namespace quillmar::core {

namespace {

struct KindTexts {
  std::string_view code;
  std::string_view name;
};

// A Refined node reports what its base reports, however deeply refined.
const SchemaNode& unrefined(const SchemaNode& node) {
  const SchemaNode* n = &node;
  while (n->kind == NodeKind::Refined) n = &n->base();
  return *n;
}

KindTexts texts_of(const SchemaNode& refined_or_not) {
  const SchemaNode& node = unrefined(refined_or_not);
  switch (node.kind) {
    case NodeKind::Anything:
      return {"anything", "anything"};
    case NodeKind::Any:
      return {"any", "any"};
    case NodeKind::Nothing:
      return {"no_match", "nothing"};
    case NodeKind::None:
      return {"none_type", "None"};
    case NodeKind::Bool:
      return {"bool_type", "bool"};
    case NodeKind::Int:
      return {"int_type", "int"};
    case NodeKind::Float:
      return {"float_type", "float"};
    case NodeKind::Str:
      return {"string_type", "str"};
    case NodeKind::Bytes:
      return {"bytes_type", "bytes"};
    case NodeKind::Literal:
      return {"literal_error", "literal"};
    case NodeKind::Sequence:
      switch (node.seq_kind) {
        case SeqKind::List:
          return {"list_type", "list"};
        case SeqKind::Tuple:
          return {"tuple_type", "tuple"};
      }
      break;
    case NodeKind::Set:
      return {"set_type", "set"};
    case NodeKind::FrozenSet:
      return {"frozen_set_type", "frozenset"};
    case NodeKind::Record:
      return {"dict_type", "dict"};
    case NodeKind::Union:
      return {"union_error", "union"};
    case NodeKind::Intersection:
      return {"intersection_error", "intersection"};
    case NodeKind::Complement:
      return {"unexpected_match", "complement"};
    case NodeKind::Instance:
      return {"instance_type", "instance"};
    case NodeKind::Object:
      return {"instance_type", "object"};
    case NodeKind::Refined:
      break;  // unreachable: unrefined() strips every Refined
    case NodeKind::Ref:
      return {"recursion", "value"};
    case NodeKind::Placeholder:
      return {"unresolved_recursion", "recursive value"};
  }
  return {"anything", "anything"};
}

}  // namespace

std::string_view error_code(const SchemaNode& node) { return texts_of(node).code; }

std::string_view kind_name(const SchemaNode& node) { return texts_of(node).name; }

}  // namespace quillmar::core
