#include "sensors/ColorList.h"

#include "sensors/TColorConvert.h"

#include <QPalette>

#include <iterator>

QList<NamedColor> colorListEntries(const QPalette &palette)
{
    static const char16_t *const standardNames[] = {
        u"Чёрный", u"Бордовый", u"Зелёный", u"Оливковый", u"Тёмно-синий", u"Фиолетовый",
        u"Сине-зелёный", u"Серый", u"Серебристый", u"Красный", u"Лайм", u"Жёлтый",
        u"Синий", u"Фуксия", u"Голубой", u"Белый",
    };
    static_assert(std::size(standardNames) == StandardColors.size());

    QList<NamedColor> entries;
    for (std::size_t i = 0; i < StandardColors.size(); ++i)
        entries.append({QString::fromUtf16(standardNames[i]), StandardColors[i]});
    entries.append({QStringLiteral("Серо-зелёный"), MoneyGreen});
    entries.append({QStringLiteral("Небесно-голубой"), SkyBlue});
    entries.append({QStringLiteral("Кремовый"), Cream});
    entries.append({QStringLiteral("Средне-серый"), MedGray});

    // The desktop's own colours under their roles; a colour list stores the colour itself, so
    // a sensor keeps it when the desktop theme changes.
    struct Role
    {
        const char16_t *name;
        QPalette::ColorRole role;
    };
    static constexpr Role roles[] = {
        {u"Окно", QPalette::Window},
        {u"Текст окна", QPalette::WindowText},
        {u"Поле ввода", QPalette::Base},
        {u"Текст поля", QPalette::Text},
        {u"Кнопка", QPalette::Button},
        {u"Текст кнопки", QPalette::ButtonText},
        {u"Выделение", QPalette::Highlight},
        {u"Текст выделения", QPalette::HighlightedText},
        {u"Подсказка", QPalette::ToolTipBase},
        {u"Текст подсказки", QPalette::ToolTipText},
        {u"Светлая грань", QPalette::Light},
        {u"Тень", QPalette::Dark},
        {u"Ссылка", QPalette::Link},
    };
    for (const Role &r : roles)
        entries.append({QString::fromUtf16(r.name), fromQColor(palette.color(QPalette::Active, r.role))});
    return entries;
}
