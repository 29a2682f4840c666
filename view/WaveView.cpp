// The waveform view: repaint, zoom, scrolling and the mouse selection.
#include <QPainter>

#include "app/MainUnit.h"

namespace notavox {

void TMainForm::CreateViewBitmap() {}
void TMainForm::FreeViewBitmap() {}
void TMainForm::PaintBox1Paint() {}
void TMainForm::PaintBox1OnPaintEvent(QPainter& screen) {
    screen.fillRect(QRect(0, 0, PaintBox1->width(), PaintBox1->height()), QColor(96, 0, 0));
}
void TMainForm::PaintBox1MouseDown(Qt::MouseButton, Qt::MouseButtons, int, int) {}
void TMainForm::PaintBox1MouseMove(Qt::MouseButtons, int, int) {}
void TMainForm::PaintBox1MouseUp(Qt::MouseButton, Qt::MouseButtons, int, int) {}
void TMainForm::ZoomOutEdChange() {}
void TMainForm::RxSlider1Change() {}
void TMainForm::ZoomOutFullClick() {}
void TMainForm::ZoomInFullClick() {}
void TMainForm::ZoomSelClick() {}
void TMainForm::ZoomKleinerBtnClick() {}
void TMainForm::ZoomGroesserBtnClick() {}
void TMainForm::BackBtnClick() {}

}  // namespace notavox
