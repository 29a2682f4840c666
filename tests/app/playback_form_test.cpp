// PLAY, STOP and the loop box of the real main window, with a recording fake
// in place of the sound device.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QEvent>
#include <QPushButton>
#include <QSpinBox>

#include <algorithm>
#include <cstring>
#include <memory>

#include "app/MainUnit.h"
#include "view/NoteView.h"
#include "view/WaveView.h"
#include "support/FakePrompts.h"
#include "support/FormFixture.h"
#include "support/FakeSoundDevice.h"

using namespace notavox;
using notavox::testing::FakePrompts;
using notavox::testing::FakeSoundDevice;

namespace {

struct Form : notavox::testing::TestForm<> {
    explicit Form(bool soundWorks = true)
        : TestForm([this, soundWorks](MainFormServices&) { sound.openSucceeds = soundWorks; }) {}
    // 16-bit mono at 44100 Hz whose frame k holds k + 1.
    void load(int32_t frames) {
        SampleBlock block = allocateBlock(size_t(frames) * 2);
        for (int32_t k = 0; k < frames; ++k) {
            const auto v = uint16_t(k + 1);
            block[2 * size_t(k)] = uint8_t(v & 0xff);
            block[2 * size_t(k) + 1] = uint8_t(v >> 8);
        }
        form->document.replace(std::move(block), frames * 2, 44100, false, true);
        form->RecordingOpened(QString());
    }
    // Clicks STOP through the message queue, as the user would while the
    // loop pumps messages.
    void queueStopClick() {
        QMetaObject::invokeMethod(form->StopBTN, [b = form->StopBTN] { b->click(); }, Qt::QueuedConnection);
    }
};

TEST(PlaybackForm, ButtonsFollowThePlaybackAndTheRangeEndsItWithoutLoop) {
    Form f;
    TMainForm& m = *f.form;
    f.load(15000);
    EXPECT_TRUE(m.SchleifeCheck->isChecked());
    EXPECT_TRUE(m.PlayBtn->isEnabled());
    EXPECT_FALSE(m.StopBTN->isEnabled());
    m.SchleifeCheck->setChecked(false);
    std::vector<std::pair<bool, bool>> states;
    std::vector<int32_t> cursor;
    std::vector<int64_t> heard;
    f.sound.paced = true;
    f.sound.latencyFrames = 3000;
    f.sound.onWrite = [&](int) {
        states.emplace_back(m.PlayBtn->isEnabled(), m.StopBTN->isEnabled());
        cursor.push_back(m.PaintBox1->cursorColumn());
        heard.push_back(f.sound.heardFrames());
    };
    m.PlayBtn->click();
    ASSERT_EQ(f.sound.blocks.size(), 3u);
    for (const auto& s : states) EXPECT_EQ(s, std::make_pair(false, true));
    EXPECT_EQ(f.sound.calls.back(), "stop");
    EXPECT_NE(std::find(f.sound.calls.begin(), f.sound.calls.end(), "drain"), f.sound.calls.end());
    EXPECT_TRUE(m.PlayBtn->isEnabled());
    EXPECT_FALSE(m.StopBTN->isEnabled());
    EXPECT_EQ(m.PaintBox1->cursorColumn(), -1);
    // Zoom 100 at scroll position 0: the cursor stands at the frame the
    // device says is heard, after the leading silent block.
    for (size_t i = 1; i < cursor.size(); ++i)
        EXPECT_EQ(cursor[i], std::min<int64_t>(std::max<int64_t>(0, heard[i] - 11025) / 100, m.PaintBox1->width()));
    EXPECT_EQ(f.sound.playedLeft()[14999], 15000);
}

// The note view's cursor is the waveform view's and is drawn in the same
// moment, not a turn of the message loop later.
TEST(PlaybackForm, NoteViewDrawsTheCursorWhenTheWaveformViewDoes) {
    Form f;
    TMainForm& m = *f.form;
    m.resize(900, 700);
    m.show();
    f.load(60000);
    m.ShowNotes({{60, 0.2, 1.0, 100}});
    ASSERT_TRUE(m.NoteView1->isVisible());
    m.SchleifeCheck->setChecked(false);
    m.ZoomOutEd->setValue(100);
    // The order of the two views' paint events, and the cursor column each
    // one painted.
    struct PaintWatch : QObject {
        TMainForm* form;
        int serial = 0;
        int wavePainted = 0, notesPainted = 0;
        int32_t notesColumn = -2;
        bool eventFilter(QObject* o, QEvent* e) override {
            if (e->type() != QEvent::Paint) return false;
            if (o == form->NoteView1) {
                notesPainted = ++serial;
                notesColumn = form->PaintBox1->cursorColumn();
            } else {
                wavePainted = ++serial;
            }
            return false;
        }
    } watch;
    watch.form = &m;
    m.NoteView1->installEventFilter(&watch);
    m.PaintBox1->installEventFilter(&watch);
    f.sound.paced = true;
    int checked = 0;
    f.sound.onWrite = [&](int index) {
        if (index < 2) return;
        EXPECT_GT(m.PaintBox1->cursorColumn(), 0) << "write " << index;
        // The note view painted after the waveform view's last cursor move.
        EXPECT_GT(watch.notesPainted, watch.wavePainted) << "write " << index;
        EXPECT_EQ(watch.notesColumn, m.PaintBox1->cursorColumn()) << "write " << index;
        ++checked;
    };
    m.PlayBtn->click();
    EXPECT_GE(checked, 3);
    m.NoteView1->removeEventFilter(&watch);
    m.PaintBox1->removeEventFilter(&watch);
}

// A device that cannot be started (or opened again) gives a message
// instead of silence; once it works again PLAY plays.
TEST(PlaybackForm, DeviceThatCannotBeStartedIsTold) {
    Form f;
    TMainForm& m = *f.form;
    f.load(15000);
    m.SchleifeCheck->setChecked(false);
    f.sound.startSucceeds = false;
    m.PlayBtn->click();
    ASSERT_EQ(f.prompts.messages.size(), 1u);
    EXPECT_EQ(f.prompts.messages[0].text, "Konnte das Abspielgerät nicht öffnen.");
    EXPECT_TRUE(m.PlayBtn->isEnabled());
    // Closed in between: PLAY opens it again.
    f.sound.close();
    f.sound.startSucceeds = true;
    m.PlayBtn->click();
    EXPECT_EQ(f.prompts.messages.size(), 1u);
    EXPECT_EQ(f.sound.blocks.size(), 3u);
    f.sound.close();
    f.sound.openSucceeds = false;
    m.PlayBtn->click();
    ASSERT_EQ(f.prompts.messages.size(), 2u);
    EXPECT_EQ(f.prompts.messages[1].text, "Konnte das Abspielgerät nicht öffnen.");
}

TEST(PlaybackForm, LoopRepeatsUntilStopIsClicked) {
    Form f;
    TMainForm& m = *f.form;
    f.load(5000);
    f.sound.onWrite = [&](int index) {
        if (index == 6) f.queueStopClick();
    };
    m.PlayBtn->click();
    // The click is seen at the next pump; that block is still computed.
    ASSERT_EQ(f.sound.blocks.size(), 8u);
    for (size_t b = 1; b < 8; ++b) ASSERT_EQ(f.sound.blocks[b][0], 1) << b;
    EXPECT_TRUE(m.stopRequested());
    EXPECT_EQ(std::count(f.sound.calls.begin(), f.sound.calls.end(), "drain"), 0);
    EXPECT_TRUE(m.PlayBtn->isEnabled());
    EXPECT_FALSE(m.StopBTN->isEnabled());

    // The next PLAY starts afresh: the stop flag is cleared.
    f.sound.blocks.clear();
    f.sound.onWrite = [&](int index) {
        if (index == 2) m.SchleifeCheck->setChecked(false);
    };
    m.PlayBtn->click();
    EXPECT_EQ(f.sound.blocks.size(), 3u);
    EXPECT_FALSE(m.stopRequested());
}

TEST(PlaybackForm, UntickingTheLoopBoxWhilePlayingEndsAfterThePass) {
    Form f;
    TMainForm& m = *f.form;
    f.load(15000);  // two blocks per pass
    f.sound.onWrite = [&](int index) {
        if (index == 3) m.SchleifeCheck->setChecked(false);  // first block of the second pass
    };
    m.PlayBtn->click();
    ASSERT_EQ(f.sound.blocks.size(), 5u);
    EXPECT_EQ(f.sound.blocks[3][0], 1);
    EXPECT_EQ(f.sound.blocks[4][0], 11026);
}

TEST(PlaybackForm, RecordingReplacedWhilePlayingIsReadAfresh) {
    Form f;
    TMainForm& m = *f.form;
    m.SchleifeCheck->setChecked(false);
    f.load(40000);
    f.sound.onWrite = [&](int index) {
        if (index == 1) f.load(12000);  // as if a file had been opened meanwhile
    };
    m.PlayBtn->click();
    ASSERT_EQ(f.sound.blocks.size(), 3u);
    EXPECT_EQ(f.sound.blocks[2][0], 11026);
    EXPECT_EQ(f.sound.blocks[2][2 * (12000 - 11025 - 1)], 12000);
    EXPECT_EQ(f.sound.blocks[2][2 * (12000 - 11025)], 0);
}

TEST(PlaybackForm, ClosingTheWindowEndsPlayback) {
    Form f;
    TMainForm& m = *f.form;
    f.load(5000);
    f.sound.onWrite = [&](int index) {
        if (index == 2) m.FormClose();
    };
    m.PlayBtn->click();
    EXPECT_EQ(f.sound.blocks.size(), 3u);
    EXPECT_TRUE(m.PlayBtn->isEnabled());
}

TEST(PlaybackForm, FailedSoundSetUpShowsTheMessageAndEndsTheProgram) {
    Form f(false);
    ASSERT_EQ(f.prompts.messages.size(), 1u);
    EXPECT_EQ(f.prompts.messages[0].text, "Konnte die Tonausgabe (PulseAudio oder ALSA) nicht initialisieren...");
    EXPECT_EQ(f.prompts.messages[0].icon, MsgIcon::None);
    EXPECT_EQ(f.prompts.messages[0].buttons, MB_OK);
    EXPECT_TRUE(f.prompts.messages[0].caption.isEmpty());
    EXPECT_TRUE(f.form->terminateRequested());
    // PLAY does nothing without a device.
    f.load(100);
    f.form->PlayBtn->click();
    EXPECT_TRUE(f.sound.blocks.empty());
    f.form.reset();
    EXPECT_EQ(f.sound.calls.back(), "close");
}

TEST(PlaybackForm, WorkingSoundSetUpShowsNothingAndReleasesTheDeviceAtTheEnd) {
    Form f;
    EXPECT_TRUE(f.prompts.messages.empty());
    EXPECT_FALSE(f.form->terminateRequested());
    EXPECT_TRUE(f.sound.opened);
    f.form.reset();
    EXPECT_FALSE(f.sound.opened);
}

}  // namespace
