// The main window as the GUI tests drive it: a scripted user in place of the
// dialogs and a fake sound device, so that no display dialog ever blocks and
// no sound system is needed. Further fakes go in through `more`, which sees
// the services before the window is made.
#pragma once

#include <functional>
#include <memory>

#include "app/MainUnit.h"
#include "support/FakePrompts.h"
#include "support/FakeSoundDevice.h"

namespace notavox::testing {

template <class Prompts = FakePrompts>
struct TestForm {
    Prompts prompts;
    FakeSoundDevice sound;
    std::unique_ptr<TMainForm> form;

    explicit TestForm(const std::function<void(MainFormServices&)>& more = nullptr) {
        MainFormServices s;
        s.prompts = &prompts;
        s.sound = &sound;
        if (more) more(s);
        form = std::make_unique<TMainForm>(s);
    }
    TMainForm& m() { return *form; }
};

}  // namespace notavox::testing
