// Test probes of the SIMD lane code: which target this process runs, and the
// lane kernel, J0, J0 with J1, Hankel functions of orders 0 and 1,
// exponential, sine and cosine of a named target, so that tests
// can set each against the scalar code. No numerics of their own.
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include <pybind11/stl.h>

#include "../spectral/simd/dispatch.hpp"
#include "probe_common.hpp"

namespace nia::probe {

namespace {

namespace simd = spectral::simd;

const simd::lane_functions& table(const std::string& target) {
    if (target.empty()) return simd::lanes();
    const simd::lane_functions* f = simd::lanes_for(target.c_str());
    if (f == nullptr) throw py::value_error("lane target not available here: " + target);
    return *f;
}

std::vector<py::ssize_t> shape_of(const py::array& a) {
    return std::vector<py::ssize_t>(a.shape(), a.shape() + a.ndim());
}

// The real and imaginary parts of a complex array, as the lane code takes them.
struct split_parts {
    std::vector<double> re, im;
};
split_parts split(const complex_array& a) {
    split_parts p{std::vector<double>(static_cast<std::size_t>(a.size())),
                  std::vector<double>(static_cast<std::size_t>(a.size()))};
    for (py::ssize_t i = 0; i < a.size(); ++i) {
        p.re[static_cast<std::size_t>(i)] = a.data()[i].real();
        p.im[static_cast<std::size_t>(i)] = a.data()[i].imag();
    }
    return p;
}

// block(re, im, n) on the parts of the n values of z, with the interpreter
// lock released.
template <class Block>
void on_parts(const complex_array& z, const Block& block) {
    const split_parts parts = split(z);
    const int n = static_cast<int>(z.size());
    py::gil_scoped_release release;
    block(parts.re.data(), parts.im.data(), n);
}

// Registers name(leading..., z, target=""): one array of z's shape, or two as
// a tuple, that block(f, leading..., re, im, n, out...) fills with the lane
// table f of target, the lock released.
template <class... Leading, class Block, class... Args>
void def_lane_values(py::module_& m, const char* name, Block block, const char* doc,
                     const Args&... leading_args) {
    m.def(
        name,
        [block](Leading... leading, const complex_array& z, const std::string& target) {
            const simd::lane_functions& f = table(target);
            constexpr bool one =
                std::is_invocable_v<const Block&, const simd::lane_functions&, Leading...,
                                    const double*, const double*, int, complex*>;
            py::array_t<complex> a(shape_of(z));
            complex* o0 = a.mutable_data();
            if constexpr (one) {
                on_parts(z, [&](const double* re, const double* im, int n) {
                    block(f, leading..., re, im, n, o0);
                });
                return a;
            } else {
                py::array_t<complex> b(shape_of(z));
                complex* o1 = b.mutable_data();
                on_parts(z, [&](const double* re, const double* im, int n) {
                    block(f, leading..., re, im, n, o0, o1);
                });
                return py::make_tuple(a, b);
            }
        },
        leading_args..., py::arg("z"), py::arg("target") = "", doc);
}

// Registers name(z, zp, k_p, k_m, lam, target=""): an array of shape
// lam.shape + (Columns,) that fill(f, r, re, im, n, out) fills with the lane
// table f of target and the kernel record r of (z, zp, k_p, k_m), the lock
// released.
template <int Columns, class Fill>
void def_kernel_lanes(py::module_& m, const char* name, Fill fill, const char* doc) {
    m.def(
        name,
        [fill](double z, double zp, double k_p, complex k_m, const complex_array& lam,
               const std::string& target) {
            const simd::lane_functions& f = table(target);
            const spectral::kernel_record r = spectral::make_kernel_record(z, zp, k_p, k_m);
            std::vector<py::ssize_t> shape = shape_of(lam);
            shape.push_back(Columns);
            py::array_t<complex> out(shape);
            complex* o = out.mutable_data();
            on_parts(lam,
                     [&](const double* re, const double* im, int n) { fill(f, r, re, im, n, o); });
            return out;
        },
        py::arg("z"), py::arg("zp"), py::arg("k_p"), py::arg("k_m"), py::arg("lam"),
        py::arg("target") = "", doc);
}

}  // namespace

void register_simd_probes(py::module_& m) {
    m.def(
        "lane_target", [] { return std::string(simd::lanes().target); },
        "The lane target this process runs (\"scalar\" when NIA_SCALAR is set).");

    m.def(
        "lane_targets",
        [] {
            std::vector<std::string> names;
            for (const char* t : {"scalar", "avx2", "avx512", "neon"}) {
                if (simd::lanes_for(t) != nullptr) names.emplace_back(t);
            }
            return names;
        },
        "The lane targets this build has and this CPU can run.");

    def_kernel_lanes<6>(
        m, "lane_kernel",
        [](const simd::lane_functions& f, const spectral::kernel_record& r, const double* re,
           const double* im, int n, complex* o) {
            std::vector<spectral::kernel_parts> p(static_cast<std::size_t>(n));
            f.kernel_parts_block(r, re, im, n, p.data());
            for (int i = 0; i < n; ++i) {
                spectral::six_from_parts(p[static_cast<std::size_t>(i)], o + 6 * i);
            }
        },
        "The six kernel values at each lam (shape lam.shape + (6,)) from the kernel parts of the "
        "lane code of target "
        "(default: this process's).");

    def_kernel_lanes<4>(
        m, "lane_kernel_parts",
        [](const simd::lane_functions& f, const spectral::kernel_record& r, const double* re,
           const double* im, int n, complex* o) {
            f.kernel_parts_block(r, re, im, n, reinterpret_cast<spectral::kernel_parts*>(o));
        },
        "The kernel parts (gamma_p, gamma_m, k0, q) at each lam (shape lam.shape + (4,)) by the "
        "lane code of target (default: this process's).");

    def_lane_values<int>(
        m, "lane_hankel0",
        [](const simd::lane_functions& f, int kind, const double* re, const double* im, int n,
           complex* o) { f.hankel_block(kind, re, im, n, o); },
        "H0^(kind)(z) by the lane code of target (default: this process's).", py::arg("kind"));

    def_lane_values<>(
        m, "lane_j0",
        [](const simd::lane_functions& f, const double* re, const double* im, int n, complex* o) {
            f.j0_block(re, im, n, o);
        },
        "J0(z) by the lane code of target (default: this process's).");

    def_lane_values<>(
        m, "lane_j01",
        [](const simd::lane_functions& f, const double* re, const double* im, int n, complex* o0,
           complex* o1) { f.j01_block(re, im, n, o0, o1); },
        "(J0(z), J1(z)) by the lane code of target (default: this process's).");

    def_lane_values<int>(
        m, "lane_hankel01",
        [](const simd::lane_functions& f, int kind, const double* re, const double* im, int n,
           complex* o0, complex* o1) { f.hankel01_block(kind, re, im, n, o0, o1); },
        "(H0^(kind)(z), H1^(kind)(z)) by the lane code of target (default: this process's).",
        py::arg("kind"));

    m.def(
        "lane_exp",
        [](const real_array& x, const std::string& target) {
            const simd::lane_functions& f = table(target);
            py::array_t<double> y(shape_of(x));
            f.exp_block(x.data(), y.mutable_data(), static_cast<int>(x.size()));
            return y;
        },
        py::arg("x"), py::arg("target") = "", "e^x by the lane code of target.");

    m.def(
        "lane_sincos",
        [](const real_array& x, const std::string& target) {
            const simd::lane_functions& f = table(target);
            py::array_t<double> s(shape_of(x)), c(shape_of(x));
            f.sincos_block(x.data(), s.mutable_data(), c.mutable_data(),
                           static_cast<int>(x.size()));
            return py::make_tuple(s, c);
        },
        py::arg("x"), py::arg("target") = "", "(sin x, cos x) by the lane code of target.");
}

}  // namespace nia::probe
