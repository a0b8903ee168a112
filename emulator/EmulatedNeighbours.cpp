#include "EmulatedNeighbours.h"

namespace korvel {

void AttachTypicalNeighbours(EmulatedHidPlatform& platform) {
  platform.Attach(std::make_shared<EmulatedForeignDevice>("kbd", 0x04D9, 0x1702, 0x0105,
                                                          std::vector<uint16_t>{0, 65}));
  platform.Attach(std::make_shared<EmulatedForeignDevice>("ups", 0x0483, 0x5750, 0x0200,
                                                          std::vector<uint16_t>{9}));
}

}  // namespace korvel
