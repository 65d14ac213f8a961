#include "monitor/ui/SnsGridView.h"

#include "monitor/SnsGrid.h"
#include "monitor/ui/SnsDelegate.h"

SnsGridView::SnsGridView(StringGrid &Sns, QWidget *parent)
    : StringGridView(Sns, parent)
{
    setItemDelegate(new SnsDelegate(gridModel(), this));
    setColWidths({100, 52, 259});
}
