#pragma once
// ActionObjectEditorView: base of the action editor's per-kind detail views. Each edits the
// fields of its kind in the editor's action builder (the builder, not the view, holds the
// values, so switching kinds and back shows them again) and says through the observable key
// "shouldSave" whether its input is complete enough to save (yes unless a kind says otherwise).
// Bindings to the builder last as long as the view object.
//
// The view object is shared (the editor's view model holds the shown one); its widget belongs
// to the editor's container once shown, and is deleted with the object while it has no parent.
// Main thread only.

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QWidget>
#include <memory>
#include <vector>

#include "core/Source/Model/BTActionBuilder.h"
#include "core/Source/ViewModels/BTActionObjectEditorDetailView.h"
#include "platform/foundation/Object.h"

namespace tw::app {
class PopUpButton;
}  // namespace tw::app
class RACSignal;

class ActionObjectEditorView : public tw::Object, public BTActionObjectEditorDetailView {
 public:
  ActionObjectEditorView();
  ~ActionObjectEditorView() override;

  QWidget* widget() const { return widget_; }

  // Keeps the builder; the kinds then fill their controls and bind.
  void loadViewWithBuilder(const std::shared_ptr<BTActionBuilder>& builder) override;
  bool shouldSave() const override { return shouldSave_; }
  void setShouldSave(bool shouldSave);
  std::shared_ptr<BTActionBuilder> actionBuilder() const override { return actionBuilder_; }

  // Width of the label column shared by the editor's own rows and every kind's rows, so that no
  // control moves when the kind changes: the widest of all the editor's labels in `font`.
  static int labelColumnWidth(const QFont& font);

  // One item of a tag menu.
  struct TagItem {
    const char* title;
    int tag;
    bool enabled = true;
  };

 protected:
  QFormLayout* form() const { return form_; }
  // A row of the form with its localized label.
  void addRow(const char* label, QWidget* field);
  // A row naming a chosen path in `value` (plain text, taking the room left) with `choose`, a
  // "Choose…" button, after it.
  void addPathRow(const char* label, QLabel* value, QPushButton* choose);
  // The builder's key path (under "actionBuilder.") from now until this view goes.
  std::shared_ptr<RACSignal> builderValues(const std::string& keyPath);
  template <class T>
  std::weak_ptr<T> weakSelf() {
    return std::static_pointer_cast<T>(shared_from_this());
  }
  // Two-way binding of an optional text field of the builder (key) to a line edit: the builder's
  // value is shown (absent as empty text) unless the field shows it already, and every edit of
  // the user's is written back, an empty text as absent.
  void bindOptionalText(QLineEdit* field, const std::string& key);
  // Fills `button` with plain items and selects the one tagged `value`; true when one was.
  static bool fillTagMenu(tw::app::PopUpButton* button, const std::vector<TagItem>& items,
                          long value);

  bool getValueForKey(std::string_view key, tw::Value& out) const override;
  bool setValueForKeyImpl(std::string_view key, const tw::Value& value) override;

  std::shared_ptr<BTActionBuilder> actionBuilder_;

 private:
  QPointer<QWidget> widget_;
  QFormLayout* form_;
  bool shouldSave_ = true;
};

namespace tw::app {
// An optional string field's value for a text ("" becomes absent).
std::optional<std::string> optionalOfText(const QString& text);
}  // namespace tw::app
