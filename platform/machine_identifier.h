#pragma once
// The installation's identifier that the maker's services see: four groups of four upper-case
// hexadecimal digits ("%04X-%04X-%04X-%04X"), stable for the installation. It is derived from the
// system's machine id hashed together with the product name, so the raw id never leaves the machine
// and two products on one machine do not share an identifier.
#include <string>

#include "platform/wide_string.h"

namespace mistvale {

// From the first of /etc/machine-id and /var/lib/dbus/machine-id that can be read; without either, from
// the product name alone (still the same form).
WideString MachineIdentifier(const char* product);

// The same from a given machine id text (surrounding white space ignored); for tests and the above.
WideString MachineIdentifierFrom(const std::string& machineId, const char* product);

} // namespace mistvale
