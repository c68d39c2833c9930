#include "platform/ui/NamedResources.h"

#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/Log.h"

namespace tw::ui {

namespace {

std::map<std::string, QColor, std::less<>> loadColors() {
  std::map<std::string, QColor, std::less<>> colors;
  auto path = Bundle::main().pathForResource("Colors", "json");
  if (!path) return colors;
  std::ifstream in(*path);
  std::stringstream text;
  text << in.rdbuf();
  auto parsed = Json::parse(text.str());
  const Dictionary* table = parsed ? parsed->dictionary() : nullptr;
  if (!table) {
    logf("Named colours in %@ cannot be read; using none", path->string());
    return colors;
  }
  for (const auto& [name, value] : *table) {
    if (!value.isString()) continue;
    QColor color(QString::fromStdString(*value.string()));
    if (color.isValid()) colors.emplace(name, color);
  }
  return colors;
}

}  // namespace

std::optional<QColor> colorNamed(std::string_view name) {
  static std::once_flag once;
  static std::map<std::string, QColor, std::less<>> colors;
  std::call_once(once, [] { colors = loadColors(); });
  auto it = colors.find(name);
  if (it == colors.end()) return std::nullopt;
  return it->second;
}

QIcon imageNamed(std::string_view name) {
  for (const char* ext : {"png", "svg"})
    if (auto path = Bundle::main().pathForResource(name, ext))
      return QIcon(QString::fromStdString(path->string()));
  return {};
}

}  // namespace tw::ui
