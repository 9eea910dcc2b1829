// Reads raw 32-bit frames (B, G, R, A, top row first) of WIDTH x HEIGHT from standard input, finds
// each frame's brightness-weighted centroid, and prints how evenly it moves: the mean step
// between frames and the largest deviation of a step from that mean, in pixels.
//
// usage: centroid_steps WIDTH HEIGHT < frames.raw

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: centroid_steps WIDTH HEIGHT < frames.raw\n");
        return 2;
    }
    const int width = std::atoi(argv[1]);
    const int height = std::atoi(argv[2]);
    const std::size_t frameBytes = static_cast<std::size_t>(width) * height * 4;
    std::vector<unsigned char> frame(frameBytes);
    std::vector<double> xs;
    std::vector<double> ys;
    while (std::fread(frame.data(), 1, frameBytes, stdin) == frameBytes) {
        double sum = 0.0, sx = 0.0, sy = 0.0;
        for (int y = 0; y < height; ++y) {
            const unsigned char* row = frame.data() + static_cast<std::size_t>(y) * width * 4;
            for (int x = 0; x < width; ++x) {
                const double v = row[x * 4] + row[x * 4 + 1] + row[x * 4 + 2];
                sum += v;
                sx += v * (x + 0.5);
                sy += v * (y + 0.5);
            }
        }
        if (sum > 0.0) {
            xs.push_back(sx / sum);
            ys.push_back(sy / sum);
        }
    }
    if (xs.size() < 3) {
        std::fprintf(stderr, "centroid_steps: fewer than 3 frames with a visible dot\n");
        return 1;
    }
    std::vector<double> steps;
    for (std::size_t i = 1; i < xs.size(); ++i) {
        steps.push_back(std::hypot(xs[i] - xs[i - 1], ys[i] - ys[i - 1]));
    }
    double mean = 0.0;
    for (const double s : steps) {
        mean += s;
    }
    mean /= static_cast<double>(steps.size());
    double worst = 0.0;
    for (const double s : steps) {
        worst = std::max(worst, std::fabs(s - mean));
    }
    std::printf("%zu frames, mean step %.4f px, largest deviation %.4f px\n", xs.size(), mean,
                worst);
    return 0;
}
