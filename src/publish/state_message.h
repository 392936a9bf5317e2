#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

struct Form;

struct MqttMessage {
    QByteArray topic;
    QByteArray payload;
};

// The serial number as one topic level: letters, digits, "_" and "-" only; "unknown" when the
// installation reported none.
QString TopicSerial(const Form& form);

// The default prefix, "modbusclient/<serial>".
QString DefaultTopicPrefix(const Form& form);

// The figures of a completed poll cycle as one JSON object, numbers as numbers, the time of the
// poll in ISO 8601 with its offset.
QByteArray StateJson(const Form& form, const QDateTime& pollTime);

// What names the device in the discovery configs; a change means new configs.
struct DeviceIdentityTexts {
    QString serial;
    QString hardware;
    QString firmware;
    bool operator==(const DeviceIdentityTexts& o) const {
        return serial == o.serial && hardware == o.hardware && firmware == o.firmware;
    }
    bool operator!=(const DeviceIdentityTexts& o) const { return !(*this == o); }
};
DeviceIdentityTexts DeviceTexts(const Form& form);

// Home Assistant discovery: one retained config per figure under
// homeassistant/sensor/<serial>/<field>/config, all of one device.
QList<MqttMessage> DiscoveryMessages(const Form& form, const QString& prefix);
