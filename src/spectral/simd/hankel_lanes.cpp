// H0^(1) and H0^(2), and with them H1^(1) and H1^(2), on blocks of SIMD lanes
// along the route of the tail rays: the rotation of ZBESH onto K0(w) (and
// K1(w)), w = -i z (kind 1) or i z (kind 2), with Re w > 0, and ZBKNU unscaled
// (Re w <= alim): Temme's series for |w| < 2, Miller's algorithm for |w| > 2.
// Compiled once per target like kernel_lanes.cpp.
//
// Each lane repeats ZBKNU's operations in ZBKNU's order. The backward index
// comes from the same formulas (the empirical estimate below R2, the forward
// recurrence from R2 on) with the lane phase, logarithm and cosine; a lane
// whose estimate lies within 1e-9 of an integer is handed back, so that every
// lane kept sweeps from exactly the scalar index. The sweep runs from the
// largest index of the block down to 1, each lane joining at its own index.
// Lanes on the other routes (the continuation for Re w <= 0, the scaled
// path), below |w| = 1e-6, near the switch radii, with a NaN or an
// argument beyond the loss limit, or whose value is not finite or close to
// underflow, go through the scalar hankel0.
//
// K1 rides along as ZBKNU carries it (with_h1): Temme's companion series and
// the ratio of the sweep's first two members. The operations that give H0 are
// the same with or without it, so the H0 of a block is bit for bit the same;
// a lane whose K1 alone leaves the lane ranges takes its H1 from the scalar
// hankel01.
#include <cmath>
#include <cstdint>

#include "../../special/hankel.hpp"
#include "../../special/modified_bessel.hpp"
#include "dispatch.hpp"
#include "lane_blocks.hpp"
#include "lane_complex.hpp"

namespace nia::spectral::simd::NIA_SIMD_TARGET {

namespace {

constexpr int W = block_width;
constexpr int V = vector_width;
namespace sd = special::detail;

// Euler's constant, Temme's g1 = -gamma for order 0 (the first of ZBKNU's
// Taylor coefficients).
constexpr double zbknu_euler = 0.57721566490153287;
// Smallest |w| the series lanes take (the scalar code keeps the rest, down to
// the first-term-only arguments).
constexpr double series_low = 1e-6;
// Indices the lanes sweep from: the range of the backward coefficient table.
constexpr int table_size = sd::zbknu_table_size;
// Relative distance from a switch radius inside which a lane is handed back
// (the lane modulus may differ from hypot's in the last bit).
constexpr double switch_margin = 1e-12;
// Distance of an index estimate from an integer inside which a lane is handed
// back (the lane estimate agrees with the scalar one to far better).
constexpr double index_margin = 1e-9;

// The backward sweep's coefficients, the table the scalar ZBKNU sweeps from.
constexpr const auto& backward = sd::zbknu_backward;

// Temme's series of ZBKNU for order 0 at the lanes of w with |w| < 2, in
// ZBKNU's operations and order: K0(w) = sum_k (w^2/4)^k / k!^2 f_k,
// f_0 = -gamma - ln(w/2), f_k = (k f_{k-1} + p_{k-1} + q_{k-1}) / k^2, with
// p and q the same for every lane. ln(w/2) from the lane logarithm of |w/2|^2
// and the lane phase; each lane stops at its own term. with_h1 also sums
// Temme's companion series for K1, (2/w) sum_k (w^2/4)^k / k! (p_k - k f_k).
template <bool with_h1 = false>
inline void series_vector(vd wr, vd wi, vd caz, vi run, double t2, vd& kr, vd& ki,
                          vd* k1r = nullptr, vd* k1i = nullptr) noexcept {
    const double t1 = 1.0 / t2;
    const double g1 = -zbknu_euler;
    const double g2 = (t1 + t2) * 0.5;
    const vd ur = 0.5 * wr, ui = 0.5 * wi;
    // -ln(w/2); the phase lies in (-pi/2, pi/2) as Re w > 0. |w/2|^2 is
    // carried as an unevaluated sum hi + lo (exact squares and sum), and
    // ln(hi + lo) = ln hi + lo/hi: near |w| = 2, where ln|w/2| is small and
    // the series cancels about tenfold, the rounding of |w/2|^2 would
    // otherwise cost several units in the last place of K0.
    const vd a2 = ur * ur, b2 = ui * ui;
    const vd ea = fma(ur, ur, -a2), eb = fma(ui, ui, -b2);
    const vd hi = a2 + b2;
    const vd bb = hi - a2;
    const vd lo = ((a2 - (hi - bb)) + (b2 - bb)) + (ea + eb);
    const vd smu_r = -(0.5 * (log_lane(hi) + lo / hi));
    const vd smu_i = -copysign(phase_lane(ur, fabs(ui)), ui);
    vd fr = g1 + smu_r * g2, fi = smu_i * g2;
    double p = 0.5 * t1, q = 0.5 / t2;
    vd s1r = fr, s1i = fi;
    vd s2r = splat(p), s2i = vd{};
    vd czr, czi;
    mul(wr, wi, wr, wi, czr, czi);
    czr = czr * 0.25;
    czi = czi * 0.25;
    const vd t1sq = 0.25 * caz * caz;
    vd ckr = splat(1.0), cki = vd{}, a1 = splat(1.0);
    double bk = 1.0, ak = 1.0;
    while (any(run)) {
        const vd nfr = (fr * ak + p + q) / bk, nfi = (fi * ak + 0.0 + 0.0) / bk;
        p /= ak;
        q /= ak;
        const double rak = 1.0 / ak;
        vd nckr, ncki;
        mul(ckr, cki, czr * rak, czi * rak, nckr, ncki);
        vd tr, ti;
        mul(nckr, ncki, nfr, nfi, tr, ti);
        assign_where(run, fr, fi, nfr, nfi);
        assign_where(run, ckr, cki, nckr, ncki);
        assign_where(run, s1r, s1i, s1r + tr, s1i + ti);
        if constexpr (with_h1) {
            vd ur, ui;
            mul(nckr, ncki, p - nfr * ak, 0.0 - nfi * ak, ur, ui);
            assign_where(run, s2r, s2i, s2r + ur, s2i + ui);
        }
        const vd na1 = a1 * (t1sq * rak);
        a1 = select(run, na1, a1);
        bk += ak + ak + 1.0;
        ak += 1.0;
        run = run & (a1 > sd::tol);
    }
    kr = s1r;
    ki = s1i;
    if constexpr (with_h1) {
        vd qr, qi;
        div(splat(2.0), vd{}, wr, wi, qr, qi);
        mul(s2r, s2i, qr, qi, *k1r, *k1i);
    }
}

// ZBKNU and ZBESH at V arguments z; ok marks the lanes computed here. with_h1
// also gives H1, whose lanes are marked in *ok1 (a subset of ok).
template <bool with_h1 = false>
inline vi hankel_vector(int kind, vd zr, vd zi, vd& hr, vd& hi, vd* h1r = nullptr,
                        vd* h1i = nullptr, vi* ok1 = nullptr) noexcept {
    const double fmm = 3.0 - 2.0 * kind;
    // w = -i fmm z, the argument of K0
    const vd xr = fmm * zi, xi = -fmm * zr;
    const vd c = sqrt(xr * xr + xi * xi);
    const vi route =
        (xr > 0.0) & (xr <= sd::alim) & (c < sd::loss_limit) & (fabs(xi) <= trig_lane_limit);
    const vi series = route & (c < 2.0 * (1.0 - switch_margin)) & (c > series_low);
    vi ok = route & (c > 2.0 * (1.0 + switch_margin)) &
            (fabs(c - sd::zbknu_t2) > switch_margin * sd::zbknu_t2);
    // sanitised operands for the lanes handed back
    const vd wr = select(ok, xr, splat(3.0)), wi = select(ok, xi, vd{});
    const vd caz = select(ok, c, splat(3.0));
    // coef = sqrt(pi/2) / sqrt(w) * e^{-w}
    vd sr, si;
    sqrt_lane(wr, wi, sr, si);
    vd qr, qi;
    div(splat(sd::zbknu_rthpi), vd{}, sr, si, qr, qi);
    const vd m = exp_lane(-wr);
    vd sn, cs;
    sincos_lane(-wi, sn, cs);
    vd cfr, cfi;
    mul(qr, qi, m * cs, m * sn, cfr, cfi);
    const vd phase = phase_lane(wr, fabs(wi));
    // the empirical backward index (|w| < R2)
    const vd a2 = sqrt(caz);
    const vd ak = sd::zbknu_fpi * 1.0 / (sd::tol * sqrt(a2));
    vd sa, ca, sb, cb;
    sincos_lane(3.0 * phase / (1.0 + caz), sa, ca);
    sincos_lane(14.7 * phase / (28.0 + caz), sb, cb);
    const vd ake = (log_lane(ak) + caz * ca / (1.0 + 0.008 * caz)) / cb;
    vd fk = 0.12125 * ake * ake / caz + 1.5;
    // the forward recurrence on |w| for the lanes from R2 on, each stopping at
    // its own step
    const vi forward = ok & (caz >= sd::zbknu_t2);
    if (any(forward)) {
        const vd etest = 1.0 / (sd::pi * caz * sd::tol);
        vd fks = splat(2.0), ckr = caz + caz + 2.0, p1 = vd{}, p2 = splat(1.0);
        vd f = splat(1.0), fhs = splat(0.25);
        vi running = forward;
        for (int i = 1; i <= sd::zbknu_kmax && any(running); ++i) {
            const vd a = fhs / fks;
            const vd cbr = ckr / (f + 1.0);
            const vd np2 = cbr * p2 - p1 * a;
            p1 = select(running, p2, p1);
            p2 = select(running, np2, p2);
            ckr = select(running, ckr + 2.0, ckr);
            fks = select(running, fks + (f + f + 2.0), fks);
            fhs = select(running, fhs + (f + f), fhs);
            f = select(running, f + 1.0, f);
            running = running & ~(etest < fabs(p2) * f);
        }
        // a lane that did not settle is handed back (ZBKNU fails there)
        ok = ok & ~running;
        fk = select(forward, f + sd::zbknu_spi * phase * sqrt(sd::zbknu_t2 / caz), fk);
    }
    // the backward index, exactly the scalar one for every lane kept
    const vd fl = floor(fk);
    ok = ok & (fk >= 1.0) & (fk < table_size - 1.0) & (fk - fl > index_margin) &
         (fl + 1.0 - fk > index_margin);
    const vd kk = select(ok, fl, vd{});
    double top = 0.0;
    for (int l = 0; l < V; ++l) top = kk[l] > top ? kk[l] : top;
    // backward sweep from tol: p_{k-1} = (p_k cb - p_{k+1}) akk, summed in cs
    vd p1r = vd{}, p1i = vd{}, p2r = splat(sd::tol), p2i = vd{};
    vd csr = splat(sd::tol), csi = vd{};
    for (int j = static_cast<int>(top); j >= 1; --j) {
        const double akk = backward.akk[j], rak = backward.rak[j];
        const double fj = j;
        const vi act = kk >= fj;
        const vd cbr = (fj + wr) * rak, cbi = wi * rak;
        const vd nr = (p2r * cbr - p2i * cbi - p1r) * akk;
        const vd ni = (p2r * cbi + p2i * cbr - p1i) * akk;
        assign_where(act, p1r, p1i, p2r, p2i);
        assign_where(act, p2r, p2i, nr, ni);
        assign_where(act, csr, csi, csr + nr, csi + ni);
    }
    ok = ok & moderate(csr, csi);
    const vd rtm = 1.0 / sqrt(csr * csr + csi * csi);
    // coef ((rtm p2) (conj(cs) rtm))
    vd xr2, xi2, cyr, cyi;
    mul(rtm * p2r, rtm * p2i, csr * rtm, -csi * rtm, xr2, xi2);
    mul(cfr, cfi, xr2, xi2, cyr, cyi);
    // K1 = K0 (w + 1/2 - p_1/p_0) / w, both quotients on their fast paths
    vd k1r = vd{}, k1i = vd{};
    vi good1 = vi{};
    if constexpr (with_h1) {
        vd rr, ri, fr, fi;
        div(p1r, p1i, p2r, p2i, rr, ri);
        div((wr + 0.5) - rr, wi - ri, wr, wi, fr, fi);
        mul(cyr, cyi, fr, fi, k1r, k1i);
        good1 = moderate(p1r, p1i) & moderate(p2r, p2i);
    }
    if (any(series)) {
        vd kr, ki, lr, li;
        const vd sr_ = select(series, xr, splat(1.0)), si_ = select(series, xi, vd{});
        series_vector<with_h1>(sr_, si_, select(series, c, splat(1.0)), series, 1.0, kr, ki, &lr,
                               &li);  // exp(-ln Gamma(1)) = 1
        cyr = select(series, kr, cyr);
        cyi = select(series, ki, cyi);
        ok = ok | series;
        if constexpr (with_h1) {
            k1r = select(series, lr, k1r);
            k1i = select(series, li, k1i);
            good1 = good1 | series;
        }
    }
    // ZBESH's lift of values near underflow is left to the scalar code
    const vd big = select(fabs(cyr) > fabs(cyi), fabs(cyr), fabs(cyi));
    ok = ok & (big > sd::ascle);
    // times i rhpi, the zero real part of the factor acting as -0.0
    const double rhpi = 1.0 / (kind == 1 ? -sd::hpi : sd::hpi);
    hr = (cyr * (-0.0) - cyi * rhpi) * 1.0;
    hi = (cyr * rhpi + cyi * (-0.0)) * 1.0;
    ok = ok & finite(hr) & finite(hi);
    if constexpr (with_h1) {
        // times -2/pi for both kinds, with ZBESH's lift likewise left to the
        // scalar code
        const double factor = -(1.0 / sd::hpi);
        const vd big1 = select(fabs(k1r) > fabs(k1i), fabs(k1r), fabs(k1i));
        *h1r = k1r * factor * 1.0;
        *h1i = k1i * factor * 1.0;
        *ok1 = ok & good1 & (big1 > sd::ascle) & finite(*h1r) & finite(*h1i);
    }
    return ok;
}

void hankel_lanes(int kind, const double* z_re, const double* z_im, double* out) noexcept {
    for (int v0 = 0; v0 < W; v0 += V) {
        vd hr, hi;
        const vi ok = hankel_vector(kind, load(z_re + v0), load(z_im + v0), hr, hi);
        for (int l = 0; l < V; ++l) {
            double* o = out + 2 * (v0 + l);
            if (ok[l] != 0) {
                o[0] = hr[l];
                o[1] = hi[l];
            } else {
                detail::scalar_hankel_node(kind, z_re[v0 + l], z_im[v0 + l], o);
            }
        }
    }
}

// hankel01 at the W arguments of one block: h0 as hankel_lanes gives it, h1
// from the lanes where they hold and from the scalar code elsewhere.
void hankel01_lanes(int kind, const double* z_re, const double* z_im, double* out0,
                    double* out1) noexcept {
    for (int v0 = 0; v0 < W; v0 += V) {
        vd hr, hi, gr, gi;
        vi ok1;
        const vi ok =
            hankel_vector<true>(kind, load(z_re + v0), load(z_im + v0), hr, hi, &gr, &gi, &ok1);
        for (int l = 0; l < V; ++l) {
            double* o0 = out0 + 2 * (v0 + l);
            double* o1 = out1 + 2 * (v0 + l);
            if (ok1[l] != 0) {
                o0[0] = hr[l];
                o0[1] = hi[l];
                o1[0] = gr[l];
                o1[1] = gi[l];
                continue;
            }
            double o[4];
            detail::scalar_hankel01_node(kind, z_re[v0 + l], z_im[v0 + l], o);
            o0[0] = ok[l] != 0 ? hr[l] : o[0];
            o0[1] = ok[l] != 0 ? hi[l] : o[1];
            o1[0] = o[2];
            o1[1] = o[3];
        }
    }
}

}  // namespace

void hankel_block(int kind, const double* z_re, const double* z_im, int n, complex* h) {
    double* out = reinterpret_cast<double*>(h);
    if (kind != 1 && kind != 2) {
        for (int i = 0; i < n; ++i) detail::scalar_hankel_node(kind, z_re[i], z_im[i], out + 2 * i);
        return;
    }
    in_blocks<2, 1>(z_re, z_im, n, {out}, [kind](const double* zr, const double* zi, auto o) {
        hankel_lanes(kind, zr, zi, o[0]);
    });
}

void hankel01_block(int kind, const double* z_re, const double* z_im, int n, complex* h0,
                    complex* h1) {
    double* out0 = reinterpret_cast<double*>(h0);
    double* out1 = reinterpret_cast<double*>(h1);
    if (kind != 1 && kind != 2) {
        for (int i = 0; i < n; ++i) {
            double o[4];
            detail::scalar_hankel01_node(kind, z_re[i], z_im[i], o);
            out0[2 * i] = o[0];
            out0[2 * i + 1] = o[1];
            out1[2 * i] = o[2];
            out1[2 * i + 1] = o[3];
        }
        return;
    }
    in_blocks<2, 2>(z_re, z_im, n, {out0, out1},
                    [kind](const double* zr, const double* zi, auto o) {
                        hankel01_lanes(kind, zr, zi, o[0], o[1]);
                    });
}

}  // namespace nia::spectral::simd::NIA_SIMD_TARGET
