// The diagnostics batch of _near_interface_ext: the rows of
// near_interface_six_batch, bit for bit, and with each row what its
// integration says about itself (nodes used, panels accepted at the depth
// limit and their error estimate, whether every tail ray went quiet, how far
// the integral cancels below the integrand it sums).
#include <pybind11/complex.h>
#include <pybind11/numpy.h>
#include <pybind11/typing.h>

#include <complex>
#include <cstdint>

#include "../pointwise/evaluate_triple.hpp"
#include "batch_validation.hpp"
#include "ext_common.hpp"
#include "row_loop.hpp"

namespace py = pybind11;

namespace nia::module {

namespace {

using complex_array = py::array_t<std::complex<double>>;
using count_array = py::array_t<std::int64_t>;
using diagnostics_result =
    py::typing::Tuple<complex_array, count_array, count_array, py::array_t<double>,
                      py::array_t<bool>, py::array_t<double>>;

constexpr const char* diagnostics_doc =
    R"(Rows of near_interface_six_batch with their per-row figures.

Parameters
----------
k_p, k_m, rho, z, zp, rtol, lam_mult, depth, detour, gx, gw
    As for ``_near_interface_accel.near_interface_six_batch``, converted and
    validated the same way, in the same order and with the same messages.

Returns
-------
rows : numpy.ndarray of complex128, shape (n, 6)
    Bit for bit the rows of ``near_interface_six_batch`` for every row whose
    tail rays went quiet. A row whose ray did not go quiet within the panel
    budget (where ``near_interface_six_batch`` raises "rotated tail did not go
    quiet inside the panel budget") is complex NaN; this call does not raise
    for it.
nodes : numpy.ndarray of int64, shape (n,)
    Gauss nodes evaluated for the row, over the whole path.
limit_panels : numpy.ndarray of int64, shape (n,)
    Panels accepted at the depth limit (or too narrow to halve) while their two
    estimates still differed by more than the tolerance.
limit_error : numpy.ndarray of float64, shape (n,)
    The summed error estimates of those panels (each the largest channel
    difference between the panel's estimate and its two halves'), divided by
    the largest channel modulus of the row: 0 when no panel reached the limit.
all_quiet : numpy.ndarray of bool, shape (n,)
    True when every tail ray went quiet within its budget.
condition : numpy.ndarray of float64, shape (n,)
    How far the row's integral cancels below the integrand it sums: the
    largest channel's sum of the moduli of the accepted panels (tail rays and
    far-range cuts included) over the largest channel modulus of the row. At
    least 1; about 1 for an integrand of one sign; rounding and the panels'
    relative errors grow by this factor in the row.

Raises
------
ValueError
    The validation errors of ``near_interface_six_batch``, before any work.
)";

diagnostics_result six_batch_diagnostics(double k_p, std::complex<double> k_m, real_array rho,
                                         real_array z, real_array zp, double rtol, double lam_mult,
                                         std::int32_t depth, double detour, real_array gx,
                                         real_array gw) {
    const checked_points pts = check_points(rho, z, zp, gx, gw);
    const auto& rho_v = pts.rho;
    const auto& z_v = pts.z;
    const auto& zp_v = pts.zp;
    const py::ssize_t n = pts.n;

    complex_array rows({n, static_cast<py::ssize_t>(6)});
    count_array nodes(n);
    count_array limit_panels(n);
    py::array_t<double> limit_error(n);
    py::array_t<bool> all_quiet(n);
    py::array_t<double> condition(n);
    auto rows_v = rows.mutable_unchecked<2>();
    auto nodes_v = nodes.mutable_unchecked<1>();
    auto panels_v = limit_panels.mutable_unchecked<1>();
    auto error_v = limit_error.mutable_unchecked<1>();
    auto quiet_v = all_quiet.mutable_unchecked<1>();
    auto condition_v = condition.mutable_unchecked<1>();

    const pointwise::batch_controls ctl{k_p,       k_m,       rtol,
                                        lam_mult,  depth,     detour,
                                        gx.data(), gw.data(), static_cast<int>(gx.shape(0))};
    for_each_row(n, [&](std::int64_t i) noexcept {
        pointwise::row_figures f;
        pointwise::evaluate_triple_tallied(ctl, rho_v(i), z_v(i), zp_v(i),
                                           rows_v.mutable_data(i, 0), f);
        nodes_v(i) = f.nodes;
        panels_v(i) = f.limit_panels;
        error_v(i) = f.limit_error;
        quiet_v(i) = f.all_quiet;
        condition_v(i) = f.condition;
    });
    return diagnostics_result(
        py::make_tuple(rows, nodes, limit_panels, limit_error, all_quiet, condition));
}

}  // namespace

void register_diagnostics(py::module_& m) {
    m.def("six_batch_diagnostics", &six_batch_diagnostics, diagnostics_doc, py::arg("k_p"),
          py::arg("k_m"), py::arg("rho"), py::arg("z"), py::arg("zp"), py::arg("rtol"),
          py::arg("lam_mult"), py::arg("depth"), py::arg("detour"), py::arg("gx"), py::arg("gw"));
}

}  // namespace nia::module
