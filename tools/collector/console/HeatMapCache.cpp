#include "HeatMapCache.h"

namespace rivlo::collector {

std::optional<HeatMapCache::Entry> HeatMapCache::find(const std::string& key, int64_t generation) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = slots_.find(key);
    if (it == slots_.end()) return std::nullopt;
    if (it->second.entry.generation != generation) {
        bytes_ -= it->second.entry.body.size() + key.size();
        order_.erase(it->second.position);
        slots_.erase(it);
        return std::nullopt;
    }
    order_.splice(order_.begin(), order_, it->second.position);
    return it->second.entry;
}

void HeatMapCache::put(const std::string& key, Entry entry) {
    const size_t size = entry.body.size() + key.size();
    if (size > maxBytes_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto it = slots_.find(key); it != slots_.end()) {
        bytes_ -= it->second.entry.body.size() + key.size();
        order_.erase(it->second.position);
        slots_.erase(it);
    }
    while (bytes_ + size > maxBytes_ && !order_.empty()) {
        auto last = slots_.find(order_.back());
        bytes_ -= last->second.entry.body.size() + last->first.size();
        slots_.erase(last);
        order_.pop_back();
    }
    order_.push_front(key);
    slots_.emplace(key, Slot{std::move(entry), order_.begin()});
    bytes_ += size;
}

}  // namespace rivlo::collector
