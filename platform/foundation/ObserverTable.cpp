#include "platform/foundation/ObserverTable.h"

#include <algorithm>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>

#include "platform/foundation/Exception.h"
#include "platform/foundation/WeakPointer.h"

// How an observation of "a.b.c" on R is kept:
//   - a Chain holds the keys and, per step, the object bound there (R, R.a, R.a.b) with a
//     registration in that object's table for the step's key;
//   - keys that depend on other key paths (keyPathsForValuesAffectingKey) have those keys
//     registered too: a plain key of the same object (value <- day, hour, ...) right beside the
//     step's own registration, a longer path as a dependency Chain hanging off the step; a
//     change of any of them counts as a change of the step's key;
//   - a change of step i re-reads the chain from step i on and re-binds the later steps;
//   - key lists are interned: every observation of the same path shares one immutable list,
//     and registrations refer to its keys instead of copying them.
// Everything that touches bindings and tables runs under gLock; reading values (user getters),
// asking for dependent keys and running callbacks happen with the lock released, and whatever
// could run foreign destructors (observation callbacks, strong references to objects) is
// released after the lock (see Graveyard).

namespace tw::detail {

// An interned, immutable list of keys: the split form of one key path, or the keys of one
// object that a step's key depends on. One instance per distinct text lives while anything
// refers to it; it may be read without the lock.
struct KeyList {
  // A key path as written, or for a dependency list its keys each prefixed with their length.
  std::string text;
  std::vector<std::string> keys;
  bool isPath = true;
};
using Keys = std::shared_ptr<const KeyList>;

// What a step's key depends on; most steps depend on nothing and carry none.
struct StepDependencies {
  Keys keys;  // keys of the bound object itself, registered beside the step's own key
  std::vector<std::unique_ptr<Chain>> chains;  // longer paths
};

struct Binding {
  // Identity of the bound object; non-null only while its registration is listed. The bound
  // object's own destruction clears it under the lock, so under the lock it is always safe to
  // reach the object's table through it, and to take a strong reference with weak_from_this()
  // (its weak reference outlives the Object destructor that clears this), never to call it.
  Object* object = nullptr;
  std::unique_ptr<StepDependencies> dependencies;

  std::shared_ptr<Object> lock() const { return object->weak_from_this().lock(); }
};

struct Chain {
  PathObservation* observation = nullptr;
  Chain* parent = nullptr;  // null for the observed path itself
  std::uint32_t parentStep = 0;
  Keys keys;  // immutable, shared so readers need no lock
  std::vector<Binding> steps;
};

struct PathObservation : std::enable_shared_from_this<PathObservation> {
  // The key path as registered (the observed path's interned text).
  std::string_view keyPath() const { return main.keys->text; }

  // Packed: one is made per observed path, tens of thousands in a loaded store.
  std::uint8_t options = 0;  // immutable after registration, as are tied, callback ... id
  bool tied = false;
  bool active = false;      // under gLock, as are epoch and observerObject
  std::uint32_t epoch = 0;  // bumped on every re-binding, so concurrent re-reads notice
  ObservationCallback callback;
  std::weak_ptr<const void> observer;
  const Object* root = nullptr;
  std::uint64_t id = 0;
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

// ----- interned key lists
//
// Loading a store registers the same few paths tens of thousands of times; each distinct list
// is kept once. The table holds its lists weakly: the last observation to let go of one removes
// it, so paths built at run time do not pile up. Its lock is taken under gLock (a chain let go
// of under it may drop the last reference) and never the other way round.

struct InternTable {
  struct Entry {
    std::weak_ptr<const KeyList> list;
    const KeyList* raw = nullptr;
  };
  // Guards paths and dependencies.
  std::mutex mutex;
  // Keyed by views into the lists' own text.
  std::unordered_map<std::string_view, Entry> paths;
  std::unordered_map<std::string_view, Entry> dependencies;
};

InternTable& internTable() {
  // Never destroyed: observations may still end while static destructors run at exit.
  static InternTable* const instance = new InternTable();
  return *instance;
}

void releaseKeyList(const KeyList* list) {
  {
    InternTable& table = internTable();
    std::lock_guard lock(table.mutex);
    auto& entries = list->isPath ? table.paths : table.dependencies;
    // A newer list of the same text may have replaced this one since its count reached zero.
    auto it = entries.find(list->text);
    if (it != entries.end() && it->second.raw == list) entries.erase(it);
  }
  delete list;
}

template <class Fill>
Keys intern(std::string_view text, bool isPath, Fill&& fill) {
  InternTable& table = internTable();
  auto& entries = isPath ? table.paths : table.dependencies;
  {
    std::lock_guard lock(table.mutex);
    auto it = entries.find(text);
    if (it != entries.end())
      if (Keys live = it->second.list.lock()) return live;
  }
  // Made outside the table's lock: a list that is not kept releases itself through it.
  auto fresh = std::make_unique<KeyList>();
  fresh->text.assign(text.data(), text.size());
  fresh->isPath = isPath;
  fill(fresh->keys);
  Keys made(fresh.release(), releaseKeyList);
  Keys existing;
  {
    std::lock_guard lock(table.mutex);
    auto it = entries.find(text);
    if (it != entries.end()) existing = it->second.list.lock();
    if (!existing) {
      // An entry left by a list whose last reference just went: its release finds ours there
      // and leaves it alone.
      if (it != entries.end()) entries.erase(it);
      entries.emplace(std::string_view(made->text), InternTable::Entry{made, made.get()});
    }
  }
  return existing ? existing : made;
}

Keys internPath(std::string_view path) {
  return intern(path, true, [path](std::vector<std::string>& keys) {
    keys.reserve(static_cast<std::size_t>(std::count(path.begin(), path.end(), '.')) + 1);
    std::size_t start = 0;
    for (;;) {
      std::size_t dot = path.find('.', start);
      keys.emplace_back(path.substr(start, dot == std::string_view::npos ? dot : dot - start));
      if (dot == std::string_view::npos) break;
      start = dot + 1;
    }
  });
}

Keys internDependencyKeys(const std::vector<std::string>& keys) {
  std::string text;
  for (const std::string& k : keys) {
    text += std::to_string(k.size());
    text += ':';
    text += k;
  }
  return intern(text, false, [&keys](std::vector<std::string>& out) { out = keys; });
}

// Keys are short; an inline loop beats a call to memcmp for them.
inline bool sameKey(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) return false;
  return true;
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
  Keys dependentKeys;              // keys of the object the step's key depends on, if any
  std::vector<PreparedDependency> dependencies;  // longer paths it depends on
};

struct PreparedChain {
  std::vector<PreparedStep> steps;  // from the first re-bound step to the end
  Value end;                        // the end value, when asked for
};

struct Expansion {
  // The (object, key) pairs whose dependencies are being expanded: guards dependency cycles.
  std::vector<std::pair<const Object*, std::string_view>> stack;
  std::size_t depth = 0;
};

void prepare(const Keys& keys, std::size_t from, Value start, Object* rawStart, bool wantEnd,
             PreparedChain& out, Expansion& expansion);

bool expanding(const Expansion& expansion, const Object& object, std::string_view key) {
  for (const auto& [o, k] : expansion.stack)
    if (o == &object && k == key) return true;
  return false;
}

// Everything `key` of `object` depends on. Plain keys are followed through their own
// dependencies and gathered, each once, into one list registered on the step itself; longer
// paths get a dependency chain each.
void prepareDependencies(Object& object, std::string_view key, PreparedStep& step,
                         Expansion& expansion) {
  if (expansion.depth >= kMaxDependencyDepth || expanding(expansion, object, key)) return;
  std::vector<std::string> found = ObserverTable::affectingKeyPaths(object, key);
  if (found.empty()) return;
  std::vector<std::string> plain;
  std::vector<std::string> longer;
  auto take = [&](std::vector<std::string>& paths) {
    for (std::string& path : paths) {
      if (path.empty()) continue;
      const bool isPlain = path.find('.') == std::string::npos;
      std::vector<std::string>& into = isPlain ? plain : longer;
      if ((isPlain && (path == key || expanding(expansion, object, path))) ||
          std::find(into.begin(), into.end(), path) != into.end())
        continue;
      into.push_back(std::move(path));
    }
  };
  take(found);
  // Breadth first, as deep as a nested expansion may go.
  for (std::size_t level = 1, begin = 0; begin < plain.size(); ++level) {
    const std::size_t end = plain.size();
    if (expansion.depth + level >= kMaxDependencyDepth) break;
    for (std::size_t i = begin; i < end; ++i) {
      std::vector<std::string> more = ObserverTable::affectingKeyPaths(object, plain[i]);
      take(more);
    }
    begin = end;
  }
  if (!plain.empty()) step.dependentKeys = internDependencyKeys(plain);
  if (longer.empty()) return;
  // The longer paths may lead back here: neither the key nor the plain keys registered with it
  // are expanded again.
  const std::size_t mark = expansion.stack.size();
  expansion.stack.emplace_back(&object, key);
  for (const std::string& k : plain) expansion.stack.emplace_back(&object, k);
  ++expansion.depth;
  step.dependencies.reserve(longer.size());
  for (const std::string& path : longer) {
    PreparedDependency dependency;
    dependency.keys = internPath(path);
    dependency.chain = std::make_unique<PreparedChain>();
    prepare(dependency.keys, 0, Value(), &object, false, *dependency.chain, expansion);
    step.dependencies.push_back(std::move(dependency));
  }
  --expansion.depth;
  expansion.stack.resize(mark);
}

// Walks keys[from...] starting from `start` (or `rawStart` when the first object is not held by
// a Value, as the root is), noting every object met and the dependent paths of its key.
void prepare(const Keys& keys, std::size_t from, Value start, Object* rawStart, bool wantEnd,
             PreparedChain& out, Expansion& expansion) {
  const std::vector<std::string>& k = keys->keys;
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
      step.strong = std::move(object);
      prepareDependencies(*raw, k[t], step, expansion);
      if (!last || wantEnd) current = raw->valueForKey(k[t]);
    } else if (!last || wantEnd) {
      current = valueForKeyOfValue(current, k[t]);
    }
  }
  // Only the last step reads the end value, so it is taken once the walk is over.
  if (wantEnd && from < k.size()) out.end = std::move(current);
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
  regs.truncate(w);
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
    if (b.dependencies)
      for (auto& dependency : b.dependencies->chains) unbindFrom(*dependency, 0, grave);
    if (b.object) {
      unregister(*b.object, chain, static_cast<std::uint32_t>(t), grave);
      b.object = nullptr;
    }
    // Only now: the step's registrations, dead or alive, refer to these keys until they are
    // marked dead.
    b.dependencies.reset();
  }
}

void attach(Chain& chain, std::size_t from, PreparedChain& prepared) {
  PathObservation& po = *chain.observation;
  ++po.epoch;
  const std::shared_ptr<PathObservation> self = po.shared_from_this();
  const bool willChangeInterest = (po.options & kWillChangeOptions) != 0;
  for (std::size_t t = from; t < chain.steps.size(); ++t) {
    PreparedStep& step = prepared.steps[t - from];
    Binding& b = chain.steps[t];
    b.object = step.object;
    if (!b.object) continue;
    ObserverTable& table = ObserverTable::ensure(*b.object);
    const std::uint32_t index = static_cast<std::uint32_t>(t);
    const std::vector<std::string>* dependent =
        step.dependentKeys ? &step.dependentKeys->keys : nullptr;
    const std::size_t adding = 1 + (dependent ? dependent->size() : 0);
    table.registrations.reserveMore(adding);
    table.registrations.push_back(
        Registration{&chain.keys->keys[t], self, &chain, index, false, false});
    if (dependent)
      for (const std::string& key : *dependent)
        table.registrations.push_back(Registration{&key, self, &chain, index, false, true});
    if (willChangeInterest)
      table.willChangeInterest.fetch_add(static_cast<int>(adding), std::memory_order_relaxed);
    if (!dependent && step.dependencies.empty()) continue;
    b.dependencies = std::make_unique<StepDependencies>();
    b.dependencies->keys = std::move(step.dependentKeys);
    b.dependencies->chains.reserve(step.dependencies.size());
    for (PreparedDependency& dependency : step.dependencies) {
      auto sub = std::make_unique<Chain>();
      sub->observation = &po;
      sub->parent = &chain;
      sub->parentStep = index;
      sub->keys = dependency.keys;
      sub->steps.resize(dependency.keys->keys.size());
      attach(*sub, 0, *dependency.chain);
      b.dependencies->chains.push_back(std::move(sub));
    }
  }
}

void invalidateLocked(PathObservation& po, Graveyard& grave) {
  if (!po.active) return;
  po.active = false;
  unbindFrom(po.main, 0, grave);
  if (po.observerObject) {
    ObserverTable* table = ObserverTable::of(*po.observerObject);
    if (table && table->tiedToOwner) {
      std::weak_ptr<PathObservation> self = po.weak_from_this();
      auto& tied = *table->tiedToOwner;
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
        strong = b.lock();
        start = strong.get();
      }
      from = t;
      break;
    }
  }
  if (!start) return {};
  const std::vector<std::string>& k = keys->keys;
  Value v = start->valueForKey(k[from]);
  for (std::size_t t = from + 1; t < k.size(); ++t) v = valueForKeyOfValue(v, k[t]);
  return v;
}

void deliverLeaf(const PathObservation& po, Object& object, std::string_view key,
                 const SetMutation* mutation, const PendingExtra* extra) {
  const std::string_view keyPath = po.keyPath();
  const Object* root = po.root;
  KeyValueChange change;
  change.object = root;
  change.keyPath = keyPath;
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
  auto dropUnlocked = [&] {
    lock.unlock();
    plan.clear();
    end = Value();
    keepObserver.reset();
    lock.lock();
  };
  // A re-binding that another thread made while we read has already replaced the part of the
  // chain we were about to re-bind, but the change we carry still happened: the observer hears
  // of it with the end value as it now stands.
  auto deliverAsBound = [&] {
    lock.unlock();
    plan.clear();
    end = Value();
    KeyValueChange change;
    change.object = po.root;
    change.keyPath = po.keyPath();
    try {
      if (wantEnd) change.newValue = currentEndValue(po, object);
    } catch (...) {
      terminateWithUncaught("key-value observation");
    }
    if (po.options & KVOOld) change.oldValue = oldValueFor(extra, po.id);
    invoke(po, change);
    keepObserver.reset();
    lock.lock();
  };

  for (int attempt = 0;; ++attempt) {
    const Registration& r = table.registrations[index];
    if (!po.active) return dropUnlocked();
    if (r.dead) return attempt == 0 ? dropUnlocked() : deliverAsBound();
    const std::uint32_t epoch = po.epoch;
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
      if (!b.object) return attempt == 0 ? dropUnlocked() : deliverAsBound();
      if (b.object == &object) {
        start = &object;
      } else {
        strong = b.lock();
        if (!strong) return attempt == 0 ? dropUnlocked() : deliverAsBound();
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
        const std::vector<std::string>& k = item.keys->keys;
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
    if (!po.active) return dropUnlocked();
    if (po.epoch == epoch) break;
    // Someone re-bound this observation while we read: read again, for as long as it takes.
    // Every lost race means another delivery committed, so the observation as a whole always
    // moves on; giving up instead would lose this change's notification.
    lock.unlock();
    plan.clear();
    end = Value();
    if (attempt >= 3) std::this_thread::yield();  // let the winners finish first
    lock.lock();
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
    change.keyPath = po.keyPath();
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
    // A key the end depends on changed: the end is what changed, as a plain setting.
    const bool dependent = r.dependent;
    const std::string_view endKey = dependent ? std::string_view(po.main.keys->keys[r.step]) : key;
    lock.unlock();
    deliverLeaf(po, object, endKey, dependent ? nullptr : mutation, extra);
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
        static const Array& kNone = *new const Array();
        const Array& keep = mutation->objects ? *mutation->objects : kNone;
        for (const Value& v : *items)
          if (std::find(keep.begin(), keep.end(), v) == keep.end()) extra->removed.push_back(v);
      }
    }
    {
      std::lock_guard lock(gLock);
      if (ObserverTable* table = ObserverTable::of(object)) {
        for (const Registration& r : table->registrations) {
          if (r.dead || !sameKey(*r.key, key)) continue;
          PathObservation& po = *r.observation;
          if (!po.active || !(po.options & kWillChangeOptions)) continue;
          bool seen = false;
          for (const Interested& i : interested) seen = seen || i.po.get() == &po;
          if (seen) continue;
          interested.push_back({r.observation, !r.dependent && r.chain == &po.main &&
                                                   r.step + 1 == po.main.steps.size()});
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
    change.keyPath = po.keyPath();
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
    if (!r.dead && sameKey(*r.key, key)) return from;
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
  if (auto tied = std::move(table->tiedToOwner)) {
    for (auto& w : *tied) {
      if (auto po = w.lock()) {
        po->observerObject = nullptr;
        invalidateLocked(*po, grave);
        grave.items.push_back(std::move(po));
      }
    }
  }
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

std::shared_ptr<PathObservation> ObserverTable::observe(Object& root, std::string_view keyPath,
                                                        unsigned options,
                                                        std::weak_ptr<const void> observer,
                                                        const Object* observerObject,
                                                        ObservationCallback callback) {
  if (keyPath.empty()) raise(NSInvalidArgumentException, "Observed key path must not be empty");
  auto po = std::make_shared<PathObservation>();
  po->options = static_cast<std::uint8_t>(options & (KVONew | KVOOld | KVOInitial | KVOPrior));
  po->callback = std::move(callback);
  po->tied = !isEmptyWeak(observer);
  po->observer = std::move(observer);
  po->root = &root;
  po->id = gNextObservationId.fetch_add(1, std::memory_order_relaxed);
  po->main.observation = po.get();
  po->main.keys = internPath(keyPath);
  po->main.steps.resize(po->main.keys->keys.size());

  PreparedChain prepared;
  Expansion expansion;
  prepare(po->main.keys, 0, Value(), &root, (options & KVOInitial) != 0, prepared, expansion);
  {
    Graveyard grave;
    std::lock_guard lock(gLock);
    po->active = true;
    attach(po->main, 0, prepared);
    if (observerObject) {
      ObserverTable& table = ensure(*observerObject);
      if (!table.tiedToOwner)
        table.tiedToOwner = std::make_unique<std::vector<std::weak_ptr<PathObservation>>>();
      table.tiedToOwner->push_back(po);
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
    change.keyPath = po->keyPath();
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
    if (r.dependent || r.chain != &po.main || r.step != 0 || !po.active || !po.tied) continue;
    if (po.keyPath() == keyPath && sameOwner(po.observer, observer)) invalidateLocked(po, grave);
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
    if (r.dependent || r.chain != &po.main || r.step != 0 || !po.active) continue;
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

void Object::cancelChangeObserved(std::string_view key) {
  detail::ObserverTable::cancelChange(*this, key);
}

}  // namespace tw
