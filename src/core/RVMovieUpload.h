#pragma once

#include "foundation/Value.h"

#include <functional>
#include <string>
#include <vector>

namespace rivlo {

// One stored movie as an upload pass sees it.
struct RVStoredMovie {
    std::string videoName;  // file name in the movie folder of the store
    Value fields;           // the form fields sent with it
    bool valid = true;      // false: the record is unusable and is dropped
};

// What tells the screen and the camera movies apart in their upload pass.
struct RVMovieUploadKind {
    std::string label;   // "screen" or "camera", for the log lines
    std::string folder;  // the store folder holding the files ("/RVScreenVideos" ...)
    // Drops a stored movie (its list entry and its file). Any thread.
    std::function<void(const std::string& videoName)> remove;
};

// The upload pass both movie recorders share: every stored movie, in store order, to
// "/webservices/v2/uploadvideo" as a multipart request with its form fields and the file part
// "file". Unusable records and records whose file is gone are dropped without a request; a
// movie over the cellular allowance stops the pass (it and the later ones wait for the next);
// an uploaded movie is removed from the store, a failed one stays for the next pass. Requests
// run on the session controller's client as background tasks. Runs on the stop-and-post
// thread; returns once the requests are queued.
class RVMovieUpload {
  public:
    static void post(const std::vector<RVStoredMovie>& movies, const RVMovieUploadKind& kind);
};

}  // namespace rivlo
