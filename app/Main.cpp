#include "app/Main.h"

#include "bindings/DrumKeys.h"
#include "config/Keys.h"
#include "drums/DrumTable.h"
#include "drums/KeyCodes.h"
#include "drums/KeyDispatch.h"
#include "toolkit/Dialogs.h"
#include "toolkit/Fonts.h"
#include "toolkit/Looks.h"
#include "toolkit/Pictures.h"
#include "toolkit/ProcessExit.h"
#include "toolkit/Widgets.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLoggingCategory>
#include <QMenu>
#include <QMenuBar>
#include <array>
#include <string>

Q_LOGGING_CATEGORY(lcMain, "tamborel.Main")

namespace {

using toolkit::named;

// Hands the window's key presses, and nothing else, to its dispatcher.
class MainKeyListener final : public QObject {
public:
    explicit MainKeyListener(Main* window)
        : QObject(window)
        , window_(window)
    {
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == window_ && event->type() == QEvent::KeyPress)
            keyPressed(static_cast<QKeyEvent*>(event));
        return false;
    }

    void keyPressed(QKeyEvent* event) { window_->KeyListener(event); }

private:
    Main* window_;
};

// "Options" has no h to underline, so its mnemonic is kept here, the way Qt keeps underlined
// ones: once the menu bar has the keyboard (after a lone Alt or F10), H opens the menu. Alt
// and H held together never reach the menu bar: they go to the window and play a drum.
class MenuMnemonic final : public QObject {
public:
    MenuMnemonic(QMenuBar* bar, QMenu* menu, Qt::Key key)
        : QObject(bar)
        , bar_(bar)
        , menu_(menu)
        , key_(key)
    {
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != bar_ || event->type() != QEvent::KeyPress)
            return false;
        const auto* press = static_cast<QKeyEvent*>(event);
        if (press->key() != key_ || (press->modifiers() & ~(Qt::AltModifier | Qt::ShiftModifier)))
            return false;
        bar_->setActiveAction(menu_->menuAction());
        return true;
    }

private:
    QMenuBar* bar_;
    QMenu* menu_;
    Qt::Key key_;
};

// The key labels are made, configured and added by their number, but jLabel21 before jLabel20.
constexpr std::array<int, drums::bindingCount> keyLabelOrder { 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13,
    14, 15, 16, 17, 18, 19, 21, 20, 22, 23, 24, 25, 26 };

void configureKeyLabel(
    QLabel* label, QWidget* content, const QString& text, QRect bounds, const QColor& foreground)
{
    label->setFont(toolkit::tahoma(18, true));
    if (foreground.isValid()) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, foreground);
        label->setPalette(palette);
    }
    label->setText(text);
    label->setParent(content);
    label->setGeometry(bounds);
}

} // namespace

Main::Main()
{
    initComponents();
    setWindowIcon(QIcon(QStringLiteral(":/tamborel/zrx.png")));
}

void Main::main(const QStringList& args)
{
    toolkit::QtLookProvider looks;
    main(args, looks);
}

void Main::main(const QStringList&, toolkit::LookProvider& looks)
{
    toolkit::startWithLook<Main>(looks, lcMain());
}

void Main::initComponents()
{
    createComponents();

    // Closing the window ends the program at once, without asking: see closeEvent.
    setWindowTitle(QStringLiteral("Tamborel"));

    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("contentPane"));
    content->setFixedSize(pictureWidth, pictureHeight);
    setCentralWidget(content);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    setFocusPolicy(Qt::StrongFocus);
    installEventFilter(new MainKeyListener(this));

    placeKeyLabels(content);
    buildMenus();

    setMenuBar(menuBar);
    // Packed by the fixed-size layout, which sizes the window to what its content asks for.
    // (adjustSize would also bound it by a screen, and there may be none.)
    layout()->activate();
    toolkit::centreOnScreen(this);
}

void Main::createComponents()
{
    for (int number : keyLabelOrder)
        keyLabel(number) = named(new QLabel, ("jLabel" + std::to_string(number)).c_str());
    jLabel2 = named(new QLabel, "jLabel2");
    menuBar = named(new QMenuBar, "menuBar");
    fileMenu = named(new QMenu(menuBar), "fileMenu");
    aboutMenuItem = named(new QAction(this), "aboutMenuItem");
    exitMenuItem = named(new QAction(this), "exitMenuItem");
    helpMenu = named(new QMenu(menuBar), "helpMenu");
    jCheckBoxMenuItem1 = named(new QAction(this), "jCheckBoxMenuItem1");
    jCheckBoxMenuItem1->setCheckable(true);
    jMenuItem1 = named(new QAction(this), "jMenuItem1");
}

QLabel*& Main::keyLabel(int number)
{
    static constexpr std::array<QLabel * Main::*, drums::bindingCount> byNumber { &Main::jLabel3,
        &Main::jLabel4, &Main::jLabel5, &Main::jLabel6, &Main::jLabel7, &Main::jLabel8,
        &Main::jLabel9, &Main::jLabel10, &Main::jLabel11, &Main::jLabel12, &Main::jLabel13,
        &Main::jLabel14, &Main::jLabel15, &Main::jLabel16, &Main::jLabel17, &Main::jLabel18,
        &Main::jLabel19, &Main::jLabel20, &Main::jLabel21, &Main::jLabel22, &Main::jLabel23,
        &Main::jLabel24, &Main::jLabel25, &Main::jLabel26 };
    return this->*byNumber.at(static_cast<std::size_t>(number - 3));
}

void Main::placeKeyLabels(QWidget* content)
{
    for (int number : keyLabelOrder) {
        const drums::Binding& key = *drums::bindingWithLabel(number);
        configureKeyLabel(
            keyLabel(number), content, *key.stored, key.label.bounds, key.label.colour);
    }

    // The picture goes in last and lies beneath every key label.
    toolkit::showPicture(jLabel2, QStringLiteral(":/tamborel/ZRX.jpg"));
    jLabel2->setParent(content);
    jLabel2->lower();
    jLabel2->setGeometry(0, 0, pictureWidth, pictureHeight);
}

void Main::buildMenus()
{
    fileMenu->setTitle(QStringLiteral("Main"));
    aboutMenuItem->setIcon(QIcon(QStringLiteral(":/tamborel/info.png")));
    aboutMenuItem->setText(QStringLiteral("About"));
    connect(aboutMenuItem, &QAction::triggered, this, &Main::aboutMenuItemActionPerformed);
    fileMenu->addAction(aboutMenuItem);
    exitMenuItem->setIcon(QIcon(QStringLiteral(":/tamborel/exit.png")));
    exitMenuItem->setText(QStringLiteral("Exit"));
    connect(exitMenuItem, &QAction::triggered, this, &Main::exitMenuItemActionPerformed);
    fileMenu->addAction(exitMenuItem);
    menuBar->addMenu(fileMenu);

    menuBar->installEventFilter(new MenuMnemonic(menuBar, helpMenu, Qt::Key_H));
    helpMenu->setTitle(QStringLiteral("Options"));
    jCheckBoxMenuItem1->setText(QStringLiteral("Always on Top"));
    jCheckBoxMenuItem1->setIcon(QIcon(QStringLiteral(":/tamborel/bluepin.png")));
    connect(
        jCheckBoxMenuItem1, &QAction::triggered, this, &Main::jCheckBoxMenuItem1ActionPerformed);
    helpMenu->addAction(jCheckBoxMenuItem1);
    jMenuItem1->setIcon(QIcon(QStringLiteral(":/tamborel/drums.png")));
    jMenuItem1->setText(QStringLiteral("Configure Drums"));
    connect(jMenuItem1, &QAction::triggered, this, &Main::jMenuItem1ActionPerformed);
    helpMenu->addAction(jMenuItem1);
    menuBar->addMenu(helpMenu);
}

void Main::KeyListener(QKeyEvent* event)
{
    drums::dispatchKey(drums::keyCodeOf(*event));
}

void Main::keyPressEvent(QKeyEvent* event)
{
    // F10 gives the menus the keyboard, as on most desktops; a lone Alt does too (Qt's own).
    // Neither plays anything, so opening a menu never costs a hit.
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::NoModifier) {
        menuBar->setActiveAction(fileMenu->menuAction());
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void Main::closeEvent(QCloseEvent* event)
{
    event->accept();
    toolkit::exitProcess(0);
}

void Main::aboutMenuItemActionPerformed(bool)
{
    toolkit::DialogRequest about;
    about.owner = this;
    about.icon = toolkit::DialogIcon::Information;
    about.title = QStringLiteral("Tamborel");
    about.message = QStringLiteral("Tamborel by Kestrin.\nWrite comments to kestrin@example.org");
    toolkit::showDialog(about);
}

void Main::exitMenuItemActionPerformed(bool)
{
    toolkit::DialogRequest question;
    question.owner = this;
    question.icon = toolkit::DialogIcon::Question;
    question.title = QStringLiteral("Tamborel");
    question.message = QStringLiteral("Are you sure you wanna exit?");
    question.buttons = QStringList { QStringLiteral("Sorry, gotta run!"),
        QStringLiteral("No way! I wanna rock!") };
    question.initialButton = 0;
    if (toolkit::showDialog(question) == 0)
        toolkit::exitProcess(0);
}

void Main::jCheckBoxMenuItem1ActionPerformed(bool)
{
    const bool onTop = jCheckBoxMenuItem1->isChecked();
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop)
        return;
    // Changing the flag hides the window on X11: show it again where it was, with the focus.
    const QPoint where = pos();
    const bool wasVisible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    if (wasVisible) {
        move(where);
        show();
        raise();
        activateWindow();
    }
}

void Main::jMenuItem1ActionPerformed(bool)
{
    // This window is never shown again: it goes, and a configuration window takes its place.
    hide();
    auto* keys = new Keys;
    keys->show();
    deleteLater();
}
