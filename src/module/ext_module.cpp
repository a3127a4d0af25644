// _near_interface_ext: what the package computes beyond the six integrals of
// _near_interface_accel, over the same numeric core and in the same style
// (validation with the interpreter lock held, the lock released around the
// parallel loop, one error after the join).
#include "ext_common.hpp"

#ifndef NIA_VERSION
#define NIA_VERSION "0+unknown"
#endif

PYBIND11_MODULE(_near_interface_ext, m, pybind11::mod_gil_not_used()) {
    m.doc() =
        "Batches beyond the six integrals of _near_interface_accel: per-row diagnostics "
        "of the integration, and the fields of buried dipoles.";
    m.attr("__version__") = NIA_VERSION;
    nia::module::register_diagnostics(m);
    nia::module::register_fields(m);
}
