// Probes of the spectral layer: the vertical wavenumber, the six kernels, J0,
// J1 and Hankel's P, Q, the three panel rules on one panel each, and the
// field kernels and their panel rules.
#include <pybind11/stl.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "../spectral/bessel_j.hpp"
#include "../spectral/field_channels.hpp"
#include "../spectral/kernel.hpp"
#include "../spectral/panel_rules.hpp"
#include "probe_common.hpp"

namespace nia::probe {

namespace {

// (P, Q) of Hankel's expansion, real or complex as the argument.
template <class T>
py::tuple hankel_pq_tuple(T z, double mu) {
    T p, q;
    spectral::hankel_pq(z, mu, p, q);
    return py::make_tuple(p, q);
}

// f.template operator()<C>() for the channel set C of a field source.
template <class F>
auto with_field_channels(const std::string& source, F f) {
    if (source == "electric") return f(spectral::electric_channels{});
    if (source == "magnetic") return f(spectral::magnetic_channels{});
    throw std::invalid_argument("source must be electric or magnetic");
}

template <std::size_t N>
py::array_t<complex> sum_to_array(const spectral::channel_sum<N>& s) {
    py::array_t<complex> a(static_cast<py::ssize_t>(N));
    for (std::size_t c = 0; c < N; ++c) a.mutable_data()[c] = s[c];
    return a;
}

}  // namespace

void register_spectral_probes(py::module_& m) {
    m.def("vertical_wavenumber", py::vectorize(&spectral::vertical_wavenumber), py::arg("lam"),
          py::arg("k"));

    m.def(
        "hankel2_scaled", [](int order, complex w) { return spectral::hankel2_scaled(order, w); },
        py::arg("order"), py::arg("w"),
        "H_order^(2)(w) e^{i w} (order 0 or 1) from Hankel's expansion, for |w| >= 25 in the "
        "lower half-plane.");

    m.def(
        "spectral_kernel",
        [](double z, double zp, double k_p, complex k_m, complex_array lam) {
            const spectral::kernel_record r = spectral::make_kernel_record(z, zp, k_p, k_m);
            std::vector<py::ssize_t> shape(lam.shape(), lam.shape() + lam.ndim());
            shape.push_back(6);
            py::array_t<complex> out(shape);
            complex* o = out.mutable_data();
            const complex* l = lam.data();
            for (py::ssize_t i = 0; i < lam.size(); ++i) {
                spectral::spectral_kernel(r, l[i], o + 6 * i);
            }
            return out;
        },
        py::arg("z"), py::arg("zp"), py::arg("k_p"), py::arg("k_m"), py::arg("lam"),
        "The six kernel values at each lam (shape lam.shape + (6,)).");

    m.def("bessel_j0", py::vectorize(&spectral::bessel_j0), py::arg("z"));
    m.def("bessel_j1", py::vectorize(&spectral::bessel_j1), py::arg("z"));
    m.def("bessel_j1_over_z", py::vectorize(&spectral::bessel_j1_over_z), py::arg("z"));
    m.def(
        "bessel_j01",
        [](const complex_array& z) {
            return map_array_pair(z, [](complex v) {
                const spectral::j01_values j = spectral::bessel_j01(v);
                return std::pair{j.j0, j.j1};
            });
        },
        py::arg("z"), "(J0(z), J1(z)) element-wise from one pass each -> two arrays.");

    m.def("hankel_pq", &hankel_pq_tuple<double>, py::arg("x_or_z"), py::arg("mu"));
    m.def("hankel_pq", &hankel_pq_tuple<complex>, py::arg("x_or_z"), py::arg("mu"));

    m.def(
        "detour_panel",
        [](double z, double zp, double k_p, complex k_m, double rho, double span, double height,
           double a, double b, real_array gx, real_array gw) {
            const gauss_rule g{gx, gw};
            const spectral::kernel_record r = spectral::make_kernel_record(z, zp, k_p, k_m);
            const spectral::axis_ctx axis{r, rho};
            const spectral::detour_ctx ctx{axis, span, height};
            six_sum out;
            spectral::detour_rule<spectral::six_channels>{}(ctx, a, b, g.gx.data(), g.gw.data(),
                                                            g.n(), out);
            return to_array(out);
        },
        py::arg("z"), py::arg("zp"), py::arg("k_p"), py::arg("k_m"), py::arg("rho"),
        py::arg("span"), py::arg("height"), py::arg("a"), py::arg("b"), py::arg("gx"),
        py::arg("gw"));

    m.def(
        "axis_panel",
        [](double z, double zp, double k_p, complex k_m, double rho, double a, double b,
           real_array gx, real_array gw) {
            const gauss_rule g{gx, gw};
            const spectral::kernel_record r = spectral::make_kernel_record(z, zp, k_p, k_m);
            const spectral::axis_ctx ctx{r, rho};
            six_sum out;
            spectral::axis_rule<spectral::six_channels>{}(ctx, a, b, g.gx.data(), g.gw.data(),
                                                          g.n(), out);
            return to_array(out);
        },
        py::arg("z"), py::arg("zp"), py::arg("k_p"), py::arg("k_m"), py::arg("rho"), py::arg("a"),
        py::arg("b"), py::arg("gx"), py::arg("gw"));

    m.def(
        "hankel_ray_rule",
        [](double z, double zp, double k_p, complex k_m, complex origin, complex direction,
           double rho, int kind, double a, double b, real_array gx, real_array gw) {
            const gauss_rule g{gx, gw};
            const spectral::kernel_record r = spectral::make_kernel_record(z, zp, k_p, k_m);
            const spectral::tail_ray ray{r, origin, direction, rho, kind};
            six_sum out;
            spectral::ray_rule<spectral::six_channels>{}(ray, a, b, g.gx.data(), g.gw.data(), g.n(),
                                                         out);
            return to_array(out);
        },
        py::arg("z"), py::arg("zp"), py::arg("k_p"), py::arg("k_m"), py::arg("origin"),
        py::arg("direction"), py::arg("rho"), py::arg("kind"), py::arg("a"), py::arg("b"),
        py::arg("gx"), py::arg("gw"));

    m.def(
        "field_kernels",
        [](const std::string& source, double z, double zp, double k_p, complex k_m,
           complex_array lam) {
            return with_field_channels(source, [&](auto set) {
                using C = decltype(set);
                const spectral::kernel_record r = spectral::make_kernel_record(z, zp, k_p, k_m);
                std::vector<py::ssize_t> shape(lam.shape(), lam.shape() + lam.ndim());
                shape.push_back(C::size);
                py::array_t<complex> out(shape);
                complex* o = out.mutable_data();
                for (py::ssize_t i = 0; i < lam.size(); ++i) {
                    const complex l = lam.data()[i];
                    C::from_parts(r, l, spectral::spectral_kernel_parts(r, l), o + C::size * i);
                }
                return out;
            });
        },
        py::arg("source"), py::arg("z"), py::arg("zp"), py::arg("k_p"), py::arg("k_m"),
        py::arg("lam"), "The field kernels of source at each lam (shape lam.shape + (M,)).");

    m.def(
        "field_panels",
        [](const std::string& source, double z, double zp, double k_p, complex k_m, double rho,
           double span, double height, complex origin, complex direction, int kind, double a,
           double b, real_array gx, real_array gw) {
            return with_field_channels(source, [&](auto set) {
                using C = decltype(set);
                const gauss_rule g{gx, gw};
                const spectral::kernel_record r = spectral::make_kernel_record(z, zp, k_p, k_m);
                const spectral::axis_ctx axis{r, rho};
                const spectral::detour_ctx detour{axis, span, height};
                const spectral::tail_ray ray{r, origin, direction, rho, kind};
                spectral::channel_sum<C::size> d, x, t;
                spectral::detour_rule<C>{}(detour, a, b, g.gx.data(), g.gw.data(), g.n(), d);
                spectral::axis_rule<C>{}(axis, a, b, g.gx.data(), g.gw.data(), g.n(), x);
                spectral::ray_rule<C>{}(ray, a, b, g.gx.data(), g.gw.data(), g.n(), t);
                return py::make_tuple(sum_to_array(d), sum_to_array(x), sum_to_array(t));
            });
        },
        py::arg("source"), py::arg("z"), py::arg("zp"), py::arg("k_p"), py::arg("k_m"),
        py::arg("rho"), py::arg("span"), py::arg("height"), py::arg("origin"), py::arg("direction"),
        py::arg("kind"), py::arg("a"), py::arg("b"), py::arg("gx"), py::arg("gw"),
        "The field source's detour, axis and ray rules on one panel [a, b] each (the detour "
        "of span and height, the ray from origin along direction of kind) -> three arrays.");
}

}  // namespace nia::probe
