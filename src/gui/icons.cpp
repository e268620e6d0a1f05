#include "gui/icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRadialGradient>
#include <map>

#include "params/unit_context.h"

namespace vecta::gui {
namespace {

constexpr int kSizes[] = {16, 24, 32, 48, 64};

QPixmap Lamp(int size, QColor colour) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r(1, 1, size - 2, size - 2);
  QRadialGradient g(r.center() - QPointF(size / 6.0, size / 6.0), size / 1.6);
  g.setColorAt(0, colour.lighter(170));
  g.setColorAt(1, colour.darker(120));
  p.setBrush(g);
  p.setPen(QPen(colour.darker(200), size / 16.0 + 0.5));
  p.drawEllipse(r);
  return pm;
}

QPixmap Application(int size) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const double s = size;
  p.setBrush(QColor(0x1f, 0x4e, 0x8c));
  p.setPen(Qt::NoPen);
  p.drawRoundedRect(QRectF(0, 0, s, s), s / 6, s / 6);
  // A mast with two radio waves on each side.
  QPen pen(Qt::white, s / 14 + 0.5, Qt::SolidLine, Qt::RoundCap);
  p.setPen(pen);
  p.drawLine(QPointF(s / 2, s * 0.45), QPointF(s * 0.32, s * 0.88));
  p.drawLine(QPointF(s / 2, s * 0.45), QPointF(s * 0.68, s * 0.88));
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(s / 2, s * 0.40), s / 14, s / 14);
  p.setBrush(Qt::NoBrush);
  for (int i = 1; i <= 2; ++i) {
    const double rad = s * 0.13 * i;
    const QRectF arc(s / 2 - rad, s * 0.40 - rad, 2 * rad, 2 * rad);
    p.drawArc(arc, -45 * 16, 90 * 16);
    p.drawArc(arc, 135 * 16, 90 * 16);
  }
  return pm;
}

QPixmap Key(int size) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const double s = size;
  QPen pen(QColor(0x8a, 0x6d, 0x1a), s / 10 + 0.5, Qt::SolidLine, Qt::RoundCap);
  p.setPen(pen);
  p.setBrush(QColor(0xe8, 0xc3, 0x4a));
  p.drawEllipse(QRectF(s * 0.08, s * 0.30, s * 0.38, s * 0.38));
  p.drawLine(QPointF(s * 0.46, s * 0.49), QPointF(s * 0.92, s * 0.49));
  p.drawLine(QPointF(s * 0.80, s * 0.49), QPointF(s * 0.80, s * 0.68));
  p.drawLine(QPointF(s * 0.68, s * 0.49), QPointF(s * 0.68, s * 0.62));
  return pm;
}

// A toolbar picture: a rounded tile with a glyph drawn by `glyph`.
template <typename Glyph>
QPixmap Tile(int size, QColor colour, Glyph glyph) {
  QPixmap pm(size, size);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const double s = size;
  p.setPen(Qt::NoPen);
  p.setBrush(colour);
  p.drawRoundedRect(QRectF(0.5, 0.5, s - 1, s - 1), s / 5, s / 5);
  p.setPen(QPen(Qt::white, s / 9 + 0.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  glyph(p, s);
  return pm;
}

void Wrench(QPainter& p, double s) {
  p.drawLine(QPointF(s * 0.28, s * 0.72), QPointF(s * 0.62, s * 0.38));
  p.drawEllipse(QPointF(s * 0.66, s * 0.34), s * 0.13, s * 0.13);
}
void Play(QPainter& p, double s) {
  QPolygonF tri({QPointF(s * 0.36, s * 0.26), QPointF(s * 0.74, s * 0.5), QPointF(s * 0.36, s * 0.74)});
  p.setBrush(Qt::white);
  p.drawPolygon(tri);
}
void Pause(QPainter& p, double s) {
  p.drawLine(QPointF(s * 0.38, s * 0.28), QPointF(s * 0.38, s * 0.72));
  p.drawLine(QPointF(s * 0.62, s * 0.28), QPointF(s * 0.62, s * 0.72));
}
void Clock(QPainter& p, double s) {
  p.drawEllipse(QPointF(s / 2, s / 2), s * 0.28, s * 0.28);
  p.drawLine(QPointF(s / 2, s / 2), QPointF(s / 2, s * 0.32));
  p.drawLine(QPointF(s / 2, s / 2), QPointF(s * 0.64, s / 2));
}
void Undo(QPainter& p, double s) {
  p.drawArc(QRectF(s * 0.28, s * 0.28, s * 0.44, s * 0.44), 90 * 16, -270 * 16);
  p.drawLine(QPointF(s * 0.5, s * 0.28), QPointF(s * 0.38, s * 0.2));
  p.drawLine(QPointF(s * 0.5, s * 0.28), QPointF(s * 0.4, s * 0.38));
}

void Trend(QPainter& p, double s) {
  QPolygonF line({QPointF(s * 0.22, s * 0.66), QPointF(s * 0.4, s * 0.46), QPointF(s * 0.56, s * 0.58),
                  QPointF(s * 0.78, s * 0.3)});
  p.drawPolyline(line);
}

template <typename Draw>
QIcon AtEverySize(Draw draw) {
  QIcon icon;
  for (int size : kSizes) icon.addPixmap(draw(size));
  return icon;
}

QIcon DrawIcon(int id) {
  switch (id) {
    case kIconApplication:
      return AtEverySize(Application);
    case params::kIconGreen:
      return AtEverySize([](int s) { return Lamp(s, QColor(0x1e, 0xb0, 0x3c)); });
    case params::kIconRed:
      return AtEverySize([](int s) { return Lamp(s, QColor(0xd0, 0x24, 0x24)); });
    case params::kIconGrey:
      return AtEverySize([](int s) { return Lamp(s, QColor(0x9a, 0x9a, 0x9a)); });
    case kIconKey:
      return AtEverySize(Key);
    case kIconEngineering:
      return AtEverySize([](int s) { return Tile(s, QColor(0x4a, 0x55, 0x68), Wrench); });
    case kIconEnablePolling:
      return AtEverySize([](int s) { return Tile(s, QColor(0x1e, 0x90, 0x3c), Play); });
    case kIconDisablePolling:
      return AtEverySize([](int s) { return Tile(s, QColor(0xb0, 0x70, 0x10), Pause); });
    case kIconPollingOptions:
      return AtEverySize([](int s) { return Tile(s, QColor(0x1f, 0x4e, 0x8c), Clock); });
    case kIconRestoreDefaults:
      return AtEverySize([](int s) { return Tile(s, QColor(0xa0, 0x28, 0x28), Undo); });
    case kIconStatusMonitor:
      return AtEverySize([](int s) { return Tile(s, QColor(0x17, 0x7a, 0x74), Trend); });
    default:
      return {};
  }
}

}  // namespace

QIcon ResourceIcon(int id) {
  // Each icon is drawn once and shared from then on: the lamps change with
  // every poll, and a fresh set of pixmaps each time would only pile up in
  // the pixmap cache. Window thread only; never freed, so no pixmap outlives
  // the application object.
  static auto* drawn = new std::map<int, QIcon>;
  auto it = drawn->find(id);
  if (it == drawn->end()) it = drawn->emplace(id, DrawIcon(id)).first;
  return it->second;
}

}  // namespace vecta::gui
