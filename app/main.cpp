#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "app/MainUnit.h"
#include "audio/Interrupt.h"

int main(int argc, char** argv) {
    // Ctrl+C, SIGTERM and SIGHUP remove the temporary file of an MP3 import.
    notavox::InstallInterruptCleanup();
    QApplication app(argc, argv);
    QApplication::setApplicationName("Notavox");
    // The desktop's own dialogs (file dialogs, message box buttons) speak
    // German like the rest of the program, whatever the system language.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::German, QLocale::Germany), "qtbase", "_",
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);
    notavox::TMainForm form;
    // A failed sound set-up has asked the program to end: it does so as soon
    // as the message loop starts.
    form.show();
    return app.exec();
}
