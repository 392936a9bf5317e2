#include "decode/block_d.h"

#include "decode/conversions.h"
#include "decode/decode_context.h"
#include "decode/register_listing.h"
#include "link/status_pane.h"
#include "model/controls_form.h"
#include "model/form.h"
#include "support/clock.h"
#include "support/text_forms.h"

void DecodeBlockD(DecodeContext& ctx, const QByteArray& data) {
    // 1.
    AppendListing(ctx.form, data, 60200, 4);

    // 2. The first register of each pair is the high word.
    ControlsForm& c = ctx.controls();
    c.F60200 = QString::number(ToInt32(RegisterWord(data, 0), RegisterWord(data, 1)));
    c.F60202 = QString::number(ToInt32(RegisterWord(data, 2), RegisterWord(data, 3)));

    // 3.
    ctx.status.AppendStatusLine(QStringLiteral("Polled 04 registers at ") + HostNow(ctx.clock.now()));

    // 4. The lines since the last block A, then blocks C and D.
    writedetails(ctx.form);
}
