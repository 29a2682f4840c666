#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

#include "app/MainUnit.h"
#include "audio/Interrupt.h"
#include "cdrom/SgTransport.h"
#include "codecs/Mp3Encoder.h"
#include "sound/SystemSound.h"

int main(int argc, char** argv) {
    // Ctrl+C, SIGTERM and SIGHUP remove the temporary file of a save.
    notavox::InstallInterruptCleanup();
    QApplication app(argc, argv);
    QApplication::setApplicationName("Notavox");
    // The desktop's own dialogs (file dialogs, message box buttons) speak
    // German like the rest of the program, whatever the system language.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::German, QLocale::Germany), "qtbase", "_",
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);
    // The real platform pieces; they outlive the window.
    notavox::QtPrompts prompts;
    notavox::SystemSound sound;
    const auto decoder = notavox::MakeMpg123Decoder();
    const auto encoder = notavox::MakeLameEncoder();
    notavox::SgTransport drives;
    notavox::TMainForm form({&prompts, &sound, decoder.get(), encoder.get(), &drives});
    // A failed sound set-up has asked the program to end: it does so as soon
    // as the message loop starts.
    form.show();
    // `notavox FILE` opens FILE as soon as the window is on the screen.
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() > 1 && !form.terminateRequested())
        QTimer::singleShot(0, &form, [&form, name = arguments.at(1)] { form.OpenFile(name); });
    return app.exec();
}
