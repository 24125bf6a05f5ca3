#pragma once

#include <functional>
#include <string>

namespace rivlo::collector {

// The collector's log: one line per call, handed to a sink (standard error by default). Set the
// sink before the server starts; writing is safe from any thread afterwards, and the sink may be
// called on several request threads at once.
class CollectorLog {
  public:
    using Sink = std::function<void(const std::string& line)>;

    explicit CollectorLog(Sink sink = {});

    void write(const char* format, ...) const __attribute__((format(printf, 2, 3)));
    void line(const std::string& text) const;

  private:
    Sink sink_;
};

}  // namespace rivlo::collector
