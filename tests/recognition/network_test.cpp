#include <sys/stat.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <filesystem>
#include <fstream>
#include <random>

#include <gtest/gtest.h>

#include "recognition/Features.h"
#include "recognition/Network.h"
#include "recognition/NoteDecoder.h"
#include "recognition/RecognitionSupport.h"
#include "support/Files.h"
#include "support/TempDir.h"

using namespace notavox;
using namespace notavox::recognition;
using notavox::testing::TempDir;

namespace {

std::vector<float> randomFeatures(int T, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    std::vector<float> f(size_t(T) * kFeatureBins);
    for (float& x : f) x = u(rng);
    return f;
}

double maxDifference(const std::vector<float>& a, const std::vector<double>& b) {
    double d = a.size() == b.size() ? 0.0 : 1e9;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) d = std::max(d, std::abs(double(a[i]) - b[i]));
    return d;
}

struct Golden {
    int T = 0;
    std::vector<float> feat, onset, frame, velocity;
};

bool readGolden(const std::string& path, Golden& g) {
    const std::string bytes = notavox::testing::readFile(path);
    if (bytes.size() < 8) return false;
    uint32_t T, B;
    std::memcpy(&T, bytes.data(), 4);
    std::memcpy(&B, bytes.data() + 4, 4);
    if (B != uint32_t(kFeatureBins) || bytes.size() != 8 + size_t(T) * (B + 3 * 88) * 4) return false;
    g.T = int(T);
    const float* p = reinterpret_cast<const float*>(bytes.data() + 8);
    g.feat.assign(p, p + size_t(T) * B);
    p += size_t(T) * B;
    for (auto* v : {&g.onset, &g.frame, &g.velocity}) {
        v->assign(p, p + size_t(T) * 88);
        p += size_t(T) * 88;
    }
    return true;
}

}  // namespace

// The shipped weights against the training program's own outputs.
TEST(RecognitionNetwork, ShippedModelGivesTheGoldenOutputs) {
    const ModelLoad load = LoadModel(notavox::testing::kShippedModel);
    ASSERT_TRUE(load.ok) << load.message;
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(std::string(NOTAVOX_SOURCE_DIR) + "/tests/recognition")) {
        const std::string name = e.path().filename().string();
        if (name.rfind("golden_", 0) == 0 && e.path().extension() == ".bin") files.push_back(e.path().string());
    }
    ASSERT_FALSE(files.empty()) << "no tests/recognition/golden_*.bin";
    const Network net(load.model);
    for (const std::string& f : files) {
        Golden g;
        ASSERT_TRUE(readGolden(f, g)) << f;
        std::vector<float> on, fr, ve;
        net.run(g.feat, g.T, on, fr, ve);
        double worst = 0;
        for (size_t i = 0; i < on.size(); ++i) {
            worst = std::max(worst, double(std::abs(on[i] - g.onset[i])));
            worst = std::max(worst, double(std::abs(fr[i] - g.frame[i])));
            worst = std::max(worst, double(std::abs(ve[i] - g.velocity[i])));
        }
        EXPECT_LE(worst, 1e-4) << f;
    }
}

// The shipped decoding finds in the golden outputs the notes the training
// program's decoding finds there (.notes beside each .bin): both decode alike.
TEST(RecognitionNetwork, ShippedDecodingFindsTheTrainingProgramsNotes) {
    const ModelLoad load = LoadModel(notavox::testing::kShippedModel);
    ASSERT_TRUE(load.ok) << load.message;
    int compared = 0;
    for (const auto& e : std::filesystem::directory_iterator(std::string(NOTAVOX_SOURCE_DIR) + "/tests/recognition")) {
        const std::string name = e.path().filename().string();
        if (name.rfind("golden_", 0) != 0 || e.path().extension() != ".bin") continue;
        std::filesystem::path notesFile = e.path();
        notesFile.replace_extension(".notes");
        std::ifstream in(notesFile);
        ASSERT_TRUE(in) << notesFile;
        std::vector<std::array<int64_t, 4>> expected;
        for (std::array<int64_t, 4> n{}; in >> n[0] >> n[1] >> n[2] >> n[3];) expected.push_back(n);
        Golden g;
        ASSERT_TRUE(readGolden(e.path().string(), g)) << name;
        // Key-major rows, as the network hands them over.
        std::vector<float> rows[3];
        const std::vector<float>* src[3] = {&g.onset, &g.frame, &g.velocity};
        for (int h = 0; h < 3; ++h) {
            rows[h].resize(size_t(g.T) * 88);
            for (int t = 0; t < g.T; ++t)
                for (size_t k = 0; k < 88; ++k) rows[h][k * size_t(g.T) + size_t(t)] = (*src[h])[size_t(t) * 88 + k];
        }
        NoteDecoder decoder(load.model.decode);
        decoder.add(0, g.T, rows[0].data(), rows[1].data(), rows[2].data(), size_t(g.T));
        const auto notes = decoder.finish(g.T);
        ASSERT_EQ(notes.size(), expected.size()) << name;
        for (size_t i = 0; i < notes.size(); ++i) {
            EXPECT_EQ(notes[i].pitch, expected[i][0]) << name << " note " << i;
            EXPECT_EQ(std::lround(notes[i].onset * 100), expected[i][1]) << name << " note " << i;
            EXPECT_EQ(std::lround(notes[i].offset * 100), expected[i][2]) << name << " note " << i;
            EXPECT_EQ(notes[i].velocity, expected[i][3]) << name << " note " << i;
        }
        compared += int(notes.size());
    }
    EXPECT_GT(compared, 10);
}

// Channel counts that are no multiple of the vector blocks, one tile and
// several tiles, against the definition evaluated literally.
TEST(RecognitionNetwork, MatchesTheDefinition) {
    struct Case {
        int c1, c2, c3, T;
    };
    for (const Case c : {Case{5, 11, 9, 40}, Case{16, 16, 16, 300}, Case{3, 8, 17, 7}, Case{4, 4, 4, 1}}) {
        const Model m = notavox::testing::randomModel(c.c1, c.c2, c.c3, uint32_t(c.T));
        const std::vector<float> feat = randomFeatures(c.T, 7);
        std::vector<float> on, fr, ve;
        Network(m).run(feat, c.T, on, fr, ve);
        const auto ref = notavox::testing::referenceNetwork(m, feat, c.T);
        EXPECT_LE(maxDifference(on, ref.onset), 1e-5) << c.c1 << "/" << c.c2 << "/" << c.c3 << " T " << c.T;
        EXPECT_LE(maxDifference(fr, ref.frame), 1e-5);
        EXPECT_LE(maxDifference(ve, ref.velocity), 1e-5);
    }
}

// Any cut into tiles, and features held from any frame on, give the same bits.
TEST(RecognitionNetwork, TilesGiveIdenticalBits) {
    const int T = 520;
    const Model m = notavox::testing::randomModel(6, 10, 12, 3);
    const Network net(m);
    const std::vector<float> feat = randomFeatures(T, 11);
    std::vector<float> on, fr, ve;
    net.run(feat, T, on, fr, ve);
    std::vector<float> featT(size_t(kFeatureBins) * T);
    for (int t = 0; t < T; ++t)
        for (int j = 0; j < kFeatureBins; ++j) featT[size_t(j) * T + size_t(t)] = feat[size_t(t) * kFeatureBins + size_t(j)];
    // Tiles of one frame each are as dear as full ones: they cover the start,
    // the cut between the first two full tiles and the end.
    const int cut = Network::tileFrames();
    auto singles = [&](int t0) { return t0 < 12 || (t0 >= cut - 6 && t0 < cut + 6) || t0 >= T - 12; };
    for (int tile : {1, 13, 100, Network::tileFrames()}) {
        std::vector<float> out[3];
        for (auto& o : out) o.assign(size_t(88) * T, -1.0f);
        auto scratch = net.makeScratch();
        for (int t0 = 0; t0 < T; t0 += tile) {
            if (tile == 1 && !singles(t0)) continue;
            const int n = std::min(tile, T - t0);
            // Only the frames the tile needs, from a copy starting 9 before it.
            const int fa = std::max(0, t0 - kContext), fb = std::min(T, t0 + n + kContext);
            std::vector<float> part(size_t(kFeatureBins) * size_t(fb - fa));
            for (int j = 0; j < kFeatureBins; ++j)
                for (int t = fa; t < fb; ++t) part[size_t(j) * size_t(fb - fa) + size_t(t - fa)] = featT[size_t(j) * T + size_t(t)];
            net.runTile(*scratch, part.data(), size_t(fb - fa), fa, T, t0, n, out[0].data(), out[1].data(),
                        out[2].data(), size_t(T), 0);
        }
        bool same = true;
        for (int t = 0; t < T; ++t)
            for (int k = 0; k < 88 && (tile != 1 || singles(t)); ++k) {
                same = same && std::memcmp(&out[0][size_t(k) * T + size_t(t)], &on[size_t(t) * 88 + size_t(k)], 4) == 0;
                same = same && std::memcmp(&out[1][size_t(k) * T + size_t(t)], &fr[size_t(t) * 88 + size_t(k)], 4) == 0;
                same = same && std::memcmp(&out[2][size_t(k) * T + size_t(t)], &ve[size_t(t) * 88 + size_t(k)], 4) == 0;
            }
        EXPECT_TRUE(same) << "tiles of " << tile;
    }
}

namespace {

// The file with the first value of tensor `name` set to `v`, sealed again:
// a file that passes its checksum but carries a value out of range.
std::string withValue(const std::string& file, const std::string& name, float v) {
    std::string body = file.substr(0, file.size() - 4);
    const uint16_t length = uint16_t(name.size());
    const std::string key = std::string(reinterpret_cast<const char*>(&length), 2) + name;
    size_t at = body.find(key);
    EXPECT_NE(at, std::string::npos) << name;
    at += key.size();
    const uint8_t ndim = uint8_t(body[at]);
    at += 1 + 4 * size_t(ndim);
    std::memcpy(&body[at], &v, 4);
    return notavox::testing::sealModel(body);
}

}  // namespace

TEST(RecognitionModel, FileIsReadWithItsShapesAndThresholds) {
    TempDir dir;
    const Model m = notavox::testing::randomModel(5, 7, 9, 1);
    {
        std::ofstream f(dir.file("m.nvm"), std::ios::binary);
        f << notavox::testing::modelBytes(m);
    }
    const ModelLoad load = LoadModel(dir.file("m.nvm"));
    ASSERT_TRUE(load.ok) << load.message;
    EXPECT_EQ(load.model.c1, 5);
    EXPECT_EQ(load.model.c2, 7);
    EXPECT_EQ(load.model.c3, 9);
    EXPECT_EQ(load.model.l3Weight.data, m.l3Weight.data);
    EXPECT_EQ(load.model.velocityBias.data, m.velocityBias.data);
    EXPECT_FLOAT_EQ(load.model.decode.onsetThreshold, 0.4f);
    EXPECT_FLOAT_EQ(load.model.decode.frameThreshold, 0.25f);
    EXPECT_EQ(load.model.decode.minFrames, 5);
    EXPECT_EQ(load.model.decode.overtoneRatio, 0.0f);  // a file without the overtone rule decodes without it

    Model withRule = m;
    withRule.decode.overtoneRatio = 0.75f;
    withRule.decode.overtoneFrames = 2;
    const ModelLoad rule = ParseModel(notavox::testing::modelBytes(withRule), "m.nvm");
    ASSERT_TRUE(rule.ok) << rule.message;
    EXPECT_EQ(rule.model.decode.overtoneRatio, 0.75f);
    EXPECT_EQ(rule.model.decode.overtoneFrames, 2);
    EXPECT_EQ(rule.model.decode.overtoneVelocity, 0.0f);  // without the velocity condition
    withRule.decode.overtoneVelocity = 0.95f;
    EXPECT_EQ(ParseModel(notavox::testing::modelBytes(withRule), "m.nvm").model.decode.overtoneVelocity, 0.95f);
    withRule.decode.overtoneVelocity = -1.0f;
    EXPECT_EQ(ParseModel(notavox::testing::modelBytes(withRule), "m.nvm").message,
              "Die Modelldatei m.nvm ist unbrauchbar: ungültiges Lautstärkeverhältnis");
    withRule.decode.overtoneVelocity = 0.0f;
    withRule.decode.overtoneFrames = 1000;
    EXPECT_EQ(ParseModel(notavox::testing::modelBytes(withRule), "m.nvm").message,
              "Die Modelldatei m.nvm ist unbrauchbar: ungültiger Obertonabstand");
    EXPECT_TRUE(load.model.decode.keyOnsetThresholds.empty());  // without them every key decodes alike
    EXPECT_TRUE(load.model.decode.keyMinFrames.empty());
}

// The thresholds and minimum lengths per key and the overtone rule's
// intervals: each optional on its own, every value checked like the one for
// all keys.
TEST(RecognitionModel, PerKeySettingsAreReadAndChecked) {
    Model m = notavox::testing::randomModel(4, 4, 4, 2);
    for (int k = 0; k < 88; ++k) {
        m.decode.keyOnsetThresholds.push_back(k < 63 ? 0.3f : 0.2f);
        m.decode.keyMinFrames.push_back(k < 63 ? 3 : 2);
    }
    const std::string file = notavox::testing::modelBytes(m);
    const ModelLoad load = ParseModel(file, "k.nvm");
    ASSERT_TRUE(load.ok) << load.message;
    EXPECT_EQ(load.model.decode.keyOnsetThresholds, m.decode.keyOnsetThresholds);
    EXPECT_TRUE(load.model.decode.keyFrameThresholds.empty());
    EXPECT_EQ(load.model.decode.keyMinFrames, m.decode.keyMinFrames);
    EXPECT_FLOAT_EQ(load.model.decode.onsetThreshold, 0.4f);  // the one for all keys stays as it is

    const std::string head = "Die Modelldatei k.nvm ist unbrauchbar: ";
    auto reason = [&](const std::string& bytes) { return ParseModel(bytes, "k.nvm").message; };
    EXPECT_EQ(reason(notavox::testing::modelBytes(m, "", "decode.key_min_frames")),
              head + "decode.key_min_frames hat die Form [89], erwartet [88]");
    for (float t : {0.0f, 1.0f, -0.5f, 2e9f})
        EXPECT_EQ(reason(withValue(file, "decode.key_onset_threshold", t)), head + "ungültige Anschlagschwelle einer Taste")
            << t;
    for (float n : {0.0f, 1.5f, 5000.0f})
        EXPECT_EQ(reason(withValue(file, "decode.key_min_frames", n)), head + "ungültige Mindestlänge einer Taste") << n;
    m.decode.keyFrameThresholds.assign(88, 0.5f);
    m.decode.keyFrameThresholds[87] = 1.0f;
    EXPECT_EQ(reason(notavox::testing::modelBytes(m)), head + "ungültige Halteschwelle einer Taste");
    m.decode.keyFrameThresholds[87] = 0.25f;
    m.decode.overtoneRatio = 0.9f;
    m.decode.overtoneIntervals = {12, 19, 24, 28, 31};
    const ModelLoad all = ParseModel(notavox::testing::modelBytes(m), "k.nvm");
    ASSERT_TRUE(all.ok) << all.message;
    EXPECT_EQ(all.model.decode.keyFrameThresholds, m.decode.keyFrameThresholds);
    EXPECT_EQ(all.model.decode.overtoneIntervals, m.decode.overtoneIntervals);
    for (float v : {0.0f, 12.5f, 88.0f})
        EXPECT_EQ(reason(withValue(notavox::testing::modelBytes(m), "decode.overtone_intervals", v)),
                  head + "ungültiges Obertonintervall")
            << v;
    m.decode.overtoneIntervals.assign(16, 12);
    EXPECT_TRUE(ParseModel(notavox::testing::modelBytes(m), "k.nvm").ok);
    m.decode.overtoneIntervals.assign(17, 12);
    EXPECT_EQ(reason(notavox::testing::modelBytes(m)), head + "decode.overtone_intervals hat die Form [17], erwartet [1] bis [16]");
}

TEST(RecognitionModel, BadFilesAreRefusedWithAReason) {
    const Model m = notavox::testing::randomModel(4, 4, 4, 1);
    const std::string good = notavox::testing::modelBytes(m);
    auto reason = [](const std::string& bytes) {
        const ModelLoad r = ParseModel(bytes, "x.nvm");
        EXPECT_FALSE(r.ok);
        return r.message;
    };
    EXPECT_EQ(reason("PK\3\4 not a model"), "Die Modelldatei x.nvm ist unbrauchbar: keine Modelldatei");
    for (char version : {1, 3}) {  // the first version had no checksum
        std::string other = good;
        other[4] = version;
        EXPECT_EQ(reason(other), "Die Modelldatei x.nvm ist unbrauchbar: unbekannte Version");
    }
    EXPECT_EQ(reason(good.substr(0, 10)), "Die Modelldatei x.nvm ist unbrauchbar: Datei ist zu kurz");
    // A cut or extended file no longer matches its checksum; one sealed
    // after the cut is found short, one sealed with more bytes too long.
    for (size_t cut : {good.size() / 2, good.size() - 1})
        EXPECT_EQ(reason(good.substr(0, cut)), "Die Modelldatei x.nvm ist unbrauchbar: Prüfsumme stimmt nicht") << cut;
    EXPECT_EQ(reason(good + "x"), "Die Modelldatei x.nvm ist unbrauchbar: Prüfsumme stimmt nicht");
    const std::string body = good.substr(0, good.size() - 4);
    EXPECT_EQ(reason(notavox::testing::sealModel(body.substr(0, body.size() / 2))),
              "Die Modelldatei x.nvm ist unbrauchbar: Datei ist zu kurz");
    EXPECT_EQ(reason(notavox::testing::sealModel(body + "x")),
              "Die Modelldatei x.nvm ist unbrauchbar: Daten nach dem Ende");
    EXPECT_EQ(reason(notavox::testing::modelBytes(m, "l4.bias")), "Die Modelldatei x.nvm ist unbrauchbar: l4.bias fehlt");
    EXPECT_EQ(reason(notavox::testing::modelBytes(m, "", "l3.weight")),
              "Die Modelldatei x.nvm ist unbrauchbar: l3.weight hat die Form [4,4,3,4], erwartet [4,4,3,3]");
    std::string nan = body;
    const float q = std::nanf("");
    std::memcpy(&nan[body.size() - 4], &q, 4);
    EXPECT_NE(reason(notavox::testing::sealModel(nan)).find("ungültiger Wert"), std::string::npos);
    const ModelLoad missing = LoadModel("/no/such/notes.nvm");
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.message, "Konnte die Modelldatei /no/such/notes.nvm nicht öffnen");
}

// Every value is checked against its range, after the checksum: damage the
// checksum cannot see (a file written with bad values) is refused too.
TEST(RecognitionModel, ValuesOutOfRangeAreRefused) {
    const std::string shipped = notavox::testing::readFile(notavox::testing::kShippedModel);
    ASSERT_TRUE(ParseModel(shipped, "n.nvm").ok);
    auto reason = [&](const std::string& name, float v) { return ParseModel(withValue(shipped, name, v), "n.nvm").message; };
    const std::string head = "Die Modelldatei n.nvm ist unbrauchbar: ";
    EXPECT_EQ(reason("l2.weight", 1e30f), head + "Wert außerhalb des Bereichs in l2.weight");
    EXPECT_EQ(reason("onset.bias", -5000.0f), head + "Wert außerhalb des Bereichs in onset.bias");
    EXPECT_EQ(reason("l3.bias", std::numeric_limits<float>::infinity()), head + "ungültiger Wert in l3.bias");
    for (float t : {-1.0f, 0.0f, 1.0f, 3e38f})
        EXPECT_EQ(reason("decode.onset_threshold", t), head + "ungültige Anschlagschwelle") << t;
    for (float t : {-1.0f, 1.5f}) EXPECT_EQ(reason("decode.frame_threshold", t), head + "ungültige Halteschwelle") << t;
    for (float n : {0.0f, 2.5f, 1e6f}) EXPECT_EQ(reason("decode.min_frames", n), head + "ungültige Mindestlänge") << n;
    EXPECT_EQ(reason("decode.overtone_ratio", -0.5f), head + "ungültiges Obertonverhältnis");
    EXPECT_EQ(reason("decode.overtone_frames", 2.5f), head + "ungültiger Obertonabstand");
    EXPECT_EQ(reason("decode.overtone_velocity", 50.0f), head + "ungültiges Lautstärkeverhältnis");
    // Values at the edges of their ranges are taken.
    EXPECT_TRUE(ParseModel(withValue(shipped, "l2.weight", -kLargestWeight), "n.nvm").ok);
    EXPECT_TRUE(ParseModel(withValue(shipped, "decode.min_frames", 1.0f), "n.nvm").ok);
}

// A flipped bit anywhere in the shipped file, an exponent among them, is
// caught by the checksum.
TEST(RecognitionModel, DamagedFileFailsItsChecksum) {
    const std::string shipped = notavox::testing::readFile(notavox::testing::kShippedModel);
    for (size_t at : {size_t(12), shipped.size() / 3 + 3, shipped.size() - 40, shipped.size() - 1}) {
        std::string damaged = shipped;
        damaged[at] = char(damaged[at] ^ 0x40);
        EXPECT_EQ(ParseModel(damaged, "n.nvm").message, "Die Modelldatei n.nvm ist unbrauchbar: Prüfsumme stimmt nicht")
            << at;
    }
    // The checksum is zlib's CRC-32, which the export writes.
    EXPECT_EQ(ModelChecksum("123456789", 9), 0xCBF43926u);
}

// Only a regular file of sensible size is read: a folder, a pipe without a
// writer and a link to an endless device are refused at once.
TEST(RecognitionModel, OnlyRegularFilesOfSensibleSizeAreRead) {
    TempDir dir;
    const std::string head = "Die Modelldatei ";
    std::filesystem::create_directory(dir.file("folder.nvm"));
    EXPECT_EQ(LoadModel(dir.file("folder.nvm")).message,
              head + dir.file("folder.nvm") + " ist unbrauchbar: keine gewöhnliche Datei");
    ASSERT_EQ(::mkfifo(dir.file("pipe.nvm").c_str(), 0600), 0);
    EXPECT_EQ(LoadModel(dir.file("pipe.nvm")).message,
              head + dir.file("pipe.nvm") + " ist unbrauchbar: keine gewöhnliche Datei");
    std::filesystem::create_symlink("/dev/zero", dir.file("zero.nvm"));
    EXPECT_EQ(LoadModel(dir.file("zero.nvm")).message,
              head + dir.file("zero.nvm") + " ist unbrauchbar: keine gewöhnliche Datei");
    {
        std::ofstream big(dir.file("big.nvm"), std::ios::binary);
        big << "NVNM";
    }
    std::filesystem::resize_file(dir.file("big.nvm"), kModelFileLimit + 1);  // sparse: no disk space
    EXPECT_EQ(LoadModel(dir.file("big.nvm")).message, head + dir.file("big.nvm") + " ist unbrauchbar: Datei ist zu groß");
}
