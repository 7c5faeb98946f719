// The program as a whole, each test with an application object of its own, or none: so this
// test program brings its own main.
#include "TestMain.h"
#include "TestSupport.h"

#include "app/Main.h"
#include "app/Wiring.h"
#include "audio/AePlayWave.h"
#include "config/Keys.h"
#include "toolkit/EventThread.h"
#include "toolkit/ProcessExit.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

// An application object on an offscreen desktop with the given screens (a JSON list of the
// offscreen platform's screen objects), for one test.
class Desktop {
public:
    explicit Desktop(const QByteArray& screens)
        : platformBefore_(qgetenv("QT_QPA_PLATFORM"))
    {
        const QString config = folder_.filePath("screens.json");
        std::ofstream(config.toStdString()) << "{ \"screens\": " << screens.toStdString() << " }\n";
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(config));
        application_ = std::make_unique<QApplication>(argc_, argv_);
    }

    ~Desktop()
    {
        application_.reset();
        qputenv("QT_QPA_PLATFORM", platformBefore_);
    }

    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

private:
    QTemporaryDir folder_;
    QByteArray platformBefore_;
    char name_[6] = "tests";
    int argc_ = 1;
    char* argv_[2] = { name_, nullptr };
    std::unique_ptr<QApplication> application_;
};

Main* onlyMainWindow()
{
    Main* found = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<Main*>(widget); window && window->isVisible()) {
            EXPECT_EQ(found, nullptr) << "more than one main window";
            found = window;
        }
    }
    return found;
}

// What start-up showed, looked at on the event loop once its window is built.
void checkTheStartedProgram()
{
    EXPECT_EQ(QGuiApplication::platformName(), "offscreen"); // not -platform minimal
    EXPECT_EQ(QGuiApplication::layoutDirection(), Qt::LeftToRight); // not -reverse
    EXPECT_TRUE(qApp->styleSheet().isEmpty()); // no -stylesheet

    Main* window = onlyMainWindow();
    ASSERT_NE(window, nullptr) << "start-up showed no main window";
    EXPECT_EQ(window->windowTitle(), "Tamborel");
    ASSERT_NE(window->windowHandle(), nullptr);
    EXPECT_EQ(window->windowHandle()->title(), "Tamborel"); // not -qwindowtitle
    const QMenuBar* bar = window->findChild<QMenuBar*>("menuBar");
    ASSERT_NE(bar, nullptr);
    const QList<QAction*> menus = bar->actions();
    ASSERT_EQ(menus.size(), 2);
    EXPECT_LT(bar->actionGeometry(menus[0]).x(), bar->actionGeometry(menus[1]).x());
    // Centred, not placed by -qwindowgeometry.
    const QPoint offCentre = window->frameGeometry().center()
        - QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE(offCentre.manhattanLength(), 4);
}

} // namespace

TEST(CommandLine, QtsOwnOptionsChangeNothing)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const std::string styleSheet = folder.filePath("red.qss").toStdString();
    std::ofstream(styleSheet) << "QWidget { background: red; }\n";

    std::vector<std::string> words { "tamborel", "-reverse", "-qwindowtitle", "Hijacked",
        "-stylesheet", styleSheet, "-qwindowgeometry", "200x100+5+5", "-platform", "minimal" };
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    // The loop's return ends the process: kept from it here, or the test would end unheard.
    const auto exitBefore = toolkit::setExitHandler([](int) {});
    const int status
        = app::runProgram(static_cast<int>(words.size()), argv.data(), [](const QStringList& args) {
              Main::main(args);
              toolkit::postToEventThread([] { // runs after the window task start-up posted
                  checkTheStartedProgram();
                  QList<QWidget*> windows; // not the menus: they go with their window
                  for (QWidget* widget : QApplication::topLevelWidgets()) {
                      if (!widget->parentWidget())
                          windows << widget;
                  }
                  qDeleteAll(windows);
                  QCoreApplication::exit(0);
              });
          });
    toolkit::setExitHandler(exitBefore);
    EXPECT_EQ(status, 0);
}

// Should the event loop ever return, the process ends there with the loop's status, as the
// program's exits end it: static destructors must not run under players that still sound.
TEST(EventLoop, ItsReturnEndsTheProcessWithItsStatus)
{
    std::vector<int> exits;
    const auto exitBefore = toolkit::setExitHandler([&](int status) { exits.push_back(status); });
    char name[] = "tamborel";
    char* argv[] = { name, nullptr };
    const int status = app::runProgram(1, argv,
        [](const QStringList&) { toolkit::postToEventThread([] { QCoreApplication::exit(3); }); });
    toolkit::setExitHandler(exitBefore);
    EXPECT_EQ(exits, std::vector<int> { 3 });
    EXPECT_EQ(status, 3);
}

TEST(NoApplication, AMissingFileReportStillReachesStderr)
{
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    const auto previous = AePlayWave::setMissingFilePrompt(app::askAboutMissingFile);
    std::ostringstream written;
    std::streambuf* stderrBefore = std::cerr.rdbuf(written.rdbuf());
    AePlayWave("./kits/none/Bass.wav").run();
    std::cerr.rdbuf(stderrBefore);
    AePlayWave::setMissingFilePrompt(previous);
    EXPECT_EQ(written.str(), "Error: File missing: ./kits/none/Bass.wav\n");
}

TEST(NoScreen, BothWindowsAreBuiltWithNothingToCentreOn)
{
    Desktop desktop("[]");
    ASSERT_EQ(QGuiApplication::primaryScreen(), nullptr);
    // Not shown: Qt itself refuses to show a window with no screen.
    Main main;
    EXPECT_EQ(main.centralWidget()->size(), QSize(601, 441));
    EXPECT_EQ(main.width(), 601);
    EXPECT_EQ(main.minimumSize(), main.maximumSize());
    Keys keys;
    EXPECT_EQ(keys.size(), QSize(487, 302));
}

TEST(ScaledScreens, EachWindowShowsThePicturesDrawnForItsScreen)
{
    Desktop desktop(R"([
        { "name": "plain", "x": 0, "y": 0, "width": 1600, "height": 1200, "dpr": 1 },
        { "name": "scaled", "x": 1600, "y": 0, "width": 3200, "height": 2400, "dpr": 2 } ])");
    const QList<QScreen*> screens = QGuiApplication::screens();
    ASSERT_EQ(screens.size(), 2);
    QScreen* plain = screens[0];
    QScreen* scaled = screens[1];
    ASSERT_EQ(scaled->devicePixelRatio(), 2);

    auto shownOn = [](QWidget& window, QScreen* screen) {
        window.move(screen->geometry().topLeft() + QPoint(40, 40));
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
        EXPECT_EQ(window.devicePixelRatio(), screen->devicePixelRatio());
    };
    auto picture = [](const QWidget& window, const char* label) {
        return window.findChild<QLabel*>(QLatin1String(label))->pixmap();
    };

    Main main;
    shownOn(main, scaled);
    const QPixmap kit = picture(main, "jLabel2");
    EXPECT_EQ(kit.devicePixelRatio(), 2);
    EXPECT_EQ(
        kit.toImage(), QImage(":/tamborel/ZRX@2x.jpg").convertToFormat(kit.toImage().format()));
    EXPECT_EQ(main.findChild<QLabel*>("jLabel2")->geometry(), QRect(0, 0, 601, 441));
    EXPECT_EQ(main.findChild<QLabel*>("jLabel19")->geometry(), QRect(230, 60, 30, 22));
    EXPECT_EQ(main.windowIcon().pixmap(QSize(32, 32), 2).size(), QSize(64, 64));
    for (const char* item : { "aboutMenuItem", "exitMenuItem", "jCheckBoxMenuItem1", "jMenuItem1" })
        EXPECT_EQ(
            main.findChild<QAction*>(item)->icon().pixmap(QSize(16, 16), 2).size(), QSize(32, 32))
            << item;

    // Moved to the plain screen, the window shows the plain picture again.
    main.move(plain->geometry().topLeft() + QPoint(40, 40));
    ASSERT_TRUE(QTest::qWaitFor([&] { return main.devicePixelRatio() == 1; }));
    EXPECT_EQ(picture(main, "jLabel2").size(), QSize(601, 441));
    EXPECT_EQ(picture(main, "jLabel2").devicePixelRatio(), 1);

    Keys keys;
    shownOn(keys, scaled);
    const QPixmap background = picture(keys, "jLabel14");
    EXPECT_EQ(background.devicePixelRatio(), 2);
    EXPECT_EQ(background.size(), QSize(1004, 628));
    EXPECT_EQ(keys.size(), QSize(487, 302));
    // The black edges stay two window pixels wide: four of the screen's.
    const QImage shot = keys.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shot.size(), QSize(974, 604));
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(shot.pixel(400, i), qRgb(0, 0, 0)) << "row " << i;
        EXPECT_EQ(shot.pixel(i, 400), qRgb(0, 0, 0)) << "column " << i;
    }
    EXPECT_NE(shot.pixel(400, 4), qRgb(0, 0, 0));
    EXPECT_NE(shot.pixel(4, 400), qRgb(0, 0, 0));
}

int main(int argc, char** argv)
{
    testing_support::prepareTestEnvironment();
    // The program opens its output at start-up: no sound server is needed to test it.
    if (qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER"))
        qputenv("SDL_AUDIODRIVER", "dummy");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
