#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>

struct Form;
struct ControlsForm;
struct Reading;
class StatusPane;
class Clock;
class ErrorLog;
class FileFailures;

// What a decoder touches, passed in so that a test builds it in a few lines.
struct DecodeContext {
    Form& form;
    StatusPane& status;
    const Clock& clock;
    ErrorLog& log;
    FileFailures& fileFailures;
    // SendReadRegisters(start text, quantity text)
    std::function<bool(const QString&, const QString&)> sendRead;
    // The control register editor's fields; loads the editor (not shown) when it is not loaded.
    std::function<ControlsForm&()> controls;
    // The cycle's figures as numbers, filled as the blocks are decoded; none: not wanted.
    Reading* reading = nullptr;
};

// Register word k of a response: bytes 9 + 2k and 10 + 2k, high byte first.
inline int32_t RegisterWord(const QByteArray& data, int k) {
    return static_cast<unsigned char>(data[9 + 2 * k]) * 256 + static_cast<unsigned char>(data[10 + 2 * k]);
}
