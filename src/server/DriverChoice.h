#pragma once

#include "common/Clock.h"
#include "common/InterruptibleWait.h"
#include "driver/RegisterDriver.h"
#include "settings/Settings.h"

#include <memory>

// The register driver the settings name: a driver program of the shop's own, or the built-in
// simulated register when none is named.
std::unique_ptr<RegisterDriver> createRegisterDriver(const QString& programFolder,
                                                     const DriverSettings& settings,
                                                     const Clock& clock, InterruptibleWait* waits);
