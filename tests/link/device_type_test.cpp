#include "link/device_type.h"
#include "link/status_pane.h"
#include "model/form.h"

#include <gtest/gtest.h>

TEST(DeviceTypeTest, ManualTypeIsTakenOnlyWhenSpelledExactly) {
    Form form;
    StatusPane status{form};
    SetDeviceManual(form, status, QStringLiteral("SunSpec"));
    EXPECT_EQ(form.txtStatus, QStringLiteral("Manual mode set to SunSpec\r\n"));
    EXPECT_EQ(form.ManualDeviceType, QStringLiteral("SunSpec"));
    EXPECT_EQ(form.DeviceMode, QStringLiteral("Manual"));
    EXPECT_EQ(form.DeviceType, QStringLiteral("SunSpec"));

    SetDeviceManual(form, status, QStringLiteral("sunspec"));
    EXPECT_TRUE(form.txtStatus.endsWith(QStringLiteral("Invalid manual device type: sunspec\r\n")));
    EXPECT_EQ(form.ManualDeviceType, QStringLiteral("SunSpec"));
    EXPECT_EQ(form.DeviceMode, QStringLiteral("Manual"));
    EXPECT_EQ(form.DeviceType, QStringLiteral("SunSpec"));
}
