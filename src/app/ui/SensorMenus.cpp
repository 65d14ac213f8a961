#include "app/ui/SensorMenus.h"

#include "app/ui/TForm1Ui.h"
#include "base/ErrorGuard.h"
#include "base/StringGrid.h"
#include "monitor/ui/StringGridView.h"
#include "sensors/ui/SensorSlots.h"
#include "view/ui/SensorPanel.h"

#include <QAction>
#include <QMenu>

#include <utility>

SensorMenus::SensorMenus(Parts parts, QObject *parent)
    : QObject(parent)
    , m_parts(std::move(parts))
{
    TForm1Ui &ui = m_parts.ui;
    connect(ui.NImgOn, &QAction::triggered, this, [this] { pictureCommand(&SensorSlots::NImgOnClick); });
    connect(ui.NImgOff, &QAction::triggered, this, [this] { pictureCommand(&SensorSlots::NImgOffClick); });
    connect(ui.N18, &QAction::triggered, this, [this] { pictureCommand(&SensorSlots::N18Click); });
    connect(ui.N16, &QAction::triggered, this, [this] { pictureCommand(&SensorSlots::N16Click); });
    // A sensor picture dropped at a new place.
    connect(&m_parts.panel, &SensorPanel::panelChanged, this, [this] { m_parts.publishSnapshot(); });
    connect(ui.NInfo, &QAction::triggered, this, [this] {
        const SensorSlots &sensors = m_parts.sensorSlots;
        const int index = sensors.SelectedItem;
        if (sensors.inUse(index))
            m_parts.showSensorInfo(sensors.DSItems[static_cast<std::size_t>(index)].SN);
    });
    // The readings grid's menu acts on the row clicked.
    StringGridView &view = m_parts.snsView;
    view.setContextMenuPolicy(Qt::CustomContextMenu);
    connect(&view, &QWidget::customContextMenuRequested, this, [this, &view](const QPoint &pos) {
        const QModelIndex at = view.indexAt(pos);
        if (!at.isValid())
            return;
        view.setCurrentIndex(at);
        m_parts.ui.SnsPopup->popup(view.viewport()->mapToGlobal(pos));
    });
    connect(ui.NSnsInfo, &QAction::triggered, this, [this] {
        const StringGrid &grid = m_parts.Sns;
        const QString serial = grid.Cells(2, grid.Row()).trimmed();
        if (!serial.isEmpty())
            m_parts.showSensorInfo(serial);
    });
}

void SensorMenus::pictureCommand(void (SensorSlots::*command)())
{
    SensorSlots &sensors = m_parts.sensorSlots;
    guarded(m_parts.boxes, [&sensors, command] { (sensors.*command)(); });
    m_parts.publishSnapshot();
}
