#include <QApplication>
#include "app/MainUnit.h"
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    notavox::TMainForm form;
    form.show();
    return app.exec();
}
