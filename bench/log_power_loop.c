/* The log power spectrum as a plain scalar loop over the C library's logf:
   the side-by-side benchmark's reference for a loop bound by logf. */
#include <math.h>

void log_power_loop(const float* pairs, float* out, long n) {
    for (long i = 0; i < n; ++i) {
        const float re = pairs[2 * i];
        const float im = pairs[2 * i + 1];
        out[i] = logf(re * re + im * im);
    }
}
