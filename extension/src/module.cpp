// The module definition: multi-phase initialisation, no module state.
#include <Python.h>

namespace quillmar::ext {
int module_exec(PyObject* module);
}

namespace {

PyDoc_STRVAR(module_doc,
             "quillmar._quillmar: the extension module behind quillmar.\n"
             "\n"
             "The module declares Py_mod_gil as not used, so a free-threaded interpreter keeps the global\n"
             "lock disabled when it imports it. That is sound because every shared surface is immutable or\n"
             "synchronised internally: a Validator is frozen, and its schema, constant pool and definitions\n"
             "never change after construction; its only lazily built state is a once-cell holding the\n"
             "precompute tables, which hold nothing mutable (only interned attribute names among Python\n"
             "objects) and whose initialisation the once-cell serialises; and the validation walk keeps\n"
             "its recursion guard in a local of each call, so no two threads share mutable walk state.");

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(quillmar::ext::module_exec)},
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_quillmar", module_doc, 0, nullptr, module_slots, nullptr, nullptr, nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit__quillmar() { return PyModuleDef_Init(&module_def); }
