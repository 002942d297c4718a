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
  if (picture_.isNull()) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(rect(), picture_);
}

}  // namespace aqled
