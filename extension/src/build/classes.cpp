// Classes that declare their fields: typed dicts become records, dataclasses
// and named tuples objects of their own class.
#include <fmt/format.h>

#include "build/compile.hpp"
#include "build/forms.hpp"
#include "py/dict_entries.hpp"
#include "text.hpp"

namespace quillmar::ext {
namespace {

using Node = SchemaNode;

// typing.get_type_hints(cls, include_extras=True), read afresh each time.
Result<PyRef> type_hints_of(PyObject* cls) {
  auto keywords = checked(PyDict_New());
  if (!keywords) return keywords;
  if (PyDict_SetItemString(keywords->get(), "include_extras", Py_True) < 0) return fetched();
  auto typing = checked(PyImport_ImportModule("typing"));
  if (!typing) return typing;
  auto get_type_hints = checked(PyObject_GetAttrString(typing->get(), "get_type_hints"));
  if (!get_type_hints) return get_type_hints;
  PyObject* positional[] = {cls};
  return checked(PyObject_VectorcallDict(get_type_hints->get(), positional, 1, keywords->get()));
}

Result<PyRef> hints_dict(PyObject* cls) {
  auto hints = type_hints_of(cls);
  if (!hints) return hints;
  if (!PyDict_Check(hints->get())) return fail(PyExc_TypeError, not_an_instance_message(hints->get(), "dict"));
  return hints;
}

Result<std::string> field_key(PyObject* name) {
  auto text = checked(PyObject_Str(name));
  if (!text) return fail_with(std::move(text.error()));
  return record_key_text(text->get());
}

// An InitVar pseudo-field is an __init__ argument, never an attribute.
Result<bool> is_init_only_field(PyObject* cls, PyObject* hint) {
  auto dataclasses = checked(PyImport_ImportModule("dataclasses"));
  if (!dataclasses) return fail_with(std::move(dataclasses.error()));
  auto init_var = checked(PyObject_GetAttrString(dataclasses->get(), "InitVar"));
  if (!init_var) return fail_with(std::move(init_var.error()));
  if (hint != init_var->get()) {
    int instance = PyObject_IsInstance(hint, init_var->get());
    if (instance < 0) return fetched();
    if (!instance) return false;
  }
  // A named tuple may hold anything under that annotation; only a dataclass
  // turns it into an __init__ argument.
  auto dataclass = checked(PyObject_CallMethod(dataclasses->get(), "is_dataclass", "O", cls));
  if (!dataclass) return fail_with(std::move(dataclass.error()));
  int truth = PyObject_IsTrue(dataclass->get());
  if (truth < 0) return fetched();
  return truth == 1;
}

}  // namespace

Result<SchemaNode> compile_typed_dict(PyObject* cls, ConstantPoolBuilder& builder,
                                      std::vector<SchemaNode>& definitions) {
  auto hints = hints_dict(cls);
  if (!hints) return fail_with(std::move(hints.error()));
  auto required_keys = checked(PyObject_GetAttrString(cls, "__required_keys__"));
  if (!required_keys) return fail_with(std::move(required_keys.error()));
  std::vector<core::RecordField> fields;
  fields.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(hints->get())));
  auto visited = for_each_dict_entry(hints->get(), [&](PyObject* name, PyObject* hint) -> Result<void> {
    auto key = field_key(name);
    if (!key) return fail_with(std::move(key.error()));
    auto node = compile_annotation(hint, builder, definitions);
    if (!node) return fail_with(std::move(node.error()));
    int required = PySequence_Contains(required_keys->get(), name);
    if (required < 0) return fetched();
    fields.push_back({std::move(*key), std::move(*node), required == 1});
    return {};
  });
  if (!visited) return fail_with(std::move(visited.error()));
  // Matched structurally: the class itself is not part of the node.
  return Node::record(std::move(fields), {});
}

Result<SchemaNode> compile_object_class(PyObject* cls, ConstantPoolBuilder& builder,
                                        std::vector<SchemaNode>& definitions) {
  auto hints = hints_dict(cls);
  if (!hints) return fail_with(std::move(hints.error()));
  const std::uint64_t class_index = builder.intern_constant(cls);
  std::vector<core::RecordField> fields;
  fields.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(hints->get())));
  auto visited = for_each_dict_entry(hints->get(), [&](PyObject* name, PyObject* hint) -> Result<void> {
    auto key = field_key(name);
    if (!key) return fail_with(std::move(key.error()));
    auto init_only = is_init_only_field(cls, hint);
    if (!init_only) return fail_with(std::move(init_only.error()));
    if (*init_only) {
      return build_error(fmt::format(
          "{} is a dataclass init-only field, not an attribute, and cannot be part of a schema", safe_repr(hint)));
    }
    auto node = compile_annotation(hint, builder, definitions);
    if (!node) return fail_with(std::move(node.error()));
    fields.push_back({std::move(*key), std::move(*node), true});
    return {};
  });
  if (!visited) return fail_with(std::move(visited.error()));
  return Node::object(class_index, std::move(fields));
}

}  // namespace quillmar::ext
