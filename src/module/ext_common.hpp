// What the parts of the extension module _near_interface_ext share: the
// registration function of each part.
#pragma once

#include <pybind11/pybind11.h>

namespace nia::module {

// The per-row diagnostics batch (ext_diagnostics.cpp).
void register_diagnostics(pybind11::module_& m);
// The dipole-field batch (ext_fields.cpp).
void register_fields(pybind11::module_& m);

}  // namespace nia::module
