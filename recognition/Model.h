// The trained note recogniser's weights, read from a .nvm file: "NVNM",
// version 2, the tensor count, then named float32 tensors (little-endian),
// and last the CRC-32 of everything before it (the polynomial of zlib), so
// that a damaged file is refused as a whole. The channel counts come from
// the shapes in the file; every value is checked against its range.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace notavox::recognition {

struct Tensor {
    std::vector<uint32_t> dims;
    std::vector<float> data;
};

// The thresholds of the note decoding.
struct DecodeSettings {
    float onsetThreshold = 0.5f;
    float frameThreshold = 0.3f;
    int32_t minFrames = 3;
    // A note is taken for an overtone of a lower one and dropped when a note
    // 12, 19 or 24 keys lower (or `overtoneIntervals` lower) starts within
    // `overtoneFrames` frames of it and its own onset value is below
    // `overtoneRatio` times that note's. 0: off.
    // With `overtoneVelocity` above 0, only when its velocity is also below
    // `overtoneVelocity` times that note's: an overtone is estimated quieter
    // than its note, a played note above another often is not.
    float overtoneRatio = 0.0f;
    int32_t overtoneFrames = 0;
    float overtoneVelocity = 0.0f;
    // The keys between a note and the overtones of it the rule looks for, or
    // empty: 12, 19 and 24 (the second to fourth partial). High notes also
    // meet the fifth and sixth (28, 31) of a note starting below them.
    std::vector<int32_t> overtoneIntervals{};
    // Per key, lowest first (88 values), or empty: then the values above hold
    // for every key. The network's outputs differ by register: high up a
    // played note's onset and note-active values are lower and its sound
    // shorter, so each register gets thresholds of its own.
    std::vector<float> keyOnsetThresholds{};
    std::vector<float> keyFrameThresholds{};
    std::vector<int32_t> keyMinFrames{};
};

struct Model {
    int c1 = 0, c2 = 0, c3 = 0;
    Tensor l1Weight, l1Bias, l2Weight, l2Bias, l3Weight, l3Bias, l4Weight, l4Bias, l5Weight, l5Bias;
    Tensor onsetWeight, onsetBias, frameWeight, frameBias, velocityWeight, velocityBias;
    DecodeSettings decode;
};

struct ModelLoad {
    bool ok = false;
    std::string message;  // German, naming the file, when !ok
    Model model;
};

// The version the reader takes, the largest file it reads, the largest
// channel count and the largest magnitude of a weight or bias.
constexpr uint32_t kModelVersion = 2;
constexpr uint64_t kModelFileLimit = uint64_t(16) << 20;
constexpr uint32_t kMostChannels = 256;
constexpr float kLargestWeight = 1000.0f;

// CRC-32 (reflected polynomial 0xEDB88320, as zlib's crc32) of the bytes.
uint32_t ModelChecksum(const char* data, size_t size);

// Reads and checks a weights file: every tensor there with the right shape.
// Only a regular file up to kModelFileLimit is read; a folder, pipe or
// device is refused at once without waiting on it.
ModelLoad LoadModel(const std::string& fileName);
// The same from the file's bytes; `fileName` only names it in messages.
ModelLoad ParseModel(const std::string& bytes, const std::string& fileName);

}  // namespace notavox::recognition
