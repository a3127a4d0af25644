// _near_interface_probe: test-only access to the internal numerics under their
// own names, one registration function per layer of the core (probe_core.cpp,
// probe_special.cpp, probe_spectral.cpp, probe_pointwise.cpp) and one for the
// SIMD lanes (probe_simd.cpp) and one for layered media (probe_layered.cpp). Not part of the public
// interface; built only with NIA_PROBE, never shipped in wheels. It adds no numerics of its own
// beyond synthetic panel rules that count their calls.
#include "probe_common.hpp"

#ifndef NIA_VERSION
#define NIA_VERSION "0+unknown"
#endif
#ifndef NIA_COMPILER
#define NIA_COMPILER "unknown"
#endif

PYBIND11_MODULE(_near_interface_probe, m, pybind11::mod_gil_not_used()) {
    m.doc() = "Test-only probe of the internal numerics of _near_interface_accel.";
    m.attr("__version__") = NIA_VERSION;
    m.attr("compiler") = NIA_COMPILER;
    nia::probe::register_core_probes(m);
    nia::probe::register_special_probes(m);
    nia::probe::register_spectral_probes(m);
    nia::probe::register_pointwise_probes(m);
    nia::probe::register_simd_probes(m);
    nia::probe::register_layered_probes(m);
}
