#pragma once
// What commands keep between runs for as long as their front end lives (the editor's
// frame, one quillet-cli run), such as a grabbed noise profile: one object per type,
// made on first use. It is held by the front end's EditContext, never by a global, so
// two front ends (or tests running side by side) never share one.

#include <memory>
#include <typeindex>
#include <unordered_map>

namespace quillet::core {

class SessionState {
 public:
  // The session's T, default-made on first use.
  template <class T>
  T& Get() {
    std::shared_ptr<void>& slot = objects_[std::type_index(typeid(T))];
    if (!slot) slot = std::make_shared<T>();
    return *static_cast<T*>(slot.get());
  }
  // The session's T, or null while nobody has made one.
  template <class T>
  const T* Find() const {
    const auto it = objects_.find(std::type_index(typeid(T)));
    return it == objects_.end() ? nullptr : static_cast<const T*>(it->second.get());
  }

 private:
  std::unordered_map<std::type_index, std::shared_ptr<void>> objects_;
};

}  // namespace quillet::core
