#pragma once

#include <string>

namespace mistvale {

// The identification of a fully described device as the simulator's configuration writes it: vendor,
// product code, revision and model name (objects 0, 1, 2 and 5). Tests of the link, the simulator and
// the device search expect these four texts back from it.
inline const std::string kAcmeIdentification = R"(<Identification>
      <Object id="0">ACME</Object>
      <Object id="1">T100</Object>
      <Object id="2">1.2</Object>
      <Object id="5">SN123</Object>
    </Identification>)";

} // namespace mistvale
