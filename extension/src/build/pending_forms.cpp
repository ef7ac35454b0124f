// Composite forms that have not landed yet.
#include "build/compile.hpp"
#include "build/forms.hpp"
#include "text.hpp"

namespace quillmar::ext {

static std::unexpected<Error> not_yet(PyObject* annotation) {
  return build_error(safe_repr(annotation) + " cannot be compiled yet");
}

Result<SchemaNode> compile_generic_alias(PyObject* annotation, PyObject*, PyObject*, ConstantPoolBuilder&,
                                         std::vector<SchemaNode>&) {
  return not_yet(annotation);
}
Result<SchemaNode> compile_list_literal(PyObject* list, ConstantPoolBuilder&, std::vector<SchemaNode>&) {
  return not_yet(list);
}
Result<SchemaNode> compile_dict_literal(PyObject* dict, ConstantPoolBuilder&, std::vector<SchemaNode>&) {
  return not_yet(dict);
}
Result<SchemaNode> compile_typed_dict(PyObject* cls, ConstantPoolBuilder&, std::vector<SchemaNode>&) {
  return not_yet(cls);
}
Result<SchemaNode> compile_object_class(PyObject* cls, ConstantPoolBuilder&, std::vector<SchemaNode>&) {
  return not_yet(cls);
}
Result<SchemaNode> compile_annotated(PyObject* origin, PyObject*, ConstantPoolBuilder&, std::vector<SchemaNode>&) {
  return not_yet(origin);
}

}  // namespace quillmar::ext
