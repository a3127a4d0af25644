// J0 on blocks of SIMD lanes for the detour and the real-axis segment: the
// power series (|z| < 8) and Miller's backward recurrence (8 <= |z| < 25) for
// real and complex arguments, and Hankel's expansion (|z| >= 25) for real
// ones, each lane stopping at its own term, joining the recurrence at its own
// start order and rescaling on its own. Compiled once per target like
// kernel_lanes.cpp; the operations and their order are bessel_j0's.
//
// Every lane repeats the scalar operations exactly, so the values are bit for
// bit bessel_j0's. Lanes with a tiny or non-finite argument or a complex
// argument from |z| = 25 on go through bessel_j0.
#include <cmath>
#include <cstdint>

#include "../bessel_j0.hpp"
#include "dispatch.hpp"
#include "lane_complex.hpp"

namespace nia::spectral::simd::NIA_SIMD_TARGET {

namespace {

constexpr int W = block_width;
constexpr int V = vector_width;

// Power series sum_j (-z^2/4)^j / (j!)^2, for the lanes in run.
inline void series_vector(vd zr, vd zi, vi run, vd& jr, vd& ji) noexcept {
    vd wr, wi;
    mul(zr, zi, zr, zi, wr, wi);
    wr = -wr * 0.25;
    wi = -wi * 0.25;
    vd tr = splat(1.0), ti = vd{}, sr = splat(1.0), si = vd{}, peak = splat(1.0);
    for (int j = 1; j <= j0_series_terms && any(run); ++j) {
        const double r = reciprocal_table[static_cast<std::size_t>(j)];
        vd nr, ni;
        mul(tr, ti, wr, wi, nr, ni);
        nr = nr * (r * r);
        ni = ni * (r * r);
        tr = select(run, nr, tr);
        ti = select(run, ni, ti);
        sr = select(run, sr + nr, sr);
        si = select(run, si + ni, si);
        const vd s = nr * nr + ni * ni;
        peak = select(run & (s > peak), s, peak);
        run = run & ~(s <= j0_series_stop * peak);
    }
    jr = sr;
    ji = si;
}

// The same series in real arithmetic.
inline vd series_real(vd x, vi run) noexcept {
    const vd w = -(x * x) * 0.25;
    vd term = splat(1.0), sum = splat(1.0), peak = splat(1.0);
    for (int j = 1; j <= j0_series_terms && any(run); ++j) {
        const double r = reciprocal_table[static_cast<std::size_t>(j)];
        const vd t = (term * w) * (r * r);
        term = select(run, t, term);
        sum = select(run, sum + t, sum);
        const vd s = t * t;
        peak = select(run & (s > peak), s, peak);
        run = run & ~(s <= j0_series_stop * peak);
    }
    return sum;
}

// Miller's recurrence J_{k-1} = (2k/z) J_k - J_{k+1} from order n (per lane),
// normalised by J0 + 2 (J2 + J4 + ...) = 1; complex z.
inline void recurrence_vector(vd zr, vd zi, vd q, vi run, vd& jr, vd& ji) noexcept {
    const vd n = 2.0 * floor(0.75 * sqrt(q) + 16.0);
    vd rr, ri;
    div(splat(2.0), vd{}, zr, zi, rr, ri);
    vd nxr = vd{}, nxi = vd{}, kr = splat(j0_miller_seed), ki = vd{};
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
        const vi big = act & (select(fabs(pr) > fabs(pi_), fabs(pr), fabs(pi_)) > j0_miller_big);
        if (any(big)) {
            pr = select(big, pr * j0_miller_rescale, pr);
            pi_ = select(big, pi_ * j0_miller_rescale, pi_);
            kr = select(big, kr * j0_miller_rescale, kr);
            ki = select(big, ki * j0_miller_rescale, ki);
            sr = select(big, sr * j0_miller_rescale, sr);
            si = select(big, si * j0_miller_rescale, si);
            j0r = select(big, j0r * j0_miller_rescale, j0r);
            j0i = select(big, j0i * j0_miller_rescale, j0i);
        }
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
    const vi fast = moderate(tr, ti) & finite(ir) & finite(ii);
    if (any(run & ~fast)) {
        for (int l = 0; l < V; ++l) {
            if (run[l] != 0 && fast[l] == 0) {
                double o[2];
                detail::scalar_j0_normalise(j0r[l], j0i[l], tr[l], ti[l], o);
                jr[l] = o[0];
                ji[l] = o[1];
            }
        }
    }
}

// The same recurrence in real arithmetic.
inline vd recurrence_real(vd x, vd q, vi run) noexcept {
    const vd n = 2.0 * floor(0.75 * sqrt(q) + 16.0);
    const vd r = 2.0 / x;
    vd nx = vd{}, jk = splat(j0_miller_seed), s = vd{}, j0 = vd{};
    int top = 0;
    for (int l = 0; l < V; ++l) top = run[l] != 0 && n[l] > top ? static_cast<int>(n[l]) : top;
    for (int k = top; k >= 1; --k) {
        const vi act = run & (n >= static_cast<double>(k));
        if ((k & 1) == 0) s = select(act, s + 2.0 * jk, s);
        vd p = (static_cast<double>(k) * r) * jk - nx;
        if (k == 1) j0 = select(act, p, j0);
        const vi big = act & (fabs(p) > j0_miller_big);
        if (any(big)) {
            p = select(big, p * j0_miller_rescale, p);
            jk = select(big, jk * j0_miller_rescale, jk);
            s = select(big, s * j0_miller_rescale, s);
            j0 = select(big, j0 * j0_miller_rescale, j0);
        }
        nx = select(act, jk, nx);
        jk = select(act, p, jk);
    }
    return j0 / (j0 + s);
}

// Hankel's expansion for real x >= 25: sqrt(2/(pi x)) (P cos(x - pi/4) - Q
// sin(x - pi/4)) written as sqrt(1/(pi x)) ((P + Q) cos x + (P - Q) sin x).
inline vd asymptotic_real(vd x, vi run) noexcept {
    const vi run0 = run;
    vd p = splat(1.0), q = vd{}, t = splat(1.0), previous = splat(HUGE_VAL);
    const vd inv = 1.0 / x;
    for (int k = 1; k <= hankel_pq_terms && any(run); ++k) {
        const double odd = 2.0 * k - 1.0;
        const vd nt =
            t * ((0.0 - odd * odd) * 0.125 * reciprocal_table[static_cast<std::size_t>(k)]) * inv;
        const vd s = nt * nt;
        run = run & ~(s >= previous);
        t = select(run, nt, t);
        if (k & 1) {
            q = select(run, ((k - 1) / 2) % 2 == 0 ? q + nt : q - nt, q);
        } else {
            p = select(run, k % 4 == 2 ? p - nt : p + nt, p);
        }
        run = run & ~(s < hankel_pq_stop);
        previous = select(run, s, previous);
    }
    // cos x and sin x from libm, as the scalar code takes them: the lane
    // versions' last-bit differences would reach the rows at large rho, where
    // the segment's integral cancels
    vd sn = vd{}, cs = vd{};
    for (int l = 0; l < V; ++l) {
        if (run0[l] != 0) {
            cs[l] = std::cos(x[l]);
            sn[l] = std::sin(x[l]);
        }
    }
    return sqrt((1.0 / pi) / x) * ((p + q) * cs + (p - q) * sn);
}

inline vi j0_vector(vd zr, vd zi, vd& jr, vd& ji) noexcept {
    const vd q = zr * zr + zi * zi;
    const vi fin = (q >= j0_tiny_sq) & (q < 1e300);
    const vi real = fin & (zi == 0.0);
    const vi cplx = fin & ~real & (q < j0_recurrence_sq);
    jr = vd{};
    ji = vd{};  // complex(j0_real(|x|), 0.0) on the real lanes
    vi done = vi{};
    if (any(real)) {
        const vd x = select(real, fabs(zr), splat(1.0));
        const vd qx = x * x;
        const vi ser = real & (qx < j0_series_sq);
        const vi rec = real & ~ser & (qx < j0_recurrence_sq);
        const vi asy = real & ~ser & ~rec;
        if (any(ser)) jr = select(ser, series_real(select(ser, x, splat(1.0)), ser), jr);
        if (any(rec)) {
            const vd v =
                recurrence_real(select(rec, x, splat(10.0)), select(rec, qx, splat(100.0)), rec);
            jr = select(rec, v, jr);
        }
        if (any(asy)) jr = select(asy, asymptotic_real(select(asy, x, splat(30.0)), asy), jr);
        done = ser | rec | asy;
    }
    if (any(cplx)) {
        // J0 is even: a complex argument in the left half-plane is reflected
        const vi left = zr < 0.0;
        const vd ur = select(left, -zr, zr), ui = select(left, -zi, zi);
        const vi ser = cplx & (q < j0_series_sq);
        vi rec = cplx & ~ser;
        if (any(ser)) {
            vd a, b;
            series_vector(select(ser, ur, splat(1.0)), select(ser, ui, splat(1.0)), ser, a, b);
            jr = select(ser, a, jr);
            ji = select(ser, b, ji);
        }
        if (any(rec)) {
            vd a, b;
            recurrence_vector(select(rec, ur, splat(10.0)), select(rec, ui, splat(1.0)),
                              select(rec, q, splat(101.0)), rec, a, b);
            jr = select(rec, a, jr);
            ji = select(rec, b, ji);
        }
        done = done | ser | rec;
    }
    return done & finite(jr) & finite(ji);
}

}  // namespace

void j0_block(const double* z_re, const double* z_im, int n, complex* j) {
    double* out = reinterpret_cast<double*>(j);
    for (int i0 = 0; i0 < n; i0 += V) {
        const int m = n - i0 < V ? n - i0 : V;
        double zr[V], zi[V];
        for (int l = 0; l < V; ++l) {
            zr[l] = z_re[i0 + (l < m ? l : 0)];
            zi[l] = z_im[i0 + (l < m ? l : 0)];
        }
        vd jr, ji;
        const vi ok = j0_vector(load(zr), load(zi), jr, ji);
        for (int l = 0; l < m; ++l) {
            double* o = out + 2 * (i0 + l);
            if (ok[l] != 0) {
                o[0] = jr[l];
                o[1] = ji[l];
            } else {
                detail::scalar_j0_node(z_re[i0 + l], z_im[i0 + l], o);
            }
        }
    }
}

}  // namespace nia::spectral::simd::NIA_SIMD_TARGET
