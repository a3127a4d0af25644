// The SIMD lane code of every target this build has and this CPU runs, set
// against the scalar table member by member: on x86-64 the AVX2 and AVX-512
// lanes, on aarch64 the Advanced SIMD lanes (scripts/aarch64_tests.sh runs this
// binary under emulation). Built with -DNIA_CXX_TESTS=ON and run by ctest.
//
// Each member of the dispatch table is evaluated at pseudo-random arguments
// that cover its methods and both sides of every switch between them, and at
// special values mixed into blocks of ordinary ones. Values the scalar code
// gives as non-finite, zero or huge must come back bit for bit; ordinary ones
// within the member's tolerance (the J0 lanes bit for bit everywhere). The
// arguments are also fed in blocks of every short length, so that the padded
// lanes are exercised and no lane's value depends on its neighbours.
//
// A new member of the table (another order of J or H, say) is one more entry
// in members(): how to call it, its arguments, its specials, its tolerance.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "core/numeric.hpp"
#include "spectral/kernel.hpp"
#include "spectral/simd/dispatch.hpp"

namespace {

namespace simd = nia::spectral::simd;
using nia::core::complex;

constexpr double eps = std::numeric_limits<double>::epsilon();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double pi = nia::core::pi;

// splitmix64: the same argument sequence on every platform and library.
class random_stream {
  public:
    explicit random_stream(std::uint64_t seed) : state_(seed) {}
    double uniform(double a, double b) {
        state_ += 0x9e3779b97f4a7c15ULL;
        std::uint64_t x = state_;
        x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
        x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
        x ^= x >> 31;
        return a + (b - a) * static_cast<double>(x >> 11) * 0x1p-53;
    }
    // 10^u, u uniform in [lo, hi): every magnitude alike
    double decades(double lo, double hi) { return std::pow(10.0, uniform(lo, hi)); }

  private:
    std::uint64_t state_;
};

bool same_bits(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || (a == b && std::signbit(a) == std::signbit(b));
}
bool same_bits(complex a, complex b) {
    return same_bits(a.real(), b.real()) && same_bits(a.imag(), b.imag());
}

// The error of one node's values against the scalar ones.
using error_fn = double (*)(const complex* got, const complex* ref, int width);

// The largest difference relative to the node's largest scalar value, in eps.
double relative_error(const complex* got, const complex* ref, int width) {
    double diff = 0.0, scale = 0.0;
    for (int c = 0; c < width; ++c) {
        diff = std::fmax(diff, std::abs(got[c] - ref[c]));
        scale = std::fmax(scale, std::abs(ref[c]));
    }
    return diff / scale / eps;
}

// The largest difference of a real part in units of the spacing of doubles
// at the scalar value.
double real_ulps(const complex* got, const complex* ref, int width) {
    double worst = 0.0;
    for (int c = 0; c < width; ++c) {
        const double r = std::fabs(ref[c].real());
        const double spacing = std::nextafter(r, inf) - r;
        worst = std::fmax(worst, std::fabs(got[c].real() - ref[c].real()) / spacing);
    }
    return worst;
}

// A node is ordinary when all its scalar values are finite and its largest is
// neither zero nor beyond huge; every other node must come back bit for bit.
bool ordinary(const complex* ref, int width, double huge) {
    double scale = 0.0;
    for (int c = 0; c < width; ++c) {
        if (!std::isfinite(ref[c].real()) || !std::isfinite(ref[c].imag())) return false;
        scale = std::fmax(scale, std::abs(ref[c]));
    }
    return scale > 0.0 && scale < huge;
}

using block_fn = std::function<void(const simd::lane_functions&, const double* re, const double* im,
                                    int n, complex* out)>;

struct member {
    std::string name;
    int width;      // values per node
    block_fn call;  // the member of a table at n arguments
    std::vector<complex> arguments;
    std::vector<complex> specials;  // each mixed into a block of ordinary arguments
    error_fn error;
    double max_error;             // on ordinary nodes; 0: bit for bit everywhere
    double p99_error = 0.0;       // the 99th percentile over the arguments (0: not tested)
    bool specials_exact = false;  // the specials bit for bit even where ordinary
    // the lanes must compute (not hand back) enough values to differ from the
    // scalar ones at this share of the arguments at least
    double min_share_differing = 0.0;
    // values from this modulus on come from the scalar code (the kernel's
    // lanes hand back operands beyond the fast complex helpers' range)
    double huge = inf;
};

int failures = 0;

void fail(const std::string& target, const member& m, const char* what, complex z, double err) {
    ++failures;
    std::printf("FAILED %s %s: %s at (%.17g, %.17g), error %.3g\n", target.c_str(), m.name.c_str(),
                what, z.real(), z.imag(), err);
}

std::vector<complex> evaluate(const simd::lane_functions& f, const member& m,
                              const std::vector<complex>& z, int chunk) {
    std::vector<double> re(z.size()), im(z.size());
    for (std::size_t i = 0; i < z.size(); ++i) {
        re[i] = z[i].real();
        im[i] = z[i].imag();
    }
    std::vector<complex> out(z.size() * static_cast<std::size_t>(m.width));
    const int n = static_cast<int>(z.size());
    for (int i0 = 0; i0 < n; i0 += chunk) {
        const int len = n - i0 < chunk ? n - i0 : chunk;
        m.call(f, re.data() + i0, im.data() + i0, len, out.data() + i0 * m.width);
    }
    return out;
}

// The special values, each at three positions of a block of eleven ordinary
// arguments (a whole block of eight and a short one of three).
std::vector<complex> special_blocks(const member& m, std::vector<int>& where) {
    std::vector<complex> z;
    for (const complex s : m.specials) {
        for (const int position : {0, 5, 9}) {
            const std::size_t start = z.size();
            for (int i = 0; i < 11; ++i) z.push_back(m.arguments[static_cast<std::size_t>(i)]);
            z[start + static_cast<std::size_t>(position)] = s;
            where.push_back(static_cast<int>(start) + position);
        }
    }
    return z;
}

void check_member(const simd::lane_functions& lanes, const member& m) {
    const simd::lane_functions& scalar = *simd::lanes_for("scalar");
    const std::string target = lanes.target;
    const int w = m.width;

    // the arguments in one call (whole blocks and a short last one)
    const std::vector<complex>& z = m.arguments;
    const std::vector<complex> ref = evaluate(scalar, m, z, static_cast<int>(z.size()));
    const std::vector<complex> got = evaluate(lanes, m, z, static_cast<int>(z.size()));
    std::vector<double> errors;
    double worst = 0.0;
    complex worst_at;
    std::size_t differing = 0;
    for (std::size_t i = 0; i < z.size(); ++i) {
        const complex* g = &got[i * w];
        const complex* r = &ref[i * w];
        bool identical = true;
        for (int c = 0; c < w; ++c) identical = identical && same_bits(g[c], r[c]);
        differing += identical ? 0 : 1;
        if (identical) {
            errors.push_back(0.0);
            continue;
        }
        if (m.max_error == 0.0 || !ordinary(r, w, m.huge)) {
            fail(target, m, "not bit for bit", z[i], nan);
            continue;
        }
        const double err = m.error(g, r, w);
        errors.push_back(err);
        if (!(err <= worst)) {
            worst = err;
            worst_at = z[i];
        }
    }
    if (!(worst <= m.max_error)) fail(target, m, "worst error above tolerance", worst_at, worst);
    if (m.p99_error > 0.0 && !errors.empty()) {
        std::vector<double> sorted = errors;
        const std::size_t k = sorted.size() * 99 / 100;
        std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(k),
                         sorted.end());
        if (!(sorted[k] <= m.p99_error)) fail(target, m, "99th percentile", {}, sorted[k]);
    }
    const double share = static_cast<double>(differing) / static_cast<double>(z.size());
    if (share < m.min_share_differing) fail(target, m, "lanes handed back most values", {}, share);

    // every short block length: each lane's value is its own, padding or not
    for (int chunk = 1; chunk <= 2 * simd::block_width + 1; ++chunk) {
        const std::vector<complex> part = evaluate(lanes, m, z, chunk);
        for (std::size_t i = 0; i < part.size(); ++i) {
            if (!same_bits(part[i], got[i])) {
                fail(target, m, ("depends on its block, length " + std::to_string(chunk)).c_str(),
                     z[i / static_cast<std::size_t>(w)], nan);
                break;
            }
        }
    }

    // the special values inside blocks of ordinary ones
    std::vector<int> where;
    const std::vector<complex> s = special_blocks(m, where);
    const std::vector<complex> sref = evaluate(scalar, m, s, static_cast<int>(s.size()));
    const std::vector<complex> sgot = evaluate(lanes, m, s, static_cast<int>(s.size()));
    std::size_t next = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const complex* g = &sgot[i * w];
        const complex* r = &sref[i * w];
        const bool special = next < where.size() && where[next] == static_cast<int>(i);
        if (special) ++next;
        bool identical = true;
        for (int c = 0; c < w; ++c) identical = identical && same_bits(g[c], r[c]);
        if (identical) continue;
        if (m.max_error == 0.0 || !ordinary(r, w, m.huge) || (special && m.specials_exact)) {
            fail(target, m, "special block not bit for bit", s[i], nan);
        } else if (!(m.error(g, r, w) <= m.max_error)) {
            fail(target, m, "special block above tolerance", s[i], m.error(g, r, w));
        }
    }
    std::printf("%-7s %-40s %6zu args, %5.1f%% differ, worst %.2f at (%.6g, %.6g)\n",
                target.c_str(), m.name.c_str(), z.size(), 100.0 * share, worst, worst_at.real(),
                worst_at.imag());
}

// ------------------------------------------------------------ the arguments

// Real arguments as complex numbers with a zero imaginary part.
std::vector<complex> as_complex(const std::vector<double>& x) {
    return std::vector<complex>(x.begin(), x.end());
}

std::vector<complex> exp_arguments() {
    random_stream r(1);
    std::vector<double> x;
    for (int i = 0; i < 1500; ++i) x.push_back(r.uniform(-699.9, 699.9));
    for (int i = 0; i < 300; ++i) x.push_back(r.uniform(-1.0, 1.0));
    for (int i = 0; i < 300; ++i) x.push_back(r.decades(-300, 0) * (i % 2 ? -1.0 : 1.0));
    // both sides of the half-integer multiples of ln 2, where the reduction's k changes
    for (int k = -1000; k <= 1000; k += 37) {
        const double e = (k + 0.5) * std::log(2.0);
        if (std::fabs(e) >= 699.0) continue;
        for (const double v : {std::nextafter(e, -inf), e, std::nextafter(e, inf)}) x.push_back(v);
    }
    return as_complex(x);
}

std::vector<complex> trig_arguments() {
    random_stream r(2);
    std::vector<double> x;
    for (int i = 0; i < 800; ++i) x.push_back(r.uniform(-4.0, 4.0));
    for (int i = 0; i < 600; ++i) x.push_back(r.uniform(-100.0, 100.0));
    for (int i = 0; i < 600; ++i) x.push_back(r.uniform(-1e5, 1e5));
    // near multiples of pi/4 and pi/2 (the quadrant and reduction switches)
    for (int i = 0; i < 300; ++i) {
        const double k = std::round(r.decades(0, 5));
        for (const double v : {k * pi / 4, k * pi / 2}) {
            if (v > 1e5) continue;
            x.push_back(v);
            x.push_back(-v);
        }
    }
    for (int i = 0; i < 200; ++i) x.push_back(r.decades(-300, 0));
    x.push_back(1e5);
    x.push_back(-1e5);
    return as_complex(x);
}

// lambda where the panel rules put their nodes for a lower medium k_m: the
// detour's arch, the real axis through the branch points, the tail rays.
std::vector<complex> path_points(complex k_m, std::uint64_t seed) {
    random_stream r(seed);
    const double span = 2.0 * std::fmax(1.0, std::abs(k_m));
    std::vector<complex> lam;
    for (int i = 0; i < 600; ++i) {
        const double t = r.uniform(0.0, span);
        lam.emplace_back(t, 0.1 * std::sin(pi * t / span));
    }
    for (int i = 0; i < 600; ++i) lam.emplace_back(r.uniform(0.0, 12.0 * span), 0.0);
    for (int i = 0; i < 600; ++i) {
        const double rho = r.decades(-2, 3), angle = r.uniform(0.05, 1.5);
        lam.push_back(10.0 * span + std::polar(rho, angle));
    }
    return lam;
}

// rho lambda on the tail rays of kind 1 (the first quadrant): moduli from 0.1
// to 1e5, the series below |w| = 2, and both sides of every switch radius of
// K0 (2, R2), of the lanes' margins around them and of the lowest series
// argument; kind 2 takes the conjugates.
std::vector<complex> ray_arguments(int kind) {
    random_stream r(3);
    std::vector<complex> z;
    for (int i = 0; i < 3000; ++i) z.push_back(std::polar(r.decades(-1, 5), r.uniform(0, pi / 2)));
    for (int i = 0; i < 1500; ++i) {
        z.push_back(std::polar(r.decades(-7, std::log10(2.0)), r.uniform(0, pi / 2)));
    }
    for (const double edge : {2.0, 28.666666666666664, 1e-6}) {
        for (const double d : {-3e-12, -1e-12, -1e-13, -1e-15, 0.0, 1e-15, 1e-13, 1e-12, 3e-12}) {
            for (const double angle : {0.7, 0.05, 1.5})
                z.push_back(std::polar(edge * (1 + d), angle));
        }
    }
    // Re w near the largest the unscaled route takes (w = -i z, Re w = Im z)
    for (const double d : {-1.0, -1e-9, 0.0, 1e-9, 1.0}) {
        z.emplace_back(3.0, 664.8716455337102 + d);
        z.emplace_back(-40.0, 664.8716455337102 + d);
    }
    if (kind == 2) {
        for (complex& v : z) v = std::conj(v);
    }
    return z;
}

// The detour's complex and the segment's real arguments of J0: every method's
// range and both sides of the switch radii 8 and 25.
std::vector<complex> j0_arguments() {
    random_stream r(4);
    std::vector<complex> z;
    for (int i = 0; i < 3000; ++i) z.emplace_back(r.decades(-5.9, 5), 0.0);
    for (int i = 0; i < 2000; ++i) z.emplace_back(r.uniform(-40, 40), 0.0);
    for (int i = 0; i < 3000; ++i) {
        z.push_back(std::polar(r.decades(-5.9, std::log10(25.0)), r.uniform(-pi, pi)));
    }
    for (int i = 0; i < 2000; ++i) z.emplace_back(r.uniform(0, 30), r.uniform(0, 3));
    for (const double edge : {8.0, 25.0, 1e-6}) {
        for (const double d : {-1e-9, -1e-15, 0.0, 1e-15, 1e-9}) {
            const double v = edge * (1 + d);
            for (const complex u : {complex(1, 0), complex(-1, 0), std::polar(1.0, 0.3),
                                    -std::polar(1.0, 0.3), std::polar(1.0, -2.0)}) {
                z.push_back(v * u);
            }
        }
    }
    return z;
}

// ------------------------------------------------------------ the members

block_fn kernel_at(double z, double zp, complex k_m) {
    const nia::spectral::kernel_record rec = nia::spectral::make_kernel_record(z, zp, 1.0, k_m);
    // the six kernel values the panel rules form from the lanes' kernel parts
    return [rec](const simd::lane_functions& f, const double* re, const double* im, int n,
                 complex* out) {
        std::vector<nia::spectral::kernel_parts> p(static_cast<std::size_t>(n));
        f.kernel_parts_block(rec, re, im, n, p.data());
        for (int i = 0; i < n; ++i)
            nia::spectral::six_from_parts(p[static_cast<std::size_t>(i)], out + 6 * i);
    };
}

block_fn hankel_of_kind(int kind) {
    return [kind](const simd::lane_functions& f, const double* re, const double* im, int n,
                  complex* out) { f.hankel_block(kind, re, im, n, out); };
}

std::vector<member> members() {
    const complex k_lossy = std::sqrt(complex(4.0, -1.0));
    std::vector<member> all;

    member exp{
        "exp_block", 1,
        [](const simd::lane_functions& f, const double* re, const double*, int n, complex* out) {
            std::vector<double> y(static_cast<std::size_t>(n));
            f.exp_block(re, y.data(), n);
            for (int i = 0; i < n; ++i) out[i] = y[static_cast<std::size_t>(i)];
        },
        exp_arguments(),
        as_complex({nan, inf, -inf, 700.0, -700.0, 710.0, -746.0, 1e300, 0.0, -0.0}), real_ulps,
        // the lanes within 1 ulp of e^x, libm's within about half of one
        2.0};
    exp.specials_exact = true;
    all.push_back(exp);

    member sincos{
        "sincos_block", 2,
        [](const simd::lane_functions& f, const double* re, const double*, int n, complex* out) {
            std::vector<double> s(static_cast<std::size_t>(n)), c(s);
            f.sincos_block(re, s.data(), c.data(), n);
            for (int i = 0; i < n; ++i) {
                out[2 * i] = s[static_cast<std::size_t>(i)];
                out[2 * i + 1] = c[static_cast<std::size_t>(i)];
            }
        },
        trig_arguments(),
        as_complex({nan, inf, -inf, 1e300, 2e5, -2e5, std::nextafter(1e5, 2e5), 0.0, -0.0}),
        real_ulps,
        // the lanes within 2 ulps of sin and cos, libm's within 1
        3.0};
    sincos.specials_exact = true;
    all.push_back(sincos);

    // the kernel in the media and at the heights of the Python lane tests
    struct medium {
        double z, zp;
        complex k_m;
    };
    const medium media[] = {
        {0.5, -0.3, k_lossy}, {0.0, 0.0, k_lossy}, {3.0, -3.0, 1.5}, {0.1, -2.0, {3.0, -0.01}}};
    // special values, in the first medium's blocks
    const std::vector<complex> kernel_special = {
        {nan, 0},     {0, nan}, {inf, 0}, {-inf, 1}, {1e200, 1e200}, {1e-200, 0}, {0, 0},
        {-0.0, -0.0}, {1.0, 0}, k_lossy,  {-1.0, 0}, {1e155, 0},     {3e5, 1e4},  {0.5, 1e-320}};
    for (std::size_t i = 0; i < std::size(media); ++i) {
        const medium& md = media[i];
        char name[80];
        std::snprintf(name, sizeof name, "kernel z=%g zp=%g k_m=%.3g%+.3gi", md.z, md.zp,
                      md.k_m.real(), md.k_m.imag());
        member k{name,
                 6,
                 kernel_at(md.z, md.zp, md.k_m),
                 path_points(md.k_m, 10 + i),
                 i == 0 ? kernel_special : std::vector<complex>{},
                 relative_error,
                 8.0};
        k.huge = 1e150;
        all.push_back(k);
    }

    // H0 on the tail rays; kind 3 is refused and handed to the scalar code whole
    const std::vector<complex> hankel_special = {
        {nan, 1},     {1, nan},  {0, 0},    {inf, 1},         {-1e3, 1},    {1, -1e3},
        {0, 3},       {3, 0},    {1e16, 1}, {1e-306, 1e-306}, {1.9, 0.1},   {2000, 1000},
        {5, 1e5 + 3}, {-0.0, 2}, {3, -0.0}, {1e-7, 1e-7},     {0.0, 4.9e7}, {1e5 + 1, 2}};
    for (const int kind : {1, 2}) {
        member h{"hankel_block kind " + std::to_string(kind), 1, hankel_of_kind(kind),
                 ray_arguments(kind), hankel_special, relative_error,
                 // just below |w| = 2 the series cancels about tenfold (the
                 // scalar value itself is up to 9 ulps from the true one)
                 16.0};
        h.p99_error = 4.0;
        h.min_share_differing = 0.1;
        all.push_back(h);
    }
    all.push_back({"hankel_block kind 3", 1, hankel_of_kind(3), ray_arguments(1), hankel_special,
                   relative_error, 0.0});

    // J0: every lane repeats the scalar operations, so bit for bit
    const std::vector<complex> j0_special = {{nan, 0}, {0, nan},     {inf, 0},        {1, inf},
                                             {0, 0},   {-0.0, 0.0},  {1e-7, 0},       {1e-7, 1e-7},
                                             {-3, 0},  {-3, -0.0},   {1e160, 0},      {2e5, 0},
                                             {30, 1},  {-8, 1e-300}, {1e-200, 1e-200}};
    const block_fn j0 = [](const simd::lane_functions& f, const double* re, const double* im, int n,
                           complex* out) { f.j0_block(re, im, n, out); };
    all.push_back({"j0_block", 1, j0, j0_arguments(), j0_special, relative_error, 0.0});

    // J0 with J1 from one pass: bit for bit as well
    const block_fn j01 = [](const simd::lane_functions& f, const double* re, const double* im,
                            int n, complex* out) {
        std::vector<complex> j1(static_cast<std::size_t>(n));
        std::vector<complex> j0v(static_cast<std::size_t>(n));
        f.j01_block(re, im, n, j0v.data(), j1.data());
        for (int i = 0; i < n; ++i) {
            out[2 * i] = j0v[static_cast<std::size_t>(i)];
            out[2 * i + 1] = j1[static_cast<std::size_t>(i)];
        }
    };
    all.push_back({"j01_block", 2, j01, j0_arguments(), j0_special, relative_error, 0.0});

    // H0 with H1 on the tail rays, within the tolerance of the order-zero lanes
    for (const int kind : {1, 2}) {
        const block_fn h01 = [kind](const simd::lane_functions& f, const double* re,
                                    const double* im, int n, complex* out) {
            std::vector<complex> h0(static_cast<std::size_t>(n)), h1(h0);
            f.hankel01_block(kind, re, im, n, h0.data(), h1.data());
            for (int i = 0; i < n; ++i) {
                out[2 * i] = h0[static_cast<std::size_t>(i)];
                out[2 * i + 1] = h1[static_cast<std::size_t>(i)];
            }
        };
        member h{"hankel01_block kind " + std::to_string(kind),
                 2,
                 h01,
                 ray_arguments(kind),
                 hankel_special,
                 relative_error,
                 16.0};
        h.p99_error = 4.0;
        h.min_share_differing = 0.1;
        all.push_back(h);
    }
    return all;
}

// The Gauss sums of a block on the lanes against the scalar table, bit for
// bit: every block length and column count the panel rules use, ordinary
// terms (where a product rounded before its sum would differ in the last
// bits), and specials (NaN, infinities, overflowing products, subnormal
// ones) in some of them.
void check_weighted_sums(const simd::lane_functions& lanes) {
    const simd::lane_functions& scalar = *simd::lanes_for("scalar");
    random_stream rs(42);
    const double specials[] = {nan, inf, -inf, 1e300, -1e-310, 0.0, -0.0};
    int differing = 0, cases = 0;
    for (int n = 1; n <= simd::block_width; ++n) {
        for (int count = 1; count <= 22; ++count) {
            for (int trial = 0; trial < 4; ++trial) {
                std::vector<double> w(n), v(n * count), a(count), b(count);
                for (double& x : w) x = rs.uniform(-1.0, 1.0) * rs.decades(-3, 3);
                for (double& x : v) x = rs.uniform(-1.0, 1.0) * rs.decades(-3, 3);
                for (int d = 0; d < count; ++d) a[d] = b[d] = rs.uniform(-1.0, 1.0);
                if (trial == 3) {
                    v[rs.uniform(0.0, 1.0) * (n * count)] = specials[(n + count) % 7];
                    w[rs.uniform(0.0, 1.0) * n] = specials[(n * count) % 7];
                }
                lanes.weighted_sums(w.data(), v.data(), n, count, a.data());
                scalar.weighted_sums(w.data(), v.data(), n, count, b.data());
                ++cases;
                for (int d = 0; d < count; ++d) {
                    if (!same_bits(a[d], b[d])) {
                        ++differing;
                        break;
                    }
                }
            }
        }
    }
    if (differing > 0) {
        ++failures;
        std::printf("FAILED %s weighted_sums: %d of %d blocks differ from the scalar table\n",
                    lanes.target, differing, cases);
    }
}

}  // namespace

int main() {
    const std::vector<member> all = members();
    int targets = 0;
    for (const char* name : {"avx2", "avx512", "neon"}) {
        const simd::lane_functions* lanes = simd::lanes_for(name);
        if (lanes == nullptr) continue;
        ++targets;
        for (const member& m : all) check_member(*lanes, m);
        check_weighted_sums(*lanes);
    }
    std::printf("%s: %d lane targets, %zu members, %d failed checks\n",
                failures ? "FAILED" : "passed", targets, all.size(), failures);
    return failures ? 1 : 0;
}
