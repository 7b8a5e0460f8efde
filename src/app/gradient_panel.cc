#include "app/gradient_panel.h"

#include <QLinearGradient>
#include <QPainter>

namespace tvs {

TDraw3D::TDraw3D(QWidget* parent) : QWidget(parent) {
  // The gradient covers every pixel, so Qt need not clear the area first.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TDraw3D::SetColors(const QColor& start, const QColor& middle, const QColor& end) {
  start_ = start;
  middle_ = middle;
  end_ = end;
  update();
}

void TDraw3D::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QLinearGradient gradient(0, 0, 0, height());
  gradient.setColorAt(0.0, start_);
  gradient.setColorAt(0.5, middle_);
  gradient.setColorAt(1.0, end_);
  painter.fillRect(rect(), gradient);
}

}  // namespace tvs
