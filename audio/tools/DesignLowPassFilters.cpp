// Designs the rate converter's low-pass filters (equiripple, Parks-McClellan exchange) and prints
// them as the C++ table in audio/detail/LowPassFilters.cpp. Run it only to regenerate that file:
//   build/audio/audio_filter_design > audio/detail/LowPassFilters.cpp && make format
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

namespace {

struct Row {
    int threshold;
    int taps;
    double passEdge;
    double stopEdge;
};

// Key threshold, taps, flat-to and attenuated-from edges as fractions of the stage's rate.
constexpr Row kRows[] = {
    {264, 37, 0.3759, 0.4674},  {240, 43, 0.3417, 0.4249}, {235, 43, 0.3346, 0.4161},
    {216, 51, 0.3076, 0.3824},  {208, 51, 0.2962, 0.3683}, {198, 53, 0.2819, 0.3506},
    {192, 57, 0.2734, 0.3399},  {176, 63, 0.2506, 0.3116}, {156, 71, 0.2221, 0.2762},
    {144, 75, 0.2050, 0.2550},  {132, 71, 0.1857, 0.2383}, {108, 99, 0.1537, 0.1913},
    {104, 103, 0.1481, 0.1842}, {99, 95, 0.1393, 0.1787},  {96, 97, 0.1350, 0.1733},
    {88, 123, 0.1253, 0.1558},  {78, 137, 0.1111, 0.1381}, {72, 131, 0.1013, 0.1300},
    {66, 153, 0.0928, 0.1192},  {54, 197, 0.0769, 0.0956}, {52, 205, 0.0740, 0.0921},
    {49, 217, 0.0698, 0.0868},  {48, 223, 0.0683, 0.0850}, {44, 211, 0.0619, 0.0794},
    {39, 275, 0.0555, 0.0691},  {36, 297, 0.0512, 0.0638}, {33, 325, 0.0469, 0.0584},
    {26, 411, 0.0370, 0.0461},  {0, 485, 0.0313, 0.0390},
};

struct GridPoint {
    double x;  // cos(omega)
    double desired;
    double weight;
};

// A(x) through the n + 1 interpolation nodes in barycentric form.
double interpolate(double x, const std::vector<double>& nodes, const std::vector<double>& weights,
                   const std::vector<double>& values) {
    double num = 0.0;
    double den = 0.0;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        const double d = x - nodes[i];
        if (std::fabs(d) < 1e-15) {
            return values[i];
        }
        const double t = weights[i] / d;
        num += t * values[i];
        den += t;
    }
    return num / den;
}

std::vector<double> baryWeights(const std::vector<double>& x) {
    std::vector<double> w(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        double p = 1.0;
        for (std::size_t j = 0; j < x.size(); ++j) {
            if (j != i) {
                p *= 2.0 * (x[i] - x[j]);
            }
        }
        w[i] = 1.0 / p;
    }
    return w;
}

// Returns the cosine-series amplitude A(omega) = sum a_k cos(k omega) as its value at the
// extremal nodes; the caller samples it to get the taps. Weighted error is minimised in the
// Chebyshev sense with stop-band weight `stopWeight`.
std::vector<double> remez(int n, double fp, double fs, double stopWeight) {
    const int r = n + 2;  // extremal frequencies
    const int density = 32;
    const int gridSize = density * r;
    const double passWidth = fp;
    const double stopWidth = 0.5 - fs;
    const int passPoints =
        std::max(8, static_cast<int>(std::lround(gridSize * passWidth / (passWidth + stopWidth))));
    const int stopPoints = std::max(8, gridSize - passPoints);
    std::vector<GridPoint> grid;
    std::vector<double> omega;
    for (int i = 0; i < passPoints; ++i) {
        const double f = fp * i / (passPoints - 1);
        omega.push_back(2.0 * std::numbers::pi * f);
        grid.push_back({std::cos(omega.back()), 1.0, 1.0});
    }
    for (int i = 0; i < stopPoints; ++i) {
        const double f = fs + (0.5 - fs) * i / (stopPoints - 1);
        omega.push_back(2.0 * std::numbers::pi * f);
        grid.push_back({std::cos(omega.back()), 0.0, stopWeight});
    }
    const int g = static_cast<int>(grid.size());
    std::vector<int> ext(r);
    for (int i = 0; i < r; ++i) {
        ext[i] = static_cast<int>(static_cast<long>(i) * (g - 1) / (r - 1));
    }
    std::vector<double> error(g);
    std::vector<double> nodes;
    std::vector<double> values;
    std::vector<double> bw;
    for (int iteration = 0; iteration < 200; ++iteration) {
        std::vector<double> x(r);
        for (int i = 0; i < r; ++i) {
            x[i] = grid[ext[i]].x;
        }
        const std::vector<double> b = baryWeights(x);
        double num = 0.0;
        double den = 0.0;
        for (int i = 0; i < r; ++i) {
            num += b[i] * grid[ext[i]].desired;
            den += b[i] * ((i % 2) ? -1.0 : 1.0) / grid[ext[i]].weight;
        }
        const double delta = num / den;
        nodes.assign(x.begin(), x.end() - 1);
        values.resize(r - 1);
        for (int i = 0; i < r - 1; ++i) {
            values[i] = grid[ext[i]].desired - ((i % 2) ? -1.0 : 1.0) * delta / grid[ext[i]].weight;
        }
        bw = baryWeights(nodes);
        for (int k = 0; k < g; ++k) {
            error[k] =
                grid[k].weight * (grid[k].desired - interpolate(grid[k].x, nodes, bw, values));
        }
        // Local extrema of the error, alternating in sign.
        std::vector<int> found;
        for (int k = 0; k < g; ++k) {
            const double e = error[k];
            // Compare with neighbours of the same band only: the gap between bands is no grid.
            const bool hasLeft = k != 0 && k != passPoints;
            const bool hasRight = k != g - 1 && k != passPoints - 1;
            const bool left = !hasLeft || (e > 0 ? e >= error[k - 1] : e <= error[k - 1]);
            const bool right = !hasRight || (e > 0 ? e >= error[k + 1] : e <= error[k + 1]);
            if (left && right && std::fabs(e) >= std::fabs(delta) * 0.999999) {
                if (!found.empty() && (error[found.back()] > 0) == (e > 0)) {
                    if (std::fabs(e) > std::fabs(error[found.back()])) {
                        found.back() = k;
                    }
                } else {
                    found.push_back(k);
                }
            }
        }
        while (static_cast<int>(found.size()) > r) {
            if (std::fabs(error[found.front()]) < std::fabs(error[found.back()])) {
                found.erase(found.begin());
            } else {
                found.pop_back();
            }
        }
        if (static_cast<int>(found.size()) < r) {
            break;  // converged as far as the grid allows
        }
        double maxErr = 0.0;
        for (int k : found) {
            maxErr = std::max(maxErr, std::fabs(error[k]));
        }
        const bool same = found == ext;
        ext = found;
        if (same || (maxErr - std::fabs(delta)) < 1e-9 * std::fabs(delta)) {
            break;
        }
    }
    // Sample A at N uniform frequencies and take the inverse cosine transform.
    const int taps = 2 * n + 1;
    std::vector<double> a(n + 1);
    for (int m = 0; m <= n; ++m) {
        a[m] = interpolate(std::cos(2.0 * std::numbers::pi * m / taps), nodes, bw, values);
    }
    std::vector<double> h(n + 1);  // h[0] outermost .. h[n] centre
    for (int k = 0; k <= n; ++k) {
        double s = a[0];
        for (int m = 1; m <= n; ++m) {
            s += 2.0 * a[m] * std::cos(2.0 * std::numbers::pi * m * (k - n) / taps);
        }
        h[k] = s / taps;
    }
    return h;
}

double response(const std::vector<double>& h, double f) {
    const int n = static_cast<int>(h.size()) - 1;
    double s = h[n];
    for (int k = 0; k < n; ++k) {
        s += 2.0 * h[k] * std::cos(2.0 * std::numbers::pi * f * (n - k));
    }
    return s;
}

}  // namespace

int main() {
    const double passRipple = std::pow(10.0, 0.1 / 20.0) - 1.0;
    const double stopRipple = std::pow(10.0, -96.0 / 20.0);
    std::printf("// Generated by audio/tools/DesignLowPassFilters.cpp; do not edit by hand.\n");
    std::printf("#include \"audio/detail/LowPassFilters.h\"\n\nnamespace pm::detail {\n\n");
    std::printf("namespace {\n\n");
    std::vector<std::vector<double>> all;
    for (const Row& row : kRows) {
        const int n = (row.taps - 1) / 2;
        std::vector<double> h = remez(n, row.passEdge, row.stopEdge, passRipple / stopRipple);
        double worstPass = 0.0;
        double worstStop = -400.0;
        for (int i = 0; i <= 4000; ++i) {
            const double fpass = row.passEdge * i / 4000.0;
            worstPass =
                std::max(worstPass, std::fabs(20.0 * std::log10(std::fabs(response(h, fpass)))));
            const double fstop = row.stopEdge + (0.5 - row.stopEdge) * i / 4000.0;
            worstStop =
                std::max(worstStop, 20.0 * std::log10(std::fabs(response(h, fstop)) + 1e-30));
        }
        std::fprintf(stderr, "%3d %3d taps: pass ripple %.4f dB, stop %.2f dB\n", row.threshold,
                     row.taps, worstPass, worstStop);
        std::printf("constexpr double kTaps%d[] = {\n", row.threshold);
        for (double c : h) {
            std::printf("    %.17g,\n", c);
        }
        std::printf("};\n\n");
        all.push_back(h);
    }
    std::printf("}  // namespace\n\n");
    std::printf("const std::array<LowPassFilter, kLowPassFilterCount> kLowPassFilters = {{\n");
    for (const Row& row : kRows) {
        std::printf("    {%d, %d, kTaps%d, %.4f, %.4f},\n", row.threshold, (row.taps - 1) / 2,
                    row.threshold, row.passEdge, row.stopEdge);
    }
    std::printf("}};\n\n}  // namespace pm::detail\n");
    return 0;
}
