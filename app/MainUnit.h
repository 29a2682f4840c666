#pragma once
#include <QMainWindow>
namespace notavox {
class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TMainForm(QWidget* parent = nullptr);
};
}  // namespace notavox
