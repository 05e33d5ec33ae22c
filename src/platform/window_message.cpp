#include "platform/window_message.h"

#include <map>
#include <mutex>
#include <string>

unsigned RegisterWindowMessage(std::string_view name) {
  static std::mutex mutex;
  static std::map<std::string, unsigned, std::less<>> registry;
  std::lock_guard lock(mutex);
  if (auto it = registry.find(name); it != registry.end()) return it->second;
  unsigned id = 0xC000u + static_cast<unsigned>(registry.size());
  registry.emplace(std::string(name), id);
  return id;
}
