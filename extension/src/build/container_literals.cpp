// List and dict literals used as schemas, and the key text of records.
#include "build/compile.hpp"
#include "build/forms.hpp"
#include "build/sequence_patterns.hpp"
#include "build/typing_cache.hpp"
#include "py/dict_entries.hpp"
#include "py/utf8_view.hpp"

namespace quillmar::ext {
namespace {

using core::SeqKind;
using Node = SchemaNode;

constexpr const char* MISPLACED_ELLIPSIS = "`...` may appear only as the last element of a list schema";

// Items are read when needed, so a nested compile that changes the list is
// seen; an index that has gone is the interpreter's IndexError.
Result<PyRef> list_item(PyObject* list, Py_ssize_t index) { return checked(PyList_GetItemRef(list, index)); }

// Items 0 .. count-1 in order, refusing `...` among them.
Result<void> compile_items(PyObject* list, Py_ssize_t count, std::vector<Node>& nodes, ConstantPoolBuilder& builder,
                           std::vector<Node>& definitions) {
  nodes.reserve(static_cast<std::size_t>(count));
  for (Py_ssize_t i = 0; i < count; ++i) {
    auto item = list_item(list, i);
    QUILLMAR_RETURN_IF_FAILED(item);
    if (is_ellipsis(item->get())) return build_error(MISPLACED_ELLIPSIS);
    if (auto compiled = compile_into(item->get(), nodes.emplace_back(), builder, definitions); !compiled) {
      return compiled;
    }
  }
  return {};
}

// The node shells are built out of line: their temporaries would otherwise
// sit in the frame of every nesting level.
[[gnu::noinline]] void wrap_as_list(Node& node) {
  node = Node::sequence(SeqKind::List, core::star_of_item(std::move(node)));
}

[[gnu::noinline]] void assemble_list(Node& out, std::vector<Node>& nodes, bool variadic) {
  if (variadic) {
    out = Node::sequence(SeqKind::List, variadic_pattern(std::move(nodes)));
  } else {
    out = Node::sequence(SeqKind::List, concat_of_items(std::move(nodes)));
  }
}

[[gnu::noinline]] void assemble_record(Node& out, std::vector<core::RecordField>& fields,
                                       std::vector<core::ExtrasPair>& extras) {
  out = Node::record(std::move(fields), std::move(extras));
}

// Reads a str key, one trailing '?' marking it optional ('a??' is the
// optional key 'a?'), and appends its field; the field's node is the slot
// the value compiles into.
[[gnu::noinline]] Result<Node*> add_literal_field(PyObject* key, std::vector<core::RecordField>& fields) {
  auto text = record_key_text(key);
  QUILLMAR_RETURN_IF_FAILED(text);
  const bool optional = !text->empty() && text->back() == '?';
  if (optional) text->pop_back();
  return &fields.emplace_back(core::RecordField{std::move(*text), Node{}, !optional}).node;
}

}  // namespace

Result<std::string> record_key_text(PyObject* str) {
  const std::optional<std::string_view> text = utf8_view(str);
  if (!text) {
    return fail(PyExc_ValueError, "a record key must be valid Unicode; a field name cannot contain a lone surrogate");
  }
  return std::string(*text);
}

Result<void> compile_list_literal(PyObject* list, SchemaNode& out, ConstantPoolBuilder& builder,
                                  std::vector<SchemaNode>& definitions) {
  const Py_ssize_t count = PyList_GET_SIZE(list);
  if (count == 0) {
    std::vector<Node> none;
    assemble_list(out, none, false);
    return {};
  }
  if (count == 1) {
    auto item = list_item(list, 0);
    QUILLMAR_RETURN_IF_FAILED(item);
    if (is_ellipsis(item->get())) return build_error(MISPLACED_ELLIPSIS);
    if (auto compiled = compile_into(item->get(), out, builder, definitions); !compiled) return compiled;
    // [T] is a list of any length, the same node as list[T].
    wrap_as_list(out);
    return {};
  }
  bool variadic = false;
  {
    auto last = list_item(list, count - 1);
    QUILLMAR_RETURN_IF_FAILED(last);
    variadic = is_ellipsis(last->get());
  }
  std::vector<Node> nodes;
  if (auto compiled = compile_items(list, variadic ? count - 1 : count, nodes, builder, definitions); !compiled) {
    return compiled;
  }
  assemble_list(out, nodes, variadic);
  return {};
}

Result<void> compile_dict_literal(PyObject* dict, SchemaNode& out, ConstantPoolBuilder& builder,
                                  std::vector<SchemaNode>& definitions) {
  std::vector<core::RecordField> fields;
  std::vector<core::ExtrasPair> extras;
  auto visited = for_each_dict_entry(dict, [&](PyObject* key, PyObject* value) -> Result<void> {
    if (PyUnicode_Check(key)) {
      auto slot = add_literal_field(key, fields);
      QUILLMAR_RETURN_IF_FAILED(slot);
      return compile_into(value, **slot, builder, definitions);
    }
    core::ExtrasPair& pair = extras.emplace_back();
    if (auto compiled = compile_into(key, pair.key, builder, definitions); !compiled) return compiled;
    return compile_into(value, pair.value, builder, definitions);
  });
  if (!visited) return visited;
  assemble_record(out, fields, extras);
  return {};
}

}  // namespace quillmar::ext
