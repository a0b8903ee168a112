// Any text as a component: an error or a whole object, whose text form reads back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "config/CompStream.h"
#include "production/NumberingLedger.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace korvel;
  RegisterGeneratorClasses();
  const ComponentResult r = TextToComponent(std::string(reinterpret_cast<const char*>(data), size));
  if (r.object == nullptr) {
    if (r.error.empty()) std::abort();
    return 0;
  }
  // What we write we read; a hand-made text may settle once, then stays put.
  const ComponentResult settled = TextToComponent(ComponentToText(*r.object));
  if (!settled.object) std::abort();
  const std::string text = ComponentToText(*settled.object);
  const ComponentResult again = TextToComponent(text);
  if (!again.object || ComponentToText(*again.object) != text) std::abort();
  return 0;
}
