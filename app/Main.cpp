#include "app/Main.h"

#include "bindings/DrumKeys.h"
#include "config/Keys.h"
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

void configureKeyLabel(QLabel* label, QWidget* content, const QString& text, QRect bounds,
    const QColor& foreground = QColor())
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
    jLabel3 = named(new QLabel, "jLabel3");
    jLabel4 = named(new QLabel, "jLabel4");
    jLabel5 = named(new QLabel, "jLabel5");
    jLabel6 = named(new QLabel, "jLabel6");
    jLabel7 = named(new QLabel, "jLabel7");
    jLabel8 = named(new QLabel, "jLabel8");
    jLabel9 = named(new QLabel, "jLabel9");
    jLabel10 = named(new QLabel, "jLabel10");
    jLabel11 = named(new QLabel, "jLabel11");
    jLabel12 = named(new QLabel, "jLabel12");
    jLabel13 = named(new QLabel, "jLabel13");
    jLabel14 = named(new QLabel, "jLabel14");
    jLabel15 = named(new QLabel, "jLabel15");
    jLabel16 = named(new QLabel, "jLabel16");
    jLabel17 = named(new QLabel, "jLabel17");
    jLabel18 = named(new QLabel, "jLabel18");
    jLabel19 = named(new QLabel, "jLabel19");
    jLabel21 = named(new QLabel, "jLabel21");
    jLabel20 = named(new QLabel, "jLabel20");
    jLabel22 = named(new QLabel, "jLabel22");
    jLabel23 = named(new QLabel, "jLabel23");
    jLabel24 = named(new QLabel, "jLabel24");
    jLabel25 = named(new QLabel, "jLabel25");
    jLabel26 = named(new QLabel, "jLabel26");
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

void Main::placeKeyLabels(QWidget* content)
{
    const QColor white(255, 255, 255);
    const QColor yellow(255, 255, 0);
    configureKeyLabel(jLabel3, content, DrumKeys::highTomKey2v, { 260, 140, 22, 22 });
    configureKeyLabel(jLabel4, content, DrumKeys::highTomKey1v, { 230, 140, 30, 22 });
    configureKeyLabel(jLabel5, content, DrumKeys::crashKey1v, { 90, 110, 30, 22 });
    configureKeyLabel(jLabel6, content, DrumKeys::crashKey2v, { 170, 110, 22, 22 });
    configureKeyLabel(jLabel7, content, DrumKeys::openHiHatKey1v, { 90, 220, 30, 22 });
    configureKeyLabel(jLabel8, content, DrumKeys::openHiHatKey2v, { 90, 260, 22, 22 });
    configureKeyLabel(jLabel9, content, DrumKeys::mediumTomKey1v, { 320, 140, 20, 22 });
    configureKeyLabel(jLabel10, content, DrumKeys::mediumTomKey2v, { 360, 140, 22, 22 });
    configureKeyLabel(jLabel11, content, DrumKeys::floorTomKey1v, { 360, 240, 30, 22 });
    configureKeyLabel(jLabel12, content, DrumKeys::floorTomKey2v, { 410, 240, 22, 22 });
    configureKeyLabel(jLabel13, content, DrumKeys::rideCupKey1v, { 480, 100, 20, 22 });
    configureKeyLabel(jLabel14, content, DrumKeys::rideCupKey2v, { 480, 140, 22, 22 });
    configureKeyLabel(jLabel15, content, DrumKeys::splashKey1v, { 270, 50, 20, 22 }, yellow);
    configureKeyLabel(jLabel16, content, DrumKeys::splashKey2v, { 310, 50, 22, 22 }, yellow);
    configureKeyLabel(jLabel17, content, DrumKeys::chinaKey1v, { 460, 330, 20, 22 });
    configureKeyLabel(jLabel18, content, DrumKeys::chinaKey2v, { 510, 330, 22, 22 });
    configureKeyLabel(jLabel19, content, DrumKeys::bassDrumKey1v, { 230, 60, 30, 22 }, white);
    configureKeyLabel(jLabel21, content, DrumKeys::rideKey1v, { 440, 120, 30, 22 });
    configureKeyLabel(jLabel20, content, DrumKeys::bassDrumKey2v, { 350, 60, 22, 22 }, white);
    configureKeyLabel(jLabel22, content, DrumKeys::rideKey2v, { 520, 120, 22, 22 });
    configureKeyLabel(jLabel23, content, DrumKeys::snareDrumKey1v, { 200, 240, 20, 22 });
    configureKeyLabel(jLabel24, content, DrumKeys::snareDrumKey2v, { 240, 240, 22, 22 });
    configureKeyLabel(jLabel25, content, DrumKeys::closedHiHatKey1v, { 60, 240, 20, 22 });
    configureKeyLabel(jLabel26, content, DrumKeys::closedHiHatKey2v, { 120, 240, 22, 22 });

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
