#include "PeerClosed.h"

bool peerClosed(int)
{
    return false;
}
