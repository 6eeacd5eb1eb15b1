#include "gui/common/ChipIcon.h"

#include <QFont>
#include <QPainter>
#include <QPixmap>

namespace tavrel::gui {

namespace {

QPixmap ChipPixmap(int size, const QString& label, const QColor& body) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal unit = size / 16.0;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x9a, 0xa4, 0xad));
    for (int pin = 0; pin < 4; ++pin) {
        const qreal at = (3 + pin * 3) * unit;
        painter.drawRect(QRectF(at, 0.5 * unit, unit, 2 * unit));
        painter.drawRect(QRectF(at, 13.5 * unit, unit, 2 * unit));
        painter.drawRect(QRectF(0.5 * unit, at, 2 * unit, unit));
        painter.drawRect(QRectF(13.5 * unit, at, 2 * unit, unit));
    }
    painter.setBrush(body);
    painter.drawRoundedRect(QRectF(2 * unit, 2 * unit, 12 * unit, 12 * unit), unit, unit);
    QFont font("Sans");
    font.setBold(true);
    font.setPixelSize(qMax(6, static_cast<int>(4.5 * unit)));
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(2 * unit, 2 * unit, 12 * unit, 12 * unit), Qt::AlignCenter, label);
    return pixmap;
}

}  // namespace

QIcon ChipIcon(const QString& label, const QColor& body) {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) icon.addPixmap(ChipPixmap(size, label, body));
    return icon;
}

}  // namespace tavrel::gui
