#pragma once

// Reaching the sockets of the server library's connections, which it does not hand to handlers:
// a connection is found among the process's open descriptors by its pair of ports.
namespace nuvel::standin {

// Ends the connection whose local and peer ports are these (both directions shut down), so the
// client sees it close without an answer.
void shutdownConnection(int localPort, int remotePort);

// Ends every accepted connection on the loopback port `localPort` (the listening socket has no
// peer and is left alone).
void shutdownConnections(int localPort);

} // namespace nuvel::standin
