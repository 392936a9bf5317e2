#include "link/status_pane.h"

#include "model/form.h"
#include "support/text_forms.h"

void StatusPane::AppendStatusLine(const QString& message) {
    form_.txtStatus += message + CrLf();
    if (echo) {
        echo(message);
    }
}

void StatusPane::Replace(const QString& message) {
    form_.txtStatus = message + CrLf();
    form_.txtStatusSelStart = 0;
    if (echo) {
        echo(message);
    }
}

void StatusPane::CaretToEnd() {
    form_.txtStatusSelStart = static_cast<int>(form_.txtStatus.size());
}
