// Test probes of the SIMD lane code: which target this process runs, and the
// lane kernel, J0, J0 with J1, Hankel functions of orders 0 and 1,
// exponential, sine and cosine of a named target, so that tests
// can set each against the scalar code. No numerics of their own.
#include <stdexcept>
#include <string>
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

    m.def(
        "lane_kernel",
        [](double z, double zp, double k_p, complex k_m, const complex_array& lam,
           const std::string& target) {
            const simd::lane_functions& f = table(target);
            const spectral::kernel_record r = spectral::make_kernel_record(z, zp, k_p, k_m);
            std::vector<py::ssize_t> shape = shape_of(lam);
            shape.push_back(6);
            py::array_t<complex> out(shape);
            const py::ssize_t n = lam.size();
            const split_parts parts = split(lam);
            const std::vector<double>&re = parts.re, &im = parts.im;
            complex* o = out.mutable_data();
            {
                py::gil_scoped_release release;
                std::vector<spectral::kernel_parts> p(static_cast<std::size_t>(n));
                f.kernel_parts_block(r, re.data(), im.data(), static_cast<int>(n), p.data());
                for (py::ssize_t i = 0; i < n; ++i) {
                    spectral::six_from_parts(p[static_cast<std::size_t>(i)], o + 6 * i);
                }
            }
            return out;
        },
        py::arg("z"), py::arg("zp"), py::arg("k_p"), py::arg("k_m"), py::arg("lam"),
        py::arg("target") = "",
        "The six kernel values at each lam (shape lam.shape + (6,)) from the kernel parts of the "
        "lane code of target "
        "(default: this process's).");

    m.def(
        "lane_kernel_parts",
        [](double z, double zp, double k_p, complex k_m, const complex_array& lam,
           const std::string& target) {
            const simd::lane_functions& f = table(target);
            const nia::spectral::kernel_record r =
                nia::spectral::make_kernel_record(z, zp, k_p, k_m);
            std::vector<py::ssize_t> shape = shape_of(lam);
            shape.push_back(4);
            py::array_t<complex> out(shape);
            const py::ssize_t n = lam.size();
            const split_parts parts = split(lam);
            const std::vector<double>&re = parts.re, &im = parts.im;
            auto* o = reinterpret_cast<nia::spectral::kernel_parts*>(out.mutable_data());
            {
                py::gil_scoped_release release;
                f.kernel_parts_block(r, re.data(), im.data(), static_cast<int>(n), o);
            }
            return out;
        },
        py::arg("z"), py::arg("zp"), py::arg("k_p"), py::arg("k_m"), py::arg("lam"),
        py::arg("target") = "",
        "The kernel parts (gamma_p, gamma_m, k0, q) at each lam (shape lam.shape + (4,)) by the "
        "lane code of target (default: this process's).");

    m.def(
        "lane_hankel0",
        [](int kind, const complex_array& z, const std::string& target) {
            const simd::lane_functions& f = table(target);
            py::array_t<complex> out(shape_of(z));
            const py::ssize_t n = z.size();
            const split_parts parts = split(z);
            const std::vector<double>&re = parts.re, &im = parts.im;
            complex* o = out.mutable_data();
            {
                py::gil_scoped_release release;
                f.hankel_block(kind, re.data(), im.data(), static_cast<int>(n), o);
            }
            return out;
        },
        py::arg("kind"), py::arg("z"), py::arg("target") = "",
        "H0^(kind)(z) by the lane code of target (default: this process's).");

    m.def(
        "lane_j0",
        [](const complex_array& z, const std::string& target) {
            const simd::lane_functions& f = table(target);
            py::array_t<complex> out(shape_of(z));
            const py::ssize_t n = z.size();
            const split_parts parts = split(z);
            const std::vector<double>&re = parts.re, &im = parts.im;
            complex* o = out.mutable_data();
            {
                py::gil_scoped_release release;
                f.j0_block(re.data(), im.data(), static_cast<int>(n), o);
            }
            return out;
        },
        py::arg("z"), py::arg("target") = "",
        "J0(z) by the lane code of target (default: this process's).");

    m.def(
        "lane_j01",
        [](const complex_array& z, const std::string& target) {
            const simd::lane_functions& f = table(target);
            py::array_t<complex> j0(shape_of(z)), j1(shape_of(z));
            const py::ssize_t n = z.size();
            const split_parts parts = split(z);
            complex* o0 = j0.mutable_data();
            complex* o1 = j1.mutable_data();
            {
                py::gil_scoped_release release;
                f.j01_block(parts.re.data(), parts.im.data(), static_cast<int>(n), o0, o1);
            }
            return py::make_tuple(j0, j1);
        },
        py::arg("z"), py::arg("target") = "",
        "(J0(z), J1(z)) by the lane code of target (default: this process's).");

    m.def(
        "lane_hankel01",
        [](int kind, const complex_array& z, const std::string& target) {
            const simd::lane_functions& f = table(target);
            py::array_t<complex> h0(shape_of(z)), h1(shape_of(z));
            const py::ssize_t n = z.size();
            const split_parts parts = split(z);
            complex* o0 = h0.mutable_data();
            complex* o1 = h1.mutable_data();
            {
                py::gil_scoped_release release;
                f.hankel01_block(kind, parts.re.data(), parts.im.data(), static_cast<int>(n), o0,
                                 o1);
            }
            return py::make_tuple(h0, h1);
        },
        py::arg("kind"), py::arg("z"), py::arg("target") = "",
        "(H0^(kind)(z), H1^(kind)(z)) by the lane code of target (default: this process's).");

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
