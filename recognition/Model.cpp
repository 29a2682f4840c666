#include "recognition/Model.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <map>

#include "audio/SafeFile.h"

namespace notavox::recognition {

namespace {

class Reader {
public:
    explicit Reader(const std::string& b) : bytes_(b) {}
    bool take(void* out, size_t n) {
        if (bytes_.size() - pos_ < n) return false;
        std::memcpy(out, bytes_.data() + pos_, n);
        pos_ += n;
        return true;
    }
    template <typename T>
    bool value(T& v) {
        uint8_t b[sizeof(T)];
        if (!take(b, sizeof b)) return false;
        uint64_t x = 0;
        for (size_t i = 0; i < sizeof(T); ++i) x |= uint64_t(b[i]) << (8 * i);
        v = T(x);
        return true;
    }
    size_t left() const { return bytes_.size() - pos_; }

private:
    const std::string& bytes_;
    size_t pos_ = 0;
};

ModelLoad fail(const std::string& fileName, const std::string& why) {
    ModelLoad r;
    r.message = "Die Modelldatei " + fileName + " ist unbrauchbar: " + why;
    return r;
}

std::string shapeText(const std::vector<uint32_t>& dims) {
    std::string s = "[";
    for (size_t i = 0; i < dims.size(); ++i) s += (i ? "," : "") + std::to_string(dims[i]);
    return s + "]";
}

}  // namespace

uint32_t ModelChecksum(const char* data, size_t size) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = c & 1u ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) crc = table[(crc ^ uint8_t(data[i])) & 0xFFu] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

ModelLoad ParseModel(const std::string& file, const std::string& fileName) {
    char magic[4];
    uint32_t version = 0, count = 0;
    {
        Reader head(file);
        if (!head.take(magic, 4) || std::memcmp(magic, "NVNM", 4) != 0) return fail(fileName, "keine Modelldatei");
        if (!head.value(version) || version != kModelVersion) return fail(fileName, "unbekannte Version");
    }
    // The checksum first: a damaged file is refused before any of its
    // values is looked at.
    if (file.size() < 16) return fail(fileName, "Datei ist zu kurz");
    const std::string bytes = file.substr(0, file.size() - 4);
    uint32_t stored = 0;
    for (size_t i = 0; i < 4; ++i) stored |= uint32_t(uint8_t(file[bytes.size() + i])) << (8 * i);
    if (ModelChecksum(bytes.data(), bytes.size()) != stored) return fail(fileName, "Prüfsumme stimmt nicht");
    Reader in(bytes);
    in.take(magic, 4);
    in.value(version);
    if (!in.value(count)) return fail(fileName, "Datei ist zu kurz");
    std::map<std::string, Tensor> tensors;
    for (uint32_t t = 0; t < count; ++t) {
        uint16_t nameLength = 0;
        if (!in.value(nameLength) || in.left() < nameLength) return fail(fileName, "Datei ist zu kurz");
        std::string name(nameLength, '\0');
        in.take(name.data(), nameLength);
        uint8_t ndim = 0;
        if (!in.value(ndim)) return fail(fileName, "Datei ist zu kurz");
        Tensor tensor;
        uint64_t elements = 1;
        for (uint8_t d = 0; d < ndim; ++d) {
            uint32_t dim = 0;
            if (!in.value(dim)) return fail(fileName, "Datei ist zu kurz");
            tensor.dims.push_back(dim);
            elements *= dim;
            if (elements > in.left()) return fail(fileName, "Datei ist zu kurz");
        }
        if (in.left() / 4 < elements) return fail(fileName, "Datei ist zu kurz");
        tensor.data.resize(size_t(elements));
        for (float& f : tensor.data) {
            uint32_t u = 0;
            in.value(u);
            std::memcpy(&f, &u, 4);
            if (!std::isfinite(f)) return fail(fileName, "ungültiger Wert in " + name);
            // The decoding settings have ranges of their own, below.
            if (std::fabs(f) > kLargestWeight && name.rfind("decode.", 0) != 0)
                return fail(fileName, "Wert außerhalb des Bereichs in " + name);
        }
        tensors[name] = std::move(tensor);
    }
    if (in.left() != 0) return fail(fileName, "Daten nach dem Ende");

    ModelLoad r;
    Model& m = r.model;
    std::string problem;
    auto get = [&](const char* name, std::vector<uint32_t> shape, Tensor& out) {
        if (!problem.empty()) return;
        auto it = tensors.find(name);
        if (it == tensors.end()) {
            problem = std::string(name) + " fehlt";
            return;
        }
        if (it->second.dims != shape) {
            problem = std::string(name) + " hat die Form " + shapeText(it->second.dims) + ", erwartet " + shapeText(shape);
            return;
        }
        out = std::move(it->second);
    };
    auto firstDim = [&](const char* name) -> uint32_t {
        auto it = tensors.find(name);
        return it == tensors.end() || it->second.dims.empty() ? 0 : it->second.dims[0];
    };
    const uint32_t c1 = firstDim("l1.weight"), c2 = firstDim("l2.weight"), c3 = firstDim("l3.weight");
    for (uint32_t c : {c1, c2, c3})
        if (c > kMostChannels ||
            (c == 0 && tensors.count("l1.weight") && tensors.count("l2.weight") && tensors.count("l3.weight")))
            return fail(fileName, "ungültige Kanalzahl");
    get("l1.weight", {c1, 8}, m.l1Weight);
    get("l1.bias", {c1}, m.l1Bias);
    get("l2.weight", {c2, c1, 3, 3}, m.l2Weight);
    get("l2.bias", {c2}, m.l2Bias);
    get("l3.weight", {c3, c2, 3, 3}, m.l3Weight);
    get("l3.bias", {c3}, m.l3Bias);
    get("l4.weight", {c3, c3, 3}, m.l4Weight);
    get("l4.bias", {c3}, m.l4Bias);
    get("l5.weight", {c3, c3, 3}, m.l5Weight);
    get("l5.bias", {c3}, m.l5Bias);
    get("onset.weight", {c3, 3}, m.onsetWeight);
    get("onset.bias", {88}, m.onsetBias);
    get("frame.weight", {c3, 3}, m.frameWeight);
    get("frame.bias", {88}, m.frameBias);
    get("velocity.weight", {c3, 3}, m.velocityWeight);
    get("velocity.bias", {88}, m.velocityBias);
    Tensor onThr, frThr, minFrames;
    get("decode.onset_threshold", {1}, onThr);
    get("decode.frame_threshold", {1}, frThr);
    get("decode.min_frames", {1}, minFrames);
    // Optional: files without the overtone rule decode without it.
    Tensor overtoneRatio, overtoneFrames;
    if (tensors.count("decode.overtone_ratio") || tensors.count("decode.overtone_frames")) {
        get("decode.overtone_ratio", {1}, overtoneRatio);
        get("decode.overtone_frames", {1}, overtoneFrames);
    }
    Tensor overtoneVelocity;
    if (tensors.count("decode.overtone_velocity")) get("decode.overtone_velocity", {1}, overtoneVelocity);
    // Optional, each on its own: the thresholds and minimum length per key.
    Tensor keyOnset, keyFrame, keyMinFrames;
    if (tensors.count("decode.key_onset_threshold")) get("decode.key_onset_threshold", {88}, keyOnset);
    if (tensors.count("decode.key_frame_threshold")) get("decode.key_frame_threshold", {88}, keyFrame);
    if (tensors.count("decode.key_min_frames")) get("decode.key_min_frames", {88}, keyMinFrames);
    // Optional: the intervals of the overtone rule, 1 to 16 of them.
    Tensor intervals;
    if (auto it = tensors.find("decode.overtone_intervals"); it != tensors.end() && problem.empty()) {
        const std::vector<uint32_t>& dims = it->second.dims;
        if (dims.size() == 1 && dims[0] >= 1 && dims[0] <= 16)
            intervals = std::move(it->second);
        else
            problem = "decode.overtone_intervals hat die Form " + shapeText(dims) + ", erwartet [1] bis [16]";
    }
    if (!problem.empty()) return fail(fileName, problem);
    // The decoding settings: thresholds of a probability strictly between
    // 0 and 1, whole frame counts, ratios that can be met.
    auto whole = [](const Tensor& t, float lo, float hi) {
        const float v = t.data[0];
        return v >= lo && v <= hi && v == std::round(v);
    };
    auto within = [](const Tensor& t, float lo, float hi) { return t.data[0] >= lo && t.data[0] <= hi; };
    if (!(onThr.data[0] > 0.0f && onThr.data[0] < 1.0f)) return fail(fileName, "ungültige Anschlagschwelle");
    if (!(frThr.data[0] > 0.0f && frThr.data[0] < 1.0f)) return fail(fileName, "ungültige Halteschwelle");
    if (!whole(minFrames, 1, 1000)) return fail(fileName, "ungültige Mindestlänge");
    if (!overtoneRatio.data.empty() && !within(overtoneRatio, 0, 10)) return fail(fileName, "ungültiges Obertonverhältnis");
    if (!overtoneFrames.data.empty() && !whole(overtoneFrames, 0, 99))
        return fail(fileName, "ungültiger Obertonabstand");
    if (!overtoneVelocity.data.empty() && !within(overtoneVelocity, 0, 10))
        return fail(fileName, "ungültiges Lautstärkeverhältnis");
    auto probabilities = [](const Tensor& t) {
        return std::all_of(t.data.begin(), t.data.end(), [](float v) { return v > 0.0f && v < 1.0f; });
    };
    auto frameCounts = [](const Tensor& t) {
        return std::all_of(t.data.begin(), t.data.end(), [](float v) { return v >= 1 && v <= 1000 && v == std::round(v); });
    };
    if (!probabilities(keyOnset)) return fail(fileName, "ungültige Anschlagschwelle einer Taste");
    if (!probabilities(keyFrame)) return fail(fileName, "ungültige Halteschwelle einer Taste");
    if (!frameCounts(keyMinFrames)) return fail(fileName, "ungültige Mindestlänge einer Taste");
    if (!std::all_of(intervals.data.begin(), intervals.data.end(),
                     [](float v) { return v >= 1 && v <= 87 && v == std::round(v); }))
        return fail(fileName, "ungültiges Obertonintervall");
    m.c1 = int(c1);
    m.c2 = int(c2);
    m.c3 = int(c3);
    m.decode.onsetThreshold = onThr.data[0];
    m.decode.frameThreshold = frThr.data[0];
    m.decode.minFrames = int32_t(std::lround(minFrames.data[0]));
    if (!overtoneRatio.data.empty()) {
        m.decode.overtoneRatio = overtoneRatio.data[0];
        m.decode.overtoneFrames = int32_t(std::lround(overtoneFrames.data[0]));
    }
    if (!overtoneVelocity.data.empty()) m.decode.overtoneVelocity = overtoneVelocity.data[0];
    m.decode.keyOnsetThresholds = keyOnset.data;
    m.decode.keyFrameThresholds = keyFrame.data;
    for (const float v : keyMinFrames.data) m.decode.keyMinFrames.push_back(int32_t(std::lround(v)));
    for (const float v : intervals.data) m.decode.overtoneIntervals.push_back(int32_t(std::lround(v)));
    r.ok = true;
    return r;
}

ModelLoad LoadModel(const std::string& fileName) {
    const InputFile file(fileName);
    if (file.notRegular()) return fail(fileName, "keine gewöhnliche Datei");
    if (!file.isOpen()) {
        ModelLoad r;
        r.message = "Konnte die Modelldatei " + fileName + " nicht öffnen";
        return r;
    }
    if (file.size() > kModelFileLimit) return fail(fileName, "Datei ist zu groß");
    std::string bytes(size_t(file.size()), '\0');
    if (!file.readAll(0, bytes.data(), bytes.size())) return fail(fileName, "Datei kann nicht gelesen werden");
    return ParseModel(bytes, fileName);
}

}  // namespace notavox::recognition
