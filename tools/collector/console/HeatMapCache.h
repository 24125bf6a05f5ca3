#pragma once

#include <cstdint>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

namespace rivlo::collector {

// Heat maps drawn lately (JSON or PNG), by the question asked, with the generation of their
// application's sessions when drawn: an answer is reused until a session of its application
// arrives or goes. The least recently used go first beyond a bound on their bytes. Any thread.
class HeatMapCache {
  public:
    explicit HeatMapCache(size_t maxBytes = 64u << 20) : maxBytes_(maxBytes) {}

    struct Entry {
        int64_t generation = 0;
        std::string contentType;
        std::string body;
    };
    std::optional<Entry> find(const std::string& key, int64_t generation);
    void put(const std::string& key, Entry entry);

  private:
    using Order = std::list<std::string>;
    struct Slot {
        Entry entry;
        Order::iterator position;
    };
    std::mutex mutex_;
    Order order_;  // most recently used first
    std::unordered_map<std::string, Slot> slots_;
    size_t bytes_ = 0;
    const size_t maxBytes_;
};

}  // namespace rivlo::collector
