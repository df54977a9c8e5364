// CRandom: a small seeded pseudo-random generator (a linear congruential
// generator with the constants of the classic C runtime `rand`).
//
// The same seed always gives the same sequence, on every platform. Not for
// cryptography. One object per thread, or a lock of the caller's.
#pragma once

#include <hux/export.h>

namespace hux {

class HUX_API CRandom {
 public:
  // Seeds the generator; only the low 32 bits of `seed` count.
  explicit CRandom(unsigned long seed) : m_nState(static_cast<unsigned int>(seed)) {}
  void Srand(unsigned long seed) { m_nState = static_cast<unsigned int>(seed); }

  // Advances the state (state * 214013 + 2531011, modulo 2^32) and returns
  // its bits 16 to 30: a number from 0 to 32767.
  int Rand() {
    m_nState = m_nState * 214013u + 2531011u;
    return static_cast<int>((m_nState >> 16) & 0x7FFF);
  }

 private:
  unsigned int m_nState;
};

}  // namespace hux
