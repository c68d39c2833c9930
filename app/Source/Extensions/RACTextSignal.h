#pragma once
// rac_textSignal: the user's edits of a line edit as a signal: the text now, then the text after
// every edit the user makes. Programmatic changes (setText, a binding writing the model's value
// back, a reused cell being cleared) are not edits and are not sent, so a two-way binding never
// writes a cleared field into the object it showed before. Completes when the field is destroyed.
// Main thread only.

#include <QLineEdit>
#include <memory>

class RACSignal;

std::shared_ptr<RACSignal> rac_textSignal(QLineEdit* field);
