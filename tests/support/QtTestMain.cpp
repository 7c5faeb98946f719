// Runs GoogleTest inside a QApplication, so widget tests can build windows offscreen.
#include <QApplication>
#include <cstdlib>
#include <gmock/gmock.h>

// Defaults for the sanitizers in every test program (the environment can still add to them):
// leaks inside the system's font and display libraries are theirs, not ours.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig\nleak:libdbus\nleak:libglib\nleak:libX11\nleak:libxcb\n";
}
extern "C" const char* __ubsan_default_options()
{
    return "print_stacktrace=1:halt_on_error=1";
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt wants a private runtime folder; CI and test shells often have none.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        char folder[] = "/tmp/tamborel-tests-XXXXXX";
        if (mkdtemp(folder))
            qputenv("XDG_RUNTIME_DIR", folder);
    }
    QApplication application(argc, argv);
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
