// The window on a small screen that scales the desktop by 2: an 800 x 600
// screen of 1600 x 1200 pixels. The platform reads the screen from a file
// named before the application starts.
#include <gtest/gtest.h>

#include <QColor>
#include <QScreen>
#include <QTest>
#include <cmath>
#include <cstdlib>
#include <fstream>

#include "app/MainUnit.h"
#include "support/FormFixture.h"

using namespace notavox;

namespace {

const bool kScreenChosen = [] {
    const std::string config = NOTAVOX_BINARY_DIR "/hidpi-screen.json";
    std::ofstream(config) << R"({"screens":[{"name":"klein","x":0,"y":0,"width":800,"height":600,)"
                             R"("logicalDpi":96,"logicalBaseDpi":96,"dpr":2}]})";
    setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config).c_str(), 1);
    return true;
}();

const QRgb kTrace = QColor(0, 255, 0).rgb();

}  // namespace

TEST(HiDpi, TheWholeWindowIsOnTheScreenAndTheTraceIsDrawnInItsPixels) {
    ASSERT_TRUE(kScreenChosen);
    ASSERT_EQ(QGuiApplication::primaryScreen()->devicePixelRatio(), 2.0);
    notavox::testing::TestForm<> f;
    TMainForm& m = f.m();
    m.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m));
    const QRect screen = m.screen()->availableGeometry();
    EXPECT_TRUE(screen.contains(m.frameGeometry())) << m.frameGeometry().y() << "+" << m.frameGeometry().height();
    EXPECT_LE(m.StatusBar1->mapTo(&m, QPoint(0, m.StatusBar1->height())).y(), m.height());

    // A sine over a few hundred samples, one sample per column.
    const int frames = 600;
    SampleBlock block = allocateBlock(frames);
    for (int i = 0; i < frames; ++i) block[i] = uint8_t(128 + 100 * std::sin(i / 15.0));
    m.document.replace(std::move(block), frames, 8000, false, false);
    m.RecordingOpened(QString());
    m.ZoomInFullClick();
    m.PaintBox1->render();
    const QImage& img = m.PaintBox1->bitmap();
    EXPECT_EQ(img.devicePixelRatio(), 2.0);
    EXPECT_EQ(img.size(), m.PaintBox1->size() * 2);
    // Drawn at the screen's pixels, the trace is one pixel thin: some 2 x 2
    // block of screen pixels is partly trace. A bitmap of the widget's size,
    // scaled up, has only whole blocks.
    int mixed = 0;
    for (int y = 0; y + 1 < img.height(); y += 2)
        for (int x = 0; x + 1 < img.width(); x += 2) {
            const int trace = (img.pixel(x, y) == kTrace) + (img.pixel(x + 1, y) == kTrace) +
                              (img.pixel(x, y + 1) == kTrace) + (img.pixel(x + 1, y + 1) == kTrace);
            if (trace > 0 && trace < 4) ++mixed;
        }
    EXPECT_GT(mixed, 100);
}
