#include "striking/rhythm.h"

#include <array>
#include <cmath>
#include <cstdlib>

namespace qn {

namespace {

using Vec = std::array<double, 3>;
using Mat = std::array<Vec, 3>;

// A 3 x 3 system by elimination with partial pivoting; false when singular.
bool solve(Mat a, Vec b, Vec& x) {
    for (int col = 0; col < 3; ++col) {
        int pivot = col;
        for (int r = col + 1; r < 3; ++r)
            if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
        if (std::fabs(a[pivot][col]) < 1e-9) return false;
        std::swap(a[col], a[pivot]);
        std::swap(b[col], b[pivot]);
        for (int r = col + 1; r < 3; ++r) {
            const double f = a[r][col] / a[col][col];
            for (int c = col; c < 3; ++c) a[r][c] -= f * a[col][c];
            b[r] -= f * b[col];
        }
    }
    for (int r = 2; r >= 0; --r) {
        double v = b[r];
        for (int c = r + 1; c < 3; ++c) v -= a[r][c] * x[c];
        x[r] = v / a[r][r];
    }
    return true;
}

// The model: t = start + whole_pull * pull + hand_to_back * (backstroke),
// with the pull counted from the blow being fitted (k is never negative).
Vec regressors(std::int32_t k, std::int32_t k0) {
    return {1.0, static_cast<double>(k / 2 - k0 / 2), (k & 1) != 0 ? 1.0 : 0.0};
}

struct Sums {
    Mat a{};    // sum of w x x'
    Mat b{};    // sum of w^2 x x'
    Vec rhs{};  // sum of w x t
    int hand = 0, back = 0;

    void add(const Vec& x, double w, double t) {
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                a[i][j] += w * x[i] * x[j];
                b[i][j] += w * w * x[i] * x[j];
            }
            rhs[i] += w * x[i] * t;
        }
        (x[2] != 0 ? back : hand) += 1;
    }
};

// The blow itself is left out of its fit, so its error is a prediction's:
// with weights w and the fitted line's uncertainty, Var(error) is
// sigma^2 (1 + v' B v), v = A^-1 x. Dividing by that root makes every
// blow's error spread as the ringer's own blows do, at the touch's ends too.
RhythmFit fit_one(std::span<const RhythmBlow> blows, std::size_t i, int half_window) {
    const RhythmBlow& me = blows[i];
    Sums s;
    for (std::size_t j = 0; j < blows.size(); ++j) {
        const std::int32_t d = std::abs(blows[j].k - me.k);
        if (j == i || d > half_window) continue;
        const double w = 1.0 - static_cast<double>(d) / (half_window + 1);
        s.add(regressors(blows[j].k, me.k), w, static_cast<double>(blows[j].at_us - me.at_us));
    }
    RhythmFit f;
    Vec beta{}, v{};
    const Vec x = regressors(me.k, me.k);
    if (s.hand < 3 || s.back < 3 || !solve(s.a, s.rhs, beta) || !solve(s.a, x, v)) return f;
    double predicted = 0, q = 0;
    for (int r = 0; r < 3; ++r) {
        predicted += x[r] * beta[r];
        for (int c = 0; c < 3; ++c) q += v[r] * s.b[r][c] * v[c];
    }
    f.fitted = true;
    f.ideal_us = static_cast<double>(me.at_us) + predicted;
    f.error_us = -predicted / std::sqrt(1.0 + q);
    f.whole_pull_us = beta[1];
    f.hand_to_back_us = beta[2];
    return f;
}

}  // namespace

std::vector<RhythmFit> fit_rhythm(std::span<const RhythmBlow> blows, int half_window) {
    std::vector<RhythmFit> fits(blows.size());
    // Blows are in order of k: each window is a run of them.
    std::size_t lo = 0;
    for (std::size_t i = 0; i < blows.size(); ++i) {
        while (blows[lo].k < blows[i].k - half_window) ++lo;
        std::size_t hi = i;
        while (hi + 1 < blows.size() && blows[hi + 1].k <= blows[i].k + half_window) ++hi;
        fits[i] = fit_one(blows.subspan(lo, hi - lo + 1), i - lo, half_window);
    }
    return fits;
}

}  // namespace qn
