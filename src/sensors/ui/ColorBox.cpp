#include "sensors/ui/ColorBox.h"

#include "sensors/ColorList.h"
#include "sensors/TColorConvert.h"

#include <QEvent>
#include <QPainter>
#include <QPixmap>

ColorBox::ColorBox(QWidget *parent)
    : QComboBox(parent)
{
    setIconSize(QSize(22, 12));
    setMaxVisibleItems(16);
    for (const NamedColor &entry : colorListEntries())
        addColor(entry.name, entry.color);
}

QIcon ColorBox::swatch(TColor color) const
{
    QPixmap swatch(iconSize());
    swatch.fill(toQColor(color));
    QPainter p(&swatch);
    p.setPen(Qt::black);
    p.drawRect(swatch.rect().adjusted(0, 0, -1, -1));
    p.end();
    return QIcon(swatch);
}

void ColorBox::addColor(const QString &name, TColor color)
{
    addItem(swatch(color), name, QVariant::fromValue(static_cast<quint32>(color)));
}

void ColorBox::changeEvent(QEvent *event)
{
    QComboBox::changeEvent(event);
    // The system's colours follow a new desktop palette in their swatches too.
    if (event->type() == QEvent::PaletteChange) {
        for (int i = 0; i < count(); ++i) {
            if (isSystemColor(colorAt(i)))
                setItemIcon(i, swatch(colorAt(i)));
        }
    }
}

TColor ColorBox::colorAt(int index) const
{
    return static_cast<TColor>(itemData(index).value<quint32>());
}

TColor ColorBox::selected() const
{
    return currentIndex() < 0 ? 0 : colorAt(currentIndex());
}

void ColorBox::setSelected(TColor color)
{
    for (int i = 0; i < count(); ++i) {
        if (colorAt(i) == color) {
            setCurrentIndex(i);
            return;
        }
    }
    // Shown the way the configuration's hexadecimal form reads it: 0x00BBGGRR.
    addColor(QStringLiteral("0x") + QString::number(color, 16).toUpper().rightJustified(8, QLatin1Char('0')), color);
    setCurrentIndex(count() - 1);
}
