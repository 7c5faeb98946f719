#include "toolkit/EventThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace toolkit {

void postToEventThread(std::function<void()> task)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(task), Qt::QueuedConnection);
}

bool runOnEventThreadAndWait(const std::function<void()>& task)
{
    auto* app = QCoreApplication::instance();
    if (!app)
        return false;
    if (QThread::currentThread() == app->thread()) {
        task();
        return true;
    }
    return QMetaObject::invokeMethod(app, task, Qt::BlockingQueuedConnection);
}

} // namespace toolkit
