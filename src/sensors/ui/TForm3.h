#pragma once

#include "sensors/SettingsTarget.h"

#include <QDialog>

class DialogBoxes;
class QCheckBox;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QTabWidget;
class QToolButton;

// The settings dialog: port, poll interval, web server port, background picture, the start-up
// switches and the live chart's bounds and length. Created once and reused; LoadSettings fills
// it before every showing. OK checks the entries and applies them to the running program at
// once; Cancel and Esc apply nothing.
class TForm3 : public QDialog
{
    Q_OBJECT

public:
    TForm3(SettingsTarget &target, DialogBoxes &boxes, QWidget *parent = nullptr);
    ~TForm3() override;

    // Every field from the settings in effect, then cChar1MinMaxAutoClick.
    void LoadSettings();
    // The bound fields and their labels are enabled exactly while "Авто" is not ticked.
    void cChar1MinMaxAutoClick();
    // The background chooser "Выбор фона" (*.jpg, *.bmp), starting in the folder of the field's
    // text; a chosen file replaces the text.
    void SpeedButton2Click();
    // The program's folder (ProgramDir): a bare file name in the field names a file there.
    void setProgramFolder(const QString &folder) { m_programFolder = folder; }
    // The checks, in order, each with its message (the dialog then stays open with nothing
    // applied); then every entry applied and the dialog closed.
    void BOkClick();
    void BCancelClick();
    // The fields as typed.
    generalsettings::Entries entries() const;

    QTabWidget *PageControl1 = nullptr;
    QWidget *TabSheet1 = nullptr; // "Основные"
    QWidget *TabSheet2 = nullptr; // "График"
    QLineEdit *EComPort = nullptr;
    QLineEdit *EInterval = nullptr;
    QLineEdit *EHTTPPort = nullptr;
    QLineEdit *EBkFileName = nullptr;
    QToolButton *SpeedButton2 = nullptr;
    QCheckBox *CAutoNab = nullptr;
    QCheckBox *CStartMin = nullptr;
    QCheckBox *CWinStartRun = nullptr;
    QGroupBox *GroupBox1 = nullptr; // "Границы графика:"
    QCheckBox *cChar1MinMaxAuto = nullptr;
    QLabel *LMaxY = nullptr;         // "Максимум:"
    QLineEdit *EChar1MaxY = nullptr;
    QLabel *LMinY = nullptr;         // "Минимум:"
    QLineEdit *EChar1MinY = nullptr;
    QLineEdit *EChar1MaxCount = nullptr;
    QToolButton *BOk = nullptr;
    QToolButton *BCancel = nullptr;

signals:
    // The settings were applied.
    void applied();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void setupUi();
    // Esc closes; true when the key was used.
    bool FormKeyDown(QKeyEvent *event);
    // Key filters of the whole-number fields and of the two bounds; true when the key is dropped.
    bool OnlyCifr(QLineEdit *field, QKeyEvent *event);
    bool OnlyCifrMinus(QLineEdit *field, QKeyEvent *event);
    // The field's text becomes the decimal text of its value, "0" for no integer.
    void OnlyCifrExit(QLineEdit *field);
    bool isNumberField(QObject *watched) const;

    SettingsTarget &m_target;
    DialogBoxes &m_boxes;
    // Where a file box for a bare file name starts.
    QString m_programFolder;
};
