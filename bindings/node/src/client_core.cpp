#include "client_core.hpp"

#include "addon_state.hpp"

namespace quorin_node {

namespace {

ClientCore& coreOf(void* context) { return *static_cast<ClientCore*>(context); }

PendingEvent eventOf(const ClientCore& core, std::string kind) {
  PendingEvent event;
  event.client = core.id;
  event.kind = std::move(kind);
  return event;
}

void onValue(void* context, const char* key, const char* value) {
  ClientCore& core = coreOf(context);
  std::optional<std::string> answer;
  if (value) answer = value;
  if (core.captured) {
    *core.captured = std::move(answer);
    return;
  }
  PendingEvent event = eventOf(core, "value");
  event.key = key;
  event.hasValue = answer.has_value();
  if (answer) event.value = std::move(*answer);
  core.state->queue(std::move(event));
}

void onChange(void* context, qrn_cloud_change_reason reason, const char* const* keys,
              size_t count) {
  ClientCore& core = coreOf(context);
  PendingEvent event = eventOf(core, "change");
  event.reason = static_cast<int>(reason);
  event.keys.assign(keys, keys + count);
  core.state->queue(std::move(event));
}

template <const char* name>
void onLifecycle(void* context) {
  ClientCore& core = coreOf(context);
  core.state->queue(eventOf(core, name));
}

constexpr char kForeground[] = "foreground";
constexpr char kBackground[] = "background";
constexpr char kActive[] = "active";
constexpr char kResign[] = "resign";

using LifecycleSetter = void (*)(qrn_client*, qrn_lifecycle_callback, void*);

struct LifecycleSlot {
  const char* name;
  LifecycleSetter set;
  qrn_lifecycle_callback callback;
};

constexpr LifecycleSlot kLifecycleSlots[] = {
    {kForeground, qrn_client_set_on_application_enter_foreground, onLifecycle<kForeground>},
    {kBackground, qrn_client_set_on_application_enter_background, onLifecycle<kBackground>},
    {kActive, qrn_client_set_on_application_did_become_active, onLifecycle<kActive>},
    {kResign, qrn_client_set_on_application_will_resign_active, onLifecycle<kResign>},
};

}  // namespace

void ClientCore::free() {
  std::lock_guard lock(mutex);
  qrn_client_free(handle);
  handle = nullptr;
}

void listenForValues(ClientCore& core) {
  qrn_client_set_on_cloud_store_value_fetched(core.handle, onValue, &core);
}

void listenFor(ClientCore& core, const std::string& event, bool on) {
  if (event == "cloudChange") {
    qrn_client_set_on_cloud_store_change(core.handle, on ? onChange : nullptr, &core);
    return;
  }
  for (const LifecycleSlot& slot : kLifecycleSlots) {
    if (event == slot.name) slot.set(core.handle, on ? slot.callback : nullptr, &core);
  }
}

}  // namespace quorin_node
