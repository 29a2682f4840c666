// The bar a musician would write: bar length and compound metre from the
// accents of the beats.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "RhythmTestSupport.h"
#include "rhythm/Metre.h"

namespace notavox {
namespace {

using testing::ClickEnvelope;

std::vector<double> Steady(double first, double bpm, int count) {
    std::vector<double> b;
    for (int i = 0; i < count; ++i) b.push_back(first + 60.0 * i / bpm);
    return b;
}

// A note on every beat; a bass and chord of another harmony on every
// `period`-th beat from `first`.
std::vector<TranscribedNote> AccentedEvery(const std::vector<double>& beats, size_t period, size_t first) {
    std::vector<TranscribedNote> notes;
    const int roots[4] = {48, 53, 55, 45};
    for (size_t i = 0; i < beats.size(); ++i) {
        const double end = i + 1 < beats.size() ? beats[i + 1] : beats[i] + 0.5;
        notes.push_back({76 - int(i % 4), beats[i], end, 80});
        if (i % period == first) {
            const int root = roots[(i / period) % 4];
            const double held = beats[std::min(beats.size() - 1, i + period - 1)] + 0.3;
            for (int p : {root, root + 12, root + 16}) notes.push_back({p, beats[i], held, 90});
        }
    }
    return notes;
}

TEST(Metre, CompoundBarsHoldTwoOrThreeBeats) {
    // Dotted-quarter beats accented every fourth: two bars of 6/8 each, not 12/8.
    const std::vector<double> beats = Steady(0.5, 60, 32);
    const OnsetEnvelope env = ClickEnvelope(beats);
    const std::vector<TranscribedNote> fours = AccentedEvery(beats, 4, 1);
    Metre m = EstimateMetre(env, beats, fours, 0, true);
    EXPECT_TRUE(m.compound);
    EXPECT_EQ(m.numerator(), 6);
    EXPECT_EQ(m.firstDownbeat % 2, 1);
    // Quarter beats keep their bar of four, and 12/8 stays when the user asks for it.
    EXPECT_EQ(EstimateMetre(env, beats, fours, 0, false).numerator(), 4);
    m = EstimateMetre(env, beats, fours, 4, true);
    EXPECT_EQ(m.numerator(), 12);
    EXPECT_EQ(m.firstDownbeat, 1);
    // Accents every third dotted quarter: 9/8.
    EXPECT_EQ(EstimateMetre(env, beats, AccentedEvery(beats, 3, 0), 0, true).numerator(), 9);
}

}  // namespace
}  // namespace notavox
