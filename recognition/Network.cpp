#include "recognition/Network.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "recognition/Features.h"
#include "transcription/Vec.h"

namespace notavox::recognition {

namespace {

constexpr int kShifts[8] = {-36, 0, 36, 57, 72, 84, 93, 101};
constexpr int kBlock = 8;        // output channels computed together
constexpr int kLeft = 16;        // zero columns before the computed ones
constexpr int kSpan = 256;       // computed columns of every layer
constexpr int kStride = kLeft + kSpan + 16;
constexpr int kPairs = kSpan / (2 * kLanes);

int padded(int c) { return (c + kBlock - 1) / kBlock * kBlock; }

float* allocFloats(size_t n) {
    const size_t bytes = (n * sizeof(float) + 63) / 64 * 64;
    float* p = static_cast<float*>(std::aligned_alloc(64, bytes));
    if (!p) throw std::bad_alloc();
    std::memset(p, 0, bytes);
    return p;
}

// Weights of a convolution rearranged for the loops below: for each block
// of 8 output channels, for each (input channel, time tap, frequency tap) in
// the tensor's order, the 8 weights of the block side by side. Channels past
// the real count get zero weights and a zero bias.
std::vector<float> packConv(const Tensor& w, int cout, int cin, int taps) {
    std::vector<float> p(size_t(padded(cout)) * size_t(cin) * size_t(taps), 0.0f);
    for (int c = 0; c < cout; ++c)
        for (int r = 0; r < cin * taps; ++r)
            p[(size_t(c / kBlock) * size_t(cin * taps) + size_t(r)) * kBlock + size_t(c % kBlock)] =
                w.data[size_t(c) * size_t(cin * taps) + size_t(r)];
    return p;
}

std::vector<float> padBias(const Tensor& b, int cout) {
    std::vector<float> p(size_t(padded(cout)), 0.0f);
    std::copy(b.data.begin(), b.data.end(), p.begin());
    return p;
}

// One output row of a convolution with 3 time taps (spacing `dil`) and
// `kf` frequency taps over every computed column, for all output blocks.
// `in` points at input channel 0, frequency row of tap 0; channels are
// `inChan` floats apart. `residual`, when given, is added after the relu.
template <int kf, int dil>
NOTAVOX_INLINE void convRow(const float* in, size_t inChan, int cin, const float* wpack, const float* bias, int coutPad,
                            float* out, size_t outChan, const float* residual) {
    int offsets[3 * kf];
    for (int dt = 0; dt < 3; ++dt)
        for (int df = 0; df < kf; ++df) offsets[dt * kf + df] = df * kStride + (dt - 1) * dil;
    // Column pairs outside, channel blocks inside: the input columns of a
    // pair stay in the first-level cache for every block.
    for (int pair = 0; pair < kPairs; ++pair) {
        const int col = kLeft + pair * 2 * kLanes;
        for (int cb = 0; cb < coutPad / kBlock; ++cb) {
            const float* wb = wpack + size_t(cb) * size_t(cin) * 3 * kf * kBlock;
            Vf acc0[kBlock], acc1[kBlock];
#pragma GCC unroll 8
            for (int c = 0; c < kBlock; ++c) acc0[c] = acc1[c] = splat(bias[cb * kBlock + c]);
            const float* w = wb;
            for (int i = 0; i < cin; ++i) {
                const float* row = in + size_t(i) * inChan + col;
                for (int tap = 0; tap < 3 * kf; ++tap) {
                    // Time tap tap / kf, frequency tap tap % kf.
                    const float* p = row + offsets[tap];
                    const Vf x0 = loadv(p), x1 = loadv(p + kLanes);
#pragma GCC unroll 8
                    for (int c = 0; c < kBlock; ++c) {
                        acc0[c] = acc0[c] + w[c] * x0;
                        acc1[c] = acc1[c] + w[c] * x1;
                    }
                    w += kBlock;
                }
            }
#pragma GCC unroll 8
            for (int c = 0; c < kBlock; ++c) {
                float* o = out + size_t(cb * kBlock + c) * outChan + col;
                if (residual) {
                    const float* r = residual + size_t(cb * kBlock + c) * outChan + col;
                    storev(o, loadv(r) + relu(acc0[c]));
                    storev(o + kLanes, loadv(r + kLanes) + relu(acc1[c]));
                } else {
                    storev(o, relu(acc0[c]));
                    storev(o + kLanes, relu(acc1[c]));
                }
            }
        }
    }
}

struct Geometry {
    int firstZero = kLeft;  // columns [kLeft, firstZero) lie before frame 0
    int lastZero = kLeft + kSpan;  // columns [lastZero, kLeft + kSpan) lie at or after frame T
};

NOTAVOX_INLINE void clearOutside(float* row, const Geometry& g) {
    std::fill(row + kLeft, row + g.firstZero, 0.0f);
    std::fill(row + g.lastZero, row + kLeft + kSpan, 0.0f);
}

// Harmonic stack and layer 1 for the three stack rows 3k..3k+2, then layer 2
// for key row k.
NOTAVOX_VECTOR_CLONES
void layers12(const float* featIn, const float* w1, const float* b1, int c1, float* a1, const float* w2p,
              const float* b2, int c2Pad, float* a2, const Geometry& g) {
    static const float zeros[kStride] = {};
    for (int k = 0; k < kKeys; ++k) {
        for (int r = 0; r < 3; ++r) {
            const int b = 3 * k + r;
            const float* rows[8];
            for (int h = 0; h < 8; ++h) {
                const int src = b + kShifts[h];
                rows[h] = src >= 0 && src < kFeatureBins ? featIn + size_t(src) * kStride : zeros;
            }
            for (int v = 0; v < kSpan / kLanes; ++v) {
                const int col = kLeft + v * kLanes;
                Vf x[8];
#pragma GCC unroll 8
                for (int h = 0; h < 8; ++h) x[h] = loadv(rows[h] + col);
                for (int c = 0; c < c1; ++c) {
                    Vf acc = splat(b1[c]);
#pragma GCC unroll 8
                    for (int h = 0; h < 8; ++h) acc = acc + w1[c * 8 + h] * x[h];
                    storev(a1 + (size_t(c) * 3 + size_t(r)) * kStride + col, relu(acc));
                }
            }
            for (int c = 0; c < c1; ++c) clearOutside(a1 + (size_t(c) * 3 + size_t(r)) * kStride, g);
        }
        float* out = a2 + size_t(k + 1) * kStride;
        convRow<3, 1>(a1, size_t(3) * kStride, c1, w2p, b2, c2Pad, out, size_t(kKeys + 2) * kStride, nullptr);
        for (int c = 0; c < c2Pad; ++c) clearOutside(out + size_t(c) * (kKeys + 2) * kStride, g);
    }
}

NOTAVOX_VECTOR_CLONES
void layer3(const float* a2, int c2, const float* w3p, const float* b3, int c3Pad, float* a3, const Geometry& g) {
    for (int k = 0; k < kKeys; ++k) {
        float* out = a3 + size_t(k) * kStride;
        convRow<3, 1>(a2 + size_t(k) * kStride, size_t(kKeys + 2) * kStride, c2, w3p, b3, c3Pad, out,
                      size_t(kKeys) * kStride, nullptr);
        for (int c = 0; c < c3Pad; ++c) clearOutside(out + size_t(c) * kKeys * kStride, g);
    }
}

template <int dil>
NOTAVOX_INLINE void residualLayer(const float* in, int c3, const float* wp, const float* b, int c3Pad, float* out,
                                  const Geometry& g) {
    for (int k = 0; k < kKeys; ++k) {
        float* o = out + size_t(k) * kStride;
        convRow<1, dil>(in + size_t(k) * kStride, size_t(kKeys) * kStride, c3, wp, b, c3Pad, o,
                        size_t(kKeys) * kStride, in + size_t(k) * kStride);
        for (int c = 0; c < c3Pad; ++c) clearOutside(o + size_t(c) * kKeys * kStride, g);
    }
}

NOTAVOX_VECTOR_CLONES
void layer4(const float* a3, int c3, const float* wp, const float* b, int c3Pad, float* a4, const Geometry& g) {
    residualLayer<2>(a3, c3, wp, b, c3Pad, a4, g);
}

NOTAVOX_VECTOR_CLONES
void layer5(const float* a4, int c3, const float* wp, const float* b, int c3Pad, float* a5, const Geometry& g) {
    residualLayer<4>(a4, c3, wp, b, c3Pad, a5, g);
}

// The three heads for the columns [kLeft + 9, kLeft + 9 + count).
NOTAVOX_VECTOR_CLONES
void heads(const float* a5, int c3, const float* const* hw, const float* const* hb, int count, float* const* out,
           size_t outStride) {
    for (int k = 0; k < kKeys; ++k) {
        for (int v = 0; v * kLanes < count; ++v) {
            const int col = kLeft + kContext + v * kLanes;
            Vf acc[3];
            for (int h = 0; h < 3; ++h) acc[h] = splat(hb[h][k]);
            for (int i = 0; i < c3; ++i) {
                const float* row = a5 + (size_t(i) * kKeys + size_t(k)) * kStride + col;
#pragma GCC unroll 3
                for (int dt = 0; dt < 3; ++dt) {
                    const Vf x = loadv(row + dt - 1);
#pragma GCC unroll 3
                    for (int h = 0; h < 3; ++h) acc[h] = acc[h] + hw[h][i * 3 + dt] * x;
                }
            }
            const int n = std::min(kLanes, count - v * kLanes);
            for (int h = 0; h < 3; ++h) {
                float lanes[kLanes];
                storev(lanes, sigmoidv(acc[h]));
                std::copy(lanes, lanes + n, out[h] + size_t(k) * outStride + size_t(v * kLanes));
            }
        }
    }
}

}  // namespace

struct Network::Scratch {
    float* featIn = nullptr;  // [294][kStride]
    float* a1 = nullptr;      // [c1][3][kStride]
    float* a2 = nullptr;      // [c2Pad][90][kStride], rows 0 and 89 stay zero
    float* a3 = nullptr;      // [c3Pad][88][kStride], also layer 5's output
    float* a4 = nullptr;      // [c3Pad][88][kStride]
    float* out[3] = {};       // [88][kSpan]
    ~Scratch() {
        for (float* p : {featIn, a1, a2, a3, a4, out[0], out[1], out[2]}) std::free(p);
    }
};

Network::Network(const Model& m)
    : c1_(m.c1), c2_(m.c2), c3_(m.c3), c2Pad_(padded(m.c2)), c3Pad_(padded(m.c3)), w1_(m.l1Weight.data),
      b1_(m.l1Bias.data), w2_(packConv(m.l2Weight, m.c2, m.c1, 9)), b2_(padBias(m.l2Bias, m.c2)),
      w3_(packConv(m.l3Weight, m.c3, m.c2, 9)), b3_(padBias(m.l3Bias, m.c3)), w4_(packConv(m.l4Weight, m.c3, m.c3, 3)),
      b4_(padBias(m.l4Bias, m.c3)), w5_(packConv(m.l5Weight, m.c3, m.c3, 3)), b5_(padBias(m.l5Bias, m.c3)) {
    headW_[0] = m.onsetWeight.data;
    headW_[1] = m.frameWeight.data;
    headW_[2] = m.velocityWeight.data;
    headB_[0] = m.onsetBias.data;
    headB_[1] = m.frameBias.data;
    headB_[2] = m.velocityBias.data;
}

Network::~Network() = default;

int Network::tileFrames() { return kSpan - 2 * kContext; }

std::unique_ptr<Network::Scratch, void (*)(Network::Scratch*)> Network::makeScratch() const {
    auto* s = new Scratch;
    s->featIn = allocFloats(size_t(kFeatureBins) * kStride);
    s->a1 = allocFloats(size_t(c1_) * 3 * kStride);
    s->a2 = allocFloats(size_t(c2Pad_) * (kKeys + 2) * kStride);
    s->a3 = allocFloats(size_t(c3Pad_) * kKeys * kStride);
    s->a4 = allocFloats(size_t(c3Pad_) * kKeys * kStride);
    for (float*& o : s->out) o = allocFloats(size_t(kKeys) * kSpan);
    return {s, [](Scratch* p) { delete p; }};
}

void Network::runTile(Scratch& s, const float* feat, size_t featStride, int64_t featT0, int64_t T, int64_t t0,
                      int count, float* onset, float* frame, float* velocity, size_t outStride, int64_t outT0) const {
    if (count <= 0) return;
    // Column j of every buffer is frame t0 - 9 - kLeft + j.
    const int64_t colT = t0 - kContext - kLeft;
    const int64_t validLo = std::max<int64_t>(0, t0 - kContext);
    const int64_t validHi = std::min<int64_t>(T, t0 + count + kContext);
    for (int j = 0; j < kFeatureBins; ++j) {
        float* row = s.featIn + size_t(j) * kStride;
        std::fill(row + kLeft, row + kLeft + kSpan, 0.0f);
        for (int64_t t = validLo; t < validHi; ++t) row[t - colT] = feat[size_t(j) * featStride + size_t(t - featT0)];
    }
    Geometry g;
    g.firstZero = int(std::clamp<int64_t>(-colT, kLeft, kLeft + kSpan));
    g.lastZero = int(std::clamp<int64_t>(T - colT, kLeft, kLeft + kSpan));

    layers12(s.featIn, w1_.data(), b1_.data(), c1_, s.a1, w2_.data(), b2_.data(), c2Pad_, s.a2, g);
    layer3(s.a2, c2_, w3_.data(), b3_.data(), c3Pad_, s.a3, g);
    layer4(s.a3, c3_, w4_.data(), b4_.data(), c3Pad_, s.a4, g);
    layer5(s.a4, c3_, w5_.data(), b5_.data(), c3Pad_, s.a3, g);
    const float* hw[3] = {headW_[0].data(), headW_[1].data(), headW_[2].data()};
    const float* hb[3] = {headB_[0].data(), headB_[1].data(), headB_[2].data()};
    heads(s.a3, c3_, hw, hb, count, s.out, kSpan);

    float* dest[3] = {onset, frame, velocity};
    for (int h = 0; h < 3; ++h)
        for (int k = 0; k < kKeys; ++k)
            std::copy(s.out[h] + size_t(k) * kSpan, s.out[h] + size_t(k) * kSpan + count,
                      dest[h] + size_t(k) * outStride + size_t(t0 - outT0));
}

void Network::run(const std::vector<float>& feat, int64_t T, std::vector<float>& onset, std::vector<float>& frame,
                  std::vector<float>& velocity) const {
    std::vector<float> featT(size_t(kFeatureBins) * size_t(T));
    for (int64_t t = 0; t < T; ++t)
        for (int j = 0; j < kFeatureBins; ++j) featT[size_t(j) * size_t(T) + size_t(t)] = feat[size_t(t) * kFeatureBins + size_t(j)];
    std::vector<float> out[3];
    for (auto& o : out) o.assign(size_t(kKeys) * size_t(T), 0.0f);
    auto scratch = makeScratch();
    for (int64_t t0 = 0; t0 < T; t0 += tileFrames())
        runTile(*scratch, featT.data(), size_t(T), 0, T, t0, int(std::min<int64_t>(tileFrames(), T - t0)), out[0].data(),
                out[1].data(), out[2].data(), size_t(T), 0);
    std::vector<float>* dest[3] = {&onset, &frame, &velocity};
    for (int h = 0; h < 3; ++h) {
        dest[h]->assign(size_t(T) * kKeys, 0.0f);
        for (int64_t t = 0; t < T; ++t)
            for (int k = 0; k < kKeys; ++k) (*dest[h])[size_t(t) * kKeys + size_t(k)] = out[h][size_t(k) * size_t(T) + size_t(t)];
    }
}

}  // namespace notavox::recognition
