#pragma once
// The store model of the framework: every entity of time objects, their settings, actions and
// triggers, with their attributes, inverses and delete rules, and the merge with entities the
// application adds of its own (the merged model the store service opens).
//
//   tw::addModelContribution(1, [](tw::store::ModelBuilder& b) {
//     b.entity<MyNote>("MyNote", "BTManagedObject").attribute("text", AttributeType::String);
//   });
//   auto model = tw::buildMergedModel();
//
// Delete rules: a time object takes its actions with it, an action its trigger, a settable time
// object its time setting, an alarm its weekdays; a link action's target and the target's
// linkedActions only let go of each other.
//
// Building is cheap but meant for start-up; contributions may be added from any thread before
// the merged model is built.

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/store/Model.h"
#include "platform/store/ModelBuilder.h"

namespace tw {

// Raise whenever the framework's entities or stored attributes change.
inline constexpr std::int64_t kCoreModelVersion = 1;

// Declares the framework's entities into `builder`.
void declareCoreEntities(store::ModelBuilder& builder);
// The framework's entities alone.
std::shared_ptr<const store::Model> buildCoreModel();

using ModelContribution = std::function<void(store::ModelBuilder&)>;
// Adds entities declared by `declare` to every merged model built afterwards. `version` counts
// the contribution's own revisions (raise it when its entities or stored attributes change); the
// merged model's version is the framework's plus every contribution's, so a newer build of
// either part upgrades the store.
void addModelContribution(std::int64_t version, ModelContribution declare);
// Forgets every contribution (tests).
void removeAllModelContributions();
// The framework's entities, then every contribution's, in the order they were added.
std::shared_ptr<const store::Model> buildMergedModel();

}  // namespace tw
