#include "app/ui/TForm1Ui.h"

#include "app/ui/Glyphs.h"
#include "sensors/ui/ColorBox.h"
#include "view/ThermometerPictures.h"
#include "view/TrendPictures.h"

#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <numeric>

namespace {

// The window colour: the light blue of an inactive caption's gradient.
const QColor windowColour(215, 228, 242);
// The splitters' sky blue.
const QColor splitterColour(166, 202, 240);

QAction *command(QObject *owner, const char *name, const QString &text,
                 const QKeySequence &shortcut = QKeySequence(), bool checkable = false)
{
    auto *action = new QAction(text, owner);
    action->setObjectName(QLatin1String(name));
    action->setShortcut(shortcut);
    action->setCheckable(checkable);
    return action;
}

QMenu *menu(QWidget *parent, const char *name, const QString &title)
{
    auto *m = new QMenu(title, parent);
    m->setObjectName(QLatin1String(name));
    return m;
}

QAction *separator(QMenu *m, const char *name)
{
    QAction *action = m->addSeparator();
    action->setObjectName(QLatin1String(name));
    return action;
}

QToolButton *toolButton(QWidget *bar, const char *name, int x, const QString &hint,
                        const QPixmap &glyph, bool toggle)
{
    auto *button = new QToolButton(bar);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(x, 3, 34, 34);
    button->setToolTip(hint);
    button->setAutoRaise(true);
    button->setCheckable(toggle);
    button->setIcon(QIcon(glyph));
    button->setIconSize(QSize(32, 32));
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

// An empty white frame that keeps a place in the left column until its widget comes.
QWidget *place(const char *name, const QString &hint = QString())
{
    auto *frame = new QFrame;
    frame->setObjectName(QLatin1String(name));
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFrameShadow(QFrame::Sunken);
    frame->setAutoFillBackground(true);
    QPalette palette = frame->palette();
    palette.setColor(QPalette::Window, Qt::white);
    frame->setPalette(palette);
    frame->setToolTip(hint);
    return frame;
}

QLabel *picture(QWidget *parent, const char *name, const QPixmap &pixmap)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setPixmap(pixmap);
    label->resize(pixmap.size());
    return label;
}

// A sensor picture as the panel shows it: the 17 x 50 bitmap, its magenta ground transparent.
QPixmap thermometerPicture(thermometer::Kind kind)
{
    return QPixmap::fromImage(thermometer::transparentBitmap(kind));
}

void showMenuAt(QWidget *owner, QMenu *popup)
{
    owner->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(owner, &QWidget::customContextMenuRequested, popup,
                     [owner, popup](const QPoint &pos) { popup->popup(owner->mapToGlobal(pos)); });
}

} // namespace

void TForm1Ui::setupUi(QMainWindow *window)
{
    window->setGeometry(664, 115, 1219, 906);
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, windowColour);
    window->setPalette(palette);
    // The designed face where it is installed, else the desktop's sans serif at the same size.
    window->setFont(QFont(QStringList{QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans"),
                                      QStringLiteral("Sans Serif")},
                          8));

    setupMenus(window);

    // Column divider and the two sides.
    Splitter3 = new QSplitter(Qt::Horizontal, window);
    Splitter3->setObjectName(QStringLiteral("Splitter3"));
    Splitter3->setHandleWidth(3);
    Splitter3->setChildrenCollapsible(false);
    window->setCentralWidget(Splitter3);

    Panel3 = new QWidget;
    Panel3->setObjectName(QStringLiteral("Panel3"));
    auto *column = new QVBoxLayout(Panel3);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    setupToolBar();
    column->addWidget(Panel1);

    leftColumn = new QSplitter(Qt::Vertical);
    leftColumn->setObjectName(QStringLiteral("leftColumn"));
    leftColumn->setHandleWidth(2);
    leftColumn->setChildrenCollapsible(false);
    SnsView = place("Sns");
    SHourView = place("SHour", QStringLiteral("Средняя почасовая температура за сутки"));
    Chart1 = place("Chart1");
    Memo1 = new QPlainTextEdit;
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setToolTip(QStringLiteral("Лог"));
    Memo1->setMaximumBlockCount(maxLogLines);
    // Long lines wrap, as in a memo box: the start of a line (its time) stays in sight.
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    showMenuAt(Memo1, PopupMenu3);
    for (QWidget *w : {SnsView, SHourView, Chart1, static_cast<QWidget *>(Memo1)}) {
        w->setMinimumHeight(leastPaneHeight);
        leftColumn->addWidget(w);
    }
    leftColumn->setStretchFactor(2, 1);
    Splitter4 = leftColumn->handle(1);
    Splitter4->setObjectName(QStringLiteral("Splitter4"));
    Splitter1 = leftColumn->handle(2);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter2 = leftColumn->handle(3);
    Splitter2->setObjectName(QStringLiteral("Splitter2"));
    column->addWidget(leftColumn, 1);

    PnItems = new QFrame;
    PnItems->setObjectName(QStringLiteral("PnItems"));
    PnItems->setFrameShape(QFrame::Box);
    PnItems->setFrameShadow(QFrame::Plain);
    PnItems->setLineWidth(1);
    PnItems->setAutoFillBackground(true);
    QPalette black = PnItems->palette();
    black.setColor(QPalette::Window, Qt::black);
    black.setColor(QPalette::WindowText, QColor(90, 90, 90));
    PnItems->setPalette(black);
    // PopupMenu2 opens through the sensor panel's handling, which tells pictures from the rest.

    setupPictureStore();

    Splitter3->addWidget(Panel3);
    Splitter3->addWidget(PnItems);
    Splitter3->setStretchFactor(1, 1);
    Splitter3->handle(1)->setObjectName(QStringLiteral("Splitter3Handle"));
    QObject::connect(Splitter3, &QSplitter::splitterMoved, Splitter3, [this] { m_panel3Moved = true; });
    QObject::connect(leftColumn, &QSplitter::splitterMoved, leftColumn, [this] { m_leftColumnMoved = true; });

    Timer1 = new QTimer(window);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setTimerType(Qt::PreciseTimer);
    Timer1->setInterval(10000);
    Timer2 = new QTimer(window);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setSingleShot(true);
    Timer2->setInterval(1);

    // Only the handles are coloured: a style sheet on a splitter would reach every widget
    // below it and replace their palettes (the sensor labels take the panel's black).
    for (QSplitter *splitter : {Splitter3, leftColumn}) {
        for (int i = 1; i < splitter->count(); ++i)
            splitter->handle(i)->setStyleSheet(QStringLiteral("background-color: %1;").arg(splitterColour.name()));
    }

    setLeftColumnHeights(designedSnsHeight, designedSHourHeight, designedLogHeight);
    setPanel3Width(designedPanel3Width);
}

void TForm1Ui::setupToolBar()
{
    Panel1 = new QWidget;
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(40);
    showMenuAt(Panel1, PopupMenu1);
    BScan = toolButton(Panel1, "BScan", 5, QStringLiteral("Вкл/Выкл опрос датчиков"), glyphs::start(), true);
    bHTTP = toolButton(Panel1, "bHTTP", 43, QStringLiteral("Вкл/Выкл Web Server"),
                       glyphs::tool(glyphs::Tool::Http), true);
    BHistory = toolButton(Panel1, "BHistory", 92, QStringLiteral("История"),
                          glyphs::tool(glyphs::Tool::History), false);
    BSetting = toolButton(Panel1, "BSetting", 129, QStringLiteral("Настройки"),
                          glyphs::tool(glyphs::Tool::Settings), false);
    BAdd = toolButton(Panel1, "BAdd", 178, QStringLiteral("Добавить датчик"),
                      glyphs::tool(glyphs::Tool::AddSensor), false);
    BSearch = toolButton(Panel1, "BSearch", 215, QStringLiteral("Поиск датчиков"),
                         glyphs::tool(glyphs::Tool::Search), false);
    BAbout = toolButton(Panel1, "BAbout", 264, QStringLiteral("О программе"),
                        glyphs::tool(glyphs::Tool::About), false);
    BExit = toolButton(Panel1, "BExit", 313, QStringLiteral("Выход"), glyphs::tool(glyphs::Tool::Exit), false);
    for (const int x : {84, 170, 256, 305}) {
        auto *line = new QLabel(Panel1);
        line->setPixmap(glyphs::separator());
        line->setGeometry(x, 5, 2, 30);
    }
}

// The hidden panel: templates and picture sources of the other windows' parts.
void TForm1Ui::setupPictureStore()
{
    Panel2 = new QWidget(PnItems);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->hide();
    allItemImg = picture(Panel2, "allItemImg", thermometerPicture(thermometer::Kind::On));
    ImgItemOff = picture(Panel2, "ImgItemOff", thermometerPicture(thermometer::Kind::Off));
    allItemTemper = new QLabel(QStringLiteral("-99.9"), Panel2);
    allItemTemper->setObjectName(QStringLiteral("allItemTemper"));
    allItemTemper->setFont(QFont(QStringLiteral("Arial Rounded MT Bold"), 11, QFont::Bold));
    QPalette yellow = allItemTemper->palette();
    yellow.setColor(QPalette::WindowText, Qt::yellow);
    allItemTemper->setPalette(yellow);
    imgUp = picture(Panel2, "imgUp", QPixmap::fromImage(trendpictures::up()));
    ImgDown = picture(Panel2, "ImgDown", QPixmap::fromImage(trendpictures::down()));
    ImgRavno = picture(Panel2, "ImgRavno", QPixmap::fromImage(trendpictures::same()));
    ImgStart = picture(Panel2, "ImgStart", glyphs::start());
    ImgStop = picture(Panel2, "ImgStop", glyphs::stop());
    CB = new ColorBox(Panel2);
    CB->setObjectName(QStringLiteral("CB"));
    Button1 = new QPushButton(QStringLiteral("Серийник для 1 устройства"), Panel2);
    Button1->setObjectName(QStringLiteral("Button1"));
    LTerm = new QLabel(QStringLiteral("-99.9"), Panel2);
    LTerm->setObjectName(QStringLiteral("LTerm"));
    Image1 = picture(Panel2, "Image1", thermometerPicture(thermometer::Kind::On));
}

void TForm1Ui::setupMenus(QMainWindow *window)
{
    // Main menu.
    QMenuBar *bar = window->menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    File1 = menu(window, "File1", QStringLiteral("Файл"));
    N2 = command(window, "N2", QStringLiteral("Настройки"), QKeySequence(Qt::Key_F10));
    N6 = menu(File1, "N6", QStringLiteral("Датчики"));
    N5 = command(window, "N5", QStringLiteral("Поиск"));
    N4 = command(window, "N4", QStringLiteral("Добавить датчик"), QKeySequence(Qt::Key_Insert));
    N1 = command(window, "N1", QStringLiteral("Выход"));
    NBus = command(window, "NBus", QStringLiteral("Шина…"));
    File1->addAction(N2);
    File1->addAction(NBus);
    NMqtt = command(window, "NMqtt", QStringLiteral("MQTT…"));
    File1->addAction(NMqtt);
    NOwServer = command(window, "NOwServer", QStringLiteral("Сервер owserver…"));
    File1->addAction(NOwServer);
    File1->addMenu(N6);
    N6->addAction(N5);
    N6->addAction(N4);
    N11 = separator(File1, "N11");
    File1->addAction(N1);
    N8 = menu(window, "N8", QStringLiteral("Запуск/Остановка"));
    N3 = command(window, "N3", QStringLiteral("Наблюдение"), QKeySequence(Qt::Key_F2), true);
    HTTP_Active = command(window, "HTTP_Active", QStringLiteral("HTTP-сервер"), QKeySequence(), true);
    N8->addAction(N3);
    N8->addAction(HTTP_Active);
    N9 = command(window, "N9", QStringLiteral("История"), QKeySequence(Qt::Key_F3));
    N12 = menu(window, "N12", QStringLiteral("Справка"));
    N7 = command(window, "N7", QStringLiteral("О программе"), QKeySequence(Qt::Key_F1));
    N12->addAction(N7);
    bar->addMenu(File1);
    bar->addMenu(N8);
    bar->addAction(N9);
    bar->addMenu(N12);
    // The window holds the commands too, so their shortcuts work while the menu bar is hidden.
    window->addActions({N2, N5, N4, N1, N3, HTTP_Active, N9, N7});

    // Pop-up menus.
    PopupMenu1 = menu(window, "PopupMenu1", QString());
    N10 = command(window, "N10", QStringLiteral("Главное меню"), QKeySequence(), true);
    N10->setChecked(true);
    PopupMenu1->addAction(N10);
    PopupMenu2 = menu(window, "PopupMenu2", QString());
    N13 = command(window, "N13", QStringLiteral("Добавить датчик"));
    N14 = command(window, "N14", QStringLiteral("Поиск датчиков"));
    PopupMenu2->addActions({N13, N14});
    PopupMenu3 = menu(window, "PopupMenu3", QString());
    N15 = command(window, "N15", QStringLiteral("Очистить"));
    PopupMenu3->addAction(N15);
    imgPopup = menu(window, "imgPopup", QString());
    NImgOn = command(window, "NImgOn", QStringLiteral("Включить"));
    NImgOff = command(window, "NImgOff", QStringLiteral("Выключить"));
    N18 = command(window, "N18", QStringLiteral("Редактировать"));
    N16 = command(window, "N16", QStringLiteral("Удалить"));
    imgPopup->addActions({NImgOn, NImgOff, N18});
    N17 = separator(imgPopup, "N17");
    imgPopup->addAction(N16);
    NInfo = command(window, "NInfo", QStringLiteral("Сведения…"));
    imgPopup->insertAction(N17, NInfo);
    SnsPopup = menu(window, "SnsPopup", QString());
    NSnsInfo = command(window, "NSnsInfo", QStringLiteral("Сведения…"));
    SnsPopup->addAction(NSnsInfo);
}

void TForm1Ui::plugIn(QWidget *&place, QWidget *widget)
{
    QWidget *old = place;
    widget->setObjectName(old->objectName());
    // The place's hint is the widget's ("Средняя почасовая температура за сутки").
    if (widget->toolTip().isEmpty())
        widget->setToolTip(old->toolTip());
    // The place's size rules decide how the column shares its height, not the widget's own.
    widget->setSizePolicy(old->sizePolicy());
    widget->setMinimumHeight(old->minimumHeight());
    auto *splitter = qobject_cast<QSplitter *>(old->parentWidget());
    if (splitter) {
        const int index = splitter->indexOf(old);
        const QList<int> sizes = splitter->sizes();
        const int stretch = old->sizePolicy().verticalStretch();
        splitter->replaceWidget(index, widget);
        splitter->setStretchFactor(index, stretch);
        splitter->setSizes(sizes);
    }
    place = widget;
    delete old;
}

namespace {

// Whether the splitter has laid its widgets out at its present size: until it got its first
// resize event its sizes are those of a placeholder geometry.
bool laidOut(const QSplitter *splitter)
{
    return !splitter->testAttribute(Qt::WA_PendingResizeEvent);
}

} // namespace

int TForm1Ui::snsHeight() const
{
    return m_leftColumnMoved && laidOut(leftColumn) ? leftColumn->sizes().value(0) : m_snsHeight;
}

int TForm1Ui::sHourHeight() const
{
    return m_leftColumnMoved && laidOut(leftColumn) ? leftColumn->sizes().value(1) : m_sHourHeight;
}

int TForm1Ui::logHeight() const
{
    return m_leftColumnMoved && laidOut(leftColumn) ? leftColumn->sizes().value(3) : m_logHeight;
}

void TForm1Ui::setLeftColumnHeights(int sns, int sHour, int log)
{
    m_snsHeight = sns;
    m_sHourHeight = sHour;
    m_logHeight = log;
    m_leftColumnMoved = false;
    const QList<int> sizes = leftColumn->sizes();
    const int total = std::accumulate(sizes.begin(), sizes.end(), 0);
    // Before the window is first laid out the total is not known yet; the chart then takes
    // whatever the first layout gives it.
    const int chart = std::max(total - sns - sHour - log, 1);
    leftColumn->setSizes({sns, sHour, chart, log});
}

int TForm1Ui::leastPanel3Width() const
{
    return std::max(Panel3->minimumWidth(), Panel3->minimumSizeHint().width());
}

int TForm1Ui::panel3Width() const
{
    return m_panel3Moved && laidOut(Splitter3) ? Splitter3->sizes().value(0) : m_panel3Width;
}

void TForm1Ui::setPanel3Width(int width)
{
    m_panel3Width = width;
    m_panel3Moved = false;
    const QList<int> sizes = Splitter3->sizes();
    const int total = std::accumulate(sizes.begin(), sizes.end(), 0);
    Splitter3->setSizes({width, std::max(total - width, 1)});
}
