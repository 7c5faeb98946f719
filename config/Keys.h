#pragma once

#include <QStringList>
#include <QWidget>
#include <functional>

namespace toolkit {
class LookProvider;
}

// The key-configuration window: the two keys of every drum and the kit, chosen from lists.
class Keys : public QWidget {
    Q_OBJECT
public:
    Keys();

    // Start of the window's own program: chooses the look, then leaves the building of one
    // configuration window to the event loop. The application object must exist.
    static void main(const QStringList& args);
    static void main(const QStringList& args, toolkit::LookProvider& looks);

    // Builds and shows a new main window. The program sets it before any window exists;
    // this window cannot know the main window's class.
    static std::function<void()> openMainWindow;

private:
    void initComponents();
};
