#pragma once
// The sink that command -33 installs: every reading and every failed poll
// becomes a log line.

#include <cstddef>
#include <string>
#include <vector>

#include "core/device.h"  // WeightInterface, from the public header as the driver sees it

class TestWeightInterface : public WeightInterface {
public:
    void weight_changed(int weight, int tare, std::vector<std::byte> state) override;
    void weight_error(std::string text) override;
};
