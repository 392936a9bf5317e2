#pragma once

#include "publish/state_message.h"

#include <QByteArray>
#include <QList>
#include <QString>

struct Reading;

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
DeviceIdentityTexts DeviceTexts(const Reading& reading);

// Home Assistant discovery: one retained config per figure under
// homeassistant/sensor/<serial>/<figure>/config, the link's connectivity under
// homeassistant/binary_sensor/<serial>/link/config, all of one device. The figures of the state
// expire after the given seconds without a new state. With control, the managed charge's entities too.
QList<MqttMessage> DiscoveryMessages(const Reading& reading, const QString& prefix, int expireAfterSeconds,
                                     bool control = false);

// The configs earlier versions, or a run with control, published that the current set does not
// hold: cleared, so that Home Assistant drops their entities.
QList<QByteArray> RetiredConfigTopics(const Reading& reading, bool control = false);
