// TDraw3D: the gradient panel behind the controls of the program's windows.
// It only paints: a linear gradient from its start colour at the top through
// its middle colour halfway down to its end colour at the bottom. Children
// (labels, buttons) sit on it; it takes no focus and no input of its own.
#pragma once

#include <QColor>
#include <QWidget>

namespace tvs {

class TDraw3D : public QWidget {
  Q_OBJECT

 public:
  explicit TDraw3D(QWidget* parent = nullptr);

  void SetColors(const QColor& start, const QColor& middle, const QColor& end);
  QColor StartColor() const { return start_; }
  QColor MiddleColor() const { return middle_; }
  QColor EndColor() const { return end_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor start_ = Qt::white;
  QColor middle_ = Qt::white;
  QColor end_ = Qt::white;
};

}  // namespace tvs
