#pragma once

#include "toolkit/EventThread.h"

#include <QList>
#include <QString>
#include <stdexcept>

class QLoggingCategory;

namespace toolkit {

// One installed look: the name it is shown under and the name it is installed by.
struct LookInfo {
    QString name;
    QString className;
};

// The failures of installing a look that start-up tolerates: the look cannot be found or
// made, or it refuses to run here.
class LookInstallError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The installed looks of the toolkit, and a way to install one of them.
class LookProvider {
public:
    virtual ~LookProvider() = default;
    virtual QList<LookInfo> installedLooks() const = 0;
    // Throws LookInstallError when the look cannot be installed.
    virtual void install(const QString& className) = 0;
};

inline constexpr auto preferredLookName = "Nimbus";

// Installs the first look named exactly "Nimbus". A failed installation writes one warning,
// with the failure's text only, to the given category and leaves the current look in force.
void selectLook(LookProvider& provider, const QLoggingCategory& log);

// A program's start: the look is chosen, then the first window is opened on the event thread.
template <typename Window> void startWithLook(LookProvider& provider, const QLoggingCategory& log)
{
    selectLook(provider, log);
    postToEventThread([] {
        auto* window = new Window;
        window->show();
    });
}

// The looks of this Qt installation: its styles, plus the program's own "Nimbus".
class QtLookProvider final : public LookProvider {
public:
    QList<LookInfo> installedLooks() const override;
    void install(const QString& className) override;
};

} // namespace toolkit
