#include "gui/common/UiThreadCall.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>

namespace tavrel::gui {

void CallOnThreadOf(QObject& context, const std::function<void()>& call) {
    if (QThread::currentThread() == context.thread()) {
        call();
        return;
    }
    QMetaObject::invokeMethod(&context, call, Qt::BlockingQueuedConnection);
}

}  // namespace tavrel::gui
