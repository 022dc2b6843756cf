// The process-wide pseudo-random generator behind every `random` action: a
// 624-word Mersenne Twister whose right shifts propagate the sign, so every
// output is a 31-bit value. The secure draws come from the system's
// cryptographic source instead and leave the generator's state alone.
#pragma once
#include <cstdint>

namespace vyx::random_gen {

constexpr int32_t START_SEED = 19650218;

// Allocates the state and seeds it with START_SEED. Runs before the memory
// manager, so the state lives on the C++ heap.
void init_random();

void random_seed(int32_t seed);
// The next output, 0 .. 2147483647.
int32_t random_next();
// Four bytes from the cryptographic source, masked to 31 bits.
int32_t random_next_secure();
// 0 for n = 0; 1..n for n > 0, -1..n for n < 0 (rejection sampling, so every
// value is equally likely); for the minimum integer, -1 - draw.
int32_t random_int(bool secure, int32_t n);

}  // namespace vyx::random_gen
