#include "ext_common.hpp"

namespace nia::module {

void register_diagnostics(pybind11::module_& m) { (void)m; }

}  // namespace nia::module
