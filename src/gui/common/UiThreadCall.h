#pragma once
// Runs a call on the thread an object lives on and returns when it has run: the way a worker
// thread hands its reports and questions to the user-interface thread (a blocking queued call).
// On that thread already, the call runs directly (a queued call would wait for itself).
#include <functional>

class QObject;

namespace tavrel::gui {

void CallOnThreadOf(QObject& context, const std::function<void()>& call);

}  // namespace tavrel::gui
