#pragma once
// Text form of the simulator's faults and timing, for --sim-fault:
//
//   SPEC  := ITEM { "," ITEM }
//   ITEM  := "refuse-output:" N      refuse the Nth output report
//          | "fail-input:" N         fail the Nth input report
//          | "unplug:" N             unplug the device at the Nth report
//          | "stay-busy"             the I2C master never reports ready
//          | "busy-reads:" N         status reads that show busy after each start
//          | "flip:" ADDR [":" MASK] corrupt the byte written at EEPROM ADDR
//                                    (bits in MASK flipped, default 0x01)
//          | "flip-once:" ADDR [":" MASK]  the same, only for the first write
//                                    to ADDR (a marginal cell)
//          | "write-protect"         the EEPROM ignores writes
//          | "write-cycle-us:" N     EEPROM write-cycle time (default 3000)
//          | "latency-us:" N         virtual time per report (default 0)
//          | "random:" SEED ":" P    every report fails with probability P
//                                    (0 < P <= 1), replayable by SEED
//
// Numbers are decimal or 0x-prefixed hex. Report numbers count from 1.
#include <string>
#include <vector>

#include "SimChip.h"

namespace qrt::sim {

// Applies SPEC on top of faults and config. Returns false with a message in
// szError (and the two records unchanged) when SPEC is not in the grammar.
bool ParseSimFaultSpec(const std::string& szSpec, SIM_FAULTS& faults, SIM_CHIP_CONFIG& config,
                       std::string& szError);

// The same for several simulated boards (vFaults and vConfigs hold one entry
// per board, board K at index K - 1): "K@SPEC" applies SPEC to board K only,
// a SPEC without "K@" to every board. Returns false with a message in
// szError (nothing changed) when K names no board or SPEC is not in the
// grammar.
bool ParseBoardFaultSpec(const std::string& szSpec, std::vector<SIM_FAULTS>& vFaults,
                         std::vector<SIM_CHIP_CONFIG>& vConfigs, std::string& szError);

}  // namespace qrt::sim
