#pragma once

#include <QString>
#include <cstdint>

// The control register editor's fields and state as plain data. The decoders fill it whether or
// not its window is shown; the window is only a view of it.
struct ControlsForm {
    // Fields with their texts at start. Rows 1 to 5 show the register one below their number.
    QString F60301 = QStringLiteral("11");
    QString F60310 = QStringLiteral("0");
    QString F60311 = QStringLiteral("0");
    QString F60312 = QStringLiteral("0");
    QString F60313 = QStringLiteral("0");
    QString F60314 = QStringLiteral("0");
    QString F60316 = QStringLiteral("0");
    QString F60200 = QStringLiteral("0");
    QString F60202 = QStringLiteral("0");
    QString Autoclose = QStringLiteral("600");

    // Minute ticks since the editor was loaded.
    int16_t AutoCloseTicks = 0;
    // Loaded: polling is suspended and the close timers run. Visible: its window is shown.
    bool Loaded = false;
    bool Visible = false;
};
