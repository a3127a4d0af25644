// The dipole-field batch of _near_interface_ext: the integrals from which the
// fields of a buried electric or magnetic dipole follow, with per-row figures
// of the integration. Validation with the interpreter lock held (the batch
// entry's checks, in its order and with its messages), the lock released
// around the OpenMP loop.
#include <pybind11/complex.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "../pointwise/evaluate_field.hpp"
#include "../pointwise/evaluate_layered.hpp"
#include "batch_validation.hpp"
#include "ext_common.hpp"
#include "row_loop.hpp"

namespace nia::module {

namespace {

namespace py = pybind11;
using complex_array = py::array_t<std::complex<double>>;
using complex_input = py::array_t<std::complex<double>, py::array::c_style | py::array::forcecast>;
using spectral::field_source;

constexpr const char* source_message =
    "source must be \"electric\" or \"magnetic\" (or 0 or 1), or one of them followed by "
    "\" vertical\" or \" horizontal\" (2 to 5)";

// The source names in the order of field_source.
constexpr const char* source_names[] = {"electric",          "magnetic",
                                        "electric vertical", "electric horizontal",
                                        "magnetic vertical", "magnetic horizontal"};

constexpr const char* batch_doc =
    R"(Field integrals of a buried dipole for each (rho, z, zp) triple.

Parameters
----------
k_p : float
    Wavenumber of the upper, lossless medium.
k_m : complex
    Wavenumber of the lower medium (Im(k_m) <= 0 for a lossy one).
source : str or int
    "electric" (0): ten columns, those of the vertical and horizontal current
    element; "magnetic" (1): eleven columns, those of the vertical and
    horizontal small loop. "electric vertical" (2), "electric horizontal"
    (3), "magnetic vertical" (4) and "magnetic horizontal" (5) integrate only
    the columns of that orientation (the others are zero), each refined
    against its own largest column.
rho, z, zp : array_like of float
    One-dimensional, of one length n.
rtol, lam_mult, depth, detour, gx, gw
    As for _near_interface_accel.near_interface_six_batch.

Returns
-------
integrals : complex128 array, shape (n, M)
    The field integrals (the user guide's field pages list the columns).
nodes : int64 array, shape (n,)
    Gauss nodes evaluated for the row.
limit_panels : int64 array, shape (n,)
    Panels accepted at the depth limit with their error above tolerance.
limit_error : float64 array, shape (n,)
    Those panels' summed error estimate, relative to the row's largest
    integral.
all_quiet : bool array, shape (n,)
    Whether every tail ray went quiet inside its panel budget. A row where
    one did not has no value: its integrals are complex NaN.
condition : float64 array, shape (n,)
    The largest column's sum of the moduli of the accepted panels (tail rays
    and far-range cuts included) over the row's largest integral: at least
    1, about 1 for an integrand of one sign, large where the integrals
    cancel far below the integrand they sum.

Raises
------
ValueError
    The batch entry's messages for points, shapes and the Gauss rule, and
    for a source that is neither.
TypeError
    For a source that is neither a str nor an int.
)";

field_source parse_source(const py::object& source) {
    if (py::isinstance<py::str>(source)) {
        const std::string s = source.cast<std::string>();
        for (int v = 0; v < 6; ++v) {
            if (s == source_names[v]) return static_cast<field_source>(v);
        }
        throw py::value_error(source_message);
    }
    if (py::isinstance<py::int_>(source) && !py::isinstance<py::bool_>(source)) {
        // an int beyond long long converts with an OverflowError of its own: out of range too
        const py::int_ v = source.cast<py::int_>();
        for (int c = 0; c < 6; ++c) {
            if (v.equal(py::int_(c))) return static_cast<field_source>(c);
        }
        throw py::value_error(source_message);
    }
    throw py::type_error(source_message);
}

// Column c of a row of channel set C goes to column_of<C>(c) of the batch's
// row: itself for a whole set, its place in the whole set for a subset.
template <class C, class = void>
struct placed {
    static constexpr int column(int c) { return c; }
};
template <class C>
struct placed<C, std::void_t<decltype(C::columns)>> {
    static constexpr int column(int c) { return C::columns[c]; }
};

struct row_figures {
    py::array_t<std::int64_t> nodes, limit_panels;
    py::array_t<double> limit_error;
    py::array_t<bool> all_quiet;
    py::array_t<double> condition;
};

// The rows of channel set C, each written to its columns of the result (the
// columns a subset leaves out are zero): eval(i, row, tally, largest) integrates
// row i into row[0 .. C::size - 1] (complex NaN where a ray did not go quiet)
// and gives the largest modulus of its partial sums.
template <class C, class Eval>
void evaluate_rows(py::ssize_t n, complex_array& result, row_figures& fig, const Eval& eval) {
    auto out = result.mutable_unchecked<2>();
    auto nodes = fig.nodes.mutable_unchecked<1>();
    auto limit_panels = fig.limit_panels.mutable_unchecked<1>();
    auto limit_error = fig.limit_error.mutable_unchecked<1>();
    auto all_quiet = fig.all_quiet.mutable_unchecked<1>();
    auto condition = fig.condition.mutable_unchecked<1>();
    for_each_row(n, [&](std::int64_t i) noexcept {
        pointwise::row_tally tally;
        double largest = 0.0;
        std::complex<double> row[C::size];
        eval(i, row, tally, largest);
        std::complex<double>* o = out.mutable_data(i, 0);
        for (py::ssize_t c = 0; c < out.shape(1); ++c) o[c] = std::complex<double>(0.0, 0.0);
        for (int c = 0; c < C::size; ++c) o[placed<C>::column(c)] = row[c];
        nodes(i) = tally.nodes;
        limit_panels(i) = tally.limit_panels;
        // relative to the row's largest integral; an all-zero row keeps the absolute figure
        limit_error(i) = largest > 0.0 ? tally.limit_error / largest : tally.limit_error;
        all_quiet(i) = tally.all_quiet;
        condition(i) = tally.condition(largest);
    });
}

// The two half-spaces' rows of channel set C.
template <class C>
void evaluate_rows(const pointwise::batch_controls& ctl, const checked_points& pts,
                   complex_array& result, row_figures& fig) {
    const auto& rho = pts.rho;
    const auto& z = pts.z;
    const auto& zp = pts.zp;
    evaluate_rows<C>(pts.n, result, fig,
                     [&](std::int64_t i, std::complex<double>* row, pointwise::row_tally& tally,
                         double& largest) noexcept {
                         pointwise::evaluate_field_row<C>(ctl, rho(i), z(i), zp(i), row, tally,
                                                          largest);
                     });
}

row_figures make_figures(py::ssize_t n) {
    return {py::array_t<std::int64_t>(n), py::array_t<std::int64_t>(n), py::array_t<double>(n),
            py::array_t<bool>(n), py::array_t<double>(n)};
}

// f(C{}) for the channel set C of the source.
template <class F>
void with_channel_set(field_source which, F f) {
    using namespace spectral;
    switch (which) {
        case field_source::electric: return f(electric_channels{});
        case field_source::magnetic: return f(magnetic_channels{});
        case field_source::electric_vertical: return f(electric_vertical_channels{});
        case field_source::electric_horizontal: return f(electric_horizontal_channels{});
        case field_source::magnetic_vertical: return f(magnetic_vertical_channels{});
        case field_source::magnetic_horizontal: return f(magnetic_horizontal_channels{});
    }
}

py::tuple dipole_field_batch(double k_p, std::complex<double> k_m, const py::object& source,
                             real_array rho, real_array z, real_array zp, double rtol,
                             double lam_mult, std::int32_t depth, double detour, real_array gx,
                             real_array gw) {
    const field_source which = parse_source(source);
    const checked_points pts = check_points(rho, z, zp, gx, gw);
    const py::ssize_t n = pts.n;
    const bool electric = which == field_source::electric ||
                          which == field_source::electric_vertical ||
                          which == field_source::electric_horizontal;
    const py::ssize_t columns =
        electric ? spectral::electric_channels::size : spectral::magnetic_channels::size;
    complex_array result({n, columns});
    row_figures fig = make_figures(n);
    const pointwise::batch_controls ctl{k_p,       k_m,       rtol,
                                        lam_mult,  depth,     detour,
                                        gx.data(), gw.data(), static_cast<int>(gx.shape(0))};
    with_channel_set(which, [&](auto set) { evaluate_rows<decltype(set)>(ctl, pts, result, fig); });
    return py::make_tuple(result, fig.nodes, fig.limit_panels, fig.limit_error, fig.all_quiet,
                          fig.condition);
}

constexpr const char* layered_doc =
    R"(Layered field integrals of a dipole in a stack for each (rho, z, zp) triple.

Parameters
----------
k0 : float
    Free-space wavenumber omega / c (positive).
k, eps_r, mu_r : array_like of complex
    Wavenumber (Im k <= 0), complex relative permittivity and relative
    permeability of each medium, top to bottom: 2 to 64 media.
interfaces : array_like of float
    Heights of the interfaces, one fewer than the media, finite and strictly
    decreasing.
source : str or int
    "electric" (0) or "magnetic" (1): the eleven columns of a current
    element or of a small loop (the user guide's page on stacks lists them).
    "electric vertical" (2) and "magnetic vertical" (4) integrate only the
    vertical dipole's columns 8 to 10, "electric horizontal" (3) and
    "magnetic horizontal" (5) only the horizontal one's columns 0 to 7 (the
    others are zero), each refined against its own largest column.
rho, z, zp : array_like of float
    One-dimensional, of one length n: horizontal distance (>= 0), field height
    and source height (any layer; a field point on an interface is in the
    medium above it, a source in the medium below it).
rtol, lam_mult, depth, detour, gx, gw
    As for _near_interface_accel.near_interface_six_batch.

Returns
-------
integrals, nodes, limit_panels, limit_error, all_quiet, condition
    As for dipole_field_batch, with eleven columns. Where source and field
    point share a layer the integrals leave out the direct field of the
    dipole in that medium.

Raises
------
ValueError
    "need R > 0" for a field point at the source itself, and for a stack,
    point arrays or a Gauss rule that do not fit; dipole_field_batch's
    message for a source that is none of the six.
TypeError
    For a source that is neither a str nor an int.
)";

// The stack as the batch receives it, checked.
spectral::layer_stack checked_stack(const complex_input& k, const complex_input& eps_r,
                                    const complex_input& mu_r, const real_array& interfaces) {
    const py::ssize_t n = k.size();
    if (k.ndim() != 1 || eps_r.ndim() != 1 || mu_r.ndim() != 1 || interfaces.ndim() != 1 || n < 2 ||
        n > spectral::max_layers || eps_r.size() != n || mu_r.size() != n ||
        interfaces.size() != n - 1) {
        throw std::invalid_argument(
            "need 2 to 64 media (k, eps_r and mu_r of one length) and one interface fewer");
    }
    spectral::layer_stack st;
    st.n = static_cast<int>(n);
    for (py::ssize_t j = 0; j < n; ++j) {
        const std::complex<double> e = eps_r.data()[j], u = mu_r.data()[j], kj = k.data()[j];
        if (!(std::isfinite(kj.real()) && std::isfinite(kj.imag()) && kj.imag() <= 0.0) ||
            e == 0.0 || u == 0.0 || !std::isfinite(std::abs(e)) || !std::isfinite(std::abs(u))) {
            throw std::invalid_argument("need finite media: Im k <= 0, eps_r and mu_r nonzero");
        }
        st.k[j] = kj;
        st.inv_eps[j] = 1.0 / e;
        st.inv_mu[j] = 1.0 / u;
        st.top[j] = j == 0 ? INFINITY : interfaces.data()[j - 1];
        st.bottom[j] = j == n - 1 ? -INFINITY : interfaces.data()[j];
        if (j > 0 && j < n - 1 && !(st.top[j] > st.bottom[j])) {
            throw std::invalid_argument("interfaces must be strictly decreasing");
        }
    }
    for (py::ssize_t j = 0; j + 1 < n; ++j) {
        if (!std::isfinite(interfaces.data()[j])) {
            throw std::invalid_argument("interfaces must be finite");
        }
    }
    return st;
}

py::tuple layered_field_batch(double k0, complex_array k, complex_array eps_r, complex_array mu_r,
                              real_array interfaces, const py::object& source, real_array rho,
                              real_array z, real_array zp, double rtol, double lam_mult,
                              std::int32_t depth, double detour, real_array gx, real_array gw) {
    const field_source which = parse_source(source);
    if (!(std::isfinite(k0) && k0 > 0.0)) throw std::invalid_argument("need k0 > 0");
    spectral::layer_stack st = checked_stack(k, eps_r, mu_r, interfaces);
    {
        // the search for slow guided waves (milliseconds for a film, up to
        // half a second for 64 layers of alternating metal) runs unlocked
        py::gil_scoped_release unlocked;
        spectral::find_guided_modes(st);
    }
    const auto r = rho.unchecked<1>();
    const auto zz = z.unchecked<1>();
    const auto zs = zp.unchecked<1>();
    const py::ssize_t n = r.shape(0);
    if (zz.shape(0) != n || zs.shape(0) != n) {
        throw std::invalid_argument("rho, z and zp must have the same length");
    }
    if (!gauss_rule_ok(gx, gw)) throw std::invalid_argument("bad Gauss rule");
    for (py::ssize_t i = 0; i < n; ++i) {
        // a NaN anywhere, a negative rho, or the field point at the source
        if (!(r(i) >= 0.0 && zz(i) == zz(i) && zs(i) == zs(i)) || (r(i) == 0.0 && zz(i) == zs(i))) {
            throw std::invalid_argument("need R > 0");
        }
    }
    complex_array result({n, static_cast<py::ssize_t>(spectral::layered_electric_channels::size)});
    row_figures fig = make_figures(n);
    const pointwise::batch_controls ctl{0.0,       st.k[st.n - 1], rtol,
                                        lam_mult,  depth,          detour,
                                        gx.data(), gw.data(),      static_cast<int>(gx.shape(0))};
    const auto run = [&](auto set) {
        using C = decltype(set);
        evaluate_rows<C>(n, result, fig,
                         [&](std::int64_t i, std::complex<double>* row, pointwise::row_tally& tally,
                             double& largest) noexcept {
                             pointwise::evaluate_layered_field_row<C>(ctl, st, k0, r(i), zz(i),
                                                                      zs(i), row, tally, largest);
                         });
    };
    using namespace spectral;
    switch (which) {
        case field_source::electric: run(layered_electric_channels{}); break;
        case field_source::magnetic: run(layered_magnetic_channels{}); break;
        case field_source::electric_vertical: run(layered_electric_vertical_channels{}); break;
        case field_source::electric_horizontal: run(layered_electric_horizontal_channels{}); break;
        case field_source::magnetic_vertical: run(layered_magnetic_vertical_channels{}); break;
        case field_source::magnetic_horizontal: run(layered_magnetic_horizontal_channels{}); break;
    }
    return py::make_tuple(result, fig.nodes, fig.limit_panels, fig.limit_error, fig.all_quiet,
                          fig.condition);
}

}  // namespace

void register_fields(py::module_& m) {
    m.attr("ELECTRIC_COLUMNS") = spectral::electric_channels::size;
    m.attr("MAGNETIC_COLUMNS") = spectral::magnetic_channels::size;
    m.def("dipole_field_batch", &dipole_field_batch, batch_doc, py::arg("k_p"), py::arg("k_m"),
          py::arg("source"), py::arg("rho"), py::arg("z"), py::arg("zp"), py::arg("rtol"),
          py::arg("lam_mult"), py::arg("depth"), py::arg("detour"), py::arg("gx"), py::arg("gw"));
    m.attr("LAYERED_COLUMNS") = spectral::layered_electric_channels::size;
    m.def("layered_field_batch", &layered_field_batch, layered_doc, py::arg("k0"), py::arg("k"),
          py::arg("eps_r"), py::arg("mu_r"), py::arg("interfaces"), py::arg("source"),
          py::arg("rho"), py::arg("z"), py::arg("zp"), py::arg("rtol"), py::arg("lam_mult"),
          py::arg("depth"), py::arg("detour"), py::arg("gx"), py::arg("gw"));
}

}  // namespace nia::module
