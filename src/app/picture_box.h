#pragma once
// A picture control of the preview pages (`Image3` to `Image6`): shows one image scaled to the
// control's size, so that the whole picture is seen at any screen density.

#include <QImage>
#include <QWidget>

namespace aqled {

class PictureBox : public QWidget {
  Q_OBJECT

 public:
  explicit PictureBox(QWidget* parent = nullptr);

  // Replaces the picture with a copy of `image`.
  void SetPicture(const QImage& image);
  // The picture shown; a null image before the first SetPicture or Clear.
  const QImage& Picture() const { return picture_; }
  // Replaces the picture with one of the control's size filled with `colour`.
  void Clear(const QColor& colour);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage picture_;
};

}  // namespace aqled
