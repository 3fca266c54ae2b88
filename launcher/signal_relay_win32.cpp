// A program of the windowed subsystem gets no console requests to stop:
// nothing to relay.
#include "launcher/signal_relay.h"

TSignalRelay::TSignalRelay() = default;
TSignalRelay::~TSignalRelay() = default;
void TSignalRelay::PassTo(uint32_t) {}
void TSignalRelay::Stop() {}
int TSignalRelay::PendingRequest() const { return 0; }
