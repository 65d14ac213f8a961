#include "app/ui/GridHeaders.h"

#include "app/base/StringGrid.h"

namespace gridheaders {

void writeSns(StringGrid &sns)
{
    sns.setCell(0, 0, QStringLiteral(" Имя"));
    sns.setCell(1, 0, QStringLiteral(" t°"));
    sns.setCell(2, 0, QStringLiteral(" Серийный номер"));
}

void writeSHour(StringGrid &sHour)
{
    sHour.setCell(0, 0, QStringLiteral(" Имя"));
    for (int hour = 0; hour < 24; ++hour)
        sHour.setCell(hour + 1, 0, QLatin1Char(' ') + QString::number(hour) + QStringLiteral(" ч."));
    sHour.setCell(25, 0, QStringLiteral(" Серийный номер"));
}

} // namespace gridheaders
