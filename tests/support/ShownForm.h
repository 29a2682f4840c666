// The main window shown on the offscreen screen, with helpers to load a
// recording, read its values back, drag a selection on PaintBox1 and answer
// the time-span dialog of the effects.
#pragma once

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <cstring>
#include <vector>

#include "app/EchoFUnit.h"
#include "app/MainUnit.h"
#include "support/FormFixture.h"

namespace notavox::testing {

struct ShownForm : TestForm<> {
    ShownForm() {
        form->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }

    // Puts a recording into the document and shows all of it, as opening a
    // file does.
    void load8(const std::vector<int>& v, bool stereo) {
        SampleBlock b = allocateBlock(v.size());
        for (size_t i = 0; i < v.size(); ++i) b[i] = uint8_t(v[i]);
        m().document.replace(std::move(b), int32_t(v.size()), 8000, stereo, false);
        m().RecordingOpened(QString());
        m().ZoomOutFullClick();
        m().PaintBox1Paint();
    }
    void load16(const std::vector<int>& v, bool stereo) {
        SampleBlock b = allocateBlock(v.size() * 2);
        for (size_t i = 0; i < v.size(); ++i) {
            const int16_t s = int16_t(v[i]);
            std::memcpy(b.get() + 2 * i, &s, 2);
        }
        m().document.replace(std::move(b), int32_t(v.size() * 2), 10, stereo, true);
        m().RecordingOpened(QString());
        m().ZoomOutFullClick();
        m().PaintBox1Paint();
    }
    int value(int i) const {
        const AudioDocument& d = form->document;
        if (!d.sixteenBit) return d.sampleData[i];
        int16_t s;
        std::memcpy(&s, d.sampleData.get() + 2 * i, 2);
        return s;
    }
    // A drag with the left button from x0 to x1 on the paint box.
    void drag(int x0, int x1) {
        QWidget* box = form->PaintBox1;
        QTest::mousePress(box, Qt::LeftButton, Qt::NoModifier, QPoint(x0, 20));
        QMouseEvent move(QEvent::MouseMove, QPointF(x1, 20), box->mapToGlobal(QPointF(x1, 20)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(box, &move);
        QTest::mouseRelease(box, Qt::LeftButton, Qt::NoModifier, QPoint(x1, 20));
    }
    // Answers the next time-span dialog with `seconds` (or cancels it).
    void answerSpan(double expectedDefault, double seconds, bool ok = true) {
        prompts.dialogAnswers.push_back([=](QDialog& d) {
            auto& echo = dynamic_cast<TEchoForm&>(d);
            EXPECT_EQ(echo.windowTitle(), "Effekt");
            EXPECT_DOUBLE_EQ(echo.ZeitEd->value(), expectedDefault);
            echo.ZeitEd->setValue(seconds);
            return ok ? QDialog::Accepted : QDialog::Rejected;
        });
    }
    QColor pixel(int x, int y) const { return form->PaintBox1->bitmap().pixelColor(x, y); }
};

}  // namespace notavox::testing
