// Probes of the Hankel functions (filled in with the special-function layer).
#include <pybind11/pybind11.h>

void register_special_probes(pybind11::module_& m) { (void)m; }
