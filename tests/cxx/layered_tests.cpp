// The transmission-line response of a stack, held to the identities that pin a
// layered solution down: continuity of f and Y (f_up - f_down) at every
// interface, reciprocity between layers, invisible interfaces between copies
// of one medium, and the closed-form Fresnel waves of two half-spaces. Built
// with -DNIA_CXX_TESTS=ON and run by ctest.
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <vector>

#include "spectral/layered_response.hpp"

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
    const wave_pair w =
        nia::spectral::layered_waves(st, layered_point{s, r, z, zp}, gamma.data(), pol);
    complex up = w.up[0] + w.up[1], down = w.down[0] + w.down[1];
    if (r == s) {
        if (z > zp) {
            up += std::exp(-gamma[s] * (z - zp));
        } else {
            down += std::exp(gamma[s] * (z - zp));
        }
    }
    const complex y = gamma[r] * (pol == polarisation::te ? st.inv_mu[r] : st.inv_eps[r]);
    return {up + down, y * (up - down), std::abs(up) + std::abs(down)};
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
            const wave_pair w =
                nia::spectral::layered_waves(one, {s, r, z, zp}, g.data(), polarisation::tm);
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
    const wave_pair up =
        nia::spectral::layered_waves(two, {1, 0, 0.7, -0.4}, g.data(), polarisation::te);
    CHECK_SMALL(rel(up.up[0], 2.0 * y1 / (y0 + y1) * std::exp(-g[1] * 0.4 - g[0] * 0.7)), 1e-14);
    const wave_pair back =
        nia::spectral::layered_waves(two, {1, 1, -0.1, -0.4}, g.data(), polarisation::te);
    CHECK_SMALL(rel(back.down[0], (y1 - y0) / (y1 + y0) * std::exp(-g[1] * 0.4 - g[1] * 0.1)),
                1e-14);
}

}  // namespace

int main() {
    continuity_at_every_interface();
    reciprocity_between_layers();
    invisible_interfaces_and_fresnel();
    if (failures == 0) std::printf("layered response: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
