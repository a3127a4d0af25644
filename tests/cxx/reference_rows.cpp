// The six integrals of every row of tests/data/interface_reference.json (30
// digits, mpmath), computed by the core's driver on whatever path this
// process runs: the SIMD lanes of the CPU, or the scalar code when NIA_SCALAR
// is set (ctest runs both). Each row must agree with its reference to
// 10 rtol relative to its largest channel, as in the Python reference tests;
// on aarch64 (scripts/aarch64_tests.sh, under emulation) this is the accuracy
// check of the whole path where Python is not at hand.
//
//   nia_reference_rows tests/data/interface_reference.json
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "core/numeric.hpp"
#include "pointwise/evaluate_triple.hpp"
#include "spectral/simd/dispatch.hpp"

namespace {

using nia::core::complex;

struct reference_row {
    std::string line;  // for the report
    double k_p, rho, z, zp;
    complex k_m;
    complex values[6];
};

// The numbers after "key": in a row's line, n of them, skipping brackets and
// commas; false if the key is missing or a number does not parse.
bool numbers_after(const std::string& line, const char* key, double* out, int n) {
    const std::string tag = std::string("\"") + key + "\": ";
    const std::size_t at = line.find(tag);
    if (at == std::string::npos) return false;
    const char* p = line.c_str() + at + tag.size();
    for (int i = 0; i < n; ++i) {
        while (*p == '[' || *p == ']' || *p == ',' || *p == ' ') ++p;
        char* end = nullptr;
        out[i] = std::strtod(p, &end);
        if (end == p) return false;
        p = end;
    }
    return true;
}

// The data file keeps one row per line.
std::vector<reference_row> read_rows(const char* path) {
    std::vector<reference_row> rows;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.find("\"values\": ") == std::string::npos) continue;
        reference_row r;
        double k_m[2], v[12];
        const bool ok =
            numbers_after(line, "k_p", &r.k_p, 1) && numbers_after(line, "k_m", k_m, 2) &&
            numbers_after(line, "rho", &r.rho, 1) && numbers_after(line, "z", &r.z, 1) &&
            numbers_after(line, "zp", &r.zp, 1) && numbers_after(line, "values", v, 12);
        if (!ok) {
            std::printf("unreadable row: %s\n", line.c_str());
            return {};
        }
        r.k_m = complex(k_m[0], k_m[1]);
        for (int c = 0; c < 6; ++c) r.values[c] = complex(v[2 * c], v[2 * c + 1]);
        r.line = line.substr(0, line.find(", \"values\""));
        rows.push_back(r);
    }
    return rows;
}

// Gauss-Legendre nodes and weights on [-1, 1]: Newton's method on P_n from
// the Chebyshev guess, P_n and its derivative by the three-term recurrence.
void gauss_legendre(int n, std::vector<double>& x, std::vector<double>& w) {
    x.assign(static_cast<std::size_t>(n), 0.0);
    w.assign(static_cast<std::size_t>(n), 0.0);
    for (int i = 0; i < n; ++i) {
        double t = std::cos(nia::core::pi * (i + 0.75) / (n + 0.5)), dp = 1.0;
        for (int iteration = 0; iteration < 100; ++iteration) {
            double p0 = 1.0, p1 = t;
            for (int k = 2; k <= n; ++k) {
                const double p2 = ((2 * k - 1) * t * p1 - (k - 1) * p0) / k;
                p0 = p1;
                p1 = p2;
            }
            dp = n * (t * p1 - p0) / (t * t - 1.0);
            const double step = p1 / dp;
            t -= step;
            if (std::fabs(step) < 1e-17) break;
        }
        x[static_cast<std::size_t>(n - 1 - i)] = t;
        w[static_cast<std::size_t>(n - 1 - i)] = 2.0 / ((1.0 - t * t) * dp * dp);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::printf("usage: %s interface_reference.json\n", argv[0]);
        return 2;
    }
    const std::vector<reference_row> rows = read_rows(argv[1]);
    if (rows.size() < 40) {
        std::printf("FAILED: %zu rows read from %s\n", rows.size(), argv[1]);
        return 1;
    }
    int failures = 0;
    // (rtol, Gauss nodes per panel): the controls of the Python tests of every row
    const struct {
        double rtol;
        int nodes;
    } controls[] = {{1e-6, 6}, {1e-8, 8}, {1e-10, 12}};
    for (const auto& c : controls) {
        std::vector<double> gx, gw;
        gauss_legendre(c.nodes, gx, gw);
        double worst = 0.0;
        for (const reference_row& r : rows) {
            const nia::pointwise::batch_controls ctl{r.k_p, r.k_m,     c.rtol,    10.0,   20,
                                                     0.1,   gx.data(), gw.data(), c.nodes};
            std::atomic<bool> failed{false};
            complex got[6];
            for (complex& g : got) g = complex(NAN, NAN);
            nia::pointwise::evaluate_triple(ctl, r.rho, r.z, r.zp, got, failed);
            double diff = 0.0, scale = 0.0;
            for (int k = 0; k < 6; ++k) {
                diff = std::fmax(diff, std::abs(got[k] - r.values[k]));
                scale = std::fmax(scale, std::abs(r.values[k]));
            }
            const double err = diff / scale;
            worst = std::fmax(worst, err);
            if (failed.load() || !(err <= 10.0 * c.rtol)) {
                ++failures;
                std::printf("FAILED rtol %g, %d nodes: error %.3g%s at %s\n", c.rtol, c.nodes, err,
                            failed.load() ? " (tail not quiet)" : "", r.line.c_str());
            }
        }
        std::printf("%-7s rtol %-6g %2d nodes: %zu rows, worst error %.2e\n",
                    nia::spectral::simd::lanes().target, c.rtol, c.nodes, rows.size(), worst);
    }
    std::printf("%s: %d failed rows\n", failures ? "FAILED" : "passed", failures);
    return failures ? 1 : 0;
}
