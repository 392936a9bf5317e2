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
    // Digits straight into one byte buffer and one append: this runs for every register of
    // every cycle.
    constexpr int kLine = 24; // two numbers of at most 11 characters, CR LF
    char lines[125 * kLine];
    char* end = lines;
    for (int i = 0; i < count && i < 125; ++i) {
        end = std::to_chars(end, end + 11, firstRegister + i).ptr;
        *end++ = ' ';
        end = std::to_chars(end, end + 11, RegisterWord(data, i)).ptr;
        *end++ = '\r';
        *end++ = '\n';
    }
    form.RegisterDetailsText += QLatin1String(lines, static_cast<int>(end - lines));
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
