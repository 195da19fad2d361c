#include "KeptSocket.h"

KeptSocket::KeptSocket(qintptr) {}

KeptSocket::~KeptSocket() = default;

bool KeptSocket::writeAndRelease(const QByteArray&)
{
    return false;
}

void KeptSocket::release() {}
