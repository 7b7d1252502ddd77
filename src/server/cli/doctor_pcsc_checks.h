// The doctor's smart-card checks: the PC/SC service, the readers, and in each reader a card whose
// financial application answers its SELECT (connected shared, nothing else sent, released).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/doctor_report.h"
#include "platform/pcsc.h"

namespace ruzazuv::doctor {

// What systemd says of pcscd's socket unit: "active", "inactive", ...; nothing when systemd
// could not be asked (no systemctl, or no systemd running).
std::optional<std::string> pcscdSocketState();

// The findings "pcscd", "readers" and one "card" per reader (or one skipped "card" line when
// there is nothing to look at).
std::vector<Finding> checkSmartCards(Pcsc& pcsc, const std::optional<std::string>& socketState);

}  // namespace ruzazuv::doctor
