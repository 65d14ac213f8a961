#pragma once

#include <QWidget>

class QGroupBox;
class QLabel;
class QProgressBar;

// The loading window: a borderless progress indicator above the program's other windows. Its
// users show it, move it, drive ProgressBar1 and hide it.
class TFormLoading : public QWidget
{
    Q_OBJECT

public:
    explicit TFormLoading(QWidget *parent = nullptr);

    QGroupBox *GroupBox1 = nullptr;
    QLabel *Label1 = nullptr; // "   L o a d i n g"
    QProgressBar *ProgressBar1 = nullptr;
};
