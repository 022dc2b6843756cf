#include "evaluator/random.h"

#include <memory>

#include "io/checksum.h"

namespace vyx::random_gen {

namespace {

constexpr int N = 624;
constexpr int M = 397;

std::unique_ptr<int32_t[]> state;
int index = 0;

// Shifts and arithmetic on the state are done as the generator was first
// defined for signed words: right shifts copy the sign in, sums and products
// wrap at 32 bits.
inline int32_t sar(int32_t v, int n) { return v >> n; }  // arithmetic in C++20
inline int32_t wrap(uint32_t v) { return int32_t(v); }

void regenerate() {
    for (int k = 0; k < N; k++) {
        int32_t y = wrap((uint32_t(state[k]) & 0x80000000u) | (uint32_t(state[(k + 1) % N]) & 0x7FFFFFFFu));
        int32_t v = state[(k + M) % N] ^ sar(y, 1);
        if (y & 1) v ^= wrap(0x9908B0DFu);
        state[k] = v;
    }
    index = 0;
}

}  // namespace

void init_random() {
    if (!state) state = std::make_unique<int32_t[]>(N);
    random_seed(START_SEED);
}

void random_seed(int32_t seed) {
    if (!state) state = std::make_unique<int32_t[]>(N);
    state[0] = seed;
    for (int i = 1; i < N; i++) {
        uint32_t prev = uint32_t(state[i - 1] ^ sar(state[i - 1], 30));
        state[i] = wrap(uint32_t(i) + prev * 1812433253u);
    }
    // The first outputs after a seeding are tempered straight from these
    // words; regeneration waits until they are used up.
    index = 0;
}

int32_t random_next() {
    if (!state) init_random();
    if (index == N) regenerate();
    int32_t y = state[index++];
    y ^= sar(y, 11);
    y ^= wrap((uint32_t(y) << 7) & 0x9D2C5680u);
    y ^= wrap((uint32_t(y) << 15) & 0xEFC60000u);
    y ^= sar(y, 18);
    return y;
}

int32_t random_next_secure() {
    uint8_t bytes[4];
    checksum::crypto_random_bytes(bytes, sizeof bytes);
    uint32_t v = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
    return int32_t(v & 0x7FFFFFFFu);
}

int32_t random_int(bool secure, int32_t n) {
    auto draw = [secure] { return secure ? random_next_secure() : random_next(); };
    if (n == 0) return 0;
    if (n == INT32_MIN) return -1 - draw();
    int32_t m = n < 0 ? -n : n;
    int32_t limit = (INT32_MAX / m) * m;
    int32_t d;
    do d = draw();
    while (d >= limit);
    int32_t r = d % m + 1;
    return n > 0 ? r : -r;
}

}  // namespace vyx::random_gen
