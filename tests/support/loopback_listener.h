#pragma once

namespace mistvale {

// A listening TCP socket on 127.0.0.1 with a port the system chose: the socket (or -1) and the port.
int OpenLoopbackListener(int backlog, int& port);

} // namespace mistvale
