// Windows has no pseudo-terminals: the simulator is not built there, and --simulate says so.

#include <stdexcept>

#include "sim/DeviceSimulator.h"

namespace sim {

DeviceSimulator::DeviceSimulator() = default;

DeviceSimulator::~DeviceSimulator() = default;

std::string DeviceSimulator::Start() {
    throw std::runtime_error("на Windows имитатора нет (ему нужен псевдотерминал)");
}

void DeviceSimulator::Stop() {}

void DeviceSimulator::LoadDemoScenario() {}

}  // namespace sim
