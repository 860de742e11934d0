// JPEG streams written by libjpeg with the coding, sampling, progression and restarts a test
// asks for, to count what their scans cost.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qrvtest {

// A w x h picture (a diagonal gradient) of factors.size() components, each sampled 0xHV (one is
// grey, three YCbCr, four CMYK): "baseline", libjpeg's own progression ("simple"), or
// "arithmetic" with `arithmeticScans` scans (the DC of all components, then one AC coefficient
// of the first component per scan); a restart after every `restart` MCUs when not 0.
// Empty when libjpeg refuses the request.
std::vector<uint8_t> EncodeJPEG(uint32_t w, uint32_t h, const std::vector<uint8_t>& factors, const std::string& kind,
                                int arithmeticScans = 0, unsigned restart = 0);

}  // namespace qrvtest
