#pragma once

namespace pm {

// The random source of generated motion: the C library generator, seeded once per project context
// from the clock. Tests seed it to get repeatable motion.
class KeyframeRandom {
public:
    void seed(unsigned value);
    void seedFromClock();
    // A number in [0, 1] with 15 bits of resolution, whatever the platform's RAND_MAX.
    double next();
    // The next raw draw, 0 to 32767.
    int nextRaw();
};

}  // namespace pm
