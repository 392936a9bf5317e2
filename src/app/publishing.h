#pragma once

#include "publish/mqtt_publisher.h"

#include <memory>

class Shell;

// A publisher fed by the shell: each completed poll cycle, each loss of the installation's link;
// its broker lines go to the status pane. Null when the settings name no broker.
std::unique_ptr<MqttPublisher> StartPublishing(Shell& shell, const BrokerSettings& settings,
                                               const Clock& clock);
