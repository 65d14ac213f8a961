#pragma once

class ColorBox;
class QAction;
class QFrame;
class QLabel;
class QMainWindow;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QSplitterHandle;
class QTimer;
class QToolButton;
class QWidget;

// The components of the main window under their designed names, and the layout that puts
// them in place. TForm1 inherits it; the handlers live in TForm1 and the subsystems that plug
// their own widgets in (grids, chart, sensor pictures) find their places here.
class TForm1Ui
{
public:
    // Main menu MainMenu1.
    QMenu *File1 = nullptr;      // "Файл"
    QAction *N2 = nullptr;       // "Настройки", F10
    QAction *NBus = nullptr;     // "Шина…": our own, after N2
    QAction *NMqtt = nullptr;    // "MQTT…": our own, after NBus
    QAction *NOwServer = nullptr; // "Сервер owserver…": our own, after NMqtt
    QMenu *N6 = nullptr;         // "Датчики"
    QAction *N5 = nullptr;       // "Поиск"
    QAction *N4 = nullptr;       // "Добавить датчик", Insert
    QAction *N11 = nullptr;      // separator
    QAction *N1 = nullptr;       // "Выход"
    QMenu *N8 = nullptr;         // "Запуск/Остановка"
    QAction *N3 = nullptr;       // "Наблюдение", checkable, F2
    QAction *HTTP_Active = nullptr; // "HTTP-сервер", checkable
    QAction *N9 = nullptr;       // "История", F3: a command on the menu bar itself
    QMenu *N12 = nullptr;        // "Справка"
    QAction *N7 = nullptr;       // "О программе", F1

    // Pop-up menus.
    QMenu *PopupMenu1 = nullptr; // tool bar
    QAction *N10 = nullptr;      // "Главное меню", checkable
    QMenu *PopupMenu2 = nullptr; // sensor panel
    QAction *N13 = nullptr;      // "Добавить датчик"
    QAction *N14 = nullptr;      // "Поиск датчиков"
    QMenu *PopupMenu3 = nullptr; // log box
    QAction *N15 = nullptr;      // "Очистить"
    QMenu *imgPopup = nullptr;   // every sensor picture
    QAction *NImgOn = nullptr;   // "Включить"
    QAction *NImgOff = nullptr;  // "Выключить"
    QAction *N18 = nullptr;      // "Редактировать"
    QAction *N17 = nullptr;      // separator
    // "Сведения…" of the picture menu (before N17) and of the readings grid's own menu.
    QAction *NInfo = nullptr;
    QMenu *SnsPopup = nullptr;
    QAction *NSnsInfo = nullptr;
    QAction *N16 = nullptr;      // "Удалить"

    // Column divider (its one handle is the designed Splitter3) between Panel3 and PnItems.
    QSplitter *Splitter3 = nullptr;
    QWidget *Panel3 = nullptr;   // left column
    QWidget *Panel1 = nullptr;   // tool bar, height 40
    QToolButton *BScan = nullptr;
    QToolButton *bHTTP = nullptr;
    QToolButton *BHistory = nullptr;
    QToolButton *BSetting = nullptr;
    QToolButton *BAdd = nullptr;
    QToolButton *BSearch = nullptr;
    QToolButton *BAbout = nullptr;
    QToolButton *BExit = nullptr;

    // The left column under the tool bar: Sns, SHour, Chart1 and Memo1 on one vertical
    // splitter whose handles are the designed Splitter4, Splitter1 and Splitter2. Chart1
    // takes what the others leave.
    QSplitter *leftColumn = nullptr;
    QSplitterHandle *Splitter4 = nullptr; // above SHour
    QSplitterHandle *Splitter1 = nullptr; // above Chart1
    QSplitterHandle *Splitter2 = nullptr; // above Memo1
    // Places of the current-readings grid, the hourly grid and the live chart; each is an
    // empty frame until its widget is plugged in with plugIn().
    QWidget *SnsView = nullptr;
    QWidget *SHourView = nullptr;
    QWidget *Chart1 = nullptr;
    QPlainTextEdit *Memo1 = nullptr; // the log box

    // The sensor panel and its hidden picture store.
    QFrame *PnItems = nullptr;
    QWidget *Panel2 = nullptr;   // never shown
    QLabel *allItemImg = nullptr;   // 18 x 50 red thermometer: an enabled sensor
    QLabel *ImgItemOff = nullptr;   // 18 x 50 grey thermometer: a switched-off sensor
    QLabel *allItemTemper = nullptr; // "-99.9", yellow: the look of the temperature labels
    QLabel *imgUp = nullptr;     // trend arrows of Sns: green up,
    QLabel *ImgDown = nullptr;   // red down,
    QLabel *ImgRavno = nullptr;  // black equals sign
    QLabel *ImgStart = nullptr;  // 32 x 32 glyph of BScan while observation is off
    QLabel *ImgStop = nullptr;   // ... while it is on
    ColorBox *CB = nullptr;      // its first 16 entries are the standard colours
    QPushButton *Button1 = nullptr; // hidden: "Серийник для 1 устройства"
    QLabel *LTerm = nullptr;     // "-99.9", used by no command
    QLabel *Image1 = nullptr;    // a further thermometer, used by no command

    QTimer *Timer1 = nullptr;    // poll timer
    QTimer *Timer2 = nullptr;    // one-shot start timer, 1 ms

    // Heights of Sns, SHour and Memo1 and width of Panel3 until the configuration says more.
    static constexpr int designedSnsHeight = 200;
    static constexpr int designedSHourHeight = 200;
    static constexpr int designedLogHeight = 71;
    static constexpr int designedPanel3Width = 400;

    // The log box keeps at most this many lines; the oldest go first.
    static constexpr int maxLogLines = 10000;

    // Puts widget where place is (a frame of the left column, for example SnsView or Chart1),
    // with the place's name, size and share of the free height, and deletes the old one.
    void plugIn(QWidget *&place, QWidget *widget);

    // Heights of Sns, SHour and Memo1 in pixels; Chart1 gets the rest.
    int snsHeight() const;
    int sHourHeight() const;
    int logHeight() const;
    void setLeftColumnHeights(int sns, int sHour, int log);
    int panel3Width() const;
    void setPanel3Width(int width);
    // The least the window shows of a pane of the left column, and of the column's width.
    static constexpr int leastPaneHeight = 20;
    int leastPanel3Width() const;

protected:
    TForm1Ui() = default;
    ~TForm1Ui() = default;
    TForm1Ui(const TForm1Ui &) = delete;
    TForm1Ui &operator=(const TForm1Ui &) = delete;

    void setupUi(QMainWindow *window);

private:
    void setupMenus(QMainWindow *window);
    void setupToolBar();
    void setupPictureStore();

    // The sizes last asked for: a splitter that was never laid out at its real size (the
    // window not shown yet, or started minimised) reports these instead of its placeholder
    // geometry.
    int m_snsHeight = designedSnsHeight;
    int m_sHourHeight = designedSHourHeight;
    int m_logHeight = designedLogHeight;
    int m_panel3Width = designedPanel3Width;
    // Whether the user dragged a divider since the sizes were last set: until then what was
    // asked for is kept, even where the window is too small (or a pane's minimum too large)
    // to show it.
    bool m_leftColumnMoved = false;
    bool m_panel3Moved = false;
};
