#include "TestSupport.h"

#include "app/Main.h"
#include "toolkit/Fonts.h"
#include "toolkit/Looks.h"
#include "toolkit/NimbusStyle.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLoggingCategory>
#include <QStyle>
#include <QStyleFactory>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace testing_support;
using toolkit::LookInfo;

namespace {

Q_LOGGING_CATEGORY(lcTest, "tamborel.Test")

// A toolkit with any list of looks; installing one can be made to fail.
class FakeLooks final : public toolkit::LookProvider {
public:
    explicit FakeLooks(QList<LookInfo> looks)
        : looks_(std::move(looks))
    {
    }
    QList<LookInfo> installedLooks() const override { return looks_; }
    void install(const QString& className) override
    {
        installed << className;
        if (failWith == "install")
            throw toolkit::LookInstallError(
                "look " + className.toStdString() + " declares itself unsupported");
        if (failWith == "other")
            throw std::logic_error("broken toolkit");
    }

    QStringList installed;
    QString failWith;

private:
    QList<LookInfo> looks_;
};

QList<QWidget*> visibleTopLevels()
{
    QList<QWidget*> visible;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible())
            visible << widget;
    }
    return visible;
}

void closeAllWindows()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        widget->hide();
        widget->deleteLater();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace

TEST(LookSelection, InstallsOnlyTheFirstLookNamedExactlyNimbus)
{
    FakeLooks looks({ { "Windows", "w" }, { "nimbus", "lower" }, { "Nimbus ", "blank" },
        { QString(), "none" }, { "Nimbus", "first" }, { "Nimbus", "second" } });
    LogCapture logs;
    toolkit::selectLook(looks, lcTest());
    EXPECT_EQ(looks.installed, QStringList({ "first" }));
    EXPECT_TRUE(logs.entries().empty());
}

TEST(LookSelection, WithoutNimbusNothingIsInstalledOrLogged)
{
    FakeLooks looks({ { "Windows", "w" }, { "Fusion", "f" }, { "NIMBUS", "upper" } });
    LogCapture logs;
    toolkit::selectLook(looks, lcTest());
    EXPECT_TRUE(looks.installed.isEmpty());
    EXPECT_TRUE(logs.entries().empty());
}

TEST(LookSelection, AFailedInstallWritesOneEntryWithTheFailureTextAndStops)
{
    FakeLooks looks({ { "Nimbus", "broken" }, { "Nimbus", "second" } });
    looks.failWith = "install";
    LogCapture logs;
    toolkit::selectLook(looks, lcTest());
    EXPECT_EQ(looks.installed, QStringList({ "broken" }));
    const auto entries = logs.entriesIn("tamborel.Test");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].message, "look broken declares itself unsupported");
    EXPECT_EQ(logs.entries().size(), 1u);
}

TEST(LookSelection, OtherFailuresAreNotSwallowed)
{
    FakeLooks looks(QList<LookInfo> { { "Nimbus", "n" } });
    looks.failWith = "other";
    EXPECT_THROW(toolkit::selectLook(looks, lcTest()), std::logic_error);
}

TEST(LookSelection, TheRealListOffersNimbusBuiltOnFusion)
{
    toolkit::QtLookProvider looks;
    const auto installed = looks.installedLooks();
    const auto nimbus = std::find_if(
        installed.begin(), installed.end(), [](const LookInfo& l) { return l.name == "Nimbus"; });
    ASSERT_NE(nimbus, installed.end());

    const QString styleBefore = QApplication::style()->name(); // setStyle deletes the old one
    const QPalette paletteBefore = QApplication::palette();
    const QFont fontBefore = QApplication::font();
    looks.install(nimbus->className);
    auto* style = qobject_cast<toolkit::NimbusStyle*>(QApplication::style());
    ASSERT_NE(style, nullptr);
    EXPECT_EQ(QApplication::palette().color(QPalette::Window),
        style->standardPalette().color(QPalette::Window));
    EXPECT_EQ(QApplication::font(), toolkit::nimbusFont());
    EXPECT_THROW(looks.install("no-such-style"), toolkit::LookInstallError);

    QApplication::setStyle(QStyleFactory::create(styleBefore));
    QApplication::setPalette(paletteBefore);
    QApplication::setFont(fontBefore);
}

TEST(Startup, MainPostsOneWindowAndReturnsBeforeBuildingIt)
{
    FakeLooks looks(QList<LookInfo> { { "Nimbus", "n" } });
    LogCapture logs;
    Main::main({ "--ignored", "-x", "" }, looks);
    EXPECT_TRUE(visibleTopLevels().isEmpty());
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    const auto windows = visibleTopLevels();
    ASSERT_EQ(windows.size(), 1);
    EXPECT_NE(qobject_cast<Main*>(windows[0]), nullptr);
    EXPECT_EQ(looks.installed, QStringList({ "n" }));
    EXPECT_TRUE(logs.entriesIn("tamborel.Main").empty());
    closeAllWindows();
}

TEST(Startup, AFailedLookIsLoggedOnceUnderMainAndTheWindowStillOpens)
{
    FakeLooks looks(QList<LookInfo> { { "Nimbus", "n" } });
    looks.failWith = "install";
    LogCapture logs;
    Main::main({}, looks);
    QCoreApplication::sendPostedEvents();
    const auto entries = logs.entriesIn("tamborel.Main");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].message, "look n declares itself unsupported");
    EXPECT_EQ(visibleTopLevels().size(), 1);
    closeAllWindows();
}

TEST(Fonts, TextsLaidOutForTahomaFitTheirLabels)
{
    // The widest texts placed for Tahoma: they must fit whichever font stands in for it.
    EXPECT_LE(QFontMetrics(toolkit::tahoma(14, false)).horizontalAdvance("Select drum set"), 95);
    EXPECT_LE(QFontMetrics(toolkit::tahoma(18, true)).horizontalAdvance("Configure Drums"), 180);
    EXPECT_LE(QFontMetrics(toolkit::tahoma(14, false)).horizontalAdvance("acoustic"), 100 - 24);
    EXPECT_LE(QFontMetrics(toolkit::nimbusFont()).horizontalAdvance("Closed Hi Hat"), 80);
    EXPECT_LE(QFontMetrics(toolkit::nimbusFont()).horizontalAdvance("Open Hi Hat"), 70);
    for (const char* key : { "W", "M", "Q" })
        EXPECT_LE(QFontMetrics(toolkit::tahoma(18, true)).horizontalAdvance(QLatin1String(key)), 22)
            << key;
}
