// Probes of the special-function layer: thin bindings of hankel0, hankel01,
// the status mapping, ZBESH, DGAMLN and the K / I routines behind them, with
// one member (order 0) or two (orders 0 and 1). No numerics of
// their own; the vectorised loops release the interpreter lock.
#include <limits>
#include <string>
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

namespace d = special::detail;

// routine(y) with y the members (one: order 0; two: orders 0 and 1) preset to
// NaN -> (members..., nz); one member is passed as a single value (the
// routines' one-member form), two as an array.
template <int members, class Routine>
auto preset_members(const Routine& routine) {
    if constexpr (members == 1) {
        complex y(nan, nan);
        const int nz = routine(y);
        return std::tuple<complex, int>{y, nz};
    } else {
        complex y[2] = {{nan, nan}, {nan, nan}};
        const int nz = routine(y);
        return std::tuple<complex, complex, int>{y[0], y[1], nz};
    }
}

template <int members>
auto zbknu_probe(complex w) {
    return preset_members<members>(
        [w](auto& y) { return special::ZBKNU(w, 0.0, 1, members, y, d::tol, d::elim, d::alim); });
}

template <int members>
auto zbinu_probe(complex w) {
    return preset_members<members>([w](auto& y) {
        return special::ZBINU(w, 0.0, 1, members, y, d::rl, d::fnul, d::tol, d::elim, d::alim);
    });
}

template <int members>
auto zacon_probe(complex z, int mr) {
    return preset_members<members>([z, mr](auto& y) {
        return special::ZACON(z, 0.0, 1, mr, members, y, d::rl, d::fnul, d::tol, d::elim, d::alim);
    });
}

// Registers name, the routine with one member, and name + "01", with two.
template <class One, class Two, class... Args>
void def_members(py::module_& m, const std::string& name, One one, Two two, const char* doc,
                 const char* doc01, const Args&... args) {
    m.def(name.c_str(), one, args..., doc);
    m.def((name + "01").c_str(), two, args..., doc01);
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
    def_members(m, "zbknu", &zbknu_probe<1>, &zbknu_probe<2>,
                "K0(w) for Re w >= 0 -> (value, nz); value preset to NaN.",
                "K0(w), K1(w) for Re w >= 0 -> (k0, k1, nz); values preset to NaN.", py::arg("w"));
    def_members(m, "zbinu", &zbinu_probe<1>, &zbinu_probe<2>,
                "I0(w) for Re w >= 0 -> (value, nz); value preset to NaN.",
                "I0(w), I1(w) for Re w >= 0 -> (i0, i1, nz); values preset to NaN.", py::arg("w"));
    def_members(m, "zacon", &zacon_probe<1>, &zacon_probe<2>,
                "K0(z) for Re z < 0 by continuation -> (value, nz); value preset to NaN.",
                "K0(z), K1(z) for Re z < 0 by continuation -> (k0, k1, nz); values preset to NaN.",
                py::arg("z"), py::arg("mr"));
}

}  // namespace nia::probe
