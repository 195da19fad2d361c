#include "TerminationSignals.h"

// Without POSIX signals the requests to end reach the program as a close of its window (Qt
// turns a session end into one), so there is nothing to listen to here.
TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent), d(nullptr) {}

TerminationSignals::~TerminationSignals() = default;
