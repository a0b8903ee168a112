#include "DeviceImages.h"

namespace korvel {

namespace {
template <class Array>
std::string JsonInts(const Array& values) {
  std::string text = "[";
  for (size_t i = 0; i < values.size(); ++i) text += (i ? "," : "") + std::to_string(values[i]);
  return text + "]";
}
}  // namespace

std::string DeviceImagesJsonMembers(const DeviceImages& images) {
  return "\"rx_registers_before\":" + JsonInts(images.rxBefore) +
         ",\"rx_registers\":" + JsonInts(images.rxAfter) +
         ",\"tx_eeprom_before\":" + JsonInts(images.txBefore) +
         ",\"tx_eeprom\":" + JsonInts(images.txAfter) +
         ",\"reports_sent\":" + std::to_string(images.reportsSent) +
         ",\"reports_fetched\":" + std::to_string(images.reportsFetched);
}

}  // namespace korvel
