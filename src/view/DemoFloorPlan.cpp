#include "view/DemoFloorPlan.h"

#include <QFont>
#include <QPainter>
#include <QPainterPath>

namespace demoplan {

namespace {

constexpr int Width = 640;
constexpr int Height = 420;
// The house's outer walls; the garden is everything right of it.
constexpr QRect House(16, 16, 272, 388);
constexpr int Wall = 6;
constexpr int Partition = 4;

void label(QPainter &painter, const QRect &room, const QString &text, int pixelSize = 13)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    painter.setFont(font);
    painter.setPen(QColor(110, 100, 90));
    painter.drawText(room.adjusted(8, 0, -8, -10), Qt::AlignBottom | Qt::AlignLeft, text);
}

} // namespace

QImage draw()
{
    QImage image(Width, Height, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    // The garden: lawn, a path to the door, two trees.
    image.fill(QColor(172, 205, 150));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(214, 200, 170));
    painter.drawRect(QRect(House.right(), 300, Width - House.right(), 36));
    painter.setBrush(QColor(120, 165, 105));
    painter.drawEllipse(QPoint(470, 120), 46, 46);
    painter.drawEllipse(QPoint(570, 230), 34, 34);
    painter.setBrush(QColor(104, 150, 92));
    painter.drawEllipse(QPoint(470, 120), 20, 20);
    painter.drawEllipse(QPoint(570, 230), 14, 14);
    label(painter, QRect(House.right() + 8, 340, 200, 64), QStringLiteral("Сад"));

    // The floors: wood in the living room, tiles elsewhere.
    const QRect living(House.left(), House.top(), House.width(), 170);
    const QRect hall(House.left(), living.bottom(), 118, House.bottom() - living.bottom());
    const QRect boiler(hall.right(), living.bottom(), House.right() - hall.right(), House.bottom() - living.bottom());
    painter.setBrush(QColor(236, 222, 196));
    painter.drawRect(living);
    painter.setBrush(QColor(226, 228, 230));
    painter.drawRect(hall);
    painter.setBrush(QColor(214, 218, 222));
    painter.drawRect(boiler);
    painter.setPen(QPen(QColor(222, 206, 178), 1));
    for (int y = living.top() + 14; y < living.bottom(); y += 14)
        painter.drawLine(living.left(), y, living.right(), y);

    // Walls, with door openings left in the partitions.
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(70, 70, 76), Wall, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    painter.drawRect(House);
    painter.setPen(QPen(QColor(70, 70, 76), Partition, Qt::SolidLine, Qt::FlatCap));
    painter.drawLine(House.left(), living.bottom(), hall.left() + 40, living.bottom());
    painter.drawLine(hall.left() + 80, living.bottom(), boiler.left() + 40, living.bottom());
    painter.drawLine(boiler.left() + 80, living.bottom(), House.right(), living.bottom());
    painter.drawLine(hall.right(), living.bottom(), hall.right(), living.bottom() + 120);
    painter.drawLine(hall.right(), living.bottom() + 170, hall.right(), House.bottom());

    // Windows in the outer walls, the front door towards the garden path.
    painter.setPen(QPen(QColor(150, 195, 235), Wall - 2, Qt::SolidLine, Qt::FlatCap));
    painter.drawLine(House.left() + 60, House.top(), House.left() + 150, House.top());
    painter.drawLine(House.left(), House.top() + 40, House.left(), House.top() + 120);
    painter.drawLine(House.right(), House.top() + 100, House.right(), House.top() + 150);
    painter.drawLine(House.left(), hall.top() + 60, House.left(), hall.top() + 110);
    painter.setPen(QPen(QColor(214, 200, 170), Wall + 2, Qt::SolidLine, Qt::FlatCap));
    painter.drawLine(House.right(), 304, House.right(), 332);

    // A sofa and a table in the living room, the boiler and its pipes in its room.
    painter.setPen(QPen(QColor(150, 135, 115), 2));
    painter.setBrush(QColor(205, 185, 160));
    painter.drawRoundedRect(QRect(House.left() + 16, House.top() + 120, 110, 30), 6, 6);
    painter.drawEllipse(QRect(House.left() + 170, House.top() + 110, 56, 36));
    painter.setBrush(QColor(190, 196, 204));
    painter.setPen(QPen(QColor(120, 126, 134), 2));
    painter.drawRoundedRect(QRect(boiler.left() + 96, boiler.top() + 120, 48, 60), 4, 4);
    QPainterPath pipes;
    pipes.moveTo(boiler.left() + 110, boiler.top() + 120);
    pipes.lineTo(boiler.left() + 110, boiler.top() + 96);
    pipes.lineTo(boiler.right() - 2, boiler.top() + 96);
    pipes.moveTo(boiler.left() + 130, boiler.top() + 120);
    pipes.lineTo(boiler.left() + 130, boiler.top() + 106);
    pipes.lineTo(boiler.right() - 2, boiler.top() + 106);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(170, 120, 90), 3));
    painter.drawPath(pipes);

    label(painter, living, QStringLiteral("Гостиная"));
    label(painter, hall, QStringLiteral("Прихожая"));
    label(painter, boiler, QStringLiteral("Котельная"));
    painter.end();
    return image;
}

} // namespace demoplan
