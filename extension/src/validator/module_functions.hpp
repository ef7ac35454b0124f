// The module functions union, intersection, complement and recursive.
#pragma once

#include <Python.h>

namespace quillmar::ext {

// In the order they are added to the module.
extern PyMethodDef module_functions[];

}  // namespace quillmar::ext
