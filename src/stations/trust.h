#pragma once
// What the station fetch trusts of the data site's certificate, from config.ini.

#include <string>

#include "settings/program_settings.h"
#include "stations/https_client.h"

namespace aqled {

// The trust of Set/TlsVerify and Path/StationCA, and the kind-1 line (GBK) of a problem.
struct StationTrust {
  TlsTrust trust;
  std::string problem;  // empty when there is none
};

// Verification is on unless TlsVerify is 0 (StationCA is then not read). StationCA names a PEM file of CA
// certificates trusted beside the system's store; a relative name is taken in `appFolder` (GBK, ending in its
// separator). A file that cannot be read whole (kMaxSettingsFileBytes at most) or holds no certificate is
// named in `problem`, and verification stays on with the system's store alone.
StationTrust LoadStationTrust(const ProgramSettings& settings, const std::string& appFolder);

// The kind-1 line (GBK) of a TLS library that cannot be loaded (LoadTlsBackend).
std::string TlsMissingText();

}  // namespace aqled
