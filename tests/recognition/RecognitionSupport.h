// Helpers of the recognition tests: models with random weights, a literal
// (slow, double precision) evaluation of the network, recordings of tones
// and the energy of a tone in what was played.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "audio/AudioDocument.h"
#include "audio/Recording.h"
#include "audio/WavFile.h"
#include "recognition/AccurateConversion.h"
#include "recognition/Model.h"

namespace notavox::testing {

inline const std::string kShippedModel = std::string(NOTAVOX_SOURCE_DIR) + "/recognition/model/notes.nvm";

inline recognition::Tensor randomTensor(std::vector<uint32_t> dims, double stddev, std::mt19937& rng) {
    recognition::Tensor t;
    t.dims = dims;
    size_t n = 1;
    for (uint32_t d : dims) n *= d;
    std::normal_distribution<double> normal(0.0, stddev);
    for (size_t i = 0; i < n; ++i) t.data.push_back(float(normal(rng)));
    return t;
}

// A WAV file and the notes the shipped model finds in it: what the
// converter's output must hold.
struct TranscribedWav {
    AudioDocument doc;
    std::vector<TranscribedNote> notes;
};

inline TranscribedWav transcribeWav(const std::string& path) {
    TranscribedWav r;
    if (!LoadRecording(path, r.doc, nullptr)) {
        ADD_FAILURE() << "cannot read " << path;
        return r;
    }
    const recognition::ModelLoad model = recognition::LoadModel(kShippedModel);
    if (!model.ok) {
        ADD_FAILURE() << model.message;
        return r;
    }
    OperationHost quiet;
    r.notes = recognition::TranscribeRecording(r.doc, model.model, quiet).notes;
    return r;
}

// A model with the given channel counts and weights of the usual scale.
inline recognition::Model randomModel(int c1, int c2, int c3, uint32_t seed) {
    std::mt19937 rng(seed);
    recognition::Model m;
    m.c1 = c1;
    m.c2 = c2;
    m.c3 = c3;
    const uint32_t a = uint32_t(c1), b = uint32_t(c2), c = uint32_t(c3);
    m.l1Weight = randomTensor({a, 8}, std::sqrt(2.0 / 8), rng);
    m.l1Bias = randomTensor({a}, 0.1, rng);
    m.l2Weight = randomTensor({b, a, 3, 3}, std::sqrt(2.0 / (c1 * 9)), rng);
    m.l2Bias = randomTensor({b}, 0.1, rng);
    m.l3Weight = randomTensor({c, b, 3, 3}, std::sqrt(2.0 / (c2 * 9)), rng);
    m.l3Bias = randomTensor({c}, 0.1, rng);
    m.l4Weight = randomTensor({c, c, 3}, std::sqrt(1.0 / (c3 * 3)), rng);
    m.l4Bias = randomTensor({c}, 0.1, rng);
    m.l5Weight = randomTensor({c, c, 3}, std::sqrt(1.0 / (c3 * 3)), rng);
    m.l5Bias = randomTensor({c}, 0.1, rng);
    m.onsetWeight = randomTensor({c, 3}, std::sqrt(1.0 / (c3 * 3)), rng);
    m.onsetBias = randomTensor({88}, 0.5, rng);
    m.frameWeight = randomTensor({c, 3}, std::sqrt(1.0 / (c3 * 3)), rng);
    m.frameBias = randomTensor({88}, 0.5, rng);
    m.velocityWeight = randomTensor({c, 3}, std::sqrt(1.0 / (c3 * 3)), rng);
    m.velocityBias = randomTensor({88}, 0.5, rng);
    return m;
}

// The network written out as its definition reads, in doubles.
struct ReferenceOutputs {
    std::vector<double> onset, frame, velocity;  // [T][88]
};

inline ReferenceOutputs referenceNetwork(const recognition::Model& m, const std::vector<float>& feat, int T) {
    const int C1 = m.c1, C2 = m.c2, C3 = m.c3;
    const int shifts[8] = {-36, 0, 36, 57, 72, 84, 93, 101};
    auto relu = [](double x) { return x > 0 ? x : 0.0; };
    using Grid = std::vector<double>;  // [c][t][k]
    auto at = [&](const Grid& g, int c, int t, int k, int K) {
        return t < 0 || t >= T || k < 0 || k >= K ? 0.0 : g[(size_t(c) * size_t(T) + size_t(t)) * size_t(K) + size_t(k)];
    };
    Grid a1(size_t(C1) * size_t(T) * 264), a2(size_t(C2) * size_t(T) * 88), a3(size_t(C3) * size_t(T) * 88);
    for (int c = 0; c < C1; ++c)
        for (int t = 0; t < T; ++t)
            for (int b = 0; b < 264; ++b) {
                double s = m.l1Bias.data[size_t(c)];
                for (int h = 0; h < 8; ++h) {
                    const int j = b + shifts[h];
                    const double x = j >= 0 && j < 294 ? feat[size_t(t) * 294 + size_t(j)] : 0.0;
                    s += m.l1Weight.data[size_t(c * 8 + h)] * x;
                }
                a1[(size_t(c) * size_t(T) + size_t(t)) * 264 + size_t(b)] = relu(s);
            }
    auto conv3x3 = [&](const Grid& in, int cin, int K, int stride, int offset, const recognition::Tensor& w,
                       const recognition::Tensor& bias, int cout, Grid& out) {
        for (int c = 0; c < cout; ++c)
            for (int t = 0; t < T; ++t)
                for (int k = 0; k < 88; ++k) {
                    double s = bias.data[size_t(c)];
                    for (int i = 0; i < cin; ++i)
                        for (int dt = 0; dt < 3; ++dt)
                            for (int df = 0; df < 3; ++df)
                                s += w.data[size_t(((c * cin + i) * 3 + dt) * 3 + df)] *
                                     at(in, i, t + dt - 1, stride * k + df + offset, K);
                    out[(size_t(c) * size_t(T) + size_t(t)) * 88 + size_t(k)] = relu(s);
                }
    };
    conv3x3(a1, C1, 264, 3, 0, m.l2Weight, m.l2Bias, C2, a2);
    conv3x3(a2, C2, 88, 1, -1, m.l3Weight, m.l3Bias, C3, a3);
    auto residual = [&](const Grid& in, const recognition::Tensor& w, const recognition::Tensor& bias, int dil) {
        Grid out(in.size());
        for (int c = 0; c < C3; ++c)
            for (int t = 0; t < T; ++t)
                for (int k = 0; k < 88; ++k) {
                    double s = bias.data[size_t(c)];
                    for (int i = 0; i < C3; ++i)
                        for (int dt = 0; dt < 3; ++dt)
                            s += w.data[size_t((c * C3 + i) * 3 + dt)] * at(in, i, t + dil * (dt - 1), k, 88);
                    out[(size_t(c) * size_t(T) + size_t(t)) * 88 + size_t(k)] = at(in, c, t, k, 88) + relu(s);
                }
        return out;
    };
    const Grid a4 = residual(a3, m.l4Weight, m.l4Bias, 2);
    const Grid a5 = residual(a4, m.l5Weight, m.l5Bias, 4);
    ReferenceOutputs r;
    auto head = [&](const recognition::Tensor& w, const recognition::Tensor& bias, std::vector<double>& out) {
        out.assign(size_t(T) * 88, 0.0);
        for (int t = 0; t < T; ++t)
            for (int k = 0; k < 88; ++k) {
                double s = bias.data[size_t(k)];
                for (int i = 0; i < C3; ++i)
                    for (int dt = 0; dt < 3; ++dt) s += w.data[size_t(i * 3 + dt)] * at(a5, i, t + dt - 1, k, 88);
                out[size_t(t) * 88 + size_t(k)] = 1.0 / (1.0 + std::exp(-s));
            }
    };
    head(m.onsetWeight, m.onsetBias, r.onset);
    head(m.frameWeight, m.frameBias, r.frame);
    head(m.velocityWeight, m.velocityBias, r.velocity);
    return r;
}

// Weights file bytes (without their checksum) with the checksum appended.
inline std::string sealModel(std::string bytes) {
    const uint32_t crc = recognition::ModelChecksum(bytes.data(), bytes.size());
    bytes.append(reinterpret_cast<const char*>(&crc), 4);
    return bytes;
}

// The .nvm bytes of a model, as the export writes them.
inline std::string modelBytes(const recognition::Model& m, const std::string& skip = "", const std::string& reshape = "") {
    std::vector<std::pair<std::string, const recognition::Tensor*>> list = {
        {"l1.weight", &m.l1Weight},   {"l1.bias", &m.l1Bias},       {"l2.weight", &m.l2Weight},
        {"l2.bias", &m.l2Bias},       {"l3.weight", &m.l3Weight},   {"l3.bias", &m.l3Bias},
        {"l4.weight", &m.l4Weight},   {"l4.bias", &m.l4Bias},       {"l5.weight", &m.l5Weight},
        {"l5.bias", &m.l5Bias},       {"onset.weight", &m.onsetWeight}, {"onset.bias", &m.onsetBias},
        {"frame.weight", &m.frameWeight}, {"frame.bias", &m.frameBias}, {"velocity.weight", &m.velocityWeight},
        {"velocity.bias", &m.velocityBias}};
    recognition::Tensor on{{1}, {0.4f}}, fr{{1}, {0.25f}}, mf{{1}, {5.0f}};
    list.push_back({"decode.onset_threshold", &on});
    list.push_back({"decode.frame_threshold", &fr});
    list.push_back({"decode.min_frames", &mf});
    recognition::Tensor ratio{{1}, {m.decode.overtoneRatio}}, near{{1}, {float(m.decode.overtoneFrames)}};
    if (m.decode.overtoneRatio > 0.0f) {
        list.push_back({"decode.overtone_ratio", &ratio});
        list.push_back({"decode.overtone_frames", &near});
    }
    recognition::Tensor loud{{1}, {m.decode.overtoneVelocity}};
    if (m.decode.overtoneVelocity != 0.0f) list.push_back({"decode.overtone_velocity", &loud});
    recognition::Tensor keyOnset{{88}, m.decode.keyOnsetThresholds}, keyFrame{{88}, m.decode.keyFrameThresholds};
    recognition::Tensor keyLeast{{88}, {}};
    for (const int32_t v : m.decode.keyMinFrames) keyLeast.data.push_back(float(v));
    if (!keyOnset.data.empty()) list.push_back({"decode.key_onset_threshold", &keyOnset});
    if (!keyFrame.data.empty()) list.push_back({"decode.key_frame_threshold", &keyFrame});
    if (!keyLeast.data.empty()) list.push_back({"decode.key_min_frames", &keyLeast});
    recognition::Tensor intervals{{uint32_t(m.decode.overtoneIntervals.size())}, {}};
    for (const int32_t v : m.decode.overtoneIntervals) intervals.data.push_back(float(v));
    if (!intervals.data.empty()) list.push_back({"decode.overtone_intervals", &intervals});
    std::string out = "NVNM";
    auto u32 = [&](uint32_t v) { out.append(reinterpret_cast<const char*>(&v), 4); };
    u32(recognition::kModelVersion);
    u32(uint32_t(list.size() - (skip.empty() ? 0 : 1)));
    for (const auto& [name, t] : list) {
        if (name == skip) continue;
        const uint16_t len = uint16_t(name.size());
        out.append(reinterpret_cast<const char*>(&len), 2);
        out += name;
        std::vector<uint32_t> dims = t->dims;
        if (name == reshape) dims.back() += 1;
        out.push_back(char(dims.size()));
        for (uint32_t d : dims) u32(d);
        size_t n = 1;
        for (uint32_t d : dims) n *= d;
        for (size_t i = 0; i < n; ++i) {
            const float v = i < t->data.size() ? t->data[i] : 0.0f;
            out.append(reinterpret_cast<const char*>(&v), 4);
        }
    }
    return sealModel(out);
}

// A small model of random weights (4, 4 and 8 channels) written to `path`,
// which it returns.
inline std::string writeSmallModel(const std::string& path) {
    std::ofstream(path, std::ios::binary) << modelBytes(randomModel(4, 4, 8, 7));
    return path;
}

// A recording of a sum of sines (frequency, amplitude 0..1 of full scale).
inline AudioDocument toneRecording(int32_t rate, bool stereo, bool sixteen, double seconds,
                                   const std::vector<std::pair<double, double>>& tones) {
    const int64_t frames = int64_t(rate * seconds);
    const int channels = stereo ? 2 : 1;
    const int width = sixteen ? 2 : 1;
    const size_t bytes = size_t(frames) * size_t(channels * width);
    SampleBlock block = allocateBlock(bytes);
    for (int64_t i = 0; i < frames; ++i) {
        double v = 0;
        for (const auto& [f, a] : tones) v += a * std::sin(2 * M_PI * f * double(i) / rate);
        for (int c = 0; c < channels; ++c) {
            uint8_t* p = block.get() + (size_t(i) * size_t(channels) + size_t(c)) * size_t(width);
            if (sixteen) {
                const int16_t s = int16_t(std::lround(v * 32000));
                std::memcpy(p, &s, 2);
            } else {
                *p = uint8_t(std::lround(128 + v * 126));
            }
        }
    }
    AudioDocument doc;
    doc.replace(std::move(block), int32_t(bytes), rate, stereo, sixteen);
    return doc;
}

// Struck tones at 100 beats a minute (every 0.6 s), decaying, every third one
// louder and lower (C4, else G4): 16-bit mono.
inline AudioDocument accentedPulses(int32_t rate, double seconds) {
    const int64_t frames = int64_t(rate * seconds);
    SampleBlock b = allocateBlock(size_t(frames) * 2);
    auto* s = reinterpret_cast<int16_t*>(b.get());
    for (int64_t i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        const int beat = int(t / 0.6);
        const double since = t - beat * 0.6;
        const double hz = beat % 3 == 0 ? 261.63 : 392.0;
        const double amp = (beat % 3 == 0 ? 0.6 : 0.3) * std::exp(-since * 8.0);
        s[i] = int16_t(std::lround(20000 * amp * std::sin(2 * M_PI * hz * since)));
    }
    AudioDocument doc;
    doc.replace(std::move(b), int32_t(frames * 2), rate, false, true);
    return doc;
}

// Energy of `x` at frequency `hz` (Goertzel) over `n` samples from `from`,
// per sample.
inline double energyAt(const std::vector<int16_t>& x, size_t from, size_t n, double hz, double rate) {
    const double w = 2 * M_PI * hz / rate, c = 2 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (size_t i = from; i < from + n && i < x.size(); ++i) {
        const double s = x[i] / 32768.0 + c * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    return (s1 * s1 + s2 * s2 - c * s1 * s2) / double(n);
}

}  // namespace notavox::testing
