#include "ReferenceFFT.h"

#include <cmath>

namespace notavox::testing {

int32_t FFT(int32_t direction, int32_t m, double* re, double* im) {
    int32_t n = 1;
    for (int32_t s = 0; s < m; ++s) n *= 2;

    // Bit-reversal permutation.
    int32_t j = 0;
    for (int32_t i = 0; i < n - 1; ++i) {
        if (i < j) {
            double t = re[i];
            re[i] = re[j];
            re[j] = t;
            t = im[i];
            im[i] = im[j];
            im[j] = t;
        }
        int32_t k = n / 2;
        while (k <= j) {
            j -= k;
            k /= 2;
        }
        j += k;
    }

    double c1 = -1.0;
    double c2 = 0.0;
    int32_t l2 = 1;
    for (int32_t stage = 0; stage < m; ++stage) {
        const int32_t l1 = l2;
        l2 = 2 * l1;
        double u1 = 1.0;
        double u2 = 0.0;
        for (int32_t jj = 0; jj < l1; ++jj) {
            for (int32_t i = jj; i < n; i += l2) {
                const int32_t i1 = i + l1;
                const double t1 = u1 * re[i1] - u2 * im[i1];
                const double t2 = u1 * im[i1] + u2 * re[i1];
                re[i1] = re[i] - t1;
                im[i1] = im[i] - t2;
                re[i] = re[i] + t1;
                im[i] = im[i] + t2;
            }
            const double z = u1 * c1 - u2 * c2;
            u2 = u1 * c2 + u2 * c1;
            u1 = z;
        }
        c2 = std::sqrt((1.0 - c1) / 2.0);
        if (direction == 1) c2 = -c2;
        c1 = std::sqrt((1.0 + c1) / 2.0);
    }

    if (direction == 1) {
        for (int32_t i = 0; i < n; ++i) {
            re[i] /= n;
            im[i] /= n;
        }
    }
    return 1;
}

}  // namespace notavox::testing
