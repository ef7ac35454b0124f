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
  QUILLMAR_RETURN_IF_FAILED(text);
  return record_key_text(text->get());
}

// An InitVar pseudo-field is an __init__ argument, never an attribute.
Result<bool> is_init_only_field(PyObject* cls, PyObject* hint) {
  auto dataclasses = checked(PyImport_ImportModule("dataclasses"));
  QUILLMAR_RETURN_IF_FAILED(dataclasses);
  auto init_var = checked(PyObject_GetAttrString(dataclasses->get(), "InitVar"));
  QUILLMAR_RETURN_IF_FAILED(init_var);
  if (hint != init_var->get()) {
    int instance = PyObject_IsInstance(hint, init_var->get());
    if (instance < 0) return fetched();
    if (!instance) return false;
  }
  // A named tuple may hold anything under that annotation; only a dataclass
  // turns it into an __init__ argument.
  auto dataclass = checked(PyObject_CallMethod(dataclasses->get(), "is_dataclass", "O", cls));
  QUILLMAR_RETURN_IF_FAILED(dataclass);
  int truth = PyObject_IsTrue(dataclass->get());
  if (truth < 0) return fetched();
  return truth == 1;
}

// The class's hints, read before any field compiles.
[[gnu::noinline]] Result<void> read_hints(PyObject* cls, PyRef& hints, std::vector<core::RecordField>& fields) {
  auto read = hints_dict(cls);
  QUILLMAR_RETURN_IF_FAILED(read);
  hints = std::move(*read);
  fields.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(hints.get())));
  return {};
}

[[gnu::noinline]] Result<PyRef> required_keys_of(PyObject* cls) {
  return checked(PyObject_GetAttrString(cls, "__required_keys__"));
}

// Appends the field named name; its node is the slot the hint compiles into.
[[gnu::noinline]] Result<Node*> add_field(PyObject* name, std::vector<core::RecordField>& fields) {
  auto key = field_key(name);
  QUILLMAR_RETURN_IF_FAILED(key);
  return &fields.emplace_back(core::RecordField{std::move(*key), Node{}, true}).node;
}

[[gnu::noinline]] Result<Node*> add_attribute_field(PyObject* cls, PyObject* name, PyObject* hint,
                                                    std::vector<core::RecordField>& fields) {
  auto key = field_key(name);
  QUILLMAR_RETURN_IF_FAILED(key);
  auto init_only = is_init_only_field(cls, hint);
  QUILLMAR_RETURN_IF_FAILED(init_only);
  if (*init_only) {
    return build_error(fmt::format(
        "{} is a dataclass init-only field, not an attribute, and cannot be part of a schema", safe_repr(hint)));
  }
  return &fields.emplace_back(core::RecordField{std::move(*key), Node{}, true}).node;
}

[[gnu::noinline]] void assemble_record(Node& out, std::vector<core::RecordField>& fields) {
  out = Node::record(std::move(fields), {});
}

[[gnu::noinline]] void assemble_object(Node& out, std::uint64_t class_index, std::vector<core::RecordField>& fields) {
  out = Node::object(class_index, std::move(fields));
}

}  // namespace

Result<void> compile_typed_dict(PyObject* cls, SchemaNode& out, ConstantPoolBuilder& builder,
                                std::vector<SchemaNode>& definitions) {
  PyRef hints;
  std::vector<core::RecordField> fields;
  if (auto read = read_hints(cls, hints, fields); !read) return read;
  auto required_keys = required_keys_of(cls);
  QUILLMAR_RETURN_IF_FAILED(required_keys);
  auto visited = for_each_dict_entry(hints.get(), [&](PyObject* name, PyObject* hint) -> Result<void> {
    auto slot = add_field(name, fields);
    QUILLMAR_RETURN_IF_FAILED(slot);
    if (auto compiled = compile_into(hint, **slot, builder, definitions); !compiled) return compiled;
    int required = PySequence_Contains(required_keys->get(), name);
    if (required < 0) return fetched();
    fields.back().required = required == 1;
    return {};
  });
  if (!visited) return visited;
  // Matched structurally: the class itself is not part of the node.
  assemble_record(out, fields);
  return {};
}

Result<void> compile_object_class(PyObject* cls, SchemaNode& out, ConstantPoolBuilder& builder,
                                  std::vector<SchemaNode>& definitions) {
  PyRef hints;
  std::vector<core::RecordField> fields;
  if (auto read = read_hints(cls, hints, fields); !read) return read;
  const std::uint64_t class_index = builder.intern_constant(cls);
  auto visited = for_each_dict_entry(hints.get(), [&](PyObject* name, PyObject* hint) -> Result<void> {
    auto slot = add_attribute_field(cls, name, hint, fields);
    QUILLMAR_RETURN_IF_FAILED(slot);
    return compile_into(hint, **slot, builder, definitions);
  });
  if (!visited) return visited;
  assemble_object(out, class_index, fields);
  return {};
}

}  // namespace quillmar::ext
