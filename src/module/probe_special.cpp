// Test probes of the special-function layer: thin bindings of hankel0, the
// status mapping, ZBESH, DGAMLN and the K0 / I0 routines behind them. No
// numerics of their own; the vectorised loops release the interpreter lock.
#include <complex>
#include <cstddef>
#include <limits>
#include <tuple>
#include <vector>

#include <pybind11/complex.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "../special/hankel.hpp"
#include "../special/modified_bessel.hpp"

namespace py = pybind11;

namespace {

using complex = std::complex<double>;
using complex_array = py::array_t<complex, py::array::c_style | py::array::forcecast>;
using real_array = py::array_t<double, py::array::c_style | py::array::forcecast>;

// Applies f element-wise over a contiguous copy of the input, with the
// interpreter lock released, and returns an array of the input's shape.
template <class Out, class In, class F>
py::array_t<Out> map_array(const py::array_t<In, py::array::c_style | py::array::forcecast>& in, F f) {
    py::array_t<Out> out(std::vector<py::ssize_t>(in.shape(), in.shape() + in.ndim()));
    const In* src = in.data();
    Out* dst = out.mutable_data();
    const auto count = static_cast<std::size_t>(in.size());
    {
        py::gil_scoped_release release;
        for (std::size_t i = 0; i < count; ++i) dst[i] = f(src[i]);
    }
    return out;
}

std::tuple<complex, int> zbknu_probe(complex w) {
    complex y(std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN());
    namespace d = nia::special::detail;
    const int nz = nia::special::ZBKNU(w, 0.0, 1, 1, y, d::tol, d::elim, d::alim);
    return {y, nz};
}

std::tuple<complex, int> zbinu_probe(complex w) {
    complex y(std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN());
    namespace d = nia::special::detail;
    const int nz = nia::special::ZBINU(w, 0.0, 1, 1, y, d::rl, d::fnul, d::tol, d::elim, d::alim);
    return {y, nz};
}

std::tuple<complex, int> zacon_probe(complex z, int mr) {
    complex y(std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN());
    namespace d = nia::special::detail;
    const int nz = nia::special::ZACON(z, 0.0, 1, mr, 1, y, d::rl, d::fnul, d::tol, d::elim, d::alim);
    return {y, nz};
}

}  // namespace

void register_special_probes(pybind11::module_& m) {
    m.def(
        "hankel0",
        [](int kind, const complex_array& z) {
            return map_array<complex>(z, [kind](complex v) { return nia::special::hankel0(kind, v); });
        },
        py::arg("kind"), py::arg("z"),
        "H0^(kind)(z) element-wise over a complex array (a scalar gives a 0-d array).");
    m.def("hankel_status", &nia::special::hankel_status, py::arg("nz"), py::arg("ierr"),
          "Status code of one ZBESH result.");
    m.def(
        "zbesh",
        [](complex z, int kind) {
            complex cy(std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN());
            int ierr = 0;
            const int nz = nia::special::ZBESH(z, kind, cy, ierr);
            return std::make_tuple(cy, nz, ierr);
        },
        py::arg("z"), py::arg("kind"),
        "ZBESH of order 0, unscaled, one member -> (cy, nz, ierr); cy preset to NaN+NaNj.");
    m.def(
        "dgamln",
        [](const real_array& x) {
            return map_array<double>(x, [](double v) { return nia::special::DGAMLN(v); });
        },
        py::arg("x"), "ln Gamma(x) element-wise; NaN for x <= 0.");
    m.def("zbknu", &zbknu_probe, py::arg("w"), "K0(w) for Re w >= 0 -> (value, nz); value preset to NaN.");
    m.def("zbinu", &zbinu_probe, py::arg("w"), "I0(w) for Re w >= 0 -> (value, nz); value preset to NaN.");
    m.def("zacon", &zacon_probe, py::arg("z"), py::arg("mr"),
          "K0(z) for Re z < 0 by continuation -> (value, nz); value preset to NaN.");
}
