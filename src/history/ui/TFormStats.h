#pragma once

#include "base/ScreenCursor.h"
#include "base/StringGrid.h"
#include "history/HistorySensorList.h"
#include "history/TADOQuery.h"

#include <QPointer>
#include <QRect>
#include <QWidget>

#include <functional>
#include <optional>

class ChartWorker;
class Clock;
class DialogBoxes;
class HistoryChart;
class HistorySnsView;
class ReadingStore;
class SensorListWorker;
class QComboBox;
class QDateEdit;
class QDialog;
class QLabel;
class QProgressBar;
class QToolButton;

// What the history window reaches of the main window.
struct TFormStatsContext
{
    DialogBoxes &boxes;
    const Clock &clock;
    // The main window's store (its connection string, CompactDB); null while it has none.
    std::function<ReadingStore *()> store;
    // NameBySerial of the main window: the name of the first sensor with that serial, or empty.
    std::function<QString(const QString &)> NameBySerial;
};

// The history window "История": the stored readings of the ticked sensors charted over whole
// days at one of six levels, and deleted on request (then the store is compacted). Created once,
// shown and hidden; Esc hides it.
class TFormStats : public QWidget
{
    Q_OBJECT

public:
    explicit TFormStats(TFormStatsContext context, QWidget *parent = nullptr);
    ~TFormStats() override;

    // The loading window and its progress bar (shown while a chart is built), and the chart
    // help TForm4 (shown modally by "Справка"). Created after this window.
    void setLoadingWindow(QWidget *window, QProgressBar *ProgressBar1);
    void setHelpWindow(QDialog *Form4);

    // Adds the store's serials the list does not hold yet (at every showing). They are read off
    // the window thread; sensorsLoaded comes when the list has them.
    void LoadSns();
    bool sensorsLoading() const;
    QString GetNameSer(const QString &Sn) const;
    void SnsDblClick();
    // "Обновить": starts building the chart (off the window thread); the chart appears when
    // chartDrawn comes. Another press or a deletion cancels it; hiding the window does not.
    void SpeedButton4Click();
    // True while a chart is being built.
    bool chartRunning() const;
    // "Справка".
    void SpeedButton2Click();
    // "Удалить историю".
    void SpeedButton3Click();

    // Where the loading window goes over a window frame: left = Left - 81 + Width / 2,
    // top = Top - 43 + Height / 2, halves rounded to the even neighbour.
    static QPoint loadingPosition(const QRect &frame);

    // Components under their designed names.
    QWidget *Panel1 = nullptr;
    QLabel *Label1 = nullptr;
    QDateEdit *DateFrom = nullptr;
    QLabel *Label2 = nullptr;
    QDateEdit *DateTo = nullptr;
    QComboBox *Detal = nullptr;
    QToolButton *SpeedButton4 = nullptr;
    QToolButton *SpeedButton2 = nullptr;
    QToolButton *SpeedButton3 = nullptr;
    QLabel *Image1 = nullptr;
    QWidget *Panel2 = nullptr;
    HistorySnsView *SnsView = nullptr;
    HistoryChart *Chart1 = nullptr;

    StringGrid Sns{HistorySensorList::ColCount, 1};
    TADOQuery ADOQuery1;

signals:
    void chartDrawn();
    void sensorsLoaded();

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setupUi();
    void FormCreate();
    // Copies the main window's connection string into ADOQuery1, which CompactDB then releases too.
    void takeConnection();
    // Throws the store's own reason when there is no connection to take.
    void requireConnection() const;
    void showLoading();
    void hideLoading();
    void cancelChart();

    DialogBoxes &m_boxes;
    const Clock &m_clock;
    std::function<ReadingStore *()> m_store;
    std::function<QString(const QString &)> m_nameBySerial;
    HistorySensorList m_list;
    QPointer<QWidget> m_loading;
    QPointer<QProgressBar> m_progress;
    QPointer<QDialog> m_help;
    ChartWorker *m_chart = nullptr;
    SensorListWorker *m_sensors = nullptr;
    // The application's hourglass while a chart is built.
    std::optional<ScreenCursor> m_hourglass;
};
