// The slow guided waves of a stack: the poles of its response beyond every
// medium's wavenumber.
//
// Over a stack of ordinary media (Re eps_r and Re mu_r non-negative, however
// lossy) the quasi-static reflection of every face is at most one in modulus,
// and the guided modes lie left of the largest |Re k_j| or far below the real
// axis, where the path's detour passes above them and the tail's rays never
// reach. A layer of negative permittivity (a plasmonic film) or permeability
// carries slow surface waves: a single face one at lambda^2 = (a_a^2 k_a^2 -
// a_b^2 k_b^2) / (a_a^2 - a_b^2) (a the admittance factor 1/eps_r or 1/mu_r of
// the media on either side), and a thin film a coupled pair, the slower one
// near ln(r_up r_down) / (2 d) for a film of thickness d and quasi-static face
// reflections r. These poles lie on the real axis or just below it, as far out
// as the film is thin: a falling tail ray started before one of them sweeps it
// and loses its residue (a film of 1 mm at 1 GHz: rows wrong by their own
// size, with nothing to show for it).
//
// Such a stack is searched once per batch for the zeros of its characteristic
// function in the wedge a falling ray could sweep, by the argument principle
// over rectangles halved until each holds its zero to guided_find_width. The
// search works in fixed arrays on the stack and holds no state between calls.
#pragma once

#include <array>
#include <cmath>

#include "layered_response.hpp"

namespace nia::spectral {

// Relative width to which a slow wave's pole is located.
inline constexpr double guided_find_width = 1e-7;
// Thin films carry their slow waves out to some ln|r_up r_down| / (2 d): the
// search reaches this over twice the thinnest layer (|r_up r_down| = e^80).
inline constexpr double guided_thin_film_reach = 80.0;
// The most steps of the staircase sweeps_no_modes covers a band with (the
// short tail's plan takes 8).
inline constexpr int sweep_max_steps = 16;
// The characteristic function's evaluations one polarisation's search may
// spend; past it each rectangle still holding a zero counts as a pole at its
// far corner on the axis (the tail then starts beyond it).
inline constexpr int guided_budget = 400000;

namespace detail {

// The characteristic function of the stack for one polarisation (admittance
// factors a: 1/mu_r for TE, 1/eps_r for TM) up to a positive factor: the
// denominator of the reflection seen from the top half-space, built from the
// bottom up. Seen from layer j a downgoing wave is reflected by what lies
// below with Gamma_j = (Q M + P E N) / (P M + Q E N), where P, Q = Y_j +-
// Y_{j+1}, E = exp(-2 gamma_{j+1} d_{j+1}) and N / M is the reflection at the
// next face down; a mode has an upgoing wave in the top half-space and no
// downgoing one: M = 0 there. Each step is divided by the larger modulus of N
// and M, which moves neither the zeros nor the argument. The outer media take
// the path's sheet, the inner layers the root with Re gamma >= 0 (the
// response is even in theirs). NaN where the recursion is not finite.
inline complex mode_function(const layer_stack& st, const complex* a, complex lam) noexcept {
    const int n = st.n;
    complex num(0.0, 0.0), den(1.0, 0.0);
    complex g_below = vertical_wavenumber(lam, st.k[n - 1]);
    complex y_below = a[n - 1] * g_below;
    for (int j = n - 2; j >= 0; --j) {
        const complex g = j == 0 ? vertical_wavenumber(lam, st.k[0])
                                 : core::principal_sqrt(lam * lam - st.k[j] * st.k[j]);
        const complex y = a[j] * g;
        const complex p = y + y_below, q = y - y_below;
        const complex carried =
            j + 2 < n ? num * std::exp(-2.0 * g_below * (st.top[j + 1] - st.bottom[j + 1])) : num;
        const complex nn = q * den + p * carried, mm = p * den + q * carried;
        // the largest of the four parts: as good a scale as the moduli, without
        // their square roots
        const double scale = std::fmax(std::fmax(std::fabs(nn.real()), std::fabs(nn.imag())),
                                       std::fmax(std::fabs(mm.real()), std::fabs(mm.imag())));
        if (!(scale > 0.0 && scale < INFINITY)) return complex(NAN, NAN);
        num = nn / scale;
        den = mm / scale;
        g_below = g;
        y_below = y;
    }
    return den;
}

// An axis-parallel rectangle of the lambda plane and the zeros it holds (-1:
// not known, its boundary passing through or too near one).
struct mode_box {
    double x_lo, x_hi, y_lo, y_hi;
    int zeros;
};

// The argument principle along the boundary of boxes, counting its
// evaluations of the characteristic function.
class mode_counter {
  public:
    mode_counter(const layer_stack& st, const complex* a) noexcept : st_(st), a_(a) {}

    int evaluations() const noexcept { return evaluations_; }

    // The zeros inside b, or -1 where the winding is not an integer.
    int zeros_in(double x_lo, double x_hi, double y_lo, double y_hi) noexcept {
        const complex c[4] = {{x_lo, y_lo}, {x_hi, y_lo}, {x_hi, y_hi}, {x_lo, y_hi}};
        return zeros_within(c, 4);
    }

    // The zeros inside the polygon of corners c[0 .. n - 1] (counterclockwise),
    // or -1 where the winding is not an integer.
    int zeros_within(const complex* c, int n) noexcept {
        complex first = value(c[0]), from = first;
        double turn = 0.0;
        for (int i = 0; i < n; ++i) {
            const complex to = i + 1 < n ? value(c[i + 1]) : first;
            double t = 0.0;
            if (!edge_turn(c[i], c[(i + 1) % n], from, to, t)) return -1;
            turn += t;
            from = to;
        }
        const double w = turn / (2.0 * pi);
        const double r = std::nearbyint(w);
        return std::fabs(w - r) < 0.05 && r >= 0.0 ? static_cast<int>(r) : -1;
    }

  private:
    complex value(complex lam) noexcept {
        ++evaluations_;
        return mode_function(st_, a_, lam);
    }

    // The turn of the argument from a to b, halving each piece until both its
    // halves turn by less than 1/2; false where the function vanishes or is
    // not finite on the edge, or the halving runs out.
    bool edge_turn(complex a, complex b, complex fa, complex fb, double& turn) noexcept {
        struct piece {
            double t0, t1;
            complex f0, f1;
        };
        constexpr int max_depth = 56;
        std::array<piece, max_depth + 2> todo;
        int top = 0;
        todo[top++] = {0.0, 1.0, fa, fb};
        while (top > 0) {
            const piece p = todo[--top];
            const double tm = 0.5 * (p.t0 + p.t1);
            const complex fm = value(a + (b - a) * tm);
            if (!(std::isfinite(fm.real()) && std::isfinite(fm.imag())) || fm == 0.0 ||
                p.f0 == 0.0 || p.f1 == 0.0) {
                return false;
            }
            // the halves' turns, as arguments of fm conj(f0) and f1 conj(fm) (a
            // quotient's argument without the division); the whole's turn is
            // their sum
            const complex w1 = fm * std::conj(p.f0), w2 = p.f1 * std::conj(fm);
            if (w1 == 0.0 || w2 == 0.0) return false;
            const double d1 = std::arg(w1), d2 = std::arg(w2);
            if (std::fabs(d1) < 0.5 && std::fabs(d2) < 0.5) {
                turn += d1 + d2;
                continue;
            }
            if (top + 2 > max_depth || !(p.t1 - p.t0 > 0x1p-52)) return false;
            todo[top++] = {tm, p.t1, fm, p.f1};
            todo[top++] = {p.t0, tm, p.f0, fm};
        }
        return true;
    }

    const layer_stack& st_;
    const complex* a_;
    int evaluations_ = 0;
};

// The boxes' halves: the longer side halved at `at` of its length.
inline void halve(const mode_box& b, double at, mode_box& first, mode_box& second) noexcept {
    first = second = b;
    if (b.x_hi - b.x_lo >= b.y_hi - b.y_lo) {
        const double x = b.x_lo + at * (b.x_hi - b.x_lo);
        first.x_hi = second.x_lo = x;
    } else {
        const double y = b.y_lo + at * (b.y_hi - b.y_lo);
        first.y_hi = second.y_lo = y;
    }
}

// Whether any of a's factors has a negative real part: only then can the
// polarisation carry slow waves.
inline bool has_negative_factor(const layer_stack& st, const complex* a) noexcept {
    for (int j = 0; j < st.n; ++j) {
        if (a[j].real() < 0.0) return true;
    }
    return false;
}

// Where the search ends: beyond twice the largest wavenumber, the single
// faces' slow waves and the thin films' reach.
inline double guided_search_end(const layer_stack& st, const complex* a, double start) noexcept {
    double end = 2.0 * start;
    for (int j = 0; j < st.n; ++j) end = std::fmax(end, 2.0 * std::abs(st.k[j]));
    for (int j = 0; j + 1 < st.n; ++j) {
        const complex aa = a[j] * a[j], bb = a[j + 1] * a[j + 1];
        const complex l2 = (aa * st.k[j] * st.k[j] - bb * st.k[j + 1] * st.k[j + 1]) / (aa - bb);
        const double face = std::sqrt(std::abs(l2));
        if (std::isfinite(face)) end = std::fmax(end, 2.0 * face);
    }
    for (int j = 1; j + 1 < st.n; ++j) {
        end = std::fmax(end, guided_thin_film_reach / (2.0 * (st.top[j] - st.bottom[j])));
    }
    return end;
}

// The zeros of one polarisation's characteristic function that a falling ray
// from beyond `start` could sweep (Re + Im >= start, Im <= 0), appended to
// poles[n_poles ..] up to capacity. start lies right of every medium's cut.
template <std::size_t Capacity>
void find_slow_waves(const layer_stack& st, const complex* a, double start,
                     std::array<complex, Capacity>& poles, int& n_poles) noexcept {
    const double end = guided_search_end(st, a, start);
    // the top edge runs just above the axis, where the poles of lossless films lie
    const double above = 1e-3 * start;
    mode_counter count(st, a);
    constexpr int capacity = 256;
    std::array<mode_box, capacity> todo;
    int top = 0;
    mode_box all{start, end, start - end, above, 0};
    all.zeros = count.zeros_in(all.x_lo, all.x_hi, all.y_lo, all.y_hi);
    todo[top++] = all;
    const auto record = [&](complex q) {
        q = complex(q.real(), std::fmin(q.imag(), 0.0));
        if (q.real() + q.imag() < start) return;
        if (n_poles < static_cast<int>(Capacity)) {
            poles[n_poles++] = q;
        } else {
            // full: the last entry stands for the rest, on the axis at the
            // farthest abscissa (the arch then spans them all)
            complex& last = poles[Capacity - 1];
            last = complex(std::fmax(last.real(), q.real()), 0.0);
        }
    };
    while (top > 0) {
        const mode_box b = todo[--top];
        if (b.zeros == 0 || b.x_hi + b.y_hi < start) continue;
        const double size = std::fmax(b.x_hi - b.x_lo, b.y_hi - b.y_lo);
        const complex centre(0.5 * (b.x_lo + b.x_hi), 0.5 * (b.y_lo + b.y_hi));
        if (size <= guided_find_width * std::abs(centre)) {
            record(centre);
            continue;
        }
        if (count.evaluations() > guided_budget || top + 2 > capacity) {
            // out of means: the box's far corner on the axis stands for it
            record(complex(b.x_hi, 0.0));
            continue;
        }
        mode_box first{}, second{};
        // halve off the middle when a halving line meets a zero
        for (const double at : {0.5, 0.5 + 1.0 / 64.0, 0.5 - 1.0 / 48.0}) {
            halve(b, at, first, second);
            first.zeros = count.zeros_in(first.x_lo, first.x_hi, first.y_lo, first.y_hi);
            if (first.zeros >= 0) break;
        }
        second.zeros = b.zeros >= 0 && first.zeros >= 0 && first.zeros <= b.zeros
                           ? b.zeros - first.zeros
                           : count.zeros_in(second.x_lo, second.x_hi, second.y_lo, second.y_hi);
        todo[top++] = second;
        todo[top++] = first;
    }
}

}  // namespace detail

// Whether neither polarisation's characteristic function has a zero where a
// falling ray from start + step would sweep one that weighs: in the band of
// depth `reach` below the axis (a wave deeper down arrives damped by
// exp(-reach rho)) and right of the line Re + Im = start + step. The band is
// covered by a staircase of rectangles of width step that keep right of Re +
// Im = start, where no medium's cut reaches when start clears every branch
// point, and by one rectangle from start + reach out to twice the largest
// wavenumber (beyond it lie only the slow waves find_guided_modes looks
// for). False also where a count is not an integer, or the band has more
// than sweep_max_steps steps.
inline bool sweeps_no_modes(const layer_stack& st, double start, double step,
                            double reach) noexcept {
    double end = start + 2.0 * reach;
    for (int j = 0; j < st.n; ++j) end = std::fmax(end, 2.0 * std::abs(st.k[j]));
    const double above = 1e-3 * step;
    // the staircase and the last rectangle as one polygon, counterclockwise
    // from (start, 0): down the steps, out to the end, back along the top (the
    // zeros of the union are those of its parts, the inner edges left out); a
    // band of more than sweep_max_steps steps is not searched
    const double steps = std::ceil(reach / step - 1e-9);
    if (!(steps >= 1.0 && steps <= sweep_max_steps)) return false;
    const int n_steps = static_cast<int>(steps);
    std::array<complex, 2 * sweep_max_steps + 4> corners;
    int n = 0;
    for (int i = 0; i < n_steps; ++i) {
        const double x = i + 1 < n_steps ? start + (i + 1) * step : start + reach;
        corners[n++] = complex(start + i * step, -i * step);
        corners[n++] = complex(x, -i * step);
    }
    corners[n++] = complex(start + reach, -reach);
    corners[n++] = complex(end, -reach);
    corners[n++] = complex(end, above);
    corners[n++] = complex(start, above);
    for (const complex* a : {st.inv_eps.data(), st.inv_mu.data()}) {
        detail::mode_counter count(st, a);
        if (count.zeros_within(corners.data(), n) != 0) return false;
    }
    return true;
}

// Searches a stack whose media include a negative permittivity or
// permeability for its slow guided waves (TM and TE) and keeps them in
// st.guided; other stacks keep none. Once per batch, after the stack is filled.
inline void find_guided_modes(layer_stack& st) noexcept {
    st.n_guided = 0;
    if (st.n < 3) return;
    double start = 0.0;
    for (int j = 0; j < st.n; ++j) start = std::fmax(start, std::fabs(st.k[j].real()));
    start *= 1.0 + 1e-3;
    if (!(start > 0.0 && std::isfinite(start))) return;
    for (const complex* a : {st.inv_eps.data(), st.inv_mu.data()}) {
        if (detail::has_negative_factor(st, a)) {
            detail::find_slow_waves(st, a, start, st.guided, st.n_guided);
        }
    }
}

}  // namespace nia::spectral
