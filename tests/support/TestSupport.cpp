#include "TestSupport.h"

#include "bindings/DrumKeys.h"
#include "drums/DrumTable.h"
#include "drums/KeyDispatch.h"
#include "toolkit/ProcessExit.h"

#include <mutex>

namespace testing_support {

FakeDialogs::FakeDialogs()
    : previous_(toolkit::setDialogPresenter(this))
{
}

FakeDialogs::~FakeDialogs()
{
    toolkit::setDialogPresenter(previous_);
}

int FakeDialogs::show(const toolkit::DialogRequest& request)
{
    shown.push_back(request);
    if (whileOpen)
        whileOpen(request);
    if (answers.empty())
        return -1;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
}

ExitRecorder::ExitRecorder()
{
    toolkit::setExitHandler([this](int status) { statuses.push_back(status); });
}

ExitRecorder::~ExitRecorder()
{
    toolkit::setExitHandler({});
}

std::vector<QString*> storeFields()
{
    std::vector<QString*> fields { &DrumKeys::drumFolder };
    for (const drums::Binding* key : drums::bindings())
        fields.push_back(key->stored);
    return fields;
}

StoreGuard::StoreGuard()
{
    for (QString* field : storeFields())
        saved_.push_back(*field);
}

StoreGuard::~StoreGuard()
{
    auto fields = storeFields();
    for (std::size_t i = 0; i < fields.size(); ++i)
        *fields[i] = saved_[i];
}

namespace {
std::mutex logMutex;
std::vector<LogEntry> logEntries;
QtMessageHandler previousHandler = nullptr;

void keep(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    std::lock_guard lock(logMutex);
    logEntries.push_back(
        { type, QString::fromUtf8(context.category ? context.category : ""), message });
}
} // namespace

LogCapture::LogCapture()
{
    std::lock_guard lock(logMutex);
    logEntries.clear();
    previousHandler = qInstallMessageHandler(keep);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(previousHandler);
}

std::vector<LogEntry> LogCapture::entries() const
{
    std::lock_guard lock(logMutex);
    return logEntries;
}

std::vector<LogEntry> LogCapture::entriesIn(const QString& category) const
{
    std::vector<LogEntry> found;
    for (const LogEntry& entry : entries()) {
        if (entry.category == category)
            found.push_back(entry);
    }
    return found;
}

const std::vector<std::pair<int, int>>& usPunctuationKeys()
{
    static const std::vector<std::pair<int, int>> keys {
        { Qt::Key_BracketLeft, Qt::Key_BraceLeft },
        { Qt::Key_BracketRight, Qt::Key_BraceRight },
        { Qt::Key_Backslash, Qt::Key_Bar },
        { Qt::Key_Semicolon, Qt::Key_Colon },
        { Qt::Key_Apostrophe, Qt::Key_QuoteDbl },
        { Qt::Key_Comma, Qt::Key_Less },
        { Qt::Key_Period, Qt::Key_Greater },
        { Qt::Key_Slash, Qt::Key_Question },
    };
    return keys;
}

PlayerRecorder::PlayerRecorder()
{
    drums::setPlayerStarter([this](const QString& path) { started.push_back(path); });
}

PlayerRecorder::~PlayerRecorder()
{
    drums::setPlayerStarter({});
}

} // namespace testing_support
