#include "ui/ViewState.h"

#include <cstdio>
#include <cstdlib>

namespace korvel {

namespace {
void DefaultUnknownControl(const std::string& name) {
  std::fprintf(stderr, "korvel: no control named '%s'\n", name.c_str());
#ifndef NDEBUG
  std::abort();
#endif
}

UnknownControlHandler unknownControl = DefaultUnknownControl;
}  // namespace

void SetUnknownControlHandler(UnknownControlHandler handler) {
  unknownControl = handler ? handler : DefaultUnknownControl;
}

ControlState& ViewState::Unknown(const std::string& name) const {
  unknownControl(name);
  scratch_ = ControlState{};
  return scratch_;
}

ControlState& ViewState::operator[](const std::string& name) {
  const auto it = controls.find(name);
  return it == controls.end() ? Unknown(name) : it->second;
}

const ControlState& ViewState::operator[](const std::string& name) const {
  const auto it = controls.find(name);
  return it == controls.end() ? Unknown(name) : it->second;
}

}  // namespace korvel
