#include <QApplication>

#include "app/MainUnit.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Notavox");
    notavox::TMainForm form;
    // A failed sound set-up has asked the program to end: it does so as soon
    // as the message loop starts.
    form.show();
    return app.exec();
}
