// What the main of every test program sets up before anything else. Included once, by the
// file that holds the program's main.
#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <cstdlib>

// Defaults for the sanitizers (the environment can still add to them): leaks inside the
// system's font and display libraries are theirs, not ours.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig\nleak:libdbus\nleak:libglib\nleak:libX11\nleak:libxcb\n";
}
// The sound server libraries are not built for ThreadSanitizer: it cannot see the atomics with
// which libpulse hands a lazily made mutex from its thread to ours, and reports a race on the
// mutex itself. Only races inside its mutex calls are set aside, none in our callbacks.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:pa_mutex_lock\nrace:pa_mutex_unlock\nrace:pa_mutex_free\n";
}
extern "C" const char* __ubsan_default_options()
{
    return "print_stacktrace=1:halt_on_error=1";
}

namespace testing_support {

// Windows are made offscreen unless the caller chose a platform, and Qt gets the private
// runtime folder it wants, which CI and test shells often lack.
inline void prepareTestEnvironment()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        char folder[] = "/tmp/tamborel-tests-XXXXXX";
        if (mkdtemp(folder))
            qputenv("XDG_RUNTIME_DIR", folder);
    }
}

} // namespace testing_support
