// The Python face of the module: its five functions and the TranslationalEquivalence
// class.
#pragma once

#include "py_ref.hpp"

namespace motivra::sia::py {

// The module functions in registration order, ending with a zeroed entry.
extern PyMethodDef module_functions[];

// The class's type object, created at the first call and shared by the process
// afterwards; a borrowed reference, or nullptr with an exception set.
PyObject* tec_type() noexcept;

}  // namespace motivra::sia::py
