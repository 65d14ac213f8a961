#pragma once

#include <QLocale>

class QCoreApplication;
class QTranslator;

// Installs Qt's own translation (file boxes, standard buttons, the context menus of text
// fields) for `locale` from the folder Qt was built to look in. None in the C locale or when
// the system has no translation for that language (Qt's texts stay as Qt has them). The
// translator belongs to `app`; null when none was installed.
QTranslator *installQtTranslation(QCoreApplication &app, const QLocale &locale = QLocale());
