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
Result<std::vector<Node>> compile_items(PyObject* list, Py_ssize_t count, ConstantPoolBuilder& builder,
                                        std::vector<Node>& definitions) {
  std::vector<Node> nodes;
  nodes.reserve(static_cast<std::size_t>(count));
  for (Py_ssize_t i = 0; i < count; ++i) {
    auto item = list_item(list, i);
    if (!item) return fail_with(std::move(item.error()));
    if (is_ellipsis(item->get())) return build_error(MISPLACED_ELLIPSIS);
    auto node = compile_annotation(item->get(), builder, definitions);
    if (!node) return fail_with(std::move(node.error()));
    nodes.push_back(std::move(*node));
  }
  return nodes;
}

}  // namespace

Result<std::string> record_key_text(PyObject* str) {
  const std::optional<std::string_view> text = utf8_view(str);
  if (!text) {
    return fail(PyExc_ValueError, "a record key must be valid Unicode; a field name cannot contain a lone surrogate");
  }
  return std::string(*text);
}

Result<SchemaNode> compile_list_literal(PyObject* list, ConstantPoolBuilder& builder,
                                        std::vector<SchemaNode>& definitions) {
  const Py_ssize_t count = PyList_GET_SIZE(list);
  if (count == 0) return Node::sequence(SeqKind::List, concat_of_items({}));
  if (count == 1) {
    auto item = list_item(list, 0);
    if (!item) return fail_with(std::move(item.error()));
    if (is_ellipsis(item->get())) return build_error(MISPLACED_ELLIPSIS);
    auto node = compile_annotation(item->get(), builder, definitions);
    if (!node) return node;
    // [T] is a list of any length, the same node as list[T].
    return Node::sequence(SeqKind::List, core::star_of_item(std::move(*node)));
  }
  auto last = list_item(list, count - 1);
  if (!last) return fail_with(std::move(last.error()));
  const bool variadic = is_ellipsis(last->get());
  last = PyRef();
  auto nodes = compile_items(list, variadic ? count - 1 : count, builder, definitions);
  if (!nodes) return fail_with(std::move(nodes.error()));
  if (variadic) return Node::sequence(SeqKind::List, variadic_pattern(std::move(*nodes)));
  return Node::sequence(SeqKind::List, concat_of_items(std::move(*nodes)));
}

Result<SchemaNode> compile_dict_literal(PyObject* dict, ConstantPoolBuilder& builder,
                                        std::vector<SchemaNode>& definitions) {
  std::vector<core::RecordField> fields;
  std::vector<core::ExtrasPair> extras;
  auto visited = for_each_dict_entry(dict, [&](PyObject* key, PyObject* value) -> Result<void> {
    if (PyUnicode_Check(key)) {
      auto text = record_key_text(key);
      if (!text) return fail_with(std::move(text.error()));
      // One trailing '?' marks the key optional: 'a??' is the optional key 'a?'.
      const bool optional = !text->empty() && text->back() == '?';
      if (optional) text->pop_back();
      auto node = compile_annotation(value, builder, definitions);
      if (!node) return fail_with(std::move(node.error()));
      fields.push_back({std::move(*text), std::move(*node), !optional});
      return {};
    }
    auto key_node = compile_annotation(key, builder, definitions);
    if (!key_node) return fail_with(std::move(key_node.error()));
    auto value_node = compile_annotation(value, builder, definitions);
    if (!value_node) return fail_with(std::move(value_node.error()));
    extras.push_back({std::move(*key_node), std::move(*value_node)});
    return {};
  });
  if (!visited) return fail_with(std::move(visited.error()));
  return Node::record(std::move(fields), std::move(extras));
}

}  // namespace quillmar::ext
