// The extension module _near_interface_accel: argument conversion and
// validation with the interpreter lock held, then the parallel loop over the
// triples without it, and the one error after the loop.
#include <pybind11/complex.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <atomic>
#include <complex>
#include <cstdint>
#include <stdexcept>

#include "../pointwise/evaluate_triple.hpp"
#include "batch_validation.hpp"
#include "row_loop.hpp"

namespace py = pybind11;

#ifndef NIA_VERSION
#define NIA_VERSION "0+unknown"
#endif

namespace {

using nia::module::real_array;
using complex_array = py::array_t<std::complex<double>>;

constexpr const char* module_doc =
    "tarnvel#680 U2: the C++ twin of _near_interface.six_point. Optional; _near_interface "
    "falls back to the numpy walk without it.";

constexpr const char* batch_doc =
    "six_point over parallel (rho, z, zp) arrays -> (n, 6) complex. k_p/k_m arrive derived "
    "(k_medium keeps the branch choice); the U1 memo layer in Python hands this UNIQUE "
    "triples only.";

complex_array near_interface_six_batch(double k_p, std::complex<double> k_m, real_array rho,
                                       real_array z, real_array zp, double rtol, double lam_mult,
                                       std::int32_t depth, double detour, real_array gx,
                                       real_array gw) {
    const nia::module::checked_points pts = nia::module::check_points(rho, z, zp, gx, gw);
    const auto& rho_v = pts.rho;
    const auto& z_v = pts.z;
    const auto& zp_v = pts.zp;
    const py::ssize_t n = pts.n;

    complex_array result({n, static_cast<py::ssize_t>(6)});
    auto out = result.mutable_unchecked<2>();

    const nia::pointwise::batch_controls ctl{k_p,       k_m,       rtol,
                                             lam_mult,  depth,     detour,
                                             gx.data(), gw.data(), static_cast<int>(gx.shape(0))};
    std::atomic<bool> failure_flag{false};
    nia::module::for_each_row(n, [&](std::int64_t i) noexcept {
        nia::pointwise::evaluate_triple(ctl, rho_v(i), z_v(i), zp_v(i), out.mutable_data(i, 0),
                                        failure_flag);
    });
    if (failure_flag.load()) {
        throw std::runtime_error("rotated tail did not go quiet inside the panel budget");
    }
    return result;
}

}  // namespace

PYBIND11_MODULE(_near_interface_accel, m, py::mod_gil_not_used()) {
    m.doc() = module_doc;
    m.attr("near_interface_680") = true;
    m.attr("__version__") = NIA_VERSION;
    m.def("near_interface_six_batch", &near_interface_six_batch, batch_doc, py::arg("k_p"),
          py::arg("k_m"), py::arg("rho"), py::arg("z"), py::arg("zp"), py::arg("rtol"),
          py::arg("lam_mult"), py::arg("depth"), py::arg("detour"), py::arg("gx"), py::arg("gw"));
}
