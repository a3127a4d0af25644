// J0, and J0 with J1, on blocks of SIMD lanes for the detour and the
// real-axis segment: the power series (|z| < 8) and Miller's backward
// recurrence (8 <= |z| < 25) for real and complex arguments, and Hankel's
// expansion (|z| >= 25) for real ones, each lane stopping at its own term,
// joining the recurrence at its own start order and rescaling on its own.
// Compiled once per target like kernel_lanes.cpp; the operations and their
// order are bessel_j0's and bessel_j01's.
//
// Every lane repeats the scalar operations exactly, so the values are bit for
// bit bessel_j0's (and bessel_j01's). Lanes with a tiny or non-finite argument
// or a complex argument from |z| = 25 on go through the scalar code. The J1
// terms ride along in the same loops (with_j1); the operations that give J0
// are the same with or without them.
#include <cmath>
#include <cstdint>

#include "../../special/bessel_j.hpp"
#include "dispatch.hpp"
#include "lane_complex.hpp"

namespace nia::spectral::simd::NIA_SIMD_TARGET {

namespace {

namespace sj = special;

constexpr int W = block_width;
constexpr int V = vector_width;

// Power series sum_j (-z^2/4)^j / (j!)^2, for the lanes in run; with_j1 also
// s1 = sum_j (-z^2/4)^j / (j! (j+1)!) from the same terms (2 J1(z)/z).
template <bool with_j1 = false>
inline void series_vector(vd zr, vd zi, vi run, vd& jr, vd& ji, vd* s1r = nullptr,
                          vd* s1i = nullptr) noexcept {
    vd wr, wi;
    mul(zr, zi, zr, zi, wr, wi);
    wr = -wr * 0.25;
    wi = -wi * 0.25;
    vd tr = splat(1.0), ti = vd{}, sr = splat(1.0), si = vd{}, peak = splat(1.0);
    vd ur = splat(1.0), ui = vd{};
    for (int j = 1; j <= sj::j0_series_terms && any(run); ++j) {
        const double r = sj::reciprocal_table[static_cast<std::size_t>(j)];
        vd nr, ni;
        mul(tr, ti, wr, wi, nr, ni);
        nr = nr * (r * r);
        ni = ni * (r * r);
        tr = select(run, nr, tr);
        ti = select(run, ni, ti);
        sr = select(run, sr + nr, sr);
        si = select(run, si + ni, si);
        if constexpr (with_j1) {
            const double r1 = sj::reciprocal_table[static_cast<std::size_t>(j + 1)];
            ur = select(run, ur + nr * r1, ur);
            ui = select(run, ui + ni * r1, ui);
        }
        const vd s = nr * nr + ni * ni;
        peak = select(run & (s > peak), s, peak);
        run = run & ~(s <= sj::j0_series_stop * peak);
    }
    jr = sr;
    ji = si;
    if constexpr (with_j1) {
        *s1r = ur;
        *s1i = ui;
    }
}

// The same series in real arithmetic.
template <bool with_j1 = false>
inline vd series_real(vd x, vi run, vd* s1 = nullptr) noexcept {
    const vd w = -(x * x) * 0.25;
    vd term = splat(1.0), sum = splat(1.0), peak = splat(1.0), sum1 = splat(1.0);
    for (int j = 1; j <= sj::j0_series_terms && any(run); ++j) {
        const double r = sj::reciprocal_table[static_cast<std::size_t>(j)];
        const vd t = (term * w) * (r * r);
        term = select(run, t, term);
        sum = select(run, sum + t, sum);
        if constexpr (with_j1) {
            sum1 =
                select(run, sum1 + t * sj::reciprocal_table[static_cast<std::size_t>(j + 1)], sum1);
        }
        const vd s = t * t;
        peak = select(run & (s > peak), s, peak);
        run = run & ~(s <= sj::j0_series_stop * peak);
    }
    if constexpr (with_j1) *s1 = sum1;
    return sum;
}

// The recurrence's rescaling, v * j0_miller_rescale, on the lanes in big for
// each of the values v.
template <class... Values>
inline void rescale_lanes(vi big, Values&... v) noexcept {
    ((v = select(big, v * sj::j0_miller_rescale, v)), ...);
}

// Miller's recurrence J_{k-1} = (2k/z) J_k - J_{k+1} from order n (per lane),
// normalised by J0 + 2 (J2 + J4 + ...) = 1; complex z. with_j1 also
// normalises J1, which the last step leaves as J_{k+1}.
template <bool with_j1 = false>
inline void recurrence_vector(vd zr, vd zi, vd q, vi run, vd& jr, vd& ji, vd* j1r = nullptr,
                              vd* j1i = nullptr) noexcept {
    const vd n = 2.0 * floor(0.75 * sqrt(q) + 16.0);
    vd rr, ri;
    div(splat(2.0), vd{}, zr, zi, rr, ri);
    vd nxr = vd{}, nxi = vd{}, kr = splat(sj::j0_miller_seed), ki = vd{};
    vd sr = vd{}, si = vd{}, j0r = vd{}, j0i = vd{};
    int top = 0;
    for (int l = 0; l < V; ++l) top = run[l] != 0 && n[l] > top ? static_cast<int>(n[l]) : top;
    for (int k = top; k >= 1; --k) {
        const vi act = run & (n >= static_cast<double>(k));
        if ((k & 1) == 0) {
            sr = select(act, sr + 2.0 * kr, sr);
            si = select(act, si + 2.0 * ki, si);
        }
        const double dk = k;
        vd pr, pi_;
        mul(dk * rr, dk * ri, kr, ki, pr, pi_);
        pr = pr - nxr;
        pi_ = pi_ - nxi;
        if (k == 1) {
            j0r = select(act, pr, j0r);
            j0i = select(act, pi_, j0i);
        }
        const vi big =
            act & (select(fabs(pr) > fabs(pi_), fabs(pr), fabs(pi_)) > sj::j0_miller_big);
        if (any(big)) rescale_lanes(big, pr, pi_, kr, ki, sr, si, j0r, j0i);
        nxr = select(act, kr, nxr);
        nxi = select(act, ki, nxi);
        kr = select(act, pr, kr);
        ki = select(act, pi_, ki);
    }
    // j_0 * (1 / (j_0 + s)), the reciprocal by the quotient's fast path; the
    // totals off its range (the sequence often ends near the rescaling
    // threshold) are normalised by the scalar code, the sweep being kept
    const vd tr = j0r + sr, ti = j0i + si;
    vd ir, ii;
    div(splat(1.0), vd{}, tr, ti, ir, ii);
    mul(j0r, j0i, ir, ii, jr, ji);
    if constexpr (with_j1) mul(nxr, nxi, ir, ii, *j1r, *j1i);
    const vi fast = moderate(tr, ti) & finite(ir) & finite(ii);
    if (any(run & ~fast)) {
        for (int l = 0; l < V; ++l) {
            if (run[l] != 0 && fast[l] == 0) {
                double o[2];
                detail::scalar_j0_normalise(j0r[l], j0i[l], tr[l], ti[l], o);
                jr[l] = o[0];
                ji[l] = o[1];
                if constexpr (with_j1) {
                    detail::scalar_j0_normalise(nxr[l], nxi[l], tr[l], ti[l], o);
                    (*j1r)[l] = o[0];
                    (*j1i)[l] = o[1];
                }
            }
        }
    }
}

// The same recurrence in real arithmetic.
template <bool with_j1 = false>
inline vd recurrence_real(vd x, vd q, vi run, vd* j1 = nullptr) noexcept {
    const vd n = 2.0 * floor(0.75 * sqrt(q) + 16.0);
    const vd r = 2.0 / x;
    vd nx = vd{}, jk = splat(sj::j0_miller_seed), s = vd{}, j0 = vd{};
    int top = 0;
    for (int l = 0; l < V; ++l) top = run[l] != 0 && n[l] > top ? static_cast<int>(n[l]) : top;
    for (int k = top; k >= 1; --k) {
        const vi act = run & (n >= static_cast<double>(k));
        if ((k & 1) == 0) s = select(act, s + 2.0 * jk, s);
        vd p = (static_cast<double>(k) * r) * jk - nx;
        if (k == 1) j0 = select(act, p, j0);
        const vi big = act & (fabs(p) > sj::j0_miller_big);
        if (any(big)) rescale_lanes(big, p, jk, s, j0);
        nx = select(act, jk, nx);
        jk = select(act, p, jk);
    }
    if constexpr (with_j1) *j1 = nx / (j0 + s);
    return j0 / (j0 + s);
}

// P and Q of Hankel's expansion for order nu, mu = 4 nu^2, as hankel_pq sums
// them, each lane stopping at its own term.
inline void pq_real(vd x, double mu, vi run, vd& p, vd& q) noexcept {
    p = splat(1.0);
    q = vd{};
    vd t = splat(1.0), previous = splat(HUGE_VAL);
    const vd inv = 1.0 / x;
    for (int k = 1; k <= sj::hankel_pq_terms && any(run); ++k) {
        const double odd = 2.0 * k - 1.0;
        const vd nt =
            t * ((mu - odd * odd) * 0.125 * sj::reciprocal_table[static_cast<std::size_t>(k)]) *
            inv;
        const vd s = nt * nt;
        run = run & ~(s >= previous);
        t = select(run, nt, t);
        if (k & 1) {
            q = select(run, ((k - 1) / 2) % 2 == 0 ? q + nt : q - nt, q);
        } else {
            p = select(run, k % 4 == 2 ? p - nt : p + nt, p);
        }
        run = run & ~(s < sj::hankel_pq_stop);
        previous = select(run, s, previous);
    }
}

// Hankel's expansion for real x >= 25: sqrt(2/(pi x)) (P cos(x - pi/4) - Q
// sin(x - pi/4)) written as sqrt(1/(pi x)) ((P + Q) cos x + (P - Q) sin x);
// with_j1 also J1 = sqrt(1/(pi x)) ((P1 + Q1) sin x - (P1 - Q1) cos x).
template <bool with_j1 = false>
inline vd asymptotic_real(vd x, vi run, vd* j1 = nullptr) noexcept {
    vd p, q;
    pq_real(x, 0.0, run, p, q);
    // cos x and sin x from libm, as the scalar code takes them: the lane
    // versions' last-bit differences would reach the rows at large rho, where
    // the segment's integral cancels
    vd sn = vd{}, cs = vd{};
    for (int l = 0; l < V; ++l) {
        if (run[l] != 0) {
            cs[l] = std::cos(x[l]);
            sn[l] = std::sin(x[l]);
        }
    }
    const vd f = sqrt((1.0 / pi) / x);
    if constexpr (with_j1) {
        vd p1, q1;
        pq_real(x, sj::j1_hankel_mu, run, p1, q1);
        *j1 = f * ((p1 + q1) * sn - (p1 - q1) * cs);
    }
    return f * ((p + q) * cs + (p - q) * sn);
}

// J0 (and with_j1 also J1) at V arguments; the mask marks the lanes computed
// here, the others being left to the scalar code.
template <bool with_j1 = false>
inline vi j01_vector(vd zr, vd zi, vd& jr, vd& ji, vd* j1r = nullptr, vd* j1i = nullptr) noexcept {
    const vd q = zr * zr + zi * zi;
    const vi fin = (q >= sj::j0_tiny_sq) & (q < 1e300);
    const vi real = fin & (zi == 0.0);
    const vi cplx = fin & ~real & (q < sj::j0_recurrence_sq);
    jr = vd{};
    ji = vd{};                // complex(j0_real(|x|), 0.0) on the real lanes
    vd ar = vd{}, ai = vd{};  // J1, before the sign of odd symmetry
    vi done = vi{};
    if (any(real)) {
        const vd x = select(real, fabs(zr), splat(1.0));
        const vd qx = x * x;
        const vi ser = real & (qx < sj::j0_series_sq);
        const vi rec = real & ~ser & (qx < sj::j0_recurrence_sq);
        const vi asy = real & ~ser & ~rec;
        vd b = vd{};
        if (any(ser)) {
            const vd xs = select(ser, x, splat(1.0));
            jr = select(ser, series_real<with_j1>(xs, ser, &b), jr);
            if constexpr (with_j1) ar = select(ser, (0.5 * xs) * b, ar);
        }
        if (any(rec)) {
            const vd v = recurrence_real<with_j1>(select(rec, x, splat(10.0)),
                                                  select(rec, qx, splat(100.0)), rec, &b);
            jr = select(rec, v, jr);
            if constexpr (with_j1) ar = select(rec, b, ar);
        }
        if (any(asy)) {
            jr = select(asy, asymptotic_real<with_j1>(select(asy, x, splat(30.0)), asy, &b), jr);
            if constexpr (with_j1) ar = select(asy, b, ar);
        }
        done = ser | rec | asy;
    }
    if (any(cplx)) {
        // J0 is even and J1 odd: a complex argument in the left half-plane is
        // reflected
        const vi left = zr < 0.0;
        const vd ur = select(left, -zr, zr), ui = select(left, -zi, zi);
        const vi ser = cplx & (q < sj::j0_series_sq);
        vi rec = cplx & ~ser;
        if (any(ser)) {
            vd a, b, c, d;
            const vd sr = select(ser, ur, splat(1.0)), si = select(ser, ui, splat(1.0));
            series_vector<with_j1>(sr, si, ser, a, b, &c, &d);
            jr = select(ser, a, jr);
            ji = select(ser, b, ji);
            if constexpr (with_j1) {
                vd er, ei;
                mul(0.5 * sr, 0.5 * si, c, d, er, ei);
                ar = select(ser, er, ar);
                ai = select(ser, ei, ai);
            }
        }
        if (any(rec)) {
            vd a, b, c, d;
            recurrence_vector<with_j1>(select(rec, ur, splat(10.0)), select(rec, ui, splat(1.0)),
                                       select(rec, q, splat(101.0)), rec, a, b, &c, &d);
            jr = select(rec, a, jr);
            ji = select(rec, b, ji);
            if constexpr (with_j1) {
                ar = select(rec, c, ar);
                ai = select(rec, d, ai);
            }
        }
        done = done | ser | rec;
    }
    done = done & finite(jr) & finite(ji);
    if constexpr (with_j1) {
        const vi left = zr < 0.0;
        *j1r = select(left, -ar, ar);
        *j1i = select(left & cplx, -ai, ai);
        done = done & finite(ar) & finite(ai);
    }
    return done;
}

// n arguments in vectors of V, the last one padded with the first argument;
// store(l, i, values) takes lane l's results for argument i.
template <bool with_j1, class Store>
inline void j01_blocks(const double* z_re, const double* z_im, int n, Store store) noexcept {
    for (int i0 = 0; i0 < n; i0 += V) {
        const int m = n - i0 < V ? n - i0 : V;
        double zr[V], zi[V];
        for (int l = 0; l < V; ++l) {
            zr[l] = z_re[i0 + (l < m ? l : 0)];
            zi[l] = z_im[i0 + (l < m ? l : 0)];
        }
        vd jr, ji, kr = vd{}, ki = vd{};
        const vi ok = j01_vector<with_j1>(load(zr), load(zi), jr, ji, &kr, &ki);
        for (int l = 0; l < m; ++l) {
            store(ok[l] != 0, i0 + l, jr[l], ji[l], kr[l], ki[l]);
        }
    }
}

}  // namespace

void j0_block(const double* z_re, const double* z_im, int n, complex* j) {
    double* out = reinterpret_cast<double*>(j);
    j01_blocks<false>(z_re, z_im, n, [&](bool ok, int i, double a, double b, double, double) {
        double* o = out + 2 * i;
        if (ok) {
            o[0] = a;
            o[1] = b;
        } else {
            detail::scalar_j0_node(z_re[i], z_im[i], o);
        }
    });
}

void j01_block(const double* z_re, const double* z_im, int n, complex* j0, complex* j1) {
    double* out0 = reinterpret_cast<double*>(j0);
    double* out1 = reinterpret_cast<double*>(j1);
    j01_blocks<true>(z_re, z_im, n, [&](bool ok, int i, double a, double b, double c, double d) {
        double* o0 = out0 + 2 * i;
        double* o1 = out1 + 2 * i;
        if (ok) {
            o0[0] = a;
            o0[1] = b;
            o1[0] = c;
            o1[1] = d;
        } else {
            double o[4];
            detail::scalar_j01_node(z_re[i], z_im[i], o);
            o0[0] = o[0];
            o0[1] = o[1];
            o1[0] = o[2];
            o1[1] = o[3];
        }
    });
}

}  // namespace nia::spectral::simd::NIA_SIMD_TARGET
