#include "sensors/ui/SensorSlots.h"

#include "base/DialogBoxes.h"
#include "base/KalvexError.h"
#include "base/NumberText.h"
#include "base/StringGrid.h"
#include "monitor/ui/LiveChart.h"
#include "sensors/SensorEntry.h"
#include "sensors/SensorRecords.h"
#include "sensors/ui/SensorPicture.h"
#include "view/ThermometerPictures.h"

#include <QFontDatabase>
#include <QLabel>

namespace {

// Column of the serial number in the hourly grid: name, 24 hours, serial.
constexpr int SHourSerialColumn = 25;
constexpr int SnsSerialColumn = 2;
constexpr int SnsKeyColumn = 4;
constexpr QPoint MarkerParking(-100, -100);

QFont makeTemperatureFont()
{
    const QString wanted = QStringLiteral("Arial Rounded MT Bold");
    QFont font;
    if (QFontDatabase::hasFamily(wanted)) {
        font.setFamily(wanted);
    } else {
        // A bold sans face, a little condensed, keeps "-99,9" inside the 37-pixel label.
        font.setFamilies({QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("DejaVu Sans"),
                          QStringLiteral("Liberation Sans"), QStringLiteral("Sans Serif")});
        font.setBold(true);
        if (!QFontDatabase::hasFamily(QStringLiteral("DejaVu Sans Condensed")))
            font.setStretch(QFont::SemiCondensed);
    }
    font.setPixelSize(15);
    return font;
}

QPixmap pictureOf(thermometer::Kind kind)
{
    return QPixmap::fromImage(thermometer::transparentBitmap(kind));
}

} // namespace

SensorSlots::SensorSlots(QWidget *PnItems, LiveChart &Chart1, StringGrid &Sns, StringGrid &SHour,
                         DialogBoxes &boxes, std::function<int()> CharMaxCount, QObject *parent)
    : QObject(parent)
    , m_panel(PnItems)
    , m_chart(Chart1)
    , m_sns(Sns)
    , m_shour(SHour)
    , m_boxes(boxes)
    , m_charMaxCount(std::move(CharMaxCount))
    , m_onPicture(pictureOf(thermometer::Kind::On))
    , m_offPicture(pictureOf(thermometer::Kind::Off))
    , m_temperatureFont(makeTemperatureFont())
{
    m_marker = new QLabel(m_panel);
    m_marker->setObjectName(QStringLiteral("ImgItemRef"));
    m_marker->setScaledContents(true);
    m_marker->setPixmap(pictureOf(thermometer::Kind::Marker));
    m_marker->setGeometry(QRect(MarkerParking, QSize(thermometer::ControlWidth, thermometer::ControlHeight)));
    m_marker->show();
}

SensorSlots::~SensorSlots() = default;

bool SensorSlots::validIndex(int index) const
{
    return index >= 0 && static_cast<std::size_t>(index) < DSItems.size();
}

bool SensorSlots::anyInUse() const
{
    for (int i = 0; i < static_cast<int>(DSItems.size()); ++i) {
        if (inUse(i))
            return true;
    }
    return false;
}

bool SensorSlots::inUse(int index) const
{
    if (!validIndex(index))
        return false;
    const QWidget *image = DSItems[static_cast<std::size_t>(index)].ImageCtl.data();
    // Hidden by DeleteItem, not merely invisible because the window is not shown yet.
    return image && !image->isHidden();
}

QString SensorSlots::name(int index) const
{
    if (!inUse(index))
        return QString();
    const QLabel *label = DSItems[static_cast<std::size_t>(index)].NameLabel.data();
    return label ? label->text() : QString();
}

SensorPicture *SensorSlots::picture(int index) const
{
    if (!validIndex(index))
        return nullptr;
    return qobject_cast<SensorPicture *>(DSItems[static_cast<std::size_t>(index)].ImageCtl.data());
}

int SensorSlots::AddItem(int X, int Y, const QString &Name, const QString &SN, bool Enable, double Correct,
                         bool Tray, TColor CBFon, TColor CBText, TColor CBChart, const TSign &Sign)
{
    const int index = sensorrecords::firstFreeSlot(DSItems, [](const TDSItem &item) {
        return item.ImageCtl && !item.ImageCtl->isHidden();
    });
    if (static_cast<std::size_t>(index) == DSItems.size())
        DSItems.emplace_back();
    TDSItem &item = DSItems[static_cast<std::size_t>(index)];

    // A reused slot gets new objects; the removed sensor's hidden picture goes.
    if (item.ImageCtl)
        item.ImageCtl->deleteLater();

    auto *image = new SensorPicture(index, m_panel);
    auto *tempLabel = new QLabel(m_panel);
    auto *nameLabel = new QLabel(m_panel);
    item.ImageCtl = image;
    item.TempLabel = tempLabel;
    item.NameLabel = nameLabel;
    item.Series = m_chart.addLine(Name, CBChart, m_charMaxCount ? m_charMaxCount() : 0);

    item.SN = sensorrecords::cutSerial(SN);
    item.Enable = Enable;
    item.Tray = Tray;
    item.Correct = Correct;
    item.CBFon = CBFon;
    item.CBText = CBText;
    item.CBChart = CBChart;
    item.Sign = Sign;
    item.LastTemp = 0;
    item.HourAvg.fill(0);
    item.LastTime = 0;
    item.ReadingTally = {};

    if (Tray && TrayCreate)
        TrayCreate(index + 1, Name, CBFon, CBText);

    image->setGeometry(X, Y, thermometer::ControlWidth, thermometer::ControlHeight);
    image->setToolTip(SN);
    image->setPixmap(Enable ? m_onPicture : m_offPicture);

    nameLabel->setObjectName(QStringLiteral("NameLabel%1").arg(index));
    nameLabel->setGeometry(X - 26, Y - 16, 70, 16);
    nameLabel->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    nameLabel->setText(Name);
    nameLabel->setTextFormat(Qt::PlainText);
    QPalette namePalette = nameLabel->palette();
    namePalette.setColor(QPalette::WindowText, QColor(255, 0, 0));
    nameLabel->setPalette(namePalette);
    nameLabel->setAutoFillBackground(true); // the panel's background colour

    tempLabel->setObjectName(QStringLiteral("TempLabel%1").arg(index));
    tempLabel->setGeometry(X - 40, Y + 16, 37, 16);
    tempLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    tempLabel->setTextFormat(Qt::PlainText);
    tempLabel->setFont(m_temperatureFont);
    QPalette tempPalette = tempLabel->palette();
    tempPalette.setColor(QPalette::WindowText, QColor(255, 255, 0));
    tempLabel->setPalette(tempPalette);
    tempLabel->setAutoFillBackground(false);

    image->show();
    tempLabel->show();
    nameLabel->show();
    // The marker stays in front of every picture.
    if (m_marker)
        m_marker->raise();
    emit pictureCreated(index, image);
    return index;
}

void SensorSlots::updateItem(int index, const SensorEntry &entry)
{
    if (!inUse(index))
        return;
    const auto slot = static_cast<std::size_t>(index);
    const QString oldName = name(index);
    if (entry.Name != oldName || entry.SN != DSItems[slot].SN) {
        renameGridRow(m_sns, 0, SnsSerialColumn, oldName, DSItems[slot].SN, entry.Name, entry.SN);
        renameGridRow(m_shour, 0, SHourSerialColumn, oldName, DSItems[slot].SN, entry.Name, entry.SN);
    }
    if (entry.Tray != DSItems[slot].Tray) {
        if (entry.Tray && TrayCreate)
            TrayCreate(index + 1, entry.Name, entry.CBFon, entry.CBText);
        else if (!entry.Tray && TrayDelete)
            TrayDelete(index + 1);
    }
    if (entry.Tray && TrayModify) {
        const TDSItem &item = DSItems[slot];
        const QString caption = item.TempLabel ? item.TempLabel->text() : QString();
        TrayModify(index + 1, numbertext::whole(item.LastTemp), entry.Name + QLatin1Char(' ') + caption + QStringLiteral("°"),
                   entry.CBFon, entry.CBText);
    }

    TDSItem &item = DSItems[slot];
    if (item.NameLabel)
        item.NameLabel->setText(entry.Name);
    m_chart.setLineTitle(item.Series, entry.Name);
    m_chart.setLineColor(item.Series, entry.CBChart);
    const QString serial = sensorrecords::cutSerial(entry.SN);
    if (serial != item.SN)
        item.ReadingTally = {};
    item.SN = serial;
    item.Enable = entry.Enable;
    item.Correct = entry.Correct;
    item.Tray = entry.Tray;
    item.CBFon = entry.CBFon;
    item.CBText = entry.CBText;
    item.CBChart = entry.CBChart;
    item.Sign = entry.Sign;
    showEnabledPicture(index, entry.Enable);
    if (!entry.Enable) {
        if (item.TempLabel)
            item.TempLabel->clear();
        item.LastTemp = 0;
    }
}

QString SensorSlots::NameBySerial(const QString &SN) const
{
    for (std::size_t i = 0; i < DSItems.size(); ++i) {
        if (inUse(static_cast<int>(i)) && DSItems[i].SN == SN)
            return name(static_cast<int>(i));
    }
    return QString();
}

void SensorSlots::DeleteItem(int Index)
{
    if (!inUse(Index))
        return;
    if (!m_boxes.confirm(QStringLiteral("Удалить датчик?")))
        return;
    // The box pumped events; the slot may have been freed meanwhile.
    if (!inUse(Index))
        return;
    TDSItem &item = DSItems[static_cast<std::size_t>(Index)];
    const QString sensorName = name(Index);

    for (int row = 1; row < m_sns.RowCount(); ++row) {
        if (m_sns.Cells(0, row) == sensorName && m_sns.Cells(SnsSerialColumn, row) == item.SN) {
            DeleteGridRow(m_sns, row);
            break;
        }
    }
    for (int row = 1; row < m_shour.RowCount(); ++row) {
        if (m_shour.Cells(0, row) == sensorName && m_shour.Cells(SHourSerialColumn, row) == item.SN) {
            DeleteGridRow(m_shour, row);
            break;
        }
    }
    if (item.Tray && TrayDelete)
        TrayDelete(Index + 1);

    item.ImageCtl->hide();
    delete item.NameLabel.data();
    delete item.TempLabel.data();
    item.NameLabel.clear();
    item.TempLabel.clear();
    item.SN.clear();
    item.Enable = false;
    m_chart.removeLine(item.Series);
    item.Series.clear();
}

void SensorSlots::N16Click()
{
    DeleteItem(SelectedItem);
}

void SensorSlots::N18Click()
{
    if (inUse(SelectedItem) && EditItem)
        EditItem(SelectedItem);
}

void SensorSlots::showEnabledPicture(int index, bool enabled)
{
    if (SensorPicture *image = picture(index))
        image->setPixmap(enabled ? m_onPicture : m_offPicture);
}

void SensorSlots::NImgOnClick()
{
    if (!inUse(SelectedItem))
        return;
    DSItems[static_cast<std::size_t>(SelectedItem)].Enable = true;
    showEnabledPicture(SelectedItem, true);
}

void SensorSlots::NImgOffClick()
{
    if (!inUse(SelectedItem))
        return;
    TDSItem &item = DSItems[static_cast<std::size_t>(SelectedItem)];
    item.Enable = false;
    showEnabledPicture(SelectedItem, false);
    if (item.TempLabel)
        item.TempLabel->clear();
    item.LastTemp = 0;
}

void SensorSlots::SnsDblClick()
{
    const QString text = m_sns.Cells(SnsKeyColumn, m_sns.Row());
    bool ok = false;
    const int index = text.trimmed().toInt(&ok, 10);
    if (!ok)
        throw KalvexError(QStringLiteral("'%1' не является допустимым целым числом").arg(text));
    if (inUse(index) && EditItem)
        EditItem(index);
}

void SensorSlots::placeItem(int index, int L, int T)
{
    if (!validIndex(index))
        return;
    TDSItem &item = DSItems[static_cast<std::size_t>(index)];
    if (item.ImageCtl) {
        item.ImageCtl->move(L, T);
        item.ImageCtl->raise();
    }
    if (item.NameLabel) {
        item.NameLabel->move(L - 26, T - 16);
        item.NameLabel->raise();
    }
    if (item.TempLabel) {
        item.TempLabel->move(L - 40, T + 16);
        item.TempLabel->raise();
    }
}

void SensorSlots::moveMarkerTo(int index)
{
    if (!m_marker || !inUse(index))
        return;
    m_marker->move(DSItems[static_cast<std::size_t>(index)].ImageCtl->pos());
    m_marker->raise();
}

void SensorSlots::parkMarker()
{
    if (m_marker)
        m_marker->move(MarkerParking);
}
