#include "addon.h"

#include <dlfcn.h>

#include <mutex>

namespace addon {
namespace {

// The references go with the environment itself.
void finalize(napi_env /*env*/, void* data, void* /*hint*/) {
  delete static_cast<State*>(data);
}

}  // namespace

State* of(napi_env env) {
  void* data = nullptr;
  if (napi_get_instance_data(env, &data) == napi_ok && data != nullptr) {
    return static_cast<State*>(data);
  }
  auto state = std::make_unique<State>();
  if (napi_set_instance_data(env, state.get(), finalize, nullptr) != napi_ok) return nullptr;
  return state.release();
}

void pinLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&pinLibrary), &info) != 0 && info.dli_fname != nullptr) {
      dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    }
  });
}

}  // namespace addon
