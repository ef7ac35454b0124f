#include "render/render.hpp"

#include <fmt/format.h>

#include <iterator>
#include <optional>

#include "py/ref.hpp"
#include "quillmar/core/stack_guard.hpp"
#include "text.hpp"

namespace quillmar::ext {
namespace {

using core::ConstraintKind;
using core::NodeKind;
using core::SeqKind;

constexpr std::string_view CUT = "...";
constexpr std::string_view UNKNOWN = "<unknown>";

bool over_budget(const std::string& out) { return out.size() > MAX_RENDER_TEXT; }

// The one child of a Set, FrozenSet, Complement or Refined; none only in a
// malformed node, which then renders "..." rather than reading past the end.
const SchemaNode* only_child(const SchemaNode& node) {
  return node.children.empty() ? nullptr : &node.children.front();
}

void append_pool_repr(std::string& out, const ConstantPool& pool, std::uint64_t index) {
  if (PyObject* object = pool.at(index)) {
    out.append(safe_repr(object));
  } else {
    out.append(UNKNOWN);
  }
}

void append_class_name(std::string& out, const ConstantPool& pool, std::uint64_t index) {
  if (PyObject* cls = pool.at(index)) {
    out.append(class_name_text(cls));
  } else {
    out.append(UNKNOWN);
  }
}

void render_constraint(std::string& out, const core::Constraint& constraint, const ConstantPool& pool) {
  auto pooled = [&](std::string_view name, std::uint64_t index) {
    out.append(name);
    out.push_back('(');
    append_pool_repr(out, pool, index);
    out.push_back(')');
  };
  switch (constraint.kind) {
    case ConstraintKind::Ge: pooled("Ge", constraint.bound_index()); return;
    case ConstraintKind::Gt: pooled("Gt", constraint.bound_index()); return;
    case ConstraintKind::Le: pooled("Le", constraint.bound_index()); return;
    case ConstraintKind::Lt: pooled("Lt", constraint.bound_index()); return;
    case ConstraintKind::MinLen: fmt::format_to(std::back_inserter(out), "MinLen({})", constraint.length()); return;
    case ConstraintKind::MaxLen: fmt::format_to(std::back_inserter(out), "MaxLen({})", constraint.length()); return;
    case ConstraintKind::MultipleOf: pooled("MultipleOf", constraint.divisor_index()); return;
    // The callable's own repr is rarely an annotation; the item only marks that one is there.
    case ConstraintKind::Predicate: out.append("Predicate(...)"); return;
    case ConstraintKind::Regex:
      out.append("Regex(");
      out.append(quoted_text(constraint.pattern_text));
      out.push_back(')');
      return;
  }
}

// The key as Python writes the str, so that the text reads back as the same
// key; an optional field's key ends in the "?" the schema wrote.
void append_key(std::string& out, const core::RecordField& field) {
  std::string key = field.key;
  if (!field.required) key.push_back('?');
  PyRef text = PyRef::steal(PyUnicode_DecodeUTF8(key.data(), static_cast<Py_ssize_t>(key.size()), nullptr));
  PyRef shown = text ? PyRef::steal(PyObject_Repr(text.get())) : PyRef();
  Py_ssize_t size = 0;
  const char* bytes = shown ? PyUnicode_AsUTF8AndSize(shown.get(), &size) : nullptr;
  if (!bytes) {
    // Only memory can run out here; the text must still be made.
    PyErr_Clear();
    out.append("<unrepresentable>");
    return;
  }
  out.append(bytes, static_cast<std::size_t>(size));
}

void render_sequence(std::string& out, const SchemaNode& node, const RenderContext& ctx) {
  std::optional<core::TupleShape> shape;
  if (!node.pattern.empty()) shape = core::tuple_shape(node.seq_pattern());
  if (!shape) {
    out.append("<sequence>");
    return;
  }
  const bool is_list = node.seq_kind == SeqKind::List;
  if (shape->prefix.empty() && shape->tail) {
    out.append(is_list ? "list[" : "tuple[");
    render_child(out, shape->tail, ctx);
    out.append(is_list ? "]" : ", ...]");
    return;
  }
  // The empty tuple's own spelling: tuple[] is not Python.
  if (!is_list && shape->prefix.empty() && !shape->tail) {
    out.append("tuple[()]");
    return;
  }
  // A fixed-length list is a list literal; a tuple stays subscripted.
  out.append(is_list ? "[" : "tuple[");
  ItemList items(out, ", ");
  render_node_refs(items, out, shape->prefix, ctx);
  if (shape->tail) {
    if (items.next()) render_child(out, shape->tail, ctx);
    if (items.next()) out.append(CUT);
  }
  out.push_back(']');
}

void render_record(std::string& out, const SchemaNode& node, const RenderContext& ctx) {
  if (node.fields.empty() && node.extras.size() == 1) {
    out.append("dict[");
    ItemList items(out, ", ");
    if (items.next()) render_child(out, &node.extras.front().key, ctx);
    if (items.next()) render_child(out, &node.extras.front().value, ctx);
    out.push_back(']');
    return;
  }
  out.push_back('{');
  ItemList items(out, ", ");
  render_fields(items, out, node.fields, ctx);
  for (const core::ExtrasPair& pair : node.extras) {
    if (!items.next()) break;
    // The pair an open record carries.
    if (pair.key.kind == NodeKind::Anything && pair.value.kind == NodeKind::Anything) {
      out.append(CUT);
      continue;
    }
    render_child(out, &pair.key, ctx);
    out.append(": ");
    render_child(out, &pair.value, ctx);
  }
  out.push_back('}');
}

void render_refined(std::string& out, const SchemaNode& node, const RenderContext& ctx) {
  out.append("Annotated[");
  ItemList items(out, ", ");
  if (items.next()) render_child(out, only_child(node), ctx);
  for (const core::Constraint& constraint : node.constraints) {
    if (!items.next()) break;
    render_constraint(out, constraint, ctx.pool);
  }
  out.push_back(']');
}

void render_ref(std::string& out, std::uint64_t definition, const RenderContext& ctx) {
  // Inside its own expansion a definition is a back edge; an index past the
  // definitions names nothing to expand.
  if (definition >= ctx.definitions.size() || ctx.seen[definition]) {
    out.append(CUT);
    return;
  }
  ctx.seen[definition] = true;
  render_child(out, &ctx.definitions[definition], ctx);
  ctx.seen[definition] = false;
}

void render_wrapped(std::string& out, std::string_view open, const SchemaNode& node, const RenderContext& ctx) {
  out.append(open);
  render_child(out, only_child(node), ctx);
  out.push_back(open.back() == '(' ? ')' : ']');
}

}  // namespace

bool ItemList::next() {
  if (closed_) return false;
  if (!first_) out_.append(separator_);
  first_ = false;
  if (over_budget(out_)) {
    out_.append(CUT);
    closed_ = true;
    return false;
  }
  return true;
}

void render_node(std::string& out, const SchemaNode& node, const RenderContext& ctx) {
  if (core::stack_exhausted()) [[unlikely]] {
    throw core::StackExhausted("maximum recursion depth exceeded while rendering a schema");
  }
  if (ctx.depth > MAX_RENDER_DEPTH || over_budget(out)) {
    out.append(CUT);
    return;
  }
  switch (node.kind) {
    case NodeKind::Anything: out.append("anything"); return;
    case NodeKind::Any: out.append("Any"); return;
    case NodeKind::Nothing: out.append("nothing"); return;
    case NodeKind::None: out.append("None"); return;
    case NodeKind::Bool: out.append("bool"); return;
    case NodeKind::Int: out.append("int"); return;
    case NodeKind::Float: out.append("float"); return;
    case NodeKind::Str: out.append("str"); return;
    case NodeKind::Bytes: out.append("bytes"); return;
    case NodeKind::Literal:
      out.append("Literal[");
      append_pool_repr(out, ctx.pool, node.value_index());
      out.push_back(']');
      return;
    case NodeKind::Sequence: render_sequence(out, node, ctx); return;
    case NodeKind::Set: render_wrapped(out, "set[", node, ctx); return;
    case NodeKind::FrozenSet: render_wrapped(out, "frozenset[", node, ctx); return;
    case NodeKind::Record: render_record(out, node, ctx); return;
    case NodeKind::Union: {
      // No brackets: a member union's members simply continue the list.
      ItemList items(out, " | ");
      render_nodes(items, out, node.members(), ctx);
      return;
    }
    case NodeKind::Intersection: {
      out.append("intersection(");
      ItemList items(out, ", ");
      render_nodes(items, out, node.members(), ctx);
      out.push_back(')');
      return;
    }
    case NodeKind::Complement: render_wrapped(out, "complement(", node, ctx); return;
    // An object's declared attributes are not shown: the class names it.
    case NodeKind::Instance:
    case NodeKind::Object: append_class_name(out, ctx.pool, node.class_index()); return;
    case NodeKind::Refined: render_refined(out, node, ctx); return;
    case NodeKind::Ref: render_ref(out, node.definition(), ctx); return;
    case NodeKind::Placeholder: out.append(CUT); return;
  }
}

void render_child(std::string& out, const SchemaNode* node, const RenderContext& parent) {
  if (!node) {
    out.append(CUT);
    return;
  }
  render_node(out, *node, parent.deeper());
}

void render_fields(ItemList& items, std::string& out, std::span<const core::RecordField> fields,
                   const RenderContext& parent) {
  for (const core::RecordField& field : fields) {
    if (!items.next()) return;
    append_key(out, field);
    out.append(": ");
    render_child(out, &field.node, parent);
  }
}

void render_nodes(ItemList& items, std::string& out, std::span<const SchemaNode> nodes, const RenderContext& parent) {
  for (const SchemaNode& node : nodes) {
    if (!items.next()) return;
    render_child(out, &node, parent);
  }
}

void render_node_refs(ItemList& items, std::string& out, std::span<const SchemaNode* const> nodes,
                      const RenderContext& parent) {
  for (const SchemaNode* node : nodes) {
    if (!items.next()) return;
    render_child(out, node, parent);
  }
}

std::string render_schema(const CompiledSchema& schema) {
  std::vector<bool> seen(schema.definitions.size(), false);
  RenderContext ctx{schema.pool, schema.definitions, seen, 0};
  std::string out;
  render_node(out, schema.root, ctx);
  return out;
}

}  // namespace quillmar::ext
