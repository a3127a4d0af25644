// The plane-wave response of a stack of layers on blocks of SIMD lanes: the
// recursion of layered_response.hpp, written once over its arithmetic, run
// here on vectors of complex values, one node per lane. Compiled once per
// target with NIA_SIMD_TARGET naming the target's namespace; nothing here is
// shared between targets (the recursion is instantiated for this target's own
// vector type only). The field columns of a pick (layered_columns.hpp) are
// formed here from each vector of nodes by the same formulas, so that the
// panel rules only read them; the nodes alone are handed out too, for the
// tests that hold them to the scalar code.
//
// Each value carries a mask of the lanes where every step that led to it took
// the fast path of its complex helper (square root, quotient, exponential);
// a lane whose outputs lost that mark, or are not all finite, is recomputed by
// the scalar code, so special values behave exactly as on the scalar path.
// Square roots, products and quotients repeat the scalar operations; the
// exponentials are the lane ones, and an exponential below e^-700 is taken as
// zero (the scalar code's is at most 1e-304 times an amplitude of order one).
#include <array>
#include <cmath>
#include <cstdint>

#include "dispatch.hpp"
#include "lane_complex.hpp"

namespace nia::spectral::simd::NIA_SIMD_TARGET {

namespace {

constexpr int W = block_width;
constexpr int V = vector_width;
static_assert(W % V == 0, "a block is a whole number of vectors");
static_assert(sizeof(layered_node) == 22 * sizeof(double), "eleven complex values");

// Media a stack may hold for its recursion to run on the lanes: a lane value
// is a whole vector with its mask (up to 192 bytes), and the recursion's
// scratch of N media per array stays within some 40 KiB of the thread's stack
// at this bound. Deeper stacks run the scalar code node by node.
constexpr int lane_layers = 16;

inline vi all_lanes() noexcept { return vi{} - 1; }

// A complex value in every lane, with the lanes where it holds.
struct lane_value {
    vd re, im;
    vi ok;
    lane_value() noexcept = default;
    explicit lane_value(double x) noexcept : re(splat(x)), im(splat(0.0)), ok(all_lanes()) {}
    lane_value(vd r, vd i, vi o) noexcept : re(r), im(i), ok(o) {}
};

// A stack's admittance factor, the same in every lane.
struct lane_factor {
    double re, im;
};

inline lane_value operator+(const lane_value& a, const lane_value& b) noexcept {
    return {a.re + b.re, a.im + b.im, a.ok & b.ok};
}
inline lane_value operator-(const lane_value& a, const lane_value& b) noexcept {
    return {a.re - b.re, a.im - b.im, a.ok & b.ok};
}
inline lane_value operator-(const lane_value& a) noexcept { return {-a.re, -a.im, a.ok}; }
inline lane_value operator*(const lane_value& a, const lane_value& b) noexcept {
    lane_value p;
    mul(a.re, a.im, b.re, b.im, p.re, p.im);
    p.ok = a.ok & b.ok;
    return p;
}
inline lane_value operator*(const lane_value& a, const lane_factor& f) noexcept {
    lane_value p;
    mul(a.re, a.im, splat(f.re), splat(f.im), p.re, p.im);
    p.ok = a.ok;
    return p;
}
inline lane_value operator*(const lane_value& a, double x) noexcept {
    return {a.re * x, a.im * x, a.ok};
}
inline lane_value operator*(double x, const lane_value& a) noexcept {
    return {x * a.re, x * a.im, a.ok};
}
// A constant of the columns (the record's) times a lane value, and the other
// way round: the same products as in complex arithmetic.
inline lane_value operator*(const complex& f, const lane_value& a) noexcept {
    lane_value p;
    mul(splat(f.real()), splat(f.imag()), a.re, a.im, p.re, p.im);
    p.ok = a.ok;
    return p;
}
inline lane_value operator*(const lane_value& a, const complex& f) noexcept {
    lane_value p;
    mul(a.re, a.im, splat(f.real()), splat(f.imag()), p.re, p.im);
    p.ok = a.ok;
    return p;
}
inline lane_value operator-(double x, const lane_value& a) noexcept {
    return {x - a.re, 0.0 - a.im, a.ok};
}

// a / b by the quotient's fast path, where both are moderate and the result
// finite.
inline lane_value quotient(const lane_value& a, const lane_value& b) noexcept {
    lane_value q;
    div(a.re, a.im, b.re, b.im, q.re, q.im);
    q.ok = a.ok & b.ok & moderate(a.re, a.im) & moderate(b.re, b.im) & finite(q.re) & finite(q.im);
    return q;
}

// e^x (cos y + i sin y); zero below e^-700.
inline lane_value complex_exp(const lane_value& e) noexcept {
    const vi vanishing = (e.re <= -exp_lane_limit) & (fabs(e.im) <= trig_lane_limit);
    const vi fast = (fabs(e.re) < exp_lane_limit) & (fabs(e.im) <= trig_lane_limit);
    const vd m = exp_lane(select(fast, e.re, vd{}));
    vd sn, cs;
    sincos_lane(select(fast, e.im, vd{}), sn, cs);
    const vd zero{};
    return {select(fast, m * cs, zero), select(fast, m * sn, zero), e.ok & (fast | vanishing)};
}

// e^x - 1 for |x| < exp_lane_limit, from e^x given: by its Taylor series
// x (1 + x/2 (1 + x/3 (...))) to x^17 below |x| = 1/2, where e^x - 1 would
// lose digits.
inline vd expm1_lane(vd x, vd ex) noexcept {
    vd t = splat(1.0);
    for (int k = 17; k >= 2; --k) t = fma(x * (1.0 / k), t, splat(1.0));
    return select(fabs(x) < 0.5, x * t, ex - 1.0);
}

// e^(x + iy) - 1 as complex_expm1 takes it: expm1(x) cos y - 2 sin^2(y/2),
// with cos y and sin y from the half angle.
inline lane_value complex_expm1(const lane_value& e) noexcept {
    const vi fast = (fabs(e.re) < exp_lane_limit) & (fabs(0.5 * e.im) <= trig_lane_limit);
    const vd x = select(fast, e.re, vd{});
    const vd ex = exp_lane(x);
    const vd em = expm1_lane(x, ex);
    vd sh, ch;
    sincos_lane(select(fast, 0.5 * e.im, vd{}), sh, ch);
    const vd versine = 2.0 * sh * sh;  // 1 - cos y
    return {em * (1.0 - versine) - versine, ex * (2.0 * sh * ch), e.ok & fast};
}

// near where Re w < 1, far elsewhere.
inline lane_value pick_near(const lane_value& w, const lane_value& near,
                            const lane_value& far) noexcept {
    const vi m = w.re < 1.0;
    return {select(m, near.re, far.re), select(m, near.im, far.im), m ? near.ok : far.ok};
}

// The recursion's roots of the inner layers: Re gamma >= 0.
inline lane_value right_half(const lane_value& g) noexcept {
    const vi right = g.re >= 0.0;
    return {select(right, g.re, -g.re), select(right, g.im, -g.im), g.ok};
}

// The eleven values of a node, in the order of its members.
template <class T>
inline std::array<T, 11> values_of(const response_node<T>& v) noexcept {
    return {v.te.s.plus, v.te.s.minus, v.te.d.plus, v.te.d.minus, v.tm.s.plus,   v.tm.s.minus,
            v.tm.d.plus, v.tm.d.minus, v.g_s,       v.g_r,        v.half_over_gs};
}

// The nodes at V nodes; false lanes of the returned mask are left to the
// scalar code.
template <int Pols>
inline vi layered_vector(const layer_view<lane_factor>& view, const double* k,
                         const layered_point& pt, vd lr, vd li,
                         response_node<lane_value>& node) noexcept {
    const int n = view.n, own = pt.r == pt.s ? pt.s : -1;
    layer_scratch<lane_value, lane_layers> gamma;
    for (int j = 0; j < n; ++j) {
        lane_value g;
        g.ok = all_lanes();
        vertical_lane(lr, li, k[2 * j], k[2 * j + 1], g.re, g.im, g.ok);
        gamma[j] = j == 0 || j == n - 1 || j == own ? g : right_half(g);
    }
    waves_of<lane_value> waves[2];
    response_on<Pols, lane_layers>(view, pt, gamma.data(), waves);
    node = node_from_waves(waves, gamma[pt.s], gamma[pt.r]);
    vi ok = all_lanes();
    for (const lane_value& v : values_of(node)) ok = ok & v.ok & finite(v.re) & finite(v.im);
    return ok;
}

// Size complex values per node at n nodes into out (2 Size doubles a node),
// V nodes at a time: vector(view, k, lr, li, values) forms them on the lanes
// and returns the lanes that hold; every other lane, and every node of a
// stack deeper than the lanes' scratch, goes to scalar(lam_re, lam_im, o).
template <int Size, class Vector, class Scalar>
void stack_lanes(const layer_stack& st, const double* lam_re, const double* lam_im, int n,
                 double* out, const Vector& vector, const Scalar& scalar) noexcept {
    if (st.n > lane_layers) {
        for (int i = 0; i < n; ++i) scalar(lam_re[i], lam_im[i], out + 2 * Size * i);
        return;
    }
    // the stack's arrays of complex values, read as pairs of doubles
    const layer_view<lane_factor> view{st.n, reinterpret_cast<const lane_factor*>(&st.inv_mu),
                                       reinterpret_cast<const lane_factor*>(&st.inv_eps),
                                       reinterpret_cast<const double*>(&st.top),
                                       reinterpret_cast<const double*>(&st.bottom)};
    const double* k = reinterpret_cast<const double*>(&st.k);
    for (int i0 = 0; i0 < n; i0 += V) {
        const int m = n - i0 < V ? n - i0 : V;
        // a short last vector repeats its first node
        double zr[V], zi[V];
        for (int l = 0; l < V; ++l) {
            zr[l] = lam_re[i0 + (l < m ? l : 0)];
            zi[l] = lam_im[i0 + (l < m ? l : 0)];
        }
        std::array<lane_value, Size> values;
        const vi ok = vector(view, k, load(zr), load(zi), values);
        for (int l = 0; l < m; ++l) {
            double* o = out + 2 * Size * (i0 + l);
            if (ok[l] == 0) {
                scalar(zr[l], zi[l], o);
                continue;
            }
            for (int c = 0; c < Size; ++c) {
                o[2 * c] = values[c].re[l];
                o[2 * c + 1] = values[c].im[l];
            }
        }
    }
}

// The nodes, written as doubles in the order of their members.
template <int Pols>
void layered_lanes(const layer_stack& st, const layered_point& pt, const double* lam_re,
                   const double* lam_im, int n, layered_node* out) noexcept {
    stack_lanes<11>(
        st, lam_re, lam_im, n, reinterpret_cast<double*>(out),
        [&pt](const layer_view<lane_factor>& view, const double* k, vd lr, vd li,
              std::array<lane_value, 11>& values) {
            response_node<lane_value> node;
            const vi ok = layered_vector<Pols>(view, k, pt, lr, li, node);
            values = values_of(node);
            return ok;
        },
        [&](double re, double im, double* o) {
            detail::scalar_layered_node(st, pt, Pols, re, im, reinterpret_cast<layered_node*>(o));
        });
}

// The columns of the pick P at n nodes (see layered_columns_block_fn): the
// node on the lanes as above, then the pick's columns from it by the same
// formulas as in complex arithmetic; a lane whose node or columns are not all
// held and finite is recomputed whole by the scalar code.
template <class P>
void columns_lanes(const layered_record& q, const double* lam_re, const double* lam_im, int n,
                   double* out) noexcept {
    stack_lanes<P::size>(
        *q.stack, lam_re, lam_im, n, out,
        [&q](const layer_view<lane_factor>& view, const double* k, vd lr, vd li,
             std::array<lane_value, P::size>& K) {
            response_node<lane_value> node;
            vi ok = layered_vector<P::pols>(view, k, q.point, lr, li, node);
            P::values(q, lane_value(lr, li, all_lanes()), node, K.data());
            for (const lane_value& v : K) ok = ok & v.ok & finite(v.re) & finite(v.im);
            return ok;
        },
        [&q](double re, double im, double* o) {
            detail::scalar_layered_columns(q, P::id, re, im, o);
        });
}

}  // namespace

void layered_columns_block(const layered_record& q, int pick, const double* lam_re,
                           const double* lam_im, int n, double* out) {
    with_layered_pick(pick, [&](auto p) { columns_lanes<decltype(p)>(q, lam_re, lam_im, n, out); });
}

void layered_block(const layer_stack& st, const layered_point& pt, int pols, const double* lam_re,
                   const double* lam_im, int n, layered_node* out) {
    if (pols == te_bit) {
        layered_lanes<te_bit>(st, pt, lam_re, lam_im, n, out);
    } else if (pols == tm_bit) {
        layered_lanes<tm_bit>(st, pt, lam_re, lam_im, n, out);
    } else {
        layered_lanes<both_polarisations>(st, pt, lam_re, lam_im, n, out);
    }
}

}  // namespace nia::spectral::simd::NIA_SIMD_TARGET
