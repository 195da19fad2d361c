#include "PeerClosed.h"

#include <sys/socket.h>

bool peerClosed(int socket)
{
    char byte = 0;
    return ::recv(socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}
