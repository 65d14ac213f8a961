#include "sensors/ColorList.h"

#include "sensors/TColorConvert.h"

#include <iterator>

QList<NamedColor> colorListEntries()
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

    // The system's named colours, stored as such (negative in the file), so that they follow
    // the desktop's palette: painted with the colour it has when they are drawn.
    static const char16_t *const systemNames[SystemColorRoles.size()] = {
        u"Полоса прокрутки",
        u"Рабочий стол",
        u"Заголовок активного окна",
        u"Заголовок неактивного окна",
        u"Меню",
        u"Окно",
        u"Рамка окна",
        u"Текст меню",
        u"Текст окна",
        u"Текст заголовка",
        u"Рамка активного окна",
        u"Рамка неактивного окна",
        u"Рабочая область",
        u"Выделение",
        u"Текст выделения",
        u"Кнопка",
        u"Тень кнопки",
        u"Недоступный текст",
        u"Текст кнопки",
        u"Текст неактивного заголовка",
        u"Светлая грань кнопки",
        u"Тёмная тень",
        u"Светлая грань",
        u"Текст подсказки",
        u"Фон подсказки",
        nullptr,
        u"Ссылка",
        u"Градиент активного заголовка",
        u"Градиент неактивного заголовка",
        u"Выделение в меню",
        u"Строка меню",
    };
    for (std::size_t i = 0; i < SystemColorRoles.size(); ++i) {
        if (SystemColorRoles[i].named)
            entries.append({QString::fromUtf16(systemNames[i]), systemColor(static_cast<int>(i))});
    }
    return entries;
}
