// Probes of the special-function layer: thin bindings of hankel0, hankel01,
// the status mapping, ZBESH, DGAMLN and the K / I routines behind them, with
// one member (order 0) or two (orders 0 and 1). No numerics of
// their own; the vectorised loops release the interpreter lock.
#include <limits>
#include <tuple>
#include <utility>

#include "../special/hankel.hpp"
#include "../special/log_gamma.hpp"
#include "../special/modified_bessel.hpp"
#include "../special/zbesh.hpp"
#include "probe_common.hpp"

namespace nia::probe {

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

std::tuple<complex, int> zbknu_probe(complex w) {
    complex y(nan, nan);
    namespace d = special::detail;
    const int nz = special::ZBKNU(w, 0.0, 1, 1, y, d::tol, d::elim, d::alim);
    return {y, nz};
}

std::tuple<complex, int> zbinu_probe(complex w) {
    complex y(nan, nan);
    namespace d = special::detail;
    const int nz = special::ZBINU(w, 0.0, 1, 1, y, d::rl, d::fnul, d::tol, d::elim, d::alim);
    return {y, nz};
}

std::tuple<complex, int> zacon_probe(complex z, int mr) {
    complex y(nan, nan);
    namespace d = special::detail;
    const int nz = special::ZACON(z, 0.0, 1, mr, 1, y, d::rl, d::fnul, d::tol, d::elim, d::alim);
    return {y, nz};
}

// The two-member forms: (order 0, order 1, nz), values preset to NaN.
std::tuple<complex, complex, int> zbknu01_probe(complex w) {
    complex y[2] = {{nan, nan}, {nan, nan}};
    namespace d = special::detail;
    const int nz = special::ZBKNU(w, 0.0, 1, 2, y, d::tol, d::elim, d::alim);
    return {y[0], y[1], nz};
}

std::tuple<complex, complex, int> zbinu01_probe(complex w) {
    complex y[2] = {{nan, nan}, {nan, nan}};
    namespace d = special::detail;
    const int nz = special::ZBINU(w, 0.0, 1, 2, y, d::rl, d::fnul, d::tol, d::elim, d::alim);
    return {y[0], y[1], nz};
}

std::tuple<complex, complex, int> zacon01_probe(complex z, int mr) {
    complex y[2] = {{nan, nan}, {nan, nan}};
    namespace d = special::detail;
    const int nz = special::ZACON(z, 0.0, 1, mr, 2, y, d::rl, d::fnul, d::tol, d::elim, d::alim);
    return {y[0], y[1], nz};
}

}  // namespace

void register_special_probes(py::module_& m) {
    m.def(
        "hankel0",
        [](int kind, const complex_array& z) {
            return map_array<complex>(z, [kind](complex v) { return special::hankel0(kind, v); });
        },
        py::arg("kind"), py::arg("z"),
        "H0^(kind)(z) element-wise over a complex array (a scalar gives a 0-d array).");
    m.def(
        "hankel01",
        [](int kind, const complex_array& z) {
            return map_array_pair(z, [kind](complex v) {
                const special::hankel_pair h = special::hankel01(kind, v);
                return std::pair{h.h0, h.h1};
            });
        },
        py::arg("kind"), py::arg("z"),
        "(H0^(kind)(z), H1^(kind)(z)) element-wise from one pass each -> two arrays.");
    m.def(
        "hankel1",
        [](int kind, const complex_array& z) {
            return map_array<complex>(z, [kind](complex v) { return special::hankel1(kind, v); });
        },
        py::arg("kind"), py::arg("z"), "H1^(kind)(z) element-wise over a complex array.");
    m.def(
        "hankel_status",
        [](int nz, int ierr) { return static_cast<int>(special::hankel_status(nz, ierr)); },
        py::arg("nz"), py::arg("ierr"), "Status code of one ZBESH result.");
    {
        using special::zbesh_status;
        py::dict names;
        for (auto [name, code] : {std::pair{"normal", zbesh_status::normal},
                                  {"underflow", zbesh_status::underflow},
                                  {"overflow", zbesh_status::overflow},
                                  {"reduced_accuracy", zbesh_status::reduced_accuracy},
                                  {"not_computed", zbesh_status::not_computed},
                                  {"bad_input", zbesh_status::bad_input}}) {
            names[name] = static_cast<int>(code);
        }
        m.attr("zbesh_status") = names;
    }
    m.def(
        "zbesh",
        [](complex z, int kind) {
            complex cy(nan, nan);
            int ierr = 0;
            const int nz = special::ZBESH(z, kind, cy, ierr);
            return std::make_tuple(cy, nz, ierr);
        },
        py::arg("z"), py::arg("kind"),
        "ZBESH of order 0, unscaled, one member -> (cy, nz, ierr); cy preset to NaN+NaNj.");
    m.def(
        "zbesh01",
        [](complex z, int kind) {
            complex cy[2] = {{nan, nan}, {nan, nan}};
            int ierr = 0;
            const int nz = special::ZBESH(z, kind, 2, cy, ierr);
            return std::make_tuple(cy[0], cy[1], nz, ierr);
        },
        py::arg("z"), py::arg("kind"),
        "ZBESH of orders 0 and 1, unscaled -> (cy0, cy1, nz, ierr); cy preset to NaN+NaNj.");
    m.def(
        "dgamln",
        [](const real_array& x) {
            return map_array<double>(x, [](double v) { return special::DGAMLN(v); });
        },
        py::arg("x"), "ln Gamma(x) element-wise; NaN for x <= 0.");
    m.def("zbknu", &zbknu_probe, py::arg("w"),
          "K0(w) for Re w >= 0 -> (value, nz); value preset to NaN.");
    m.def("zbinu", &zbinu_probe, py::arg("w"),
          "I0(w) for Re w >= 0 -> (value, nz); value preset to NaN.");
    m.def("zacon", &zacon_probe, py::arg("z"), py::arg("mr"),
          "K0(z) for Re z < 0 by continuation -> (value, nz); value preset to NaN.");
    m.def("zbknu01", &zbknu01_probe, py::arg("w"),
          "K0(w), K1(w) for Re w >= 0 -> (k0, k1, nz); values preset to NaN.");
    m.def("zbinu01", &zbinu01_probe, py::arg("w"),
          "I0(w), I1(w) for Re w >= 0 -> (i0, i1, nz); values preset to NaN.");
    m.def("zacon01", &zacon01_probe, py::arg("z"), py::arg("mr"),
          "K0(z), K1(z) for Re z < 0 by continuation -> (k0, k1, nz); values preset to NaN.");
}

}  // namespace nia::probe
