// The annotation renderer has not landed yet.
#include "validator/slots.hpp"

namespace quillmar::ext {

PyObject* validator_repr(PyObject* self) { return PyUnicode_FromFormat("<Validator at %p>", self); }

}  // namespace quillmar::ext
