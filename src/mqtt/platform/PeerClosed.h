#pragma once

// Whether the other end of a connected socket has closed it (its end of stream is all there is
// to read). libmosquitto takes such an end during a TLS handshake for "try again", so a closed
// connection would be read from again and again; the link asks here first. The portable twin
// cannot tell, and says no: the connection's deadline ends it instead.
bool peerClosed(int socket);
