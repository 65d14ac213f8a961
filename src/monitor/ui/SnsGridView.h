#pragma once

#include "monitor/ui/StringGridView.h"

// The current-readings grid Sns on screen: columns 0..2 of 100, 52 and 259 pixels (3 and 4
// hold data only and are never shown), cells drawn by SnsDrawCell.
class SnsGridView : public StringGridView
{
    Q_OBJECT

public:
    explicit SnsGridView(StringGrid &Sns, QWidget *parent = nullptr);
};
