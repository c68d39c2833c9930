#pragma once
// tw::ui::TouchBar: the item and identifier model of a touch-sensitive bar of buttons above the
// keyboard. Linux machines have no such hardware, so nothing of it is ever shown: controllers keep
// their bars and items, with titles, values, enabled states and colours, exactly as they would,
// and tests can read them. A bar makes its items on first request through its delegate (by
// identifier) and keeps them; responders own their bar (Responder::touchBar).
//
// Owned through std::shared_ptr by the responder that made it. Main thread only.

#include <QColor>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Object.h"

namespace tw::ui {

// The system's spacing and proxy identifiers.
inline constexpr const char* TouchBarItemIdentifierFlexibleSpace =
    "NSTouchBarItemIdentifierFlexibleSpace";
inline constexpr const char* TouchBarItemIdentifierOtherItemsProxy =
    "NSTouchBarItemIdentifierOtherItemsProxy";

// One item: a button or a text, with what a bar would show of it.
class TouchBarItem : public tw::Object {
 public:
  explicit TouchBarItem(std::string identifier) : identifier_(std::move(identifier)) {}
  const std::string& identifier() const { return identifier_; }

  std::string title;
  std::string stringValue;
  std::string customizationLabel;
  bool enabled = true;
  std::optional<QColor> bezelColor;

 private:
  std::string identifier_;
};

class TouchBar;

class TouchBarDelegate {
 public:
  virtual ~TouchBarDelegate() = default;
  // The item for `identifier`, or null for an identifier the delegate does not know.
  virtual std::shared_ptr<TouchBarItem> makeItemForIdentifier(TouchBar& bar,
                                                              const std::string& identifier) = 0;
};

class TouchBar : public tw::Object {
 public:
  std::string customizationIdentifier;
  std::vector<std::string> defaultItemIdentifiers;

  void setDelegate(std::weak_ptr<TouchBarDelegate> delegate) { delegate_ = std::move(delegate); }
  // The item, made by the delegate on first request and kept; null when the delegate makes none.
  std::shared_ptr<TouchBarItem> itemForIdentifier(const std::string& identifier);
  // Items given outright (what an interface file defines); replaces one of the same identifier.
  void addItem(std::shared_ptr<TouchBarItem> item);

 private:
  std::weak_ptr<TouchBarDelegate> delegate_;
  std::map<std::string, std::shared_ptr<TouchBarItem>> items_;
};

}  // namespace tw::ui
