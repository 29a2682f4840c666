#include "app/MainUnit.h"
namespace notavox {
TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent) {}
}  // namespace notavox
