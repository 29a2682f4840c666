#include "recognition/Model.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>

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

ModelLoad ParseModel(const std::string& bytes, const std::string& fileName) {
    Reader in(bytes);
    char magic[4];
    uint32_t version = 0, count = 0;
    if (!in.take(magic, 4) || std::memcmp(magic, "NVNM", 4) != 0) return fail(fileName, "keine Modelldatei");
    if (!in.value(version) || version != 1) return fail(fileName, "unbekannte Version");
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
        if (c > 1024 || (c == 0 && tensors.count("l1.weight") && tensors.count("l2.weight") && tensors.count("l3.weight")))
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
    if (!problem.empty()) return fail(fileName, problem);
    if (!(minFrames.data[0] >= 0 && minFrames.data[0] < 100000)) return fail(fileName, "ungültige Mindestlänge");
    if (!overtoneFrames.data.empty() && !(overtoneFrames.data[0] >= 0 && overtoneFrames.data[0] < 100))
        return fail(fileName, "ungültiger Obertonabstand");
    if (!overtoneVelocity.data.empty() && !(overtoneVelocity.data[0] >= 0 && overtoneVelocity.data[0] < 100))
        return fail(fileName, "ungültiges Lautstärkeverhältnis");
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
    r.ok = true;
    return r;
}

ModelLoad LoadModel(const std::string& fileName) {
    std::ifstream f(fileName, std::ios::binary);
    if (!f) {
        ModelLoad r;
        r.message = "Konnte die Modelldatei " + fileName + " nicht öffnen";
        return r;
    }
    const std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    return ParseModel(bytes, fileName);
}

}  // namespace notavox::recognition
