#pragma once

#include <QStringList>
#include <string>

namespace app {

// Connects the parts that must not know one another, before any window exists: the players'
// missing-file question goes to a dialog on the event thread, and the configuration window
// opens its main windows through this folder's class.
void wireProgram();

// Runs one of the two programs to its end: the application object, the wiring, then `start`
// with the command-line arguments, then the event loop. Qt is given the program's name
// alone: the program takes no options, and Qt's own (-reverse, -stylesheet, -platform, ...)
// must change nothing either. Should the event loop return, the process ends with its status
// through toolkit::exitProcess; the status is returned only when a test's handler lets it.
int runProgram(int argc, char** argv, void (*start)(const QStringList& args));

// The players' missing-file question as wireProgram installs it: a dialog on the event
// thread, or, when there is no application to show one, a line on stderr.
void askAboutMissingFile(const std::string& message, const std::string& title);

} // namespace app
