#include "ServiceNotify.h"

namespace ServiceNotify {

bool available()
{
    return false;
}

void send(const QByteArray&) {}

int watchdogMs()
{
    return 0;
}

} // namespace ServiceNotify
