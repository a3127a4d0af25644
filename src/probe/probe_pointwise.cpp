// Probes of the per-point layer: where the path of a triple runs, the driver
// with panel rules that count their calls, and the integrator and the rotated
// tail over synthetic integrands whose integrals are known.
#include <pybind11/stl.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

#include "../module/row_loop.hpp"
#include "../pointwise/evaluate_triple.hpp"
#include "../pointwise/far_range.hpp"
#include "probe_common.hpp"

namespace nia::probe {

namespace {

// A rule wrapper that counts its calls.
template <class Rule>
struct counted {
    Rule rule;
    std::int64_t* calls;
    template <class Ctx>
    void operator()(const Ctx& ctx, double a, double b, const double* gx, const double* gw, int n,
                    six_sum& out) const noexcept {
        ++*calls;
        rule(ctx, a, b, gx, gw, n, out);
    }
};

struct rule_counts {
    std::int64_t detour = 0, axis = 0, ray = 0;
};

struct counting_rules {
    using sum_type = six_sum;
    rule_counts* counts;
    using six = spectral::six_channels;
    counted<spectral::detour_rule<six>> detour() const noexcept { return {{}, &counts->detour}; }
    counted<spectral::axis_rule<six>> axis() const noexcept { return {{}, &counts->axis}; }
    counted<spectral::ray_rule<six>> ray() const noexcept { return {{}, &counts->ray}; }
};

pointwise::batch_controls controls(double k_p, complex k_m, double rtol, double lam_mult, int depth,
                                   double detour, const gauss_rule& g) {
    return {k_p, k_m, rtol, lam_mult, depth, detour, g.gx.data(), g.gw.data(), g.n()};
}

// Registers name(k_p, k_m, rho, z, zp, rtol, lam_mult, depth, detour, gx, gw):
// the triples of the three arrays (of one length n) in the batches' row loop,
// row(ctl, rho_i, z_i, zp_i, out) writing the Columns values of row i of an
// (n, Columns) array of T.
template <class T, int Columns, class Row>
void def_triple_rows(py::module_& m, const char* name, Row row, const char* doc) {
    m.def(
        name,
        [row](double k_p, complex k_m, real_array rho, real_array z, real_array zp, double rtol,
              double lam_mult, int depth, double detour, real_array gx, real_array gw) {
            const gauss_rule g{gx, gw};
            const auto ctl = controls(k_p, k_m, rtol, lam_mult, depth, detour, g);
            const py::ssize_t n = rho.size();
            if (z.size() != n || zp.size() != n) throw std::invalid_argument("length mismatch");
            py::array_t<T> out({n, static_cast<py::ssize_t>(Columns)});
            T* o = out.mutable_data();
            const double *r = rho.data(), *zz = z.data(), *zzp = zp.data();
            module::for_each_row(n, [&](std::int64_t i) noexcept {
                row(ctl, r[i], zz[i], zzp[i], o + Columns * i);
            });
            return out;
        },
        py::arg("k_p"), py::arg("k_m"), py::arg("rho"), py::arg("z"), py::arg("zp"),
        py::arg("rtol"), py::arg("lam_mult"), py::arg("depth"), py::arg("detour"), py::arg("gx"),
        py::arg("gw"), doc);
}

// Registers name(k_p, k_m, rho, z, zp, rtol, depth, gx, gw): the far range of
// one triple, row(ctl, rho, z, zp), under the batch's other controls.
template <class Row>
void def_far_row(py::module_& m, const char* name, Row row, const char* doc) {
    m.def(
        name,
        [row](double k_p, complex k_m, double rho, double z, double zp, double rtol, int depth,
              real_array gx, real_array gw) {
            const gauss_rule g{gx, gw};
            return row(controls(k_p, k_m, rtol, 10.0, depth, 0.1, g), rho, z, zp);
        },
        py::arg("k_p"), py::arg("k_m"), py::arg("rho"), py::arg("z"), py::arg("zp"),
        py::arg("rtol"), py::arg("depth"), py::arg("gx"), py::arg("gw"), doc);
}

// A synthetic panel rule like the spectral ones: the Gauss sum over [a, b] of
// the six channel values ctx.values_at(t, v) gives at each node, with a call
// counter.
struct synthetic_rule {
    template <class Ctx>
    void operator()(const Ctx& ctx, double a, double b, const double* gx, const double* gw, int n,
                    six_sum& out) const noexcept {
        ++*ctx.calls;
        spectral::set_zero(out);
        const double mid = (a + b) * 0.5, half = (b - a) * 0.5;
        complex v[6];
        for (int i = 0; i < n; ++i) {
            ctx.values_at(mid + half * gx[i], v);
            for (int c = 0; c < 6; ++c) out[c] += v[c] * (half * gw[i]);
        }
    }
};

// Synthetic integrand f_c(t) = coef_c exp(alpha_c t).
struct exp_ctx {
    complex coef[6];
    complex alpha[6];
    std::int64_t* calls;
    void values_at(double t, complex* v) const noexcept {
        for (int c = 0; c < 6; ++c) v[c] = coef[c] * std::exp(alpha[c] * t);
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
    void values_at(double t, complex* v) const noexcept {
        double panel = std::floor(std::log2(t / g + 1.0));
        if (!(panel >= 0.0)) panel = 0.0;
        if (panel > 1000.0) panel = 1000.0;
        const int j = static_cast<int>(panel);
        const double length = g * std::ldexp(1.0, j);
        const complex value = values[j < n_values ? j : n_values - 1] / length;
        for (int c = 0; c < 6; ++c) v[c] = scale[c] * value;
    }
};

// Two channels with the order-one factors: lambda K_0 against J1 and
// lambda K_1 against J1 / rho (even kernels, as the whole-axis form needs).
// Since d/drho J0(lambda rho) = -lambda J1(lambda rho), their integrals are
// -dI_0/drho and -(1/rho) dI_1/drho of the six-channel batch.
struct order_one_channels {
    static constexpr int size = 2;
    static constexpr std::array<spectral::bessel_factor, 2> factors = {
        spectral::bessel_factor::j1, spectral::bessel_factor::j1_over_rho};
    static void values(const spectral::kernel_record& r, complex lam, complex gp, complex gm,
                       complex* K) noexcept {
        complex six[6];
        spectral::kernel_from_gammas(r, lam, gp, gm, six);
        K[0] = lam * six[0];
        K[1] = lam * six[1];
    }
};

void copy6(const complex_array& src, complex* dst) {
    if (src.size() != 6) throw std::invalid_argument("need six channel values");
    for (int c = 0; c < 6; ++c) dst[c] = src.data()[c];
}

}  // namespace

void register_pointwise_probes(py::module_& m) {
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
            d["clear_detour_height"] =
                pointwise::clear_detour_height(p.detour_height, p.axis_end, k_p, k_m);
            d["tail_scale"] = p.tail_scale;
            d["break_points"] =
                std::vector<double>(p.break_points.begin(), p.break_points.begin() + p.n_break);
            return d;
        },
        py::arg("k_p"), py::arg("k_m"), py::arg("rho"), py::arg("z"), py::arg("zp"),
        py::arg("lam_mult"), py::arg("detour"),
        "Where the path of one triple runs: axis_end, the planned tail_start and detour height and "
        "the ones the path uses (clear_tail_start, clear_detour_height), break points.");

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
        "The three piece sums of one triple, whether its tail went quiet, and rule calls per "
        "piece.");

    def_triple_rows<std::int64_t, 3>(
        m, "rule_calls",
        [](const pointwise::batch_controls& ctl, double rho, double z, double zp,
           std::int64_t* o) noexcept {
            rule_counts counts;
            pointwise::integrate_pieces(ctl, rho, z, zp, counting_rules{&counts});
            o[0] = counts.detour;
            o[1] = counts.axis;
            o[2] = counts.ray;
        },
        "Panel-rule calls per triple: columns detour, segment, rays.");

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
            pointwise::adaptive_panel(synthetic_rule{}, ctx, a, b, rtol, depth, g.gx.data(),
                                      g.gw.data(), g.n(), nullptr, floor, out);
            return py::make_tuple(to_array(out), calls);
        },
        py::arg("coef"), py::arg("alpha"), py::arg("a"), py::arg("b"), py::arg("rtol"),
        py::arg("depth"), py::arg("gx"), py::arg("gw"), py::arg("floor") = 0.0,
        "adaptive_panel over f_c(t) = coef_c exp(alpha_c t): (six values, rule calls).");

    m.def(
        "synthetic_tail",
        [](complex_array values, complex_array scale, double start, double tail_scale, double rtol,
           int depth, real_array gx, real_array gw, std::optional<double> panel_length) {
            const gauss_rule g{gx, gw};
            if (values.size() < 1) throw std::invalid_argument("need panel values");
            std::int64_t calls = 0;
            step_ctx ctx{};
            ctx.g = panel_length ? *panel_length : pointwise::first_panel_length(start, tail_scale);
            ctx.values = values.data();
            ctx.n_values = static_cast<int>(values.size());
            copy6(scale, ctx.scale);
            ctx.calls = &calls;
            six_sum out;
            const bool ok = pointwise::rotated_tail(synthetic_rule{}, ctx, start, tail_scale, rtol,
                                                    depth, g.gx.data(), g.gw.data(), g.n(), out);
            return py::make_tuple(to_array(out), ok, calls);
        },
        py::arg("values"), py::arg("scale"), py::arg("start"), py::arg("tail_scale"),
        py::arg("rtol"), py::arg("depth"), py::arg("gx"), py::arg("gw"),
        py::arg("panel_length") = py::none(),
        "rotated_tail over an integrand constant on doubling panels [g (2^j - 1), "
        "g (2^(j+1) - 1)], panel j integrating to scale_c * values[j]; g is panel_length, "
        "by default the tail's own first panel: (six values, went quiet, rule calls).");

    m.def(
        "far_range_applies",
        [](double k_p, complex k_m, double rho, double z, double zp) {
            const double g[1] = {0.0};
            const pointwise::batch_controls ctl{k_p, k_m, 1e-8, 10.0, 20, 0.1, g, g, 1};
            return pointwise::far_range_applies(ctl, rho, z, zp);
        },
        py::arg("k_p"), py::arg("k_m"), py::arg("rho"), py::arg("z"), py::arg("zp"),
        "Whether the batch entry takes the far range (branch-cut integrals) for this triple.");

    def_far_row(
        m, "far_row",
        [](const pointwise::batch_controls& ctl, double rho, double z, double zp) {
            six_sum out;
            pointwise::row_tally tally;
            bool ok;
            {
                py::gil_scoped_release release;
                ok = pointwise::integrate_far<spectral::six_channels>(ctl, rho, z, zp, out, tally);
            }
            py::dict d;
            d["values"] = to_array(out);
            d["ok"] = ok;
            d["nodes"] = tally.nodes;
            d["limit_panels"] = tally.limit_panels;
            d["tail_panels"] = tally.tail_panels;
            return d;
        },
        "The far range of one triple, whatever the criterion says: values, whether both cut "
        "integrals went quiet, Gauss nodes, panels at the depth limit, cut panels.");

    def_far_row(
        m, "far_row_order_one",
        [](const pointwise::batch_controls& ctl, double rho, double z, double zp) {
            spectral::channel_sum<2> out;
            pointwise::no_tally none;
            const bool ok =
                pointwise::integrate_far<order_one_channels>(ctl, rho, z, zp, out, none);
            return py::make_tuple(py::make_tuple(out[0], out[1]), ok);
        },
        "The far range of a two-channel set with the order-one factors: lambda K_0 against J1 "
        "and lambda K_1 against J1 / rho; ((values), went quiet).");

    def_triple_rows<complex, 6>(
        m, "j0_form_rows",
        [](const pointwise::batch_controls& ctl, double rho, double z, double zp,
           complex* o) noexcept {
            const pointwise::triple_pieces p =
                pointwise::integrate_pieces(ctl, rho, z, zp, pointwise::plain_rules{});
            for (int c = 0; c < 6; ++c) {
                o[c] = p.ok ? (p.segment[c] + p.detour[c]) + p.tail[c] : complex(NAN, NAN);
            }
        },
        "Rows along the J0-form path of every triple, the far range never taken (NaN where a "
        "tail does not go quiet).");

    m.attr("panel_budget") = pointwise::panel_budget;
}

}  // namespace nia::probe
