// What every batch of (rho, z, zp) triples checks before it evaluates anything,
// with the interpreter lock held: the shapes, the Gauss rule and each triple,
// in this order, with the batch entry's messages.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <limits>
#include <stdexcept>

namespace nia::module {

namespace py = pybind11;

using real_array = py::array_t<double, py::array::c_style | py::array::forcecast>;

// The Gauss rule is usable when both arrays are one-dimensional, of one
// length, with at least one node (and few enough nodes to count in an int).
inline bool gauss_rule_ok(const real_array& gx, const real_array& gw) {
    if (gx.ndim() != 1 || gw.ndim() != 1) return false;
    if (gx.shape(0) != gw.shape(0)) return false;
    return gx.shape(0) >= 1 && gx.shape(0) <= std::numeric_limits<std::int32_t>::max();
}

// One-dimensional views of the three point arrays, checked as the batch entry
// checks them; throws std::domain_error (dimensions) or std::invalid_argument.
struct checked_points {
    py::detail::unchecked_reference<double, 1> rho, z, zp;
    py::ssize_t n;
};

inline checked_points check_points(const real_array& rho, const real_array& z, const real_array& zp,
                                   const real_array& gx, const real_array& gw) {
    checked_points p{rho.unchecked<1>(), z.unchecked<1>(), zp.unchecked<1>(), 0};
    p.n = p.rho.shape(0);
    if (p.z.shape(0) != p.n || p.zp.shape(0) != p.n) {
        throw std::invalid_argument("rho, z and zp must have the same length");
    }
    if (!gauss_rule_ok(gx, gw)) throw std::invalid_argument("bad Gauss rule");
    for (py::ssize_t i = 0; i < p.n; ++i) {
        if (!(p.z(i) >= 0.0)) throw std::invalid_argument("need z >= 0 >= zp");
        if (p.zp(i) > 0.0) throw std::invalid_argument("need z >= 0 >= zp");
        if (!(p.rho(i) >= 0.0)) throw std::invalid_argument("need R > 0");
        if (!((p.z(i) - p.zp(i)) + p.rho(i) > 0.0)) throw std::invalid_argument("need R > 0");
    }
    return p;
}

}  // namespace nia::module
