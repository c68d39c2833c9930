#pragma once
// The two-way binding of a settings check box to a boolean key of a settings bundle (or of the
// updater), shared by the settings panes:
//   1. setting to box: the key's value now and after every change, as state 1 (YES) or 0;
//   2. box to setting: every later change of the box's "cell.state", YES exactly when the state
//      is on (the mixed state counts as NO), assigned to the key.
// Step 1 runs first, so the box shows the stored value before its changes are bound back: the
// state a box had when the pane loaded is never written over the stored value.
// Both end when `observer` (the pane) or either side goes. Plain functions; main thread.

#include <memory>
#include <string>

class RACSignal;
namespace tw {
class Object;
class SettingsCheckBox;
}  // namespace tw

namespace tw::app {

// Binds as above and returns the box-to-setting signal (mapped to booleans, the state at
// binding time skipped) for the caller's announcement. With a null target nothing is bound and
// the signal is empty.
std::shared_ptr<RACSignal> bindCheckBox(const std::shared_ptr<tw::SettingsCheckBox>& box,
                                        const std::shared_ptr<tw::Object>& target,
                                        const std::string& key,
                                        const std::shared_ptr<tw::Object>& observer);

}  // namespace tw::app
