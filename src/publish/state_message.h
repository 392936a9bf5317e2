#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

struct Reading;

struct MqttMessage {
    QByteArray topic;
    QByteArray payload;
};

// A text without its control characters and the blanks around it.
QString Printable(const QString& text);

// The serial number as one topic level: letters, digits, "_" and "-" only; "unknown" when the
// installation reported none. A serial that needed characters replaced gets a short hash of
// itself, so that serials differing only in those characters stay apart.
QString TopicSerial(const QString& serial);
// The same without the hash, as the topics were named before.
QString PlainTopicSerial(const QString& serial);

// ISO 8601 with the offset from UTC, the form Home Assistant's timestamps read.
QString IsoTime(const QDateTime& t);

// The default prefix, "modbusclient/<serial>".
QString DefaultTopicPrefix(const QString& serial);

// The figures as a subscriber needs them, as one JSON object: numbers as numbers, every energy
// in kWh (the counters converted from what the device counts in, the capacity as it stands), a
// day's counter null until a night snapshot exists and never below zero, the time of the poll in
// ISO 8601 with its offset.
QByteArray StateJson(const Reading& reading, bool deviceCountsKwh);

// The error-log entries made since start: their count and the newest one's line.
QByteArray ErrorsJson(int count, const QString& lastEntry);
