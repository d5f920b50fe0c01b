// Draws Fendral's application icon (a table sheet with a header row and a highlighted
// record) at every hicolor size and writes DIR/NxN/apps/fendral.png for each.
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {

QImage Draw(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 64.0, size / 64.0);  // drawn on a 64-unit grid

  const QRectF sheet(4, 6, 56, 52);
  QPainterPath outline;
  outline.addRoundedRect(sheet, 5, 5);
  p.fillPath(outline, QColor(0xfa, 0xfa, 0xf5));
  p.save();
  p.setClipPath(outline);
  p.fillRect(QRectF(4, 6, 56, 13), QColor(0x2f, 0x5f, 0x9e));  // header row
  p.fillRect(QRectF(4, 33, 56, 8), QColor(0xf3, 0xc6, 0x3f));  // current record
  p.setPen(QPen(QColor(0x9a, 0xa8, 0xb8), 1.6));
  for (int y : {25, 33, 41, 49}) p.drawLine(QPointF(4, y), QPointF(60, y));
  for (int x : {22, 40}) p.drawLine(QPointF(x, 19), QPointF(x, 58));
  p.setPen(QPen(QColor(0xfa, 0xfa, 0xf5), 1.6));
  for (int x : {22, 40}) p.drawLine(QPointF(x, 6), QPointF(x, 19));
  p.restore();
  p.setPen(QPen(QColor(0x1f, 0x3b, 0x63), 2.4));
  p.setBrush(Qt::NoBrush);
  p.drawRoundedRect(sheet, 5, 5);
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_icon DIR\n");
    return 64;
  }
  const QString root = QString::fromLocal8Bit(argv[1]);
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const QString dir = QStringLiteral("%1/%2x%2/apps").arg(root).arg(size);
    if (!QDir().mkpath(dir) || !Draw(size).save(dir + QStringLiteral("/fendral.png"), "PNG")) {
      std::fprintf(stderr, "make_icon: cannot write %s\n", dir.toLocal8Bit().constData());
      return 1;
    }
  }
  return 0;
}
