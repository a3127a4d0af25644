// Probes of the shared numerics: the fast complex square root, quotient and
// exponential, element-wise, so that tests can hold them against the standard
// functions.
#include "probe_common.hpp"

namespace nia::probe {

namespace {

// f(a_i, b_i) element-wise over two arrays of one size; the result has a's shape.
template <class F>
py::array_t<complex> pairwise(const complex_array& a, const complex_array& b, F f) {
    if (a.size() != b.size()) throw std::invalid_argument("need arrays of one size");
    py::array_t<complex> out(std::vector<py::ssize_t>(a.shape(), a.shape() + a.ndim()));
    const complex* x = a.data();
    const complex* y = b.data();
    complex* o = out.mutable_data();
    for (py::ssize_t i = 0; i < a.size(); ++i) o[i] = f(x[i], y[i]);
    return out;
}

}  // namespace

void register_core_probes(py::module_& m) {
    m.def(
        "principal_sqrt",
        [](const complex_array& w) { return map_array<complex>(w, core::principal_sqrt); },
        py::arg("w"), "core::principal_sqrt element-wise.");
    m.def(
        "quotient",
        [](const complex_array& a, const complex_array& b) {
            return pairwise(a, b, core::quotient);
        },
        py::arg("a"), py::arg("b"), "core::quotient(a, b) element-wise.");
    // The standard complex division the quotient falls back to, for
    // comparison (numpy's division treats infinities differently).
    m.def(
        "standard_quotient",
        [](const complex_array& a, const complex_array& b) {
            return pairwise(a, b, [](complex x, complex y) { return x / y; });
        },
        py::arg("a"), py::arg("b"), "a / b in std::complex<double> element-wise.");
    m.def(
        "complex_exp",
        [](const complex_array& e) { return map_array<complex>(e, core::complex_exp); },
        py::arg("e"), "core::complex_exp element-wise.");
}

}  // namespace nia::probe
