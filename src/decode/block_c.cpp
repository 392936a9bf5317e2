#include "decode/block_c.h"

#include "decode/decode_context.h"
#include "decode/register_listing.h"
#include "link/status_pane.h"
#include "model/controls_form.h"
#include "model/form.h"
#include "support/clock.h"
#include "support/text_forms.h"

void DecodeBlockC(DecodeContext& ctx, const QByteArray& data) {
    // 1.
    AppendListing(ctx.form, data, 60300, 18);

    // 2. Rows 1 to 5 of the editor show the register one below their number; that is the
    // installation's numbering, kept so the editor reads as its manual does.
    ControlsForm& c = ctx.controls();
    c.F60301 = QString::number(RegisterWord(data, 0));
    c.F60310 = QString::number(RegisterWord(data, 9));
    c.F60311 = QString::number(RegisterWord(data, 10));
    c.F60312 = QString::number(RegisterWord(data, 11));
    c.F60313 = QString::number(RegisterWord(data, 12));
    c.F60314 = QString::number(RegisterWord(data, 14));
    c.F60316 = QString::number(RegisterWord(data, 16));

    // 3. The caret stays where it was.
    ctx.status.AppendStatusLine(QStringLiteral("Polled 18 registers at ") + HostNow(ctx.clock.now()));

    // 4.
    ctx.sendRead(QStringLiteral("60200"), QStringLiteral("4"));
}
