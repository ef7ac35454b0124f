// repr() of a Validator: the annotation text of its root, nothing around it.
#include <string>

#include "py/guarded.hpp"
#include "render/render.hpp"
#include "validator/slots.hpp"
#include "validator/validator_type.hpp"

namespace quillmar::ext {

PyObject* validator_repr(PyObject* self) {
  return guarded([&]() -> PyObject* {
    std::string text = render_schema(schema_of(self));
    // Every piece is UTF-8 already; replacing keeps repr() infallible even so.
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
  });
}

}  // namespace quillmar::ext
