// Nanoseconds per call of the elementary operations a Gauss node is made of:
// the complex square root, exponential and quotient (standard and the core's
// short paths), the complex product, one evaluation of the six kernels, J0 of
// a real and of a complex argument, and hankel0 on a tail ray. Best of a few
// passes over arguments like those of the path; prints one JSON object.
//
//     nia_elementary_costs [n] [passes]        (defaults 4096 and 20)
//
// Built with -DNIA_BENCHMARKS=ON; benchmarks/bench_node_cost.py runs it.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/numeric.hpp"
#include "special/hankel.hpp"
#include "spectral/bessel_j.hpp"
#include "spectral/kernel.hpp"

namespace {

using nia::core::complex;

template <class F>
double ns_per_call(const std::vector<complex>& in, int passes, F f) {
    double best = 1e300;
    complex sink(0.0, 0.0);
    for (int p = 0; p < passes; ++p) {
        const auto t0 = std::chrono::steady_clock::now();
        for (const complex& x : in) sink += f(x);
        const auto t1 = std::chrono::steady_clock::now();
        const double ns = std::chrono::duration<double, std::nano>(t1 - t0).count() / in.size();
        if (ns < best) best = ns;
    }
    volatile double keep = sink.real() + sink.imag();
    (void)keep;
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace nia;
    const int n = argc > 1 ? std::atoi(argv[1]) : 4096;
    const int passes = argc > 2 ? std::atoi(argv[2]) : 20;
    if (n < 1 || passes < 1) {
        std::fprintf(stderr, "usage: nia_elementary_costs [n >= 1] [passes >= 1]\n");
        return 2;
    }
    // Kernel arguments along a shallow detour, Hankel arguments on a tail ray.
    std::vector<complex> lam(static_cast<std::size_t>(n)), ray(lam.size());
    for (std::size_t i = 0; i < lam.size(); ++i) {
        const double t = 3.0 * static_cast<double>(i) / static_cast<double>(n);
        lam[i] = complex(0.05 + t, 0.1 * std::sin(t));
        ray[i] = complex(10.0 + 3.0 * t, 3.0 * t);
    }
    const spectral::kernel_record r =
        spectral::make_kernel_record(0.5, -0.25, 1.0, complex(2.0, -0.5));
    const complex k(2.0, -0.5);
    struct figure {
        const char* name;
        double ns;
    };
    const figure figures[] = {
        {"complex sqrt (standard)",
         ns_per_call(lam, passes, [&](complex x) { return std::sqrt(k - x); })},
        {"complex sqrt (kernel)",
         ns_per_call(lam, passes, [&](complex x) { return core::principal_sqrt(k - x); })},
        {"complex exp (standard)",
         ns_per_call(lam, passes, [&](complex x) { return std::exp(-x); })},
        {"complex exp (kernel)",
         ns_per_call(lam, passes, [&](complex x) { return core::complex_exp(-x); })},
        {"complex quotient (standard)", ns_per_call(lam, passes, [&](complex x) { return k / x; })},
        {"complex quotient (kernel)",
         ns_per_call(lam, passes, [&](complex x) { return core::quotient(k, x); })},
        {"complex product", ns_per_call(lam, passes, [&](complex x) { return k * x; })},
        {"spectral_kernel", ns_per_call(lam, passes,
                                        [&](complex x) {
                                            complex out[6];
                                            spectral::spectral_kernel(r, x, out);
                                            return out[0] + out[4];
                                        })},
        {"bessel_j0 real argument",
         ns_per_call(
             lam, passes,
             [&](complex x) { return spectral::bessel_j0(complex(10.0 * x.real(), 0.0)); })},
        {"bessel_j0 complex argument",
         ns_per_call(lam, passes, [&](complex x) { return spectral::bessel_j0(x); })},
        {"hankel0 on a tail ray",
         ns_per_call(ray, passes, [&](complex x) { return special::hankel0(1, x); })},
    };
    std::printf("{");
    const char* sep = "";
    for (const figure& f : figures) {
        std::printf("%s\"%s\": %.3f", sep, f.name, f.ns);
        sep = ", ";
    }
    std::printf("}\n");
    return 0;
}
