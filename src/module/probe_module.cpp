// _near_interface_probe: test-only access to the internal numerics under their
// own names. Not part of the public interface; it adds no numerics of its own
// beyond synthetic panel rules that count their calls.
#include <pybind11/complex.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <cmath>
#include <complex>
#include <cstdint>
#include <vector>

#include "../pointwise/evaluate_triple.hpp"

namespace py = pybind11;
using nia::spectral::complex;
using nia::spectral::six_sum;

void register_special_probes(py::module_& m);
void register_simd_probes(py::module_& m);

namespace {

using real_array = py::array_t<double, py::array::c_style | py::array::forcecast>;
using complex_array = py::array_t<complex, py::array::c_style | py::array::forcecast>;

py::array_t<complex> to_array(const six_sum& s) {
    py::array_t<complex> a(6);
    auto v = a.mutable_unchecked<1>();
    for (int c = 0; c < 6; ++c) v(c) = s[c];
    return a;
}

struct gauss_rule {
    real_array gx, gw;
    int n() const { return static_cast<int>(gx.size() < gw.size() ? gx.size() : gw.size()); }
};

// A rule wrapper that counts its calls.
template <class Rule>
struct counted {
    const Rule& rule;
    std::int64_t* calls;
    template <class Ctx>
    void operator()(const Ctx& ctx, double a, double b, const double* gx, const double* gw,
                    int n, six_sum& out) const noexcept {
        ++*calls;
        rule(ctx, a, b, gx, gw, n, out);
    }
};

struct rule_counts {
    std::int64_t detour = 0, axis = 0, ray = 0;
};

struct counting_rules {
    rule_counts* counts;
    counted<nia::spectral::detour_panel_rule> detour() const noexcept {
        return {nia::spectral::detour_panel, &counts->detour};
    }
    counted<nia::spectral::axis_panel_rule> axis() const noexcept {
        return {nia::spectral::axis_panel, &counts->axis};
    }
    counted<nia::spectral::hankel_ray_rule_t> ray() const noexcept {
        return {nia::spectral::hankel_ray_rule, &counts->ray};
    }
};

nia::pointwise::batch_controls controls(double k_p, complex k_m, double rtol, double lam_mult,
                                        int depth, double detour, const gauss_rule& g) {
    return {k_p, k_m, rtol, lam_mult, depth, detour, g.gx.data(), g.gw.data(), g.n()};
}

// Synthetic integrand f_c(t) = coef_c exp(alpha_c t), Gauss sums per the
// panel-rule contract, with a call counter.
struct exp_ctx {
    complex coef[6];
    complex alpha[6];
    std::int64_t* calls;
};

struct exp_rule {
    void operator()(const exp_ctx& ctx, double a, double b, const double* gx, const double* gw,
                    int n, six_sum& out) const noexcept {
        ++*ctx.calls;
        nia::spectral::set_zero(out);
        const double mid = (a + b) * 0.5, half = (b - a) * 0.5;
        for (int i = 0; i < n; ++i) {
            const double t = mid + half * gx[i];
            for (int c = 0; c < 6; ++c) {
                out[c] += ctx.coef[c] * std::exp(ctx.alpha[c] * t) * (half * gw[i]);
            }
        }
    }
};

// Synthetic tail integrand, constant on each doubling panel of the ray so that
// panel j (covering [g (2^j - 1), g (2^(j+1) - 1)]) integrates to
// scale_c * values[j] (the last value repeats beyond the list).
struct step_ctx {
    double g;
    const complex* values;
    int n_values;
    complex scale[6];
    std::int64_t* calls;
};

struct step_rule {
    void operator()(const step_ctx& ctx, double a, double b, const double* gx, const double* gw,
                    int n, six_sum& out) const noexcept {
        ++*ctx.calls;
        nia::spectral::set_zero(out);
        const double mid = (a + b) * 0.5, half = (b - a) * 0.5;
        for (int i = 0; i < n; ++i) {
            const double t = mid + half * gx[i];
            double panel = std::floor(std::log2(t / ctx.g + 1.0));
            if (!(panel >= 0.0)) panel = 0.0;
            if (panel > 1000.0) panel = 1000.0;
            const int j = static_cast<int>(panel);
            const double length = ctx.g * std::ldexp(1.0, j);
            const complex v = ctx.values[j < ctx.n_values ? j : ctx.n_values - 1] / length;
            for (int c = 0; c < 6; ++c) out[c] += ctx.scale[c] * v * (half * gw[i]);
        }
    }
};

void copy6(const complex_array& src, complex* dst) {
    if (src.size() != 6) throw std::invalid_argument("need six channel values");
    for (int c = 0; c < 6; ++c) dst[c] = src.data()[c];
}

// Nanoseconds per call of f over the inputs, best of a few passes (for the
// benchmarks: the elementary operations a Gauss node is made of).
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

PYBIND11_MODULE(_near_interface_probe, m, py::mod_gil_not_used()) {
    using namespace nia;
    m.doc() = "Test-only probe of the internal numerics of _near_interface_accel.";

    m.def("vertical_wavenumber", py::vectorize(&spectral::vertical_wavenumber), py::arg("lam"),
          py::arg("k"));

    m.def(
        "spectral_kernel",
        [](double z, double zp, double k_p, complex k_m, complex_array lam) {
            const spectral::kernel_record r = spectral::make_kernel_record(z, zp, k_p, k_m);
            std::vector<py::ssize_t> shape(lam.shape(), lam.shape() + lam.ndim());
            shape.push_back(6);
            py::array_t<complex> out(shape);
            complex* o = out.mutable_data();
            const complex* l = lam.data();
            for (py::ssize_t i = 0; i < lam.size(); ++i) spectral::spectral_kernel(r, l[i], o + 6 * i);
            return out;
        },
        py::arg("z"), py::arg("zp"), py::arg("k_p"), py::arg("k_m"), py::arg("lam"),
        "The six kernel values at each lam (shape lam.shape + (6,)).");

    m.def("bessel_j0", py::vectorize(&spectral::bessel_j0), py::arg("z"));

    m.def(
        "hankel_pq",
        [](double x, double mu) {
            double p, q;
            spectral::hankel_pq(x, mu, p, q);
            return py::make_tuple(p, q);
        },
        py::arg("x_or_z"), py::arg("mu"));
    m.def(
        "hankel_pq",
        [](complex z, double mu) {
            complex p, q;
            spectral::hankel_pq(z, mu, p, q);
            return py::make_tuple(p, q);
        },
        py::arg("x_or_z"), py::arg("mu"));

    m.attr("reciprocal_table") = [] {
        py::list l;
        for (double v : spectral::reciprocal_table) l.append(v);
        return l;
    }();

    m.def(
        "detour_panel",
        [](double z, double zp, double k_p, complex k_m, double rho, double span, double height,
           double a, double b, real_array gx, real_array gw) {
            const gauss_rule g{gx, gw};
            const spectral::kernel_record r = spectral::make_kernel_record(z, zp, k_p, k_m);
            const spectral::axis_ctx axis{r, rho};
            const spectral::detour_ctx ctx{axis, span, height};
            six_sum out;
            spectral::detour_panel(ctx, a, b, g.gx.data(), g.gw.data(), g.n(), out);
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
            spectral::axis_panel(ctx, a, b, g.gx.data(), g.gw.data(), g.n(), out);
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
            spectral::hankel_ray_rule(ray, a, b, g.gx.data(), g.gw.data(), g.n(), out);
            return to_array(out);
        },
        py::arg("z"), py::arg("zp"), py::arg("k_p"), py::arg("k_m"), py::arg("origin"),
        py::arg("direction"), py::arg("rho"), py::arg("kind"), py::arg("a"), py::arg("b"),
        py::arg("gx"), py::arg("gw"));

    m.def(
        "triple_plan",
        [](double k_p, complex k_m, double rho, double z, double zp, double lam_mult,
           double detour) {
            const pointwise::triple_plan p =
                pointwise::plan_triple(k_p, k_m, rho, z, zp, lam_mult, detour);
            py::dict d;
            d["k_max"] = p.k_max;
            d["axis_end"] = p.axis_end;
            d["tail_start"] = p.tail_start;
            d["clear_tail_start"] =
                pointwise::clear_tail_start(p.tail_start, p.k_max, k_p, k_m, rho);
            d["detour_height"] = p.detour_height;
            d["tail_scale"] = p.tail_scale;
            d["break_points"] =
                std::vector<double>(p.break_points.begin(), p.break_points.begin() + p.n_break);
            return d;
        },
        py::arg("k_p"), py::arg("k_m"), py::arg("rho"), py::arg("z"), py::arg("zp"),
        py::arg("lam_mult"), py::arg("detour"),
        "Where the path of one triple runs: axis_end, the planned tail_start and the one the rays "
        "use (clear_tail_start), detour height, break points.");

    m.def(
        "trace_triple",
        [](double k_p, complex k_m, double rho, double z, double zp, double rtol, double lam_mult,
           int depth, double detour, real_array gx, real_array gw) {
            const gauss_rule g{gx, gw};
            const auto ctl = controls(k_p, k_m, rtol, lam_mult, depth, detour, g);
            rule_counts counts;
            pointwise::triple_pieces p;
            {
                py::gil_scoped_release release;
                p = pointwise::integrate_pieces(ctl, rho, z, zp, counting_rules{&counts});
            }
            py::dict d;
            d["detour"] = to_array(p.detour);
            d["segment"] = to_array(p.segment);
            d["tail"] = to_array(p.tail);
            d["ok"] = p.ok;
            d["detour_calls"] = counts.detour;
            d["axis_calls"] = counts.axis;
            d["ray_calls"] = counts.ray;
            return d;
        },
        py::arg("k_p"), py::arg("k_m"), py::arg("rho"), py::arg("z"), py::arg("zp"),
        py::arg("rtol"), py::arg("lam_mult"), py::arg("depth"), py::arg("detour"), py::arg("gx"),
        py::arg("gw"),
        "The three piece sums of one triple, whether its tail went quiet, and rule calls per piece.");

    m.def(
        "rule_calls",
        [](double k_p, complex k_m, real_array rho, real_array z, real_array zp, double rtol,
           double lam_mult, int depth, double detour, real_array gx, real_array gw) {
            const gauss_rule g{gx, gw};
            const auto ctl = controls(k_p, k_m, rtol, lam_mult, depth, detour, g);
            const py::ssize_t n = rho.size();
            if (z.size() != n || zp.size() != n) throw std::invalid_argument("length mismatch");
            py::array_t<std::int64_t> out({n, static_cast<py::ssize_t>(3)});
            std::int64_t* o = out.mutable_data();
            const double *r = rho.data(), *zz = z.data(), *zzp = zp.data();
            {
                py::gil_scoped_release release;
#pragma omp parallel for schedule(dynamic, 1)
                for (std::int64_t i = 0; i < n; ++i) {
                    rule_counts counts;
                    pointwise::integrate_pieces(ctl, r[i], zz[i], zzp[i], counting_rules{&counts});
                    o[3 * i] = counts.detour;
                    o[3 * i + 1] = counts.axis;
                    o[3 * i + 2] = counts.ray;
                }
            }
            return out;
        },
        py::arg("k_p"), py::arg("k_m"), py::arg("rho"), py::arg("z"), py::arg("zp"),
        py::arg("rtol"), py::arg("lam_mult"), py::arg("depth"), py::arg("detour"), py::arg("gx"),
        py::arg("gw"), "Panel-rule calls per triple: columns detour, segment, rays.");

    m.def(
        "synthetic_adaptive",
        [](complex_array coef, complex_array alpha, double a, double b, double rtol, int depth,
           real_array gx, real_array gw, double floor) {
            const gauss_rule g{gx, gw};
            std::int64_t calls = 0;
            exp_ctx ctx{};
            copy6(coef, ctx.coef);
            copy6(alpha, ctx.alpha);
            ctx.calls = &calls;
            six_sum out;
            pointwise::adaptive_panel(exp_rule{}, ctx, a, b, rtol, depth, g.gx.data(), g.gw.data(),
                                      g.n(), nullptr, floor, out);
            return py::make_tuple(to_array(out), calls);
        },
        py::arg("coef"), py::arg("alpha"), py::arg("a"), py::arg("b"), py::arg("rtol"),
        py::arg("depth"), py::arg("gx"), py::arg("gw"), py::arg("floor") = 0.0,
        "adaptive_panel over f_c(t) = coef_c exp(alpha_c t): (six values, rule calls).");

    m.def(
        "synthetic_tail",
        [](complex_array values, complex_array scale, double start, double tail_scale,
           double rtol, int depth, real_array gx, real_array gw) {
            const gauss_rule g{gx, gw};
            if (values.size() < 1) throw std::invalid_argument("need panel values");
            std::int64_t calls = 0;
            step_ctx ctx{};
            ctx.g = start < 0.25 * tail_scale ? start : 0.25 * tail_scale;
            ctx.values = values.data();
            ctx.n_values = static_cast<int>(values.size());
            copy6(scale, ctx.scale);
            ctx.calls = &calls;
            six_sum out;
            const bool ok = pointwise::rotated_tail(step_rule{}, ctx, start, tail_scale, rtol, depth,
                                                    g.gx.data(), g.gw.data(), g.n(), out);
            return py::make_tuple(to_array(out), ok, calls);
        },
        py::arg("values"), py::arg("scale"), py::arg("start"), py::arg("tail_scale"),
        py::arg("rtol"), py::arg("depth"), py::arg("gx"), py::arg("gw"),
        "rotated_tail over an integrand whose panel j integrates to scale_c * values[j]: "
        "(six values, went quiet, rule calls).");

    m.def(
        "elementary_costs",
        [](int n, int passes) {
            using namespace nia::spectral;
            std::vector<complex> lam(static_cast<std::size_t>(n)), ray(lam.size());
            for (std::size_t i = 0; i < lam.size(); ++i) {
                const double t = 3.0 * static_cast<double>(i) / static_cast<double>(n);
                lam[i] = complex(0.05 + t, 0.1 * std::sin(t));
                ray[i] = complex(10.0 + 3.0 * t, 3.0 * t);
            }
            const kernel_record r = make_kernel_record(0.5, -0.25, 1.0, complex(2.0, -0.5));
            const complex k(2.0, -0.5);
            double sqrt_std = 0.0, sqrt_fast = 0.0, exp_std = 0.0, exp_fast = 0.0;
            double div_std = 0.0, div_fast = 0.0, mul = 0.0, kernel = 0.0;
            double j0_real = 0.0, j0_complex = 0.0, h0 = 0.0;
            {
                py::gil_scoped_release release;
                sqrt_std = ns_per_call(lam, passes, [&](complex x) { return std::sqrt(k - x); });
                sqrt_fast = ns_per_call(lam, passes, [&](complex x) { return principal_sqrt(k - x); });
                exp_std = ns_per_call(lam, passes, [&](complex x) { return std::exp(-x); });
                exp_fast = ns_per_call(lam, passes, [&](complex x) { return complex_exp(-x); });
                div_std = ns_per_call(lam, passes, [&](complex x) { return k / x; });
                div_fast = ns_per_call(lam, passes, [&](complex x) { return quotient(k, x); });
                mul = ns_per_call(lam, passes, [&](complex x) { return k * x; });
                kernel = ns_per_call(lam, passes, [&](complex x) {
                    complex out[6];
                    spectral_kernel(r, x, out);
                    return out[0] + out[4];
                });
                j0_real = ns_per_call(lam, passes, [&](complex x) {
                    return bessel_j0(complex(10.0 * x.real(), 0.0));
                });
                j0_complex = ns_per_call(lam, passes, [&](complex x) { return bessel_j0(x); });
                h0 = ns_per_call(ray, passes, [&](complex x) { return nia::special::hankel0(1, x); });
            }
            py::dict d;
            d["complex sqrt (standard)"] = sqrt_std;
            d["complex sqrt (kernel)"] = sqrt_fast;
            d["complex exp (standard)"] = exp_std;
            d["complex exp (kernel)"] = exp_fast;
            d["complex quotient (standard)"] = div_std;
            d["complex quotient (kernel)"] = div_fast;
            d["complex product"] = mul;
            d["spectral_kernel"] = kernel;
            d["bessel_j0 real argument"] = j0_real;
            d["bessel_j0 complex argument"] = j0_complex;
            d["hankel0 on a tail ray"] = h0;
            return d;
        },
        py::arg("n") = 4096, py::arg("passes") = 20,
        "Nanoseconds per call of the elementary operations of a Gauss node (best of passes).");

    m.attr("panel_budget") = pointwise::panel_budget;

    register_special_probes(m);
    register_simd_probes(m);
}
