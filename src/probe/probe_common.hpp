// What the probe's layer files share: the array types they convert to and
// from, and the Gauss rule as the probe receives it.
#pragma once

#include <pybind11/complex.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <stdexcept>
#include <vector>

#include "../core/numeric.hpp"
#include "../spectral/channel_sum.hpp"

namespace nia::probe {

namespace py = pybind11;
using core::complex;
using spectral::six_sum;

using real_array = py::array_t<double, py::array::c_style | py::array::forcecast>;
using complex_array = py::array_t<complex, py::array::c_style | py::array::forcecast>;

inline py::array_t<complex> to_array(const six_sum& s) {
    py::array_t<complex> a(6);
    auto v = a.mutable_unchecked<1>();
    for (int c = 0; c < 6; ++c) v(c) = s[c];
    return a;
}

// The caller's Gauss rule; a length mismatch uses the shorter array.
struct gauss_rule {
    real_array gx, gw;
    int n() const { return static_cast<int>(gx.size() < gw.size() ? gx.size() : gw.size()); }
};

// Applies f element-wise over a contiguous copy of the input, with the
// interpreter lock released, and returns an array of the input's shape.
template <class Out, class In, class F>
py::array_t<Out> map_array(const py::array_t<In, py::array::c_style | py::array::forcecast>& in,
                           F f) {
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

// Applies f, which returns a pair of values {a, b}, element-wise like
// map_array, and returns the two arrays (a, b).
template <class In, class F>
py::tuple map_array_pair(const py::array_t<In, py::array::c_style | py::array::forcecast>& in,
                         F f) {
    const std::vector<py::ssize_t> shape(in.shape(), in.shape() + in.ndim());
    py::array_t<complex> a(shape), b(shape);
    const In* src = in.data();
    complex* da = a.mutable_data();
    complex* db = b.mutable_data();
    const auto count = static_cast<std::size_t>(in.size());
    {
        py::gil_scoped_release release;
        for (std::size_t i = 0; i < count; ++i) {
            const auto v = f(src[i]);
            da[i] = v.first;
            db[i] = v.second;
        }
    }
    return py::make_tuple(a, b);
}

// The registration function of each layer's probes.
void register_core_probes(py::module_& m);
void register_special_probes(py::module_& m);
void register_spectral_probes(py::module_& m);
void register_pointwise_probes(py::module_& m);
void register_simd_probes(py::module_& m);
void register_layered_probes(py::module_& m);

}  // namespace nia::probe
