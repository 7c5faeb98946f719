#include "app/Wiring.h"

#include "app/Main.h"
#include "audio/AePlayWave.h"
#include "audio/OutputDevice.h"
#include "audio/PlayerThreads.h"
#include "config/Keys.h"
#include "midi/MidiDispatch.h"
#include "toolkit/Dialogs.h"
#include "toolkit/EventThread.h"
#include "toolkit/ProcessExit.h"

#include <QApplication>
#include <iostream>

namespace app {

void askAboutMissingFile(const std::string& message, const std::string& title)
{
    toolkit::DialogRequest request;
    request.icon = toolkit::DialogIcon::Question;
    request.title = QString::fromStdString(title);
    request.message = QString::fromStdString(message);
    request.standardButtons = toolkit::StandardButtons::OkCancel;
    // Called on a player's thread, which waits for the answer but does not need it.
    if (!toolkit::runOnEventThreadAndWait([&request] { toolkit::showDialog(request); }))
        std::cerr << title << ": " << message << std::endl;
}

void wireProgram()
{
    // Off the event thread and before any window, so the first hit finds the device open.
    audio::openOutputEarly();
    audio::prewarmPlayerThreads();
    AePlayWave::setMissingFilePrompt(askAboutMissingFile);
    midi::startMidiInput();
    Keys::openMainWindow = [] {
        auto* window = new Main;
        window->show();
    };
}

int runProgram(int argc, char** argv, void (*start)(const QStringList& args))
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    char noName[] = "";
    int qtArgc = 1;
    char* qtArgv[] = { argc > 0 ? argv[0] : noName, nullptr };
    QApplication application(qtArgc, qtArgv);
    wireProgram();
    start(args);
    const int status = QApplication::exec();
    // Ended here as the program's exits end it: the static destructors a return would run
    // must not run under players that still sound. Goes on only under a test's exit handler.
    toolkit::exitProcess(status);
    return status;
}

} // namespace app
