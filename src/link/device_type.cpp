#include "link/device_type.h"

#include "link/connection.h"
#include "link/status_pane.h"
#include "model/form.h"

void SetDeviceManual(Form& form, StatusPane& status, const QString& typ) {
    if (typ != QLatin1String("Talvex") && typ != QLatin1String("SunSpec")) {
        status.AppendStatusLine(QStringLiteral("Invalid manual device type: ") + typ);
        return;
    }
    form.ManualDeviceType = typ;
    form.DeviceMode = QStringLiteral("Manual");
    form.DeviceType = typ;
    status.AppendStatusLine(QStringLiteral("Manual mode set to ") + typ);
}

void ApplySelType(Form& form, const QString& entry) {
    form.DeviceMode = entry;
    if (entry == QLatin1String("Manual-T")) {
        form.ManualDeviceType = QStringLiteral("Talvex");
    } else if (entry == QLatin1String("Manual-S")) {
        form.ManualDeviceType = QStringLiteral("SunSpec");
    }
}

void RequestSunSpecSignature(StatusPane& status, ModbusLink& link) {
    status.AppendStatusLine(QStringLiteral("Detection: Checking SunSpec signature at 40000..."));
    link.SendModbusRequest(40000, 2, 0);
}
