#pragma once
// rac_textSignal: the user's edits of a line edit as a signal: the text after every edit the user
// makes. The text the field shows when subscribed, and programmatic changes (setText, a binding
// showing the model's value, a reused cell being cleared) are not edits and are not sent, so a
// two-way binding never writes back what it only showed. Completes when the field is destroyed.
//
// tw::app::showWholeText lifts a line edit's length limit (32,767 by default), which would cut
// stored text it shows, and shows the text from its start again when an edit ends. Main thread
// only.

#include <QLineEdit>
#include <memory>

class RACSignal;

std::shared_ptr<RACSignal> rac_textSignal(QLineEdit* field);

namespace tw::app {
void showWholeText(QLineEdit* field);
}  // namespace tw::app
