// Synthetic page content for tests and benchmarks: photographic-like
// pictures (smooth gradients, soft shapes, sensor noise, hard edges) and
// plain random noise, reproducible from a seed.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>

namespace imgtest {

enum class Pattern { Photo, Noise, Gradient, Edges };

// Fills `width` x `height` 24-bit pixels (rows `stride` bytes apart) with a
// pattern.
inline void FillPattern(unsigned char* pixels, int width, int height, int64_t stride, Pattern pattern,
                        uint32_t seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> grain(0.0, 3.0);
    const double cx = width * 0.6, cy = height * 0.4;
    const double radius = 0.3 * (width < height ? width : height) + 1;
    for (int y = 0; y < height; ++y) {
        unsigned char* row = pixels + y * stride;
        for (int x = 0; x < width; ++x) {
            double value[3];
            switch (pattern) {
            case Pattern::Noise:
                for (double& v : value)
                    v = static_cast<double>(rng() & 0xFF);
                break;
            case Pattern::Gradient:
                value[0] = 255.0 * x / (width > 1 ? width - 1 : 1);
                value[1] = 255.0 * y / (height > 1 ? height - 1 : 1);
                value[2] = 128 + 100 * std::sin((x + y) * 0.01);
                break;
            case Pattern::Edges:
                value[0] = ((x / 7 + y / 5) & 1) ? 250 : 5;
                value[1] = x < width / 2 ? 30 : 220;
                value[2] = (x * 13 + y * 7) % 256;
                break;
            case Pattern::Photo:
            default: {
                // Sky-like vertical gradient, a soft disc, and grain.
                const double d = std::hypot(x - cx, y - cy) / radius;
                const double disc = d < 1 ? 1 - d * d : 0;
                value[0] = 60 + 120.0 * y / (height + 1) + 90 * disc;
                value[1] = 90 + 60 * std::sin(x * 0.013) + 70 * disc;
                value[2] = 200 - 110.0 * y / (height + 1) + 20 * std::cos(y * 0.021);
                if ((x / 97) % 5 == 0 && (y / 131) % 3 == 0)
                    value[0] = value[1] = value[2] = 240;  // a hard-edged object
                for (double& v : value)
                    v += grain(rng);
                break;
            }
            }
            for (int c = 0; c < 3; ++c) {
                const double v = value[c];
                row[3 * x + c] = static_cast<unsigned char>(v < 0 ? 0 : v > 255 ? 255 : v);
            }
        }
    }
}

}  // namespace imgtest
