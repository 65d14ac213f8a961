#pragma once

#include <QDialog>

class QLabel;
class QPlainTextEdit;
struct SensorReport;

// "Сведения о датчике": what a diagnosis found out about one sensor. Shown at once with a
// note that the diagnosis runs; filled when it has ended. Not modal: polling goes on.
class SensorInfoWindow final : public QDialog
{
    Q_OBJECT

public:
    SensorInfoWindow(const QString &serial, const QString &name, QWidget *parent = nullptr);

    void showReport(const SensorReport &report);
    void showFailure(const QString &text);
    // The text shown (tests read it).
    QString text() const;

private:
    QLabel *m_title = nullptr;
    QPlainTextEdit *m_text = nullptr;
};
