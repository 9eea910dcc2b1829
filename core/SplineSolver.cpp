#include "core/SplineSolver.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pm {

namespace {

constexpr float kSolveTolerance = 1e-7f;
constexpr int kMaxCorrections = 41;

}  // namespace

float solveSplineTime(const Cubic& time, float t) {
    float s = 0.5f;
    float step = 0.25f;
    for (int corrections = 0;; ++corrections) {
        const float x = time.at(s);
        if (std::fabs(t - x) < kSolveTolerance || corrections == kMaxCorrections) {
            return s;
        }
        // Down when x > t, up otherwise (x == t has returned above), without a branch that would
        // be mispredicted half of the time.
        s += std::copysign(step, t - x);
        step *= 0.5f;
    }
}

namespace {

#if defined(__SSE2__)
// Three vectors of four lanes: enough independent work to hide the latency of one halving step.
constexpr std::size_t kVectors = 3;
constexpr std::size_t kBlock = 4 * kVectors;

// SSE arithmetic rounds exactly like the scalar float code (no fused multiply-add), so every lane
// reproduces solveSplineTime bit for bit.
void solveBlock(const Cubic* const* times, const float* targets, float* results, std::size_t n) {
    alignas(16) float a[kBlock] = {}, b[kBlock] = {}, c[kBlock] = {}, d[kBlock] = {};
    alignas(16) float t[kBlock] = {};
    alignas(16) float s[kBlock];
    alignas(16) std::uint32_t live[kBlock] = {};
    for (std::size_t i = 0; i < n; ++i) {
        a[i] = times[i]->a;
        b[i] = times[i]->b;
        c[i] = times[i]->c;
        d[i] = times[i]->d;
        t[i] = targets[i];
        live[i] = 0xFFFFFFFFu;
    }
    __m128 va[kVectors], vb[kVectors], vc[kVectors], vd[kVectors], vt[kVectors], vs[kVectors];
    __m128 running[kVectors];
    for (std::size_t v = 0; v < kVectors; ++v) {
        va[v] = _mm_load_ps(a + 4 * v);
        vb[v] = _mm_load_ps(b + 4 * v);
        vc[v] = _mm_load_ps(c + 4 * v);
        vd[v] = _mm_load_ps(d + 4 * v);
        vt[v] = _mm_load_ps(t + 4 * v);
        vs[v] = _mm_set1_ps(0.5f);
        running[v] =
            _mm_castsi128_ps(_mm_load_si128(reinterpret_cast<const __m128i*>(live + 4 * v)));
    }
    const __m128 signBit = _mm_set1_ps(-0.0f);
    const __m128 tolerance = _mm_set1_ps(kSolveTolerance);
    float step = 0.25f;
    for (int corrections = 0; corrections < kMaxCorrections; ++corrections) {
        const __m128 vstep = _mm_set1_ps(step);
        int any = 0;
        for (std::size_t v = 0; v < kVectors; ++v) {
            __m128 x = _mm_add_ps(_mm_mul_ps(va[v], vs[v]), vb[v]);
            x = _mm_add_ps(_mm_mul_ps(x, vs[v]), vc[v]);
            x = _mm_add_ps(_mm_mul_ps(x, vs[v]), vd[v]);
            const __m128 diff = _mm_sub_ps(vt[v], x);
            // "Not less than" keeps a NaN lane running, as the scalar comparison does.
            const __m128 far = _mm_cmpnlt_ps(_mm_andnot_ps(signBit, diff), tolerance);
            running[v] = _mm_and_ps(running[v], far);
            // copysign(step, diff), added only where the lane still runs.
            const __m128 move = _mm_or_ps(vstep, _mm_and_ps(signBit, diff));
            vs[v] = _mm_add_ps(vs[v], _mm_and_ps(running[v], move));
            any |= _mm_movemask_ps(running[v]);
        }
        if (!any) {
            break;
        }
        step *= 0.5f;
    }
    for (std::size_t v = 0; v < kVectors; ++v) {
        _mm_store_ps(s + 4 * v, vs[v]);
    }
    std::copy_n(s, n, results);
}
#else
constexpr std::size_t kBlock = 1;

void solveBlock(const Cubic* const* times, const float* targets, float* results, std::size_t) {
    results[0] = solveSplineTime(*times[0], targets[0]);
}
#endif

}  // namespace

void solveSplineTimes(std::span<const Cubic* const> times, std::span<const float> targets,
                      std::span<float> results) {
    for (std::size_t base = 0; base < times.size(); base += kBlock) {
        const std::size_t n = std::min(kBlock, times.size() - base);
        solveBlock(times.data() + base, targets.data() + base, results.data() + base, n);
    }
}

}  // namespace pm
