// The main window as the GUI tests drive it: a scripted user in place of the
// dialogs and a fake sound device, so that no dialog ever blocks and no sound
// system is needed, with the program's own decoder, encoder and CD transport.
// Further fakes go in through `more`, which sees the services before the
// window is made. The fixture owns every piece and outlives the window.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "app/MainUnit.h"
#include "audio/Recording.h"
#include "cdrom/SgTransport.h"
#include "codecs/Mp3Encoder.h"
#include "support/FakePrompts.h"
#include "support/FakeSoundDevice.h"
#include "support/TempDir.h"

namespace notavox::testing {

template <class Prompts = FakePrompts>
struct TestForm {
    Prompts prompts;
    FakeSoundDevice sound;
    std::unique_ptr<Mp3Decoder> decoder = MakeMpg123Decoder();
    std::unique_ptr<Mp3Encoder> encoder = MakeLameEncoder();
    SgTransport drives;
    std::unique_ptr<TMainForm> form;

    explicit TestForm(const std::function<void(MainFormServices&)>& more = nullptr) {
        MainFormServices s{&prompts, &sound, decoder.get(), encoder.get(), &drives};
        if (more) more(s);
        form = std::make_unique<TMainForm>(s);
    }
    TMainForm& m() { return *form; }
    // `doc` as the window's recording, as if just opened.
    void load(AudioDocument&& doc) {
        form->document.replace(std::move(doc.sampleData), doc.byteCount, doc.sampleRate, doc.stereo, doc.sixteenBit);
        form->RecordingOpened(QString());
    }
    // The WAV file `path` as the window's recording, as if just opened.
    void loadWav(const std::string& path) {
        AudioDocument doc;
        ASSERT_TRUE(LoadRecording(path, doc, nullptr)) << path;
        load(std::move(doc));
    }
};

// The fixture of a suite of window tests (TEST_F): a fresh folder and window
// for each test.
template <class Form = TestForm<>>
class WindowTest : public ::testing::Test {
protected:
    TempDir dir;
    Form f;
    TMainForm& m = *f.form;
};

}  // namespace notavox::testing
