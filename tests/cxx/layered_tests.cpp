// The transmission-line response of a stack, held to the identities that pin a
// layered solution down: continuity of f and Y (f_up - f_down) at every
// interface, reciprocity between layers, invisible interfaces between copies
// of one medium, and the closed-form Fresnel waves of two half-spaces. Built
// with -DNIA_CXX_TESTS=ON and run by ctest.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <vector>

#include "pointwise/evaluate_layered.hpp"
#include "pointwise/evaluate_row.hpp"
#include "spectral/field_channels.hpp"
#include "spectral/layered_channels.hpp"

namespace {

using nia::spectral::complex;
using nia::spectral::layer_stack;
using nia::spectral::layered_point;
using nia::spectral::polarisation;
using nia::spectral::wave_pair;

int failures = 0;

void check(bool ok, const char* what, int line, double value) {
    if (!ok) {
        ++failures;
        std::printf("FAILED line %d: %s (%.3e)\n", line, what, value);
    }
}

#define CHECK_SMALL(value, bound) check((value) <= (bound), #value " <= " #bound, __LINE__, (value))

struct layer {
    complex eps_r;
    complex mu_r;
};

// A stack at free-space wavenumber k0 from its media and interface heights.
layer_stack make_stack(double k0, const std::vector<layer>& media, const std::vector<double>& h) {
    layer_stack st;
    st.n = static_cast<int>(media.size());
    for (int j = 0; j < st.n; ++j) {
        const complex prod = media[j].eps_r * media[j].mu_r;
        complex k = k0 * std::sqrt(prod);
        if (k.imag() > 0.0 || (k.imag() == 0.0 && k.real() < 0.0)) k = -k;
        st.k[j] = k;
        st.inv_mu[j] = 1.0 / media[j].mu_r;
        st.inv_eps[j] = 1.0 / media[j].eps_r;
        st.top[j] = j == 0 ? INFINITY : h[j - 1];
        st.bottom[j] = j == st.n - 1 ? -INFINITY : h[j];
    }
    return st;
}

wave_pair waves(const layer_stack& st, const layered_point& pt, const complex* gamma,
                polarisation pol) {
    wave_pair w[2];
    nia::spectral::layered_response(st, pt, gamma, w);
    return w[pol == polarisation::te ? 0 : 1];
}

// The total field f and Y (f_up - f_down) at height z in layer r, for the
// symmetric source (unit upgoing wave above zp and unit downgoing below it).
struct line_values {
    complex f, current;
    double scale;  // |f_up| + |f_down|: what rounding is relative to
};

line_values total(const layer_stack& st, int s, int r, double z, double zp, complex lam,
                  polarisation pol) {
    std::array<complex, nia::spectral::max_layers> gamma;
    nia::spectral::stack_vertical_wavenumbers(st, lam, gamma.data());
    const wave_pair w = waves(st, {s, r, z, zp}, gamma.data(), pol);
    complex up = w.up[0] + w.up[1], down = w.down[0] + w.down[1];
    // f and the current from the response's own sums (kept near a face)
    complex f = w.plus[0] + w.plus[1], difference = w.minus[0] + w.minus[1];
    if (r == s) {
        const complex primary = std::exp(-gamma[s] * std::fabs(z - zp));
        if (z > zp) {
            up += primary;
            difference += primary;
        } else {
            down += primary;
            difference -= primary;
        }
        f += primary;
    }
    const complex y = gamma[r] * (pol == polarisation::te ? st.inv_mu[r] : st.inv_eps[r]);
    return {f, y * difference, std::abs(up) + std::abs(down)};
}

// The characteristic admittance of layer j at lambda.
complex gamma_factor(const layer_stack& st, int j, complex lam, polarisation pol) {
    std::array<complex, nia::spectral::max_layers> gamma;
    nia::spectral::stack_vertical_wavenumbers(st, lam, gamma.data());
    return gamma[j] * (pol == polarisation::te ? st.inv_mu[j] : st.inv_eps[j]);
}

double rel(complex a, complex b) { return std::abs(a - b) / std::fmax(std::abs(a), std::abs(b)); }

// Stacks of 2, 3 and 5 media: sea water under air, a thin resistor in
// sediments, a plasmonic film, a lossy top medium, a magnetic layer.
std::vector<std::pair<layer_stack, std::vector<double>>> stacks() {
    std::vector<std::pair<layer_stack, std::vector<double>>> out;
    const auto add = [&](double k0, std::vector<layer> m, std::vector<double> h) {
        out.emplace_back(make_stack(k0, m, h), h);
    };
    add(0.02, {{1.0, 1.0}, {{81.0, -7.19e4}, 1.0}}, {0.0});
    add(2e-8,
        {{1.0, 1.0},
         {{1.0, -8.9e9}, 1.0},
         {{1.0, -1.8e9}, 1.0},
         {{1.0, -1.8e7}, 1.0},
         {{1.0, -1.8e9}, 1.0}},
        {0.0, -1000.0, -1500.0, -1600.0});
    add(1.0, {{{2.0, -0.5}, 1.0}, {{-10.0, -1.0}, 1.0}, {2.25, 1.0}}, {0.0, -0.05});
    add(3.0, {{1.0, 1.0}, {{20.0, -18.0}, {2.0, -0.1}}, {4.0, 1.0}}, {0.3, -0.2});
    return out;
}

void continuity_at_every_interface() {
    const complex lams[] = {{0.3, 0.0}, {0.9, -0.05}, {1.7, 0.4}, {4.0, -2.0}, {12.0, 0.0}};
    for (const auto& [st, h] : stacks()) {
        const double scale = std::abs(st.k[st.n - 1]) + std::abs(st.k[0]);
        for (int s = 0; s < st.n; ++s) {
            // a source inside each layer (a tenth of its thickness from the nearer interface)
            const double zp = s == 0          ? h[0] + 0.3
                              : s == st.n - 1 ? h.back() - 0.2
                                              : st.bottom[s] + 0.4 * (st.top[s] - st.bottom[s]);
            for (complex lam : lams) {
                lam *= scale;
                for (polarisation pol : {polarisation::te, polarisation::tm}) {
                    for (int i = 1; i < st.n; ++i) {
                        const double zi = h[i - 1];
                        const line_values a = total(st, s, i - 1, zi, zp, lam, pol);
                        const line_values b = total(st, s, i, zi, zp, lam, pol);
                        // to rounding of the parts each side sums: across sea
                        // water under air the TM waves cancel to 1e-10
                        CHECK_SMALL(std::abs(a.f - b.f) / (a.scale + b.scale), 1e-13);
                        CHECK_SMALL(std::abs(a.current - b.current) /
                                        (std::abs(gamma_factor(st, i - 1, lam, pol)) * a.scale +
                                         std::abs(gamma_factor(st, i, lam, pol)) * b.scale),
                                    1e-13);
                    }
                }
            }
        }
    }
}

// The line's Green's function for a unit jump of Y (f_up - f_down) is f / (2 Y_s):
// symmetric under exchange of source and receiver, in any two layers.
void reciprocity_between_layers() {
    const complex lams[] = {{0.5, -0.01}, {1.3, 0.2}, {6.0, 0.0}};
    for (const auto& [st, h] : stacks()) {
        const double scale = std::abs(st.k[st.n - 1]) + std::abs(st.k[0]);
        std::vector<double> at;
        for (int j = 0; j < st.n; ++j) {
            at.push_back(j == 0          ? h[0] + 0.25
                         : j == st.n - 1 ? h.back() - 0.15
                                         : st.bottom[j] + 0.3 * (st.top[j] - st.bottom[j]));
        }
        for (complex lam : lams) {
            lam *= scale;
            std::array<complex, nia::spectral::max_layers> g;
            nia::spectral::stack_vertical_wavenumbers(st, lam, g.data());
            for (polarisation pol : {polarisation::te, polarisation::tm}) {
                const auto& f = pol == polarisation::te ? st.inv_mu : st.inv_eps;
                for (int s = 0; s < st.n; ++s) {
                    for (int r = 0; r < st.n; ++r) {
                        if (r == s) continue;
                        const complex ab =
                            total(st, s, r, at[r], at[s], lam, pol).f / (g[s] * f[s]);
                        const complex ba =
                            total(st, r, s, at[s], at[r], lam, pol).f / (g[r] * f[r]);
                        CHECK_SMALL(rel(ab, ba), 1e-12);
                    }
                }
            }
        }
    }
}

// Interfaces between copies of one medium reflect nothing, and two half-spaces
// give Fresnel's waves.
void invisible_interfaces_and_fresnel() {
    const layer soil{{20.0, -18.0}, 1.0};
    const layer_stack one = make_stack(1.0, {soil, soil, soil, soil}, {1.0, 0.0, -0.5});
    const complex lam(2.5, -0.3);
    std::array<complex, nia::spectral::max_layers> g;
    nia::spectral::stack_vertical_wavenumbers(one, lam, g.data());
    for (int s = 0; s < 4; ++s) {
        for (int r = 0; r < 4; ++r) {
            const double zp = one.top[s] < INFINITY ? one.top[s] - 0.1 : 1.4;
            const double z = one.bottom[r] > -INFINITY ? one.bottom[r] + 0.05 : -0.9;
            const wave_pair w = waves(one, {s, r, z, zp}, g.data(), polarisation::tm);
            // g is the path's root in every layer of one medium only where
            // Re gamma >= 0 agrees with it; here it does (lambda off the cuts).
            const complex through = r < s ? std::exp(-g[0] * (z - zp)) : std::exp(g[0] * (z - zp));
            if (r == s) {
                CHECK_SMALL(std::abs(w.up[0]) + std::abs(w.up[1]) + std::abs(w.down[0]) +
                                std::abs(w.down[1]),
                            1e-15);
            } else if (r < s) {
                CHECK_SMALL(rel(w.up[0], through), 1e-14);
                CHECK_SMALL(std::abs(w.up[1]) + std::abs(w.down[0]) + std::abs(w.down[1]), 1e-15);
            } else {
                CHECK_SMALL(rel(w.down[1], through), 1e-14);
                CHECK_SMALL(std::abs(w.down[0]) + std::abs(w.up[0]) + std::abs(w.up[1]), 1e-15);
            }
        }
    }
    // Air over wet soil with mu_r = 2: the TE wave of a source at zp = -0.4
    // seen at z = 0.7 and reflected back to z = -0.1.
    const layer_stack two = make_stack(1.0, {{1.0, 1.0}, {{20.0, -18.0}, 2.0}}, {0.0});
    nia::spectral::stack_vertical_wavenumbers(two, lam, g.data());
    const complex y0 = g[0], y1 = g[1] / 2.0;
    const wave_pair up = waves(two, {1, 0, 0.7, -0.4}, g.data(), polarisation::te);
    CHECK_SMALL(rel(up.up[0], 2.0 * y1 / (y0 + y1) * std::exp(-g[1] * 0.4 - g[0] * 0.7)), 1e-14);
    const wave_pair back = waves(two, {1, 1, -0.1, -0.4}, g.data(), polarisation::te);
    CHECK_SMALL(rel(back.down[0], (y1 - y0) / (y1 + y0) * std::exp(-g[1] * 0.4 - g[1] * 0.1)),
                1e-14);
}

// E / eta0 and H at one node from columns K of a channel set, for Bessel
// factor values b (J0, J1, J1/rho: independent symbols, since every component
// is linear in them) and a moment of components u_z, u_rho, u_phi.
using field6 = std::array<complex, 6>;
template <class C>
std::array<complex, C::size> weighted(const complex* K, const std::array<complex, 3>& b) {
    std::array<complex, C::size> v;
    for (int c = 0; c < C::size; ++c) v[c] = K[c] * b[static_cast<int>(C::factors[c])];
    return v;
}

// E / eta0 and H of a moment of components u (u_z, u_rho, u_phi) from the
// weighted columns of the two-media sets (e: electric, m: magnetic) at free-space
// wavenumber k0 and upper wavenumber k_p, and from those of the layered sets.
struct fields_of {
    double k0, k_p;
    std::array<double, 3> u;
    field6 two_media_electric(const complex* e) const {
        const complex j(0.0, 1.0);
        return {-j * k0 * (u[0] * e[1] + u[1] * (e[3] + e[4] - e[0])),
                -j * k0 * u[2] * (e[3] - e[4]),
                -j * k0 * (u[0] * e[0] + u[1] * e[5]),
                k_p * u[2] * (e[6] - e[8]),
                k_p * (u[0] * e[2] + u[1] * (e[7] - e[6] - e[8])),
                -k_p * u[2] * e[9]};
    }
    field6 two_media_magnetic(const complex* m) const {
        const complex j(0.0, 1.0), g = -j * k0 / k_p;
        return {g * u[2] * (m[7] - m[9]), g * (u[0] * m[2] + u[1] * (m[8] - m[7] - m[9])),
                -g * u[2] * m[10],        u[0] * m[1] + u[1] * (m[3] + m[5] - m[4]),
                u[2] * (m[3] - m[5]),     u[0] * m[0] - u[1] * m[6]};
    }
    field6 layered_electric(const complex* l) const {
        const complex j(0.0, 1.0);
        return {-u[0] * l[8] + u[1] * (l[2] - l[1]),
                u[2] * (l[0] - l[2]),
                -u[0] * l[9] + u[1] * l[3],
                u[2] * (l[4] - l[6]),
                -j * u[0] * l[10] + u[1] * (l[5] - l[6]),
                -u[2] * l[7]};
    }
    field6 layered_magnetic(const complex* n) const {
        const complex j(0.0, 1.0);
        return {-u[2] * (n[0] + n[1]), -j * u[0] * n[8] + u[1] * (n[2] - n[1]),
                j * u[2] * n[3],       u[0] * n[9] + u[1] * (n[4] - n[5]),
                u[2] * (n[5] + n[6]),  u[0] * n[10] - j * u[1] * n[7]};
    }
};

// Largest difference of E (and of H) relative to the largest component of the
// reference's E (H).
double field_difference(const field6& got, const field6& ref) {
    double worst = 0.0;
    for (int part = 0; part < 2; ++part) {
        double size = 0.0, diff = 0.0;
        for (int i = 3 * part; i < 3 * part + 3; ++i) {
            size = std::fmax(size, std::abs(ref[i]));
            diff = std::fmax(diff, std::abs(got[i] - ref[i]));
        }
        worst = std::fmax(worst, diff / size);
    }
    return worst;
}

// Two half-spaces with the dipole below and the receiver above: the layered
// columns of a two-media stack give, node by node, the fields of the
// two-media field columns, for both sources and every orientation.
void two_media_columns_agree() {
    const double k0 = 1.3, z = 0.7, zp = -0.4;
    const layer_stack st = make_stack(k0, {{1.0, 1.0}, {{20.0, -18.0}, 1.0}}, {0.0});
    const nia::spectral::kernel_record two =
        nia::spectral::make_kernel_record(z, zp, st.k[0].real(), st.k[1]);
    const nia::spectral::layered_record lay = nia::spectral::make_layered_record(st, k0, z, zp);
    const std::array<complex, 3> b = {{{0.7, -0.2}, {-0.3, 0.9}, {1.1, 0.4}}};
    const fields_of f{k0, st.k[0].real(), {0.6, -0.48, 0.64}};
    using nia::spectral::electric_channels;
    using nia::spectral::layered_electric_channels;
    using nia::spectral::layered_magnetic_channels;
    using nia::spectral::magnetic_channels;
    for (complex lam :
         {complex(0.4, 0.1), complex(1.2, 0.3), complex(3.0, 0.0), complex(8.0, -2.0)}) {
        lam *= k0;
        const complex gp = nia::spectral::vertical_wavenumber(lam, st.k[0]);
        const complex gm = nia::spectral::vertical_wavenumber(lam, st.k[1]);
        complex K[11], L[11];
        electric_channels::values(two, lam, gp, gm, K);
        layered_electric_channels::values(lay, lam, L);
        CHECK_SMALL(
            field_difference(f.layered_electric(weighted<layered_electric_channels>(L, b).data()),
                             f.two_media_electric(weighted<electric_channels>(K, b).data())),
            1e-13);
        magnetic_channels::values(two, lam, gp, gm, K);
        layered_magnetic_channels::values(lay, lam, L);
        CHECK_SMALL(
            field_difference(f.layered_magnetic(weighted<layered_magnetic_channels>(L, b).data()),
                             f.two_media_magnetic(weighted<magnetic_channels>(K, b).data())),
            1e-13);
    }
}

// The same stack's rows along the one path (the layered sets through the
// generic panel rules) against the field batch's rows, both sources and a
// tilted moment, on the axis, off it and on the interface.
void two_media_rows_agree() {
    static const double gx[8] = {-0.9602898564975363, -0.7966664774136267, -0.5255324099163290,
                                 -0.1834346424956498, 0.1834346424956498,  0.5255324099163290,
                                 0.7966664774136267,  0.9602898564975363};
    static const double gw[8] = {0.1012285362903763, 0.2223810344533745, 0.3137066458778873,
                                 0.3626837833783620, 0.3626837833783620, 0.3137066458778873,
                                 0.2223810344533745, 0.1012285362903763};
    const double k0 = 1.3;
    const layer_stack st = make_stack(k0, {{1.0, 1.0}, {{20.0, -18.0}, 1.0}}, {0.0});
    const double k_p = st.k[0].real();
    const nia::pointwise::batch_controls ctl{k_p, st.k[1], 1e-11, 10.0, 20, 0.1, gx, gw, 8};
    const fields_of f{k0, k_p, {0.6, -0.48, 0.64}};
    using nia::spectral::electric_channels;
    using nia::spectral::layered_electric_channels;
    using nia::spectral::layered_magnetic_channels;
    using nia::spectral::magnetic_channels;
    nia::pointwise::no_tally none;
    for (const auto& [rho, z, zp] :
         {std::array<double, 3>{2.0, 0.7, -0.4}, std::array<double, 3>{0.0, 0.5, -0.3},
          std::array<double, 3>{5.0, 0.0, 0.0}, std::array<double, 3>{0.3, 0.1, -0.05}}) {
        nia::spectral::channel_sum<10> e;
        nia::spectral::channel_sum<11> m, le, lm;
        CHECK_SMALL(
            nia::pointwise::evaluate_row<electric_channels>(ctl, rho, z, zp, e, none) ? 0.0 : 1.0,
            0.0);
        nia::pointwise::evaluate_row<magnetic_channels>(ctl, rho, z, zp, m, none);
        CHECK_SMALL(nia::pointwise::evaluate_layered_row<layered_electric_channels>(
                        ctl, st, k0, rho, z, zp, le, none)
                        ? 0.0
                        : 1.0,
                    0.0);
        nia::pointwise::evaluate_layered_row<layered_magnetic_channels>(ctl, st, k0, rho, z, zp, lm,
                                                                        none);
        CHECK_SMALL(field_difference(f.layered_electric(le.data()), f.two_media_electric(e.data())),
                    5e-13);
        CHECK_SMALL(field_difference(f.layered_magnetic(lm.data()), f.two_media_magnetic(m.data())),
                    5e-13);
    }
}

// The surface-wave poles of a stack of two media: with mu_r = 1 the TM zero
// is the two half-spaces' interface pole, its corrected value too (they
// differ below that by the rounding of 1 / eps_r against k_m^2 / k_p^2);
// each zero makes its Fresnel denominator vanish; equal admittance factors
// (the TE one of non-magnetic media) have none.
void fresnel_poles() {
    using nia::spectral::detail::fresnel_pole;
    const double k_p = 1.3;
    for (const complex eps : {complex(4.0, -1.0), complex(81.0, -719.0), complex(-2.0, -0.1)}) {
        const complex k_m = k_p * std::sqrt(eps);
        complex q, q_lo, p;
        const bool tm = fresnel_pole(complex(k_p, 0.0), complex(1.0, 0.0), k_m, 1.0 / eps, q, q_lo);
        const bool two = nia::spectral::detail::interface_pole(k_p, k_m, p);
        CHECK_SMALL(tm == two ? 0.0 : 1.0, 0.0);
        if (!tm || !two) continue;
        CHECK_SMALL(std::abs(q - p) / std::abs(p), 1e-15);
        const complex lo = nia::spectral::detail::interface_pole_correction(k_p, k_m, p);
        CHECK_SMALL(std::abs((q + q_lo) - (p + lo)) / std::abs(p), 1e-15);
        CHECK_SMALL(fresnel_pole(complex(k_p, 0.0), 1.0, k_m, 1.0, q, q_lo) ? 1.0 : 0.0, 0.0);
    }
    // a magnetic lower medium: the TE zero of gamma_u / mu_u + gamma_l / mu_l
    const complex k_u(1.0, 0.0), mu_l(-1.5, -0.05), k_l = std::sqrt(complex(2.0, -0.1) * mu_l);
    complex q, q_lo;
    if (fresnel_pole(k_u, 1.0, k_l, 1.0 / mu_l, q, q_lo)) {
        const complex d = nia::spectral::vertical_wavenumber(q, k_u) +
                          nia::spectral::vertical_wavenumber(q, k_l) / mu_l;
        CHECK_SMALL(std::abs(d) / std::abs(q), 1e-12);
    } else {
        CHECK_SMALL(1.0, 0.0);
    }
}

}  // namespace

// The response on every SIMD lane target against the scalar code, node by
// node: every placement of source and receiver in each stack, spectral points
// along the path's pieces (the axis, the detour's arch, the tails' rays, deep
// in the evanescent range where the crossings underflow) and special values,
// a block of nodes at a time with a short last block. Within a few ulps of
// the node's largest wave (the lane exponential is not libm's); NaN where the
// scalar code gives NaN. The field columns the lanes form from their nodes
// are those of the complex arithmetic, bit for bit.
void lanes_agree_with_scalar() {
    namespace simd = nia::spectral::simd;
    const double nan = std::nan("");
    const simd::lane_functions& scalar = *simd::lanes_for("scalar");
    // and a stack deeper than the lanes' scratch, which runs the scalar code
    std::vector<std::pair<layer_stack, std::vector<double>>> all = stacks();
    std::vector<layer> deep(20, layer{{4.0, -0.5}, 1.0});
    std::vector<double> deep_h;
    for (int j = 0; j < 20; ++j) deep[j].eps_r += 0.3 * j;
    for (int j = 0; j < 19; ++j) deep_h.push_back(-0.1 * j);
    all.emplace_back(make_stack(2.0, deep, deep_h), deep_h);
    int targets = 0;
    for (const char* name : {"avx2", "avx512", "neon"}) {
        const simd::lane_functions* lanes = simd::lanes_for(name);
        if (lanes == nullptr) continue;
        ++targets;
        for (const auto& [st, h] : all) {
            const double scale = std::abs(st.k[st.n - 1]) + std::abs(st.k[0]);
            std::vector<double> re, im;
            for (const complex u :
                 {complex(0.0, 0.0), complex(0.3, 0.0), complex(0.9, 0.2), complex(1.7, -0.4),
                  complex(4.0, 2.0), complex(30.0, -30.0), complex(1e4, 1e4), complex(3e5, 0.0)}) {
                re.push_back(u.real() * scale);
                im.push_back(u.imag() * scale);
            }
            for (const complex u : {complex(nan, 0.0), complex(1e200, 0.0), complex(0.0, nan)}) {
                re.push_back(u.real());
                im.push_back(u.imag());
            }
            const int n = static_cast<int>(re.size());  // 11: a short last block
            for (int s = 0; s < st.n; ++s) {
                for (int r = 0; r < st.n; ++r) {
                    // the receiver a little inside its layer, the source on its top face
                    const double zp = s == 0 ? h[0] + 0.1 : st.top[s];
                    double z = r == 0 ? h[0] + 0.2 : st.top[r] - 0.02;
                    if (r == s && s > 0) z = zp - 0.01;
                    const layered_point pt{s, r, z, zp};
                    for (const int pols : {1, 2, 3}) {
                        std::vector<nia::spectral::layered_node> nl(n), ns(n);
                        for (int i0 = 0; i0 < n; i0 += simd::block_width) {
                            const int nb = std::min(simd::block_width, n - i0);
                            lanes->layered_block(st, pt, pols, &re[i0], &im[i0], nb, &nl[i0]);
                            scalar.layered_block(st, pt, pols, &re[i0], &im[i0], nb, &ns[i0]);
                        }
                        // the columns of every pick that reads these polarisations:
                        // the lanes' own columns bit for bit those the complex
                        // arithmetic forms from the lanes' nodes (NaN where it is)
                        const nia::spectral::layered_record q =
                            nia::spectral::make_layered_record(st, 1.3, z, zp);
                        for (int pick = 0; pick < 6; ++pick) {
                            nia::spectral::with_layered_pick(pick, [&](auto pk) {
                                using P = decltype(pk);
                                if (P::pols != pols) return;
                                std::vector<double> kl(2 * P::size * n);
                                for (int i0 = 0; i0 < n; i0 += simd::block_width) {
                                    const int nb = std::min(simd::block_width, n - i0);
                                    lanes->layered_columns_block(q, pick, &re[i0], &im[i0], nb,
                                                                 &kl[2 * P::size * i0]);
                                }
                                for (int i = 0; i < n; ++i) {
                                    complex K[P::size];
                                    P::values(q, complex(re[i], im[i]), nl[i], K);
                                    bool same = true;
                                    for (int c = 0; c < P::size; ++c) {
                                        const complex x(kl[2 * (P::size * i + c)],
                                                        kl[2 * (P::size * i + c) + 1]);
                                        same = same && (x == K[c] || (std::isnan(std::abs(x)) &&
                                                                      std::isnan(std::abs(K[c]))));
                                    }
                                    check(same, "lane columns = columns of the lane node", __LINE__,
                                          static_cast<double>(pick));
                                }
                            });
                        }
                        for (int i = 0; i < n; ++i) {
                            // the eight combinations of the waves, then g_s, g_r, 1 / (2 g_s)
                            const complex* a = &nl[i].te.s.plus;
                            const complex* b = &ns[i].te.s.plus;
                            double largest = 0.0, err = 0.0;
                            bool same_nan = true;
                            for (int c = 0; c < 8; ++c) {
                                largest = std::fmax(largest, std::abs(b[c]));
                                same_nan = same_nan &&
                                           std::isnan(std::abs(a[c])) == std::isnan(std::abs(b[c]));
                            }
                            for (int c = 0; c < 8; ++c) {
                                if (!std::isnan(std::abs(b[c])))
                                    err = std::fmax(err, std::abs(a[c] - b[c]));
                            }
                            check(same_nan, "lanes NaN where the scalar code is", __LINE__, 0.0);
                            CHECK_SMALL(largest > 0.0 ? err / largest : err, 1e-13);
                            // the vertical wavenumbers and the source factor bit for bit
                            // (the same square roots and quotient)
                            for (int c = 8; c < 11; ++c) {
                                const complex x = a[c], y = b[c];
                                check(
                                    x == y || (std::isnan(std::abs(x)) && std::isnan(std::abs(y))),
                                    "lane vertical wavenumbers = scalar", __LINE__,
                                    std::abs(x - y));
                            }
                        }
                    }
                }
            }
        }
    }
    std::printf("layered response: %d lane targets against the scalar code\n", targets);
}

int main() {
    fresnel_poles();
    two_media_columns_agree();
    two_media_rows_agree();
    continuity_at_every_interface();
    reciprocity_between_layers();
    invisible_interfaces_and_fresnel();
    lanes_agree_with_scalar();
    if (failures == 0) std::printf("layered response: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
