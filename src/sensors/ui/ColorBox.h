#pragma once

#include "sensors/TDSItem.h"

#include <QComboBox>

// A colour list: a swatch and a name per entry, in the order of colorListEntries(). It holds
// the stored value (a system colour as its index, painted with the palette's colour); a value
// that is not listed is added as an entry of its own when it is selected, so a sensor keeps
// its colour through an edit.
class ColorBox : public QComboBox
{
    Q_OBJECT

public:
    explicit ColorBox(QWidget *parent = nullptr);

    TColor selected() const;
    void setSelected(TColor color);
    // The stored colour of entry `index`.
    TColor colorAt(int index) const;

protected:
    void changeEvent(QEvent *event) override;

private:
    QIcon swatch(TColor color) const;
    void addColor(const QString &name, TColor color);
};
