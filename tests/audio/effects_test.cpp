#include <gtest/gtest.h>

#include "audio/DocBuilder.h"
#include "audio/Effects.h"

using namespace notavox;
using namespace notavox::testing;
using V = std::vector<int>;

// All recordings here run at 10 frames per second, so 0.1 s is one frame.

TEST(SpanFrames, TruncatedAndNothingBelowOneFrame) {
    EXPECT_EQ(SpanFrames(0.5, 44100), 22050);
    EXPECT_EQ(SpanFrames(0.000001, 44100), 0);
}

TEST(Echo, Mono8WholeRecordingFeedsBackAtHalfLevel) {
    AudioDocument doc = Make8({200, 128, 128, 128, 128, 128, 128}, false);
    Echo(doc, 0.2);
    // Frames 0 and 1 only feed the echo; 200 comes back as 164, 146, 137.
    EXPECT_EQ(Values(doc), (V{200, 128, 164, 128, 146, 128, 137}));
}

TEST(Echo, Mono16ImpulseInsideEchoedPartIsHalvedAndTruncatesTowardZero) {
    AudioDocument a = Make16({1000, 0, 0, 0, 0, 0, 0}, false);
    Echo(a, 0.2);
    EXPECT_EQ(Values(a), (V{1000, 0, 500, 0, 250, 0, 125}));
    AudioDocument b = Make16({0, 0, 1000, 0, 0, 0, -3, 0, 0}, false);
    Echo(b, 0.2);
    EXPECT_EQ(Values(b), (V{0, 0, 500, 0, 250, 0, 123, 0, 61}));
    AudioDocument c = Make16({-3, 0, 0}, false);
    Echo(c, 0.2);
    EXPECT_EQ(Values(c), (V{-3, 0, -1}));
}

TEST(Echo, Stereo16SelectionMixesEachChannelWithItsOwnPartner) {
    AudioDocument doc = Make16({100, -100, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100}, true);
    Select(doc, 2, 9);  // frames 1..4
    Echo(doc, 0.1);
    EXPECT_EQ(Values(doc), (V{100, -100, 10, 20, 20, 30, 35, 45, 52, 62, 90, 100}));
    EXPECT_EQ(doc.selectionStart, 2);
}

TEST(Echo, DelayLongerThanRangeChangesNothing) {
    AudioDocument doc = Make8({1, 2, 3}, false);
    Echo(doc, 5.0);
    EXPECT_EQ(Values(doc), (V{1, 2, 3}));
}

TEST(FadeIn, Mono16RisesLinearlyFromSilence) {
    AudioDocument doc = Make16({1000, -1000, 1000, -1000, 1000, 1000, 7}, false);
    FadeIn(doc, 0.4);
    EXPECT_EQ(Values(doc), (V{0, -250, 500, -750, 1000, 1000, 7}));
}

TEST(FadeIn, Mono8SelectionShorterThanSpanStopsBeforeLargerEnd) {
    AudioDocument doc = Make8({228, 228, 28, 228, 228, 228}, false);
    Select(doc, 4, 1);
    FadeIn(doc, 0.4);
    // Gains 0, 1/4, 2/4 around 128; frame 4 (the larger end) keeps its value.
    EXPECT_EQ(Values(doc), (V{228, 128, 103, 178, 228, 228}));
}

TEST(FadeOut, Stereo16SelectionSilencesLargerEnd) {
    AudioDocument doc = Make16({1000, -1000, 1000, -1000, 1000, -1000, 1000, -1000, 1000, -1000, 1000, -1000}, true);
    Select(doc, 2, 9);  // frames 1..4
    FadeOut(doc, 0.2);
    EXPECT_EQ(Values(doc), (V{1000, -1000, 1000, -1000, 1000, -1000, 500, -500, 0, 0, 1000, -1000}));
}

TEST(FadeOut, Mono8WholeRecordingEndsAtGainOneOverSpan) {
    AudioDocument doc = Make8({228, 228, 228, 228, 228}, false);
    FadeOut(doc, 0.2);
    EXPECT_EQ(Values(doc), (V{228, 228, 228, 228, 178}));
    AudioDocument silent = Make8({128, 128, 128}, false);
    FadeOut(silent, 0.2);
    EXPECT_EQ(Values(silent), (V{128, 128, 128}));
}

TEST(Fades, SpanBelowOneFrameOrBeyondRangeChangesNothing) {
    AudioDocument doc = Make16({1000, 1000, 1000}, false);
    FadeIn(doc, 0.01);
    FadeOut(doc, 0.01);
    FadeOut(doc, 0.4);  // d = 4 > hi = 3
    EXPECT_EQ(Values(doc), (V{1000, 1000, 1000}));
}

TEST(Crossfade, Mono16ShortensBySpanAndRotates) {
    AudioDocument doc = Make16({100, 200, 300, 400, 500, 600, 700, 800}, false);
    Select(doc, 1, 3);
    ASSERT_TRUE(CrossfadeEndOntoStart(doc, 0.2));
    // Frame 0: 0*100 + 1*700; frame 1: 0.5*200 + 0.5*800 = 500.
    // Kept frames 700, 500, 300..600, rotated left by 2 div 2 = 1.
    EXPECT_EQ(Values(doc), (V{500, 300, 400, 500, 600, 700}));
    EXPECT_EQ(doc.byteCount, 12);
    EXPECT_EQ(doc.selectionStart, 0);
    EXPECT_EQ(doc.selectionEnd, 0);
}

TEST(Crossfade, Mono8MixesAroundCentre) {
    AudioDocument doc = Make8({138, 148, 128, 128, 128, 108, 118}, false);
    ASSERT_TRUE(CrossfadeEndOntoStart(doc, 0.2));
    // Frame 0: 128 + 108 - 128; frame 1: Trunc(10 + 128) + Trunc(-5 + 128) - 128.
    EXPECT_EQ(Values(doc), (V{133, 128, 128, 128, 108}));
}

TEST(Crossfade, Stereo8WholeFramesAndTrailingByteKept) {
    AudioDocument doc = Make8({1, 2, 3, 4, 5, 6, 99}, true);  // three frames and a stray byte
    ASSERT_TRUE(CrossfadeEndOntoStart(doc, 0.1));
    ASSERT_EQ(doc.byteCount, 5);
    EXPECT_EQ(doc.sampleData[0], 5);
    EXPECT_EQ(doc.sampleData[1], 6);
    EXPECT_EQ(doc.sampleData[2], 3);
    EXPECT_EQ(doc.sampleData[3], 4);
    EXPECT_EQ(doc.sampleData[4], 99);
}

TEST(Crossfade, SpanAsLongAsRecordingOrBelowOneFrameLeavesItUnchanged) {
    AudioDocument doc = Make16({1, 2, 3, 4}, false);
    Select(doc, 1, 2);
    EXPECT_FALSE(CrossfadeEndOntoStart(doc, 0.4));
    EXPECT_FALSE(CrossfadeEndOntoStart(doc, 10.0));
    EXPECT_FALSE(CrossfadeEndOntoStart(doc, 0.05));
    EXPECT_EQ(Values(doc), (V{1, 2, 3, 4}));
    EXPECT_EQ(doc.selectionEnd, 2);
}

TEST(Crossfade, SpanOverTwoThirdsStaysInsideTheBlock) {
    V v;
    for (int k = 0; k < 20; ++k) v.push_back(k * 10);
    AudioDocument doc = Make16(v, false);
    ASSERT_TRUE(CrossfadeEndOntoStart(doc, 1.4));  // d = 14, 6 frames remain
    EXPECT_EQ(doc.byteCount, 12);
    // Old frame 0 is the partner 60 at full weight; after the rotation by
    // 7 mod 6 = 1 it is the last frame.
    EXPECT_EQ(Values(doc).back(), 60);
}

TEST(MaximumVolume, Mono16PeakBecomesFullScale) {
    AudioDocument doc = Make16({16384, -16384, 1, 0}, false);
    MaximumVolume(doc);
    EXPECT_EQ(Values(doc), (V{32767, -32768, 2, 0}));
    AudioDocument ones = Make16({1, -1, 0}, false);
    MaximumVolume(ones);
    EXPECT_EQ(Values(ones), (V{32767, -32768, 0}));
    AudioDocument silence = Make16({0, 0}, false);
    MaximumVolume(silence);
    EXPECT_EQ(Values(silence), (V{0, 0}));
}

TEST(MaximumVolume, Mono8AroundCentre) {
    AudioDocument doc = Make8({192, 64, 129, 128}, false);
    MaximumVolume(doc);
    EXPECT_EQ(Values(doc), (V{255, 0, 130, 128}));
}

TEST(MaximumVolume, Stereo16SelectionIncludesLargerEnd) {
    AudioDocument doc = Make16({100, 100, 1000, -500, 250, 0, 4000, 4000}, true);
    Select(doc, 5, 2);  // frames 1..2
    MaximumVolume(doc);
    EXPECT_EQ(Values(doc), (V{100, 100, 32767, -16384, 8192, 0, 4000, 4000}));
}

TEST(Volume, LouderAndQuieterTruncateAndClip) {
    AudioDocument a = Make16({32000, 100, -15, -32768}, false);
    Louder10(a);
    EXPECT_EQ(Values(a), (V{32767, 110, -16, -32768}));
    AudioDocument b = Make16({110, -15}, false);
    Quieter10(b);
    EXPECT_EQ(Values(b), (V{100, -13}));
    AudioDocument c = Make8({250, 0, 138, 255}, false);
    Louder10(c);
    EXPECT_EQ(Values(c), (V{255, 0, 139, 255}));
    AudioDocument d = Make8({255, 0, 138}, false);
    Quieter10(d);
    EXPECT_EQ(Values(d), (V{243, 12, 137}));
}

TEST(Volume, Stereo8SelectionChangesOnlyItsFrames) {
    AudioDocument doc = Make8({138, 138, 138, 138, 138, 138, 138, 138}, true);
    Select(doc, 2, 5);  // frames 1..2 inclusive
    Louder10(doc);
    EXPECT_EQ(Values(doc), (V{138, 138, 139, 139, 139, 139, 138, 138}));
}

TEST(Reverse, WholeRecordingTwiceRestoresIt) {
    AudioDocument doc = Make8({1, 2, 3, 4, 5}, false);
    Reverse(doc);
    EXPECT_EQ(Values(doc), (V{5, 4, 3, 2, 1}));
    Reverse(doc);
    EXPECT_EQ(Values(doc), (V{1, 2, 3, 4, 5}));
}

TEST(Reverse, Stereo16SelectionMirrorsWholeFrames) {
    AudioDocument doc = Make16({0, 0, 1, -1, 2, -2, 3, -3, 4, -4, 5, -5}, true);
    Select(doc, 3, 8);  // frames 1..4
    Reverse(doc);
    EXPECT_EQ(Values(doc), (V{0, 0, 4, -4, 3, -3, 2, -2, 1, -1, 5, -5}));
}

TEST(Reverse, Stereo8SelectionReachingPastTheLastFrameStopsThere) {
    AudioDocument doc = Make8({1, 2, 3, 4, 5, 6, 7}, true);  // three frames, one stray byte
    Select(doc, 2, 7);  // larger end is frame 3, which does not exist
    Reverse(doc);
    EXPECT_EQ(Values(doc), (V{1, 2, 5, 6, 3, 4, 7}));
}

TEST(Speed, OnlyTheRateChanges) {
    AudioDocument doc = Make8({1, 2}, false, 11025);
    Select(doc, 0, 1);
    Faster10(doc);
    EXPECT_EQ(doc.sampleRate, 12127);
    doc.sampleRate = 8000;
    Slower10(doc);
    EXPECT_EQ(doc.sampleRate, 7272);
    doc.sampleRate = 44100;
    Faster10(doc);
    EXPECT_EQ(doc.sampleRate, 48510);
    doc.sampleRate = 44100;
    Slower10(doc);
    EXPECT_EQ(doc.sampleRate, 40090);
    EXPECT_EQ(Values(doc), (V{1, 2}));
    EXPECT_EQ(doc.selectionEnd, 1);
}
