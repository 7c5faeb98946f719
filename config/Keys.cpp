#include "config/Keys.h"

#include "toolkit/EventThread.h"
#include "toolkit/Looks.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcKeys, "tamborel.Keys")

std::function<void()> Keys::openMainWindow;

Keys::Keys() { initComponents(); }

void Keys::main(const QStringList& args)
{
    toolkit::QtLookProvider looks;
    main(args, looks);
}

void Keys::main(const QStringList&, toolkit::LookProvider& looks)
{
    toolkit::selectLook(looks, lcKeys());
    toolkit::postToEventThread([] {
        auto* window = new Keys;
        window->show();
    });
}

void Keys::initComponents() { setWindowTitle(QStringLiteral("Tamborel")); }
