#include "app/picture_box.h"

#include <QPainter>

namespace aqled {

PictureBox::PictureBox(QWidget* parent) : QWidget(parent) {}

void PictureBox::SetPicture(const QImage& image) {
  picture_ = image.copy();
  update();
}

void PictureBox::Clear(const QColor& colour) {
  QImage image(size(), QImage::Format_RGB32);
  image.fill(colour);
  SetPicture(image);
}

void PictureBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (!picture_.isNull()) painter.drawImage(0, 0, picture_);
}

}  // namespace aqled
