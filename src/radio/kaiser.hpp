// The Kaiser window and the windowed sinc both of halvo_radio's filter
// designs start from (the channelizer's prototype, the front end's
// low-pass), in double. Each design scales and rounds the taps its own way.
#pragma once

#include <cmath>
#include <cstddef>
#include <numbers>
#include <vector>

namespace halvo {

// I0(x), the zeroth-order modified Bessel function of the first kind, by its
// power series: terms until they stop changing the sum.
inline double kaiser_i0(double x) {
    double sum = 1.0, term = 1.0;
    const double q = 0.25 * x * x;
    for (int k = 1; k < 1000; ++k) {
        term *= q / (static_cast<double>(k) * k);
        sum += term;
        if (term < sum * 1e-17) break;
    }
    return sum;
}

// Kaiser's beta for an attenuation of a dB.
inline double kaiser_beta(double a) {
    if (a > 50.0) return 0.1102 * (a - 8.7);
    if (a >= 21.0) return 0.5842 * std::pow(a - 21.0, 0.4) + 0.07886 * (a - 21.0);
    return 0.0;
}

// len taps of 2 fc sinc(2 fc t) I0(beta sqrt(1 - (t/c)^2)) / I0(beta),
// t = i - c, c = (len-1)/2, fc in cycles per sample; not yet scaled.
inline std::vector<double> kaiser_sinc(int len, double fc, double beta) {
    const double centre = 0.5 * (len - 1);
    const double i0b = kaiser_i0(beta);
    std::vector<double> h(static_cast<std::size_t>(len));
    for (int i = 0; i < len; ++i) {
        const double t = i - centre;
        const double arg = std::numbers::pi * 2.0 * fc * t;
        const double sinc = t == 0.0 ? 1.0 : std::sin(arg) / arg;
        const double ratio = centre > 0.0 ? t / centre : 0.0;
        const double w = kaiser_i0(beta * std::sqrt(std::fmax(0.0, 1.0 - ratio * ratio))) / i0b;
        h[static_cast<std::size_t>(i)] = 2.0 * fc * sinc * w;
    }
    return h;
}

// The taps' sum, in index order.
inline double tap_sum(const std::vector<double>& h) {
    double sum = 0.0;
    for (double v : h) sum += v;
    return sum;
}

}  // namespace halvo
