#include "decode/register_listing.h"

#include "decode/decode_context.h"
#include "link/status_pane.h"
#include "model/form.h"
#include "support/clock.h"
#include "support/file_failures.h"
#include "support/file_replacement.h"
#include "support/text_forms.h"

#include <charconv>

void AppendListing(Form& form, const QByteArray& data, int firstRegister, int count) {
    QString& text = form.RegisterDetailsText;
    text.reserve(text.size() + static_cast<qsizetype>(count) * 14);
    // Digits straight into a byte buffer: this runs for every register of every cycle.
    char line[32];
    for (int i = 0; i < count; ++i) {
        char* end = std::to_chars(line, line + 12, firstRegister + i).ptr;
        *end++ = ' ';
        end = std::to_chars(end, end + 12, RegisterWord(data, i)).ptr;
        *end++ = '\r';
        *end++ = '\n';
        text += QLatin1String(line, static_cast<int>(end - line));
    }
}

void writedetails(const Form& form) {
    if (form.RegisterDetails.isEmpty()) {
        return;
    }
    // Rewritten every cycle: replaced whole, but not forced to disk each time.
    FileFailure ignored;
    ReplaceFileDeferred(form.RegisterDetails, (form.RegisterDetailsText + CrLf()).toUtf8(), &ignored);
}

void DecodeOther(DecodeContext& ctx, const QByteArray& data, int32_t startAddress) {
    Form& form = ctx.form;
    const int n = static_cast<unsigned char>(data[8]) / 2;
    // Hook for a one-register read aimed at a field; only when a field is named.
    if (n >= 1 && form.CurrentTextbox != nullptr) {
        const int32_t firstValue = RegisterWord(data, 0);
        if (startAddress == form.ExpectedTid) {
            *form.CurrentTextbox = QString::number(firstValue);
            form.LastTargetValue = QString::number(firstValue);
        }
    }
    ctx.status.AppendStatusLine(QStringLiteral("Polled ") + QString::number(n) +
                                QStringLiteral(" registers at ") + HostNow(ctx.clock.now()));
    ctx.status.CaretToEnd();
}
