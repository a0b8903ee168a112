#include "config/CompStream.h"

#include <cctype>
#include <limits>
#include <map>

#include "platform/Text.h"

namespace korvel {

namespace {

std::map<std::string, ComponentClass>& Registry() {
  static std::map<std::string, ComponentClass> registry;
  return registry;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

bool ParseDecimal(const std::string& text, int64_t& out) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  if (i == text.size()) return false;
  uint64_t magnitude = 0;
  const uint64_t limit = negative ? uint64_t(std::numeric_limits<int64_t>::max()) + 1
                                  : uint64_t(std::numeric_limits<int64_t>::max());
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    const unsigned d = unsigned(text[i] - '0');
    if (magnitude > (limit - d) / 10) return false;
    magnitude = magnitude * 10 + d;
  }
  out = negative ? int64_t(0 - magnitude) : int64_t(magnitude);
  return true;
}

}  // namespace

void RegisterComponentClass(const ComponentClass& cls) {
  Registry()[cls.name] = cls;
}

const ComponentClass* FindComponentClass(const std::string& name) {
  for (const auto& [key, cls] : Registry())
    if (EqualNoCase(key, name)) return &cls;
  return nullptr;
}

std::string ComponentToText(const TPersistentComponent& component) {
  const ComponentClass& cls = component.Class();
  std::string text = "object " + cls.name + "\r\n";
  for (const PropertyDef& p : cls.properties) {
    const int64_t v = p.get(component);
    if (p.kind == PropertyKind::Int64 && v == 0) continue;
    text += "  " + p.name + " = ";
    text += p.kind == PropertyKind::Boolean ? (v ? "True" : "False") : std::to_string(v);
    text += "\r\n";
  }
  return text + "end\r\n";
}

ComponentResult TextToComponent(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t nl = text.find('\n', start);
    const std::string line =
        Trim(text.substr(start, nl == std::string::npos ? std::string::npos : nl - start));
    if (!line.empty()) lines.push_back(line);
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  if (lines.empty()) return {nullptr, Say("empty component text")};

  // "object TProdSN" or "object Name: TProdSN".
  const std::string& header = lines.front();
  if (header.size() < 7 || !EqualNoCase(header.substr(0, 7), "object "))
    return {nullptr, Say("text does not start with 'object'")};
  std::string className = Trim(header.substr(7));
  if (const size_t colon = className.find(':'); colon != std::string::npos)
    className = Trim(className.substr(colon + 1));
  const ComponentClass* cls = FindComponentClass(className);
  if (!cls) return {nullptr, Say("unknown class '{0}'", className)};
  if (!EqualNoCase(lines.back(), "end")) return {nullptr, Say("text does not close with 'end'")};

  // Check everything before building anything.
  std::vector<std::pair<const PropertyDef*, int64_t>> assignments;
  for (size_t i = 1; i + 1 < lines.size(); ++i) {
    const std::string& line = lines[i];
    const size_t eq = line.find('=');
    if (eq == std::string::npos)
      return {nullptr, Say("line {0} is not 'Name = Value': {1}", i + 1, line)};
    const std::string name = Trim(line.substr(0, eq));
    const std::string value = Trim(line.substr(eq + 1));
    const PropertyDef* def = nullptr;
    for (const PropertyDef& p : cls->properties)
      if (EqualNoCase(p.name, name)) def = &p;
    if (!def) return {nullptr, Say("class {0} has no property '{1}'", cls->name, name)};
    int64_t v = 0;
    if (def->kind == PropertyKind::Boolean) {
      if (EqualNoCase(value, "True"))
        v = 1;
      else if (EqualNoCase(value, "False"))
        v = 0;
      else
        return {nullptr, Say("property {0} needs True or False, not '{1}'", def->name, value)};
    } else {
      if (!ParseDecimal(value, v))
        return {nullptr, Say("property {0} needs an integer, not '{1}'", def->name, value)};
      if (def->kind == PropertyKind::Int32 &&
          (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()))
        return {nullptr, Say("property {0} is out of the 32-bit range: {1}", def->name, value)};
    }
    assignments.push_back({def, v});
  }

  std::unique_ptr<TPersistentComponent> object = cls->createBlank();
  for (const auto& [def, v] : assignments) def->set(*object, v);
  return {std::move(object), {}};
}

}  // namespace korvel
