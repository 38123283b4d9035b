#pragma once
// Base of the stand-in transports: always open, nothing to configure. Read and Write are each
// stand-in's own (one that needs the base's other forms brings them in with `using`).

#include "link/Transport.h"

class StubTransport : public MCommunication::Transport {
public:
    void SetParameters(const void*) override {}
    bool Open() override { return true; }
    bool Close() override { return true; }
    int32_t PendingCount() override { return 0; }
    void Purge() override {}
    bool IsOpen() override { return true; }
};
