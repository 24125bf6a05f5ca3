#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace rivlo {

// The current screen: the names announced by will-appear and did-appear events (view
// controllers, the host's screen tags, web pages) turned into one name and one appear time.
// Written on the main thread; read there and by the stopping thread, so every field is guarded.
class RVVCDetail {
  public:
    RVVCDetail();

    // Renames the screen unless `name` is already its name; takes the timeline clock as the
    // will-appear (or did-appear) time and resets the gesture counters.
    void setWillAppearVCName(const std::string& name);
    void setDidAppearVCName(const std::string& name);

    // The did-appear name when set, else the will-appear name ("" when neither is).
    std::string vcName() const;
    // The will-appear time when set, else the did-appear time.
    std::string appearTime() const;
    // A new session: the will-appear time is cleared and the did-appear time becomes "0".
    void resetAppearTime();

    std::optional<std::string> willAppearVCName() const;
    std::optional<std::string> didAppearVCName() const;
    std::optional<std::string> willAppearTime() const;
    std::optional<std::string> didAppearTime() const;
    int32_t totalGestures() const;
    int32_t unresponsiveGestures() const;
    bool isUnresponsiveGesture() const;
    bool isVcNameIsUrl() const;
    void setIsVcNameIsUrl(bool isUrl);

    // "willAppear VC Name:<name>, didAppear VC Name:<name>"
    std::string description() const;

  private:
    std::string vcNameLocked() const;
    void resetCountersLocked();

    mutable std::mutex mutex_;
    std::optional<std::string> willAppearVCName_, didAppearVCName_;
    std::optional<std::string> willAppearTime_, didAppearTime_;
    int32_t totalGestures_ = 0;
    int32_t unresponsiveGestures_ = 0;
    bool isUnresponsiveGesture_ = false;
    bool isVcNameIsUrl_ = false;
};

}  // namespace rivlo
