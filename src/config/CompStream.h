// The textual component form of the generators ("object TProdSN" ... "end"): what TX.ini
// keeps of them, one property a line, in published order.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Phrase.h"

namespace korvel {

class TPersistentComponent;

enum class PropertyKind { Boolean, Int32, Int64 };

struct PropertyDef {
  std::string name;
  PropertyKind kind;
  std::function<int64_t(const TPersistentComponent&)> get;
  // Applied in the order the text lists the properties, through the class's setters.
  std::function<void(TPersistentComponent&, int64_t)> set;
};

struct ComponentClass {
  std::string name;
  // An instance with every field zero or false: no defaults are applied on restore.
  std::function<std::unique_ptr<TPersistentComponent>()> createBlank;
  std::vector<PropertyDef> properties;  // published order
};

class TPersistentComponent {
 public:
  virtual ~TPersistentComponent() = default;
  virtual const ComponentClass& Class() const = 0;
};

// Classes must be registered before TextToComponent can build them. Registering a name
// again replaces the earlier definition.
void RegisterComponentClass(const ComponentClass& cls);
const ComponentClass* FindComponentClass(const std::string& name);

// Lines end in CR LF: "object <Class>", "  Name = Value" per stored property (64-bit
// zeros left out), "end".
std::string ComponentToText(const TPersistentComponent& component);

struct ComponentResult {
  std::unique_ptr<TPersistentComponent> object;  // null on error
  Phrase error;                                  // empty on success
};
// Builds a new object only from a whole, well-formed text of a registered class.
ComponentResult TextToComponent(const std::string& text);

}  // namespace korvel
