#pragma once

// Stand-ins for the seams the program offers its tests: dialogs answered by the test, the
// process exit recorded instead of taken, the store put back, logs and started players kept.

#include "toolkit/Dialogs.h"

#include <QString>
#include <QtMessageHandler>
#include <deque>
#include <functional>
#include <utility>
#include <vector>

namespace testing_support {

// Answers each dialog with the next scripted answer (-1, "closed", when none is left) and
// keeps what was asked. A callback may look at the live dialog's owner state while it is "open".
class FakeDialogs final : public toolkit::DialogPresenter {
public:
    FakeDialogs();
    ~FakeDialogs() override;
    FakeDialogs(const FakeDialogs&) = delete;
    FakeDialogs& operator=(const FakeDialogs&) = delete;

    int show(const toolkit::DialogRequest& request) override;

    std::vector<toolkit::DialogRequest> shown;
    std::deque<int> answers;
    std::function<void(const toolkit::DialogRequest&)> whileOpen;

private:
    toolkit::DialogPresenter* previous_;
};

// Records exit statuses instead of ending the process.
class ExitRecorder {
public:
    ExitRecorder();
    ~ExitRecorder();
    ExitRecorder(const ExitRecorder&) = delete;
    ExitRecorder& operator=(const ExitRecorder&) = delete;

    std::vector<int> statuses;
};

// Puts all 25 values of the key-binding store back as they were when it was made.
class StoreGuard {
public:
    StoreGuard();
    ~StoreGuard();
    StoreGuard(const StoreGuard&) = delete;
    StoreGuard& operator=(const StoreGuard&) = delete;

private:
    std::vector<QString> saved_;
};

// The 25 store fields in declaration order, drumFolder first.
std::vector<QString*> storeFields();

struct LogEntry {
    QtMsgType type;
    QString category;
    QString message;
};

// Keeps every Qt log message written while it lives.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogEntry> entries() const;
    std::vector<LogEntry> entriesIn(const QString& category) const;
};

// The Qt key a US keyboard reports for each punctuation key a binding can name, in the order
// of the key items, without and with Shift held: "," gives Qt::Key_Comma, then Qt::Key_Less.
const std::vector<std::pair<int, int>>& usPunctuationKeys();

// Records the sample paths of started players instead of playing them.
class PlayerRecorder {
public:
    PlayerRecorder();
    ~PlayerRecorder();
    PlayerRecorder(const PlayerRecorder&) = delete;
    PlayerRecorder& operator=(const PlayerRecorder&) = delete;

    std::vector<QString> started;
};

} // namespace testing_support

#include <QSize>
#include <ostream>

// Readable QStrings and sizes in GoogleTest's failure messages.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QSize& size, std::ostream* out)
{
    *out << size.width() << " x " << size.height();
}
