#include "platform/foundation/ObserverTable.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "platform/foundation/Exception.h"

// How an observation of "a.b.c" on R is kept:
//   - a Chain holds the keys and, per step, the object bound there (R, R.a, R.a.b) with a
//     registration in that object's table for the step's key;
//   - keys that depend on other key paths (keyPathsForValuesAffectingKey) get a dependency
//     Chain per path, hanging off the step; a change anywhere in it counts as a change of the
//     step's key;
//   - a change of step i re-reads the chain from step i on and re-binds the later steps.
// Everything that touches bindings and tables runs under gLock; reading values (user getters),
// asking for dependent keys and running callbacks happen with the lock released, and whatever
// could run foreign destructors (observation callbacks, strong references to objects) is
// released after the lock (see Graveyard).

namespace tw::detail {

using Keys = std::shared_ptr<const std::vector<std::string>>;

struct Binding {
  // Identity of the bound object; non-null only while its registration is listed. The bound
  // object's own destruction clears it under the lock, so under the lock it is always safe to
  // reach the object's table through it, never to call the object (use `weak` for that).
  Object* object = nullptr;
  std::weak_ptr<Object> weak;
  std::vector<std::unique_ptr<Chain>> dependencies;
};

struct Chain {
  PathObservation* observation = nullptr;
  Chain* parent = nullptr;  // null for the observed path itself
  std::uint32_t parentStep = 0;
  Keys keys;  // immutable, shared so readers need no lock
  std::vector<Binding> steps;
};

struct PathObservation : std::enable_shared_from_this<PathObservation> {
  // Immutable after registration:
  std::string keyPath;
  unsigned options = 0;
  ObservationCallback callback;
  bool tied = false;
  std::weak_ptr<const void> observer;
  const Object* root = nullptr;
  std::uint64_t id = 0;
  // Under gLock:
  bool active = false;
  std::uint64_t epoch = 0;  // bumped on every re-binding, so concurrent re-reads notice
  const Object* observerObject = nullptr;
  Chain main;
};

// Collects what must not be released under gLock (observations, whose callbacks may own
// anything, and orphaned tables); declared before the lock so it goes after.
struct Graveyard {
  std::vector<std::shared_ptr<void>> items;
};

namespace {

constinit std::mutex gLock;
std::atomic<std::uint64_t> gNextObservationId{1};
constexpr std::size_t kMaxDependencyDepth = 16;
constexpr unsigned kWillChangeOptions = KVOOld | KVOPrior;

Keys splitKeyPath(std::string_view path) {
  auto keys = std::make_shared<std::vector<std::string>>();
  std::size_t start = 0;
  for (;;) {
    std::size_t dot = path.find('.', start);
    keys->emplace_back(path.substr(start, dot == std::string_view::npos ? dot : dot - start));
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return keys;
}

// Keys are short; an inline loop beats a call to memcmp for them.
inline bool sameKey(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) return false;
  return true;
}

bool isEmptyWeak(const std::weak_ptr<const void>& w) {
  std::weak_ptr<const void> empty;
  return !w.owner_before(empty) && !empty.owner_before(w);
}

template <class A, class B>
bool sameOwner(const A& a, const B& b) {
  return !a.owner_before(b) && !b.owner_before(a);
}

// ----- brackets in flight on this thread
//
// Will-change pushes, did-change pops. A bracket on a key that is already open on the same
// object is a nested one: only the outermost did-change notifies, and only the outermost
// will-change reads old values and sends prior notifications.

struct PendingExtra {
  std::vector<std::pair<std::uint64_t, Value>> oldValues;  // by observation id
  Array removed;                                           // what an intersect takes away
};

struct Pending {
  const Object* object = nullptr;
  std::string key;
  std::unique_ptr<PendingExtra> extra;
};

struct PendingStack {
  std::vector<Pending> items;  // slots are reused, so short keys never allocate
  std::size_t size = 0;
};

// A plain pointer (no TLS destructor of its own) so that objects destroyed late in a thread's
// exit still find "no stack" instead of a destroyed one.
// Initial-exec: the foundation library is always loaded with the program, never dlopen'ed, and
// this saves a call on every bracket.
__attribute__((tls_model("initial-exec"))) thread_local PendingStack* tPending = nullptr;
struct PendingReaper {
  ~PendingReaper() {
    delete tPending;
    tPending = nullptr;
  }
};
thread_local PendingReaper tPendingReaper;

PendingStack& pendingStack() {
  if (!tPending) {
    static_cast<void>(&tPendingReaper);
    tPending = new PendingStack;
    tPending->items.reserve(8);
  }
  return *tPending;
}

// Returns true when the same object/key bracket is already open (a nested one).
bool pushPending(const Object* object, std::string_view key) {
  PendingStack& s = pendingStack();
  bool nested = false;
  for (std::size_t i = s.size; i-- > 0;) {
    if (s.items[i].object == object && sameKey(s.items[i].key, key)) {
      nested = true;
      break;
    }
  }
  if (s.size == s.items.size()) s.items.emplace_back();
  Pending& p = s.items[s.size++];
  p.object = object;
  p.key.assign(key.data(), key.size());
  p.extra.reset();
  return nested;
}

Pending* topPending(const Object* object, std::string_view key) {
  PendingStack* s = tPending;
  if (!s) return nullptr;
  for (std::size_t i = s->size; i-- > 0;)
    if (s->items[i].object == object && sameKey(s->items[i].key, key)) return &s->items[i];
  return nullptr;
}

struct Popped {
  bool nestedRemains = false;
  std::unique_ptr<PendingExtra> extra;
};

Popped popPending(const Object* object, std::string_view key) {
  Popped result;
  PendingStack* s = tPending;
  if (!s || s->size == 0) return result;
  for (std::size_t i = s->size; i-- > 0;) {
    if (s->items[i].object != object || !sameKey(s->items[i].key, key)) continue;
    result.extra = std::move(s->items[i].extra);
    for (std::size_t k = i; k + 1 < s->size; ++k) std::swap(s->items[k], s->items[k + 1]);
    --s->size;
    s->items[s->size].object = nullptr;
    for (std::size_t j = i; j-- > 0;) {
      if (s->items[j].object == object && sameKey(s->items[j].key, key)) {
        result.nestedRemains = true;
        break;
      }
    }
    break;
  }
  return result;
}

// A dying object's brackets left open on this thread would otherwise look nested to a new
// object that happens to get the same address.
void purgePending(const Object* object) {
  PendingStack* s = tPending;
  if (!s || s->size == 0) return;
  std::size_t w = 0;
  for (std::size_t i = 0; i < s->size; ++i) {
    if (s->items[i].object == object) continue;
    if (w != i) std::swap(s->items[w], s->items[i]);
    ++w;
  }
  for (std::size_t i = w; i < s->size; ++i) {
    s->items[i].object = nullptr;
    s->items[i].extra.reset();
  }
  s->size = w;
}

// ----- values read outside the lock, ahead of a (re-)binding

struct PreparedChain;

struct PreparedDependency {
  Keys keys;
  std::unique_ptr<PreparedChain> chain;
};

struct PreparedStep {
  Object* object = nullptr;
  std::shared_ptr<Object> strong;  // keeps the object alive until it is registered
  std::weak_ptr<Object> weak;
  std::vector<PreparedDependency> dependencies;
};

struct PreparedChain {
  std::vector<PreparedStep> steps;  // from the first re-bound step to the end
  Value end;                        // the end value, when asked for
};

struct Expansion {
  std::vector<std::pair<const Object*, std::string_view>> stack;  // guards dependency cycles
};

void prepare(const Keys& keys, std::size_t from, Value start, Object* rawStart, bool wantEnd,
             PreparedChain& out, Expansion& expansion);

void prepareDependencies(Object& object, std::string_view key, PreparedStep& step,
                         Expansion& expansion) {
  if (expansion.stack.size() >= kMaxDependencyDepth) return;
  for (const auto& [o, k] : expansion.stack)
    if (o == &object && k == key) return;
  std::vector<std::string> paths = ObserverTable::affectingKeyPaths(object, key);
  if (paths.empty()) return;
  expansion.stack.emplace_back(&object, key);
  for (const std::string& path : paths) {
    if (path.empty()) continue;
    PreparedDependency dependency;
    dependency.keys = splitKeyPath(path);
    dependency.chain = std::make_unique<PreparedChain>();
    prepare(dependency.keys, 0, Value(), &object, false, *dependency.chain, expansion);
    step.dependencies.push_back(std::move(dependency));
  }
  expansion.stack.pop_back();
}

// Walks keys[from...] starting from `start` (or `rawStart` when the first object is not held by
// a Value, as the root is), noting every object met and the dependent paths of its key.
void prepare(const Keys& keys, std::size_t from, Value start, Object* rawStart, bool wantEnd,
             PreparedChain& out, Expansion& expansion) {
  const std::vector<std::string>& k = *keys;
  out.steps.clear();
  out.steps.resize(k.size() - from);
  Value current = std::move(start);
  for (std::size_t t = from; t < k.size(); ++t) {
    PreparedStep& step = out.steps[t - from];
    std::shared_ptr<Object> object = current.object();
    Object* raw = object ? object.get() : (t == from ? rawStart : nullptr);
    const bool last = t + 1 == k.size();
    if (raw) {
      step.object = raw;
      step.weak = raw->weak_from_this();
      step.strong = std::move(object);
      prepareDependencies(*raw, k[t], step, expansion);
      if (!last || wantEnd) current = raw->valueForKey(k[t]);
    } else if (!last || wantEnd) {
      current = valueForKeyOfValue(current, k[t]);
    }
    if (last && wantEnd) out.end = std::move(current);
  }
}

// ----- bookkeeping under the lock

void markDead(ObserverTable& table, std::size_t index) {
  Registration& r = table.registrations[index];
  if (r.dead) return;
  r.dead = true;
  r.chain = nullptr;
  table.deadCount.fetch_add(1);
  if (r.observation->options & kWillChangeOptions)
    table.willChangeInterest.fetch_sub(1, std::memory_order_relaxed);
}

void sweep(ObserverTable& table, Graveyard& grave) {
  if (table.iterating.load() != 0 || table.deadCount.load() == 0) return;
  auto& regs = table.registrations;
  std::size_t w = 0;
  for (std::size_t i = 0; i < regs.size(); ++i) {
    if (regs[i].dead) {
      grave.items.push_back(std::move(regs[i].observation));
    } else {
      if (w != i) regs[w] = std::move(regs[i]);
      ++w;
    }
  }
  regs.erase(regs.begin() + static_cast<std::ptrdiff_t>(w), regs.end());
  table.deadCount.store(0);
}

void unregister(const Object& object, const Chain& chain, std::uint32_t step, Graveyard& grave) {
  ObserverTable* table = ObserverTable::of(object);
  if (!table) return;
  for (std::size_t i = 0; i < table->registrations.size(); ++i) {
    const Registration& r = table->registrations[i];
    if (!r.dead && r.chain == &chain && r.step == step) markDead(*table, i);
  }
  sweep(*table, grave);
}

void unbindFrom(Chain& chain, std::size_t from, Graveyard& grave) {
  ++chain.observation->epoch;
  for (std::size_t t = from; t < chain.steps.size(); ++t) {
    Binding& b = chain.steps[t];
    for (auto& dependency : b.dependencies) unbindFrom(*dependency, 0, grave);
    b.dependencies.clear();
    if (b.object) {
      unregister(*b.object, chain, static_cast<std::uint32_t>(t), grave);
      b.object = nullptr;
    }
    b.weak.reset();
  }
}

void attach(Chain& chain, std::size_t from, PreparedChain& prepared) {
  PathObservation& po = *chain.observation;
  ++po.epoch;
  for (std::size_t t = from; t < chain.steps.size(); ++t) {
    PreparedStep& step = prepared.steps[t - from];
    Binding& b = chain.steps[t];
    b.object = step.object;
    b.weak = step.weak;
    if (!b.object) continue;
    ObserverTable& table = ObserverTable::ensure(*b.object);
    Registration r;
    r.key = (*chain.keys)[t];
    r.observation = po.shared_from_this();
    r.chain = &chain;
    r.step = static_cast<std::uint32_t>(t);
    if (po.options & kWillChangeOptions)
      table.willChangeInterest.fetch_add(1, std::memory_order_relaxed);
    table.registrations.push_back(std::move(r));
    for (PreparedDependency& dependency : step.dependencies) {
      auto sub = std::make_unique<Chain>();
      sub->observation = &po;
      sub->parent = &chain;
      sub->parentStep = static_cast<std::uint32_t>(t);
      sub->keys = dependency.keys;
      sub->steps.resize(dependency.keys->size());
      attach(*sub, 0, *dependency.chain);
      b.dependencies.push_back(std::move(sub));
    }
  }
}

void invalidateLocked(PathObservation& po, Graveyard& grave) {
  if (!po.active) return;
  po.active = false;
  unbindFrom(po.main, 0, grave);
  if (po.observerObject) {
    if (ObserverTable* table = ObserverTable::of(*po.observerObject)) {
      std::weak_ptr<PathObservation> self = po.weak_from_this();
      auto& tied = table->tiedToOwner;
      tied.erase(std::remove_if(tied.begin(), tied.end(),
                                [&](const std::weak_ptr<PathObservation>& w) {
                                  return w.expired() || sameOwner(w, self);
                                }),
                 tied.end());
    }
    po.observerObject = nullptr;
  }
}

void finishIteration(ObserverTable* table, Graveyard& grave) {
  if (table->iterating.fetch_sub(1) != 1) return;
  if (table->orphaned.load())
    grave.items.push_back(std::shared_ptr<ObserverTable>(table));
  else
    sweep(*table, grave);
}

// The same without the lock in hand. Pairs with markDead/objectDestroyed: they bump deadCount
// or set orphaned under the lock and then look at `iterating`; this drops `iterating` and then
// looks at them, so (all sequentially consistent) at least one side sees the other and tidies.
void finishUnlocked(ObserverTable* table, Graveyard& grave) {
  if (table->iterating.fetch_sub(1) != 1) return;
  if (table->deadCount.load() == 0 && !table->orphaned.load()) return;
  std::lock_guard lock(gLock);
  if (table->iterating.load() != 0) return;  // a newer walk tidies when it ends
  if (table->orphaned.load())
    grave.items.push_back(std::shared_ptr<ObserverTable>(table));
  else
    sweep(*table, grave);
}

// ----- delivery (lock released)

void invoke(const PathObservation& po, const KeyValueChange& change) noexcept {
  if (!po.callback) return;
  try {
    po.callback(change);
  } catch (...) {
    terminateWithUncaught("key-value observer");
  }
}

KeyValueChangeKind kindFor(SetMutationKind mutation) {
  switch (mutation) {
    case SetMutationKind::Union:
      return KeyValueChangeKind::Insertion;
    case SetMutationKind::Minus:
    case SetMutationKind::Intersect:
      return KeyValueChangeKind::Removal;
    case SetMutationKind::Set:
      return KeyValueChangeKind::Replacement;
  }
  return KeyValueChangeKind::Setting;
}

Array objectsFor(const SetMutation& mutation, const PendingExtra* extra) {
  if (mutation.kind == SetMutationKind::Intersect) return extra ? extra->removed : Array{};
  return mutation.objects ? *mutation.objects : Array{};
}

Value oldValueFor(const PendingExtra* extra, std::uint64_t id) {
  if (!extra) return {};
  for (const auto& [oid, value] : extra->oldValues)
    if (oid == id) return value;
  return {};
}

// The end value as it stands, read from the deepest object the path is bound to.
Value currentEndValue(PathObservation& po, Object& changing) {
  std::shared_ptr<Object> strong;
  Object* start = nullptr;
  std::size_t from = 0;
  Keys keys;
  {
    std::lock_guard lock(gLock);
    if (!po.active) return {};
    keys = po.main.keys;
    for (std::size_t t = po.main.steps.size(); t-- > 0;) {
      const Binding& b = po.main.steps[t];
      if (!b.object) continue;
      if (b.object == &changing) {
        start = &changing;
      } else {
        strong = b.weak.lock();
        start = strong.get();
      }
      from = t;
      break;
    }
  }
  if (!start) return {};
  Value v = start->valueForKey((*keys)[from]);
  for (std::size_t t = from + 1; t < keys->size(); ++t) v = valueForKeyOfValue(v, (*keys)[t]);
  return v;
}

void deliverLeaf(const PathObservation& po, Object& object, std::string_view key,
                 const SetMutation* mutation, const PendingExtra* extra) {
  KeyValueChange change;
  change.object = po.root;
  change.keyPath = po.keyPath;
  try {
    if (mutation) {
      change.kind = kindFor(mutation->kind);
      change.changedObjects = objectsFor(*mutation, extra);
    }
    if (po.options & KVONew) change.newValue = ObserverTable::read(object, key);
  } catch (...) {
    terminateWithUncaught("key-value observation");
  }
  if (po.options & KVOOld) change.oldValue = oldValueFor(extra, po.id);
  invoke(po, change);
}

// A change of an intermediate step, or of something a step's key depends on: re-read from the
// changed step on, re-bind, then tell the observer the end value.
void deliverRebinding(std::unique_lock<std::mutex>& lock, ObserverTable& table, std::size_t index,
                      PathObservation& po, Object& object, const PendingExtra* extra,
                      std::shared_ptr<const void> keepObserver, Graveyard& grave) {
  struct PlanItem {
    Chain* chain;
    Keys keys;
    std::uint32_t step;
    Object* start;
    std::shared_ptr<Object> strong;
    bool rebind = false;
    PreparedChain prepared;
  };
  std::vector<PlanItem> plan;
  Value end;
  const bool wantEnd = (po.options & KVONew) != 0;
  auto dropUnlocked = [&](bool relock) {
    lock.unlock();
    plan.clear();
    end = Value();
    if (!relock) keepObserver.reset();
    lock.lock();
  };

  for (int attempt = 0;; ++attempt) {
    const Registration& r = table.registrations[index];
    if (!po.active || r.dead) return dropUnlocked(false);
    const std::uint64_t epoch = po.epoch;
    // From the changed step up to the observed path, each with the object to read from.
    Chain* chain = r.chain;
    std::uint32_t step = r.step;
    Object* start = &object;
    std::shared_ptr<Object> strong;
    for (;;) {
      plan.push_back(PlanItem{chain, chain->keys, step, start, std::move(strong), false, {}});
      strong = nullptr;
      if (!chain->parent) break;
      const Binding& b = chain->parent->steps[chain->parentStep];
      if (!b.object) return dropUnlocked(false);
      if (b.object == &object) {
        start = &object;
      } else {
        strong = b.weak.lock();
        if (!strong) return dropUnlocked(false);
        start = strong.get();
      }
      step = chain->parentStep;
      chain = chain->parent;
    }

    lock.unlock();
    try {
      Expansion expansion;
      for (PlanItem& item : plan) {
        const bool isMain = item.chain == &po.main;
        const std::vector<std::string>& k = *item.keys;
        if (item.step + 1 < k.size()) {
          item.rebind = true;
          Value next = item.start->valueForKey(k[item.step]);
          prepare(item.keys, item.step + 1, std::move(next), nullptr, isMain && wantEnd,
                  item.prepared, expansion);
          if (isMain && wantEnd) end = std::move(item.prepared.end);
        } else if (isMain && wantEnd) {
          end = item.start->valueForKey(k[item.step]);
        }
      }
    } catch (...) {
      terminateWithUncaught("key-value observation");
    }
    lock.lock();
    if (!po.active) return dropUnlocked(false);
    if (po.epoch == epoch) break;
    // Someone re-bound this observation while we read: read again.
    if (attempt == 3) return dropUnlocked(false);
    dropUnlocked(true);
  }

  for (PlanItem& item : plan) {
    if (!item.rebind) continue;
    unbindFrom(*item.chain, item.step + 1, grave);
    attach(*item.chain, item.step + 1, item.prepared);
  }
  ++po.epoch;
  lock.unlock();
  {
    KeyValueChange change;
    change.object = po.root;
    change.keyPath = po.keyPath;
    if (wantEnd) change.newValue = std::move(end);
    if (po.options & KVOOld) change.oldValue = oldValueFor(extra, po.id);
    invoke(po, change);
  }
  plan.clear();
  end = Value();
  keepObserver.reset();
  lock.lock();
}

// With `last` (no later registration of this walk can match) a leaf delivery returns with the
// lock released; every other way out keeps it.
void deliverOne(std::unique_lock<std::mutex>& lock, ObserverTable& table, std::size_t index,
                Object& object, std::string_view key, const SetMutation* mutation,
                const PendingExtra* extra, bool last, Graveyard& grave) {
  const Registration& r = table.registrations[index];
  // The registration (so the observation) stays listed while the table is being walked.
  PathObservation& po = *r.observation;
  if (!po.active) return;
  std::shared_ptr<const void> keepObserver;
  if (po.tied) {
    keepObserver = po.observer.lock();
    if (!keepObserver) {
      invalidateLocked(po, grave);
      return;
    }
  }
  if (r.chain == &po.main && r.step + 1 == po.main.steps.size()) {
    lock.unlock();
    deliverLeaf(po, object, key, mutation, extra);
    keepObserver.reset();
    if (!last) lock.lock();
    return;
  }
  deliverRebinding(lock, table, index, po, object, extra, std::move(keepObserver), grave);
}

void willChangeSlow(Object& object, std::string_view key, const SetMutation* mutation) {
  struct Interested {
    std::shared_ptr<PathObservation> po;
    bool leaf;
  };
  std::vector<Interested> interested;
  auto extra = std::make_unique<PendingExtra>();
  const bool intersect = mutation && mutation->kind == SetMutationKind::Intersect;
  try {
    if (intersect) {
      Value current = object.valueForKey(key);
      if (const Array* items = current.array()) {
        static const Array kNone;
        const Array& keep = mutation->objects ? *mutation->objects : kNone;
        for (const Value& v : *items)
          if (std::find(keep.begin(), keep.end(), v) == keep.end()) extra->removed.push_back(v);
      }
    }
    {
      std::lock_guard lock(gLock);
      if (ObserverTable* table = ObserverTable::of(object)) {
        for (const Registration& r : table->registrations) {
          if (r.dead || !sameKey(r.key, key)) continue;
          PathObservation& po = *r.observation;
          if (!po.active || !(po.options & kWillChangeOptions)) continue;
          bool seen = false;
          for (const Interested& i : interested) seen = seen || i.po.get() == &po;
          if (seen) continue;
          interested.push_back(
              {r.observation, r.chain == &po.main && r.step + 1 == po.main.steps.size()});
        }
      }
    }
    for (const Interested& i : interested)
      if (i.po->options & KVOOld)
        extra->oldValues.emplace_back(i.po->id, currentEndValue(*i.po, object));
  } catch (...) {
    terminateWithUncaught("key-value observation");
  }

  // Priors get their own copies: a prior callback may close the bracket and free `extra`.
  std::vector<std::pair<std::uint64_t, Value>> oldValues = extra->oldValues;
  Array removed = extra->removed;
  if (Pending* p = topPending(&object, key)) p->extra = std::move(extra);

  for (const Interested& i : interested) {
    const PathObservation& po = *i.po;
    if (!(po.options & KVOPrior)) continue;
    std::shared_ptr<const void> keepObserver;
    if (po.tied && !(keepObserver = po.observer.lock())) continue;
    KeyValueChange change;
    change.isPrior = true;
    change.object = po.root;
    change.keyPath = po.keyPath;
    if (mutation && i.leaf) {
      change.kind = kindFor(mutation->kind);
      change.changedObjects =
          intersect ? removed : (mutation->objects ? *mutation->objects : Array{});
    }
    if (po.options & KVOOld) {
      for (const auto& [id, value] : oldValues)
        if (id == po.id) change.oldValue = value;
    }
    invoke(po, change);
  }
}

}  // namespace

// ----- ObserverTable

ObserverTable& ObserverTable::ensure(const Object& object) {
  ObserverTable* table = object.table_.load(std::memory_order_relaxed);
  if (!table) {
    table = new ObserverTable;
    object.table_.store(table, std::memory_order_release);
  }
  return *table;
}

std::vector<std::string> ObserverTable::affectingKeyPaths(const Object& object,
                                                          std::string_view key) {
  return object.keyPathsForValuesAffectingKey(key);
}

namespace {
// Internal linkage so that the calls from Object's bracket methods below are direct.
void willChangeImpl(Object& object, std::string_view key, const SetMutation* mutation) {
  using Table = ObserverTable;
  ObserverTable* table = Table::of(object);
  if (!table) return;  // nobody observes: nothing to bracket
  if (pushPending(&object, key)) return;
  const bool intersect = mutation && mutation->kind == SetMutationKind::Intersect;
  if (!intersect && table->willChangeInterest.load(std::memory_order_relaxed) == 0) return;
  willChangeSlow(object, key, mutation);
}

std::size_t nextMatch(const ObserverTable& table, std::size_t from, std::size_t count,
                      std::string_view key) {
  for (; from < count; ++from) {
    const Registration& r = table.registrations[from];
    if (!r.dead && sameKey(r.key, key)) return from;
  }
  return count;
}

void didChangeImpl(Object& object, std::string_view key, const SetMutation* mutation) {
  using Table = ObserverTable;
  // Without a table nobody observed at will-change either, so nothing was pushed.
  if (!Table::of(object)) return;
  Popped popped = popPending(&object, key);
  if (popped.nestedRemains) return;
  Graveyard grave;
  std::unique_lock lock(gLock);
  ObserverTable* table = Table::of(object);
  if (!table) return;
  // Registrations added by callbacks hear only later changes.
  const std::size_t count = table->registrations.size();
  table->iterating.fetch_add(1);
  std::size_t i = nextMatch(*table, 0, count, key);
  while (i < count) {
    const bool last = nextMatch(*table, i + 1, count, key) == count;
    deliverOne(lock, *table, i, object, key, mutation, popped.extra.get(), last, grave);
    if (!lock.owns_lock()) return finishUnlocked(table, grave);
    if (table->orphaned.load()) break;  // the object died in a callback
    i = nextMatch(*table, i + 1, count, key);
  }
  finishIteration(table, grave);
}
}  // namespace

void ObserverTable::willChange(Object& object, std::string_view key, const SetMutation* mutation) {
  willChangeImpl(object, key, mutation);
}

void ObserverTable::didChange(Object& object, std::string_view key, const SetMutation* mutation) {
  didChangeImpl(object, key, mutation);
}

void ObserverTable::cancelChange(Object& object, std::string_view key) { popPending(&object, key); }

void ObserverTable::objectDestroyed(Object& object) noexcept {
  purgePending(&object);
  if (!of(object)) return;
  Graveyard grave;
  std::lock_guard lock(gLock);
  ObserverTable* table = of(object);
  if (!table) return;
  // Observations this object made as an observer end with it.
  for (auto& w : table->tiedToOwner) {
    if (auto po = w.lock()) {
      po->observerObject = nullptr;
      invalidateLocked(*po, grave);
      grave.items.push_back(std::move(po));
    }
  }
  table->tiedToOwner.clear();
  // Paths rooted here end; paths running through here lose this step and those after it.
  table->iterating.fetch_add(1);
  for (std::size_t i = 0; i < table->registrations.size(); ++i) {
    const Registration& r = table->registrations[i];
    if (r.dead) continue;
    PathObservation& po = *r.observation;
    if (r.chain == &po.main && r.step == 0)
      invalidateLocked(po, grave);
    else
      unbindFrom(*r.chain, r.step, grave);
    markDead(*table, i);
  }
  object.table_.store(nullptr, std::memory_order_release);
  table->orphaned.store(true);
  // A delivery up the stack may still walk the table: the last walker frees it.
  finishIteration(table, grave);
}

std::shared_ptr<PathObservation> ObserverTable::observe(Object& root, std::string keyPath,
                                                        unsigned options,
                                                        std::weak_ptr<const void> observer,
                                                        const Object* observerObject,
                                                        ObservationCallback callback) {
  if (keyPath.empty()) raise(NSInvalidArgumentException, "Observed key path must not be empty");
  auto po = std::make_shared<PathObservation>();
  po->keyPath = std::move(keyPath);
  po->options = options;
  po->callback = std::move(callback);
  po->tied = !isEmptyWeak(observer);
  po->observer = std::move(observer);
  po->root = &root;
  po->id = gNextObservationId.fetch_add(1, std::memory_order_relaxed);
  po->main.observation = po.get();
  po->main.keys = splitKeyPath(po->keyPath);
  po->main.steps.resize(po->main.keys->size());

  PreparedChain prepared;
  Expansion expansion;
  prepare(po->main.keys, 0, Value(), &root, (options & KVOInitial) != 0, prepared, expansion);
  {
    Graveyard grave;
    std::lock_guard lock(gLock);
    po->active = true;
    attach(po->main, 0, prepared);
    if (observerObject) {
      ensure(*observerObject).tiedToOwner.push_back(po);
      po->observerObject = observerObject;
    }
  }
  if (options & KVOInitial) {
    std::shared_ptr<const void> keepObserver;
    if (po->tied && !(keepObserver = po->observer.lock())) {
      invalidate(*po);
      return po;
    }
    KeyValueChange change;
    change.isInitial = true;
    change.object = &root;
    change.keyPath = po->keyPath;
    change.newValue = std::move(prepared.end);
    invoke(*po, change);
  }
  return po;
}

void ObserverTable::invalidate(PathObservation& po) {
  Graveyard grave;
  std::lock_guard lock(gLock);
  invalidateLocked(po, grave);
}

bool ObserverTable::isActive(const PathObservation& po) {
  std::lock_guard lock(gLock);
  return po.active;
}

void ObserverTable::removeObserver(Object& root, const std::shared_ptr<const void>& observer,
                                   std::string_view keyPath) {
  Graveyard grave;
  std::lock_guard lock(gLock);
  ObserverTable* table = of(root);
  if (!table) return;
  table->iterating.fetch_add(1);
  for (std::size_t i = 0; i < table->registrations.size(); ++i) {
    const Registration& r = table->registrations[i];
    if (r.dead) continue;
    PathObservation& po = *r.observation;
    if (r.chain != &po.main || r.step != 0 || !po.active || !po.tied) continue;
    if (po.keyPath == keyPath && sameOwner(po.observer, observer)) invalidateLocked(po, grave);
  }
  finishIteration(table, grave);
}

std::size_t ObserverTable::observationCount(const Object& root) {
  Graveyard grave;
  std::lock_guard lock(gLock);
  ObserverTable* table = of(root);
  if (!table) return 0;
  std::size_t count = 0;
  table->iterating.fetch_add(1);
  for (std::size_t i = 0; i < table->registrations.size(); ++i) {
    const Registration& r = table->registrations[i];
    if (r.dead) continue;
    PathObservation& po = *r.observation;
    if (r.chain != &po.main || r.step != 0 || !po.active) continue;
    // An observer that is not an Object cannot tell us it went; notice it here.
    if (po.tied && po.observer.expired()) {
      invalidateLocked(po, grave);
      continue;
    }
    ++count;
  }
  finishIteration(table, grave);
  return count;
}

}  // namespace tw::detail

namespace tw {

// Object's bracket methods live here, next to the engine, so the hot calls stay direct.

void Object::willChangeObserved(std::string_view key) {
  detail::willChangeImpl(*this, key, nullptr);
}

void Object::didChangeObserved(std::string_view key) { detail::didChangeImpl(*this, key, nullptr); }

}  // namespace tw
