#include "app/ui/DialogCommands.h"

#include "app/ui/TForm1Ui.h"
#include "base/ErrorGuard.h"
#include "monitor/ui/StringGridView.h"
#include "sensors/ui/SensorSlots.h"
#include "sensors/ui/TForm2.h"
#include "sensors/ui/TForm3.h"

#include <QAction>
#include <QToolButton>

#include <utility>

DialogCommands::DialogCommands(Parts parts, QWidget *window)
    : m_parts(std::move(parts))
    , m_settingsBinding(m_parts.settings)
    , m_form2(new TForm2(m_parts.sensorSlots, m_parts.boxes, sensorrecords::systemRandom(), window))
    , m_form3(new TForm3(m_settingsBinding, m_parts.boxes, window))
{
    // A bare file name is one in the program's folder (as the background picture is read):
    // the file boxes start there, not at the root.
    m_form2->setProgramFolder(m_parts.programFolder);
    m_form3->setProgramFolder(m_parts.programFolder);
    m_parts.sensorSlots.EditItem = [this](int index) { openEditor(index); };
    connect(m_form2, &TForm2::applied, this, [this] { m_parts.publishSnapshot(); });
    connect(m_form3, &TForm3::applied, this, [this] { m_parts.publishSnapshot(); });

    TForm1Ui &ui = m_parts.ui;
    connect(ui.N2, &QAction::triggered, this, &DialogCommands::N2Click);
    connect(ui.BSetting, &QToolButton::clicked, this, &DialogCommands::N2Click);
    connect(ui.N4, &QAction::triggered, this, &DialogCommands::N4Click);
    connect(ui.BAdd, &QToolButton::clicked, this, &DialogCommands::N4Click);
    connect(ui.N13, &QAction::triggered, this, &DialogCommands::N4Click);
    connect(&m_parts.snsView, &StringGridView::gridDoubleClicked, this, &DialogCommands::SnsDblClick);
}

DialogCommands::~DialogCommands() = default;

void DialogCommands::N2Click()
{
    guarded(m_parts.boxes, [this] {
        m_form3->LoadSettings();
        m_form3->exec();
    });
}

void DialogCommands::N4Click()
{
    guarded(m_parts.boxes, [this] { openEditor(-1); });
}

void DialogCommands::SnsDblClick()
{
    guarded(m_parts.boxes, [this] { m_parts.sensorSlots.SnsDblClick(); });
}

void DialogCommands::openEditor(int index)
{
    // A sensor removed meanwhile (or never there) has nothing to edit.
    if (index >= 0 && !m_parts.sensorSlots.inUse(index))
        return;
    // The bus choice lists the buses as they are now (shown with several only).
    if (m_parts.busNames)
        m_form2->setBusNames(m_parts.busNames());
    m_form2->EditItem(index);
    m_form2->exec();
}
