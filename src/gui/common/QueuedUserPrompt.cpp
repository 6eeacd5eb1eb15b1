#include "gui/common/QueuedUserPrompt.h"

#include "gui/common/UiThreadCall.h"

namespace tavrel::gui {

void QueuedUserPrompt::ShowMessage(const std::string& text, MessageIcon icon) {
    CallOnThreadOf(context_, [this, &text, icon] { prompt_.ShowMessage(text, icon); });
}

SecurityAnswer QueuedUserPrompt::AskSecurity(const std::string& family) {
    SecurityAnswer answer;
    CallOnThreadOf(context_, [this, &family, &answer] { answer = prompt_.AskSecurity(family); });
    return answer;
}

}  // namespace tavrel::gui
