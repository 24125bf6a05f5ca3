#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "CollectorIndex.h"

namespace rivlo::collector {

// What the console reads from the index: applications, sessions by their facts (newest first,
// a page at a time from a cursor, with the total), screens, heat-map sums and the pictures
// behind them. One SQL text for both engines. Any thread.
class ConsoleQueries {
  public:
    explicit ConsoleQueries(CollectorIndex& index) : index_(index) {}

    struct App {
        std::string key;
        std::string name;
        std::string folder;  // the console's identifier of the application
        int64_t sessions = 0;
    };
    std::vector<App> apps();
    std::optional<App> appByFolder(const std::string& folder);

    // Sessions are ordered by start, newest first; a cursor is the start and document id of the
    // last session of the page before.
    struct Cursor {
        int64_t started = 0;
        int64_t id = 0;
    };
    struct SessionFilter {
        std::string appKey;
        std::string screen;
        std::string tag;
        std::optional<bool> crashed;
        std::optional<int64_t> from;  // started at or after (Unix seconds)
        std::optional<int64_t> to;    // started before
        int64_t minDuration = 0;
        int64_t limit = 50;
        std::optional<Cursor> after;
    };
    struct SessionRow {
        SessionRecord session;             // without the details lists
        std::vector<std::string> screens;  // in the order first visited
        bool movie = false;                // a screen movie belongs to it
    };
    struct SessionPage {
        std::vector<SessionRow> rows;
        int64_t total = 0;  // sessions matching the filter, on every page
        std::optional<Cursor> next;
    };
    bool sessions(const SessionFilter& filter, SessionPage& page, std::string& error);
    std::optional<SessionRow> session(int64_t documentId);

    struct Screen {
        std::string name;
        bool web = false;
        int64_t sessions = 0;  // among the application's latest sessions
    };
    // The screens of the application's latest `recent` sessions, most visited first, and every
    // version its sessions were tagged with.
    bool screens(const std::string& appKey, int64_t recent, std::vector<Screen>& screens,
                 std::vector<std::string>& versions, std::string& error);

    struct HeatQuery {
        std::string appKey;
        std::string screen;
        int64_t fromDay = 0;  // UTC days, both included
        int64_t toDay = 0;
        std::optional<std::string> version;
    };
    struct HeatPoint {
        int kind = 0;
        int64_t x = 0;
        int64_t y = 0;
        int64_t count = 0;
    };
    struct HeatSums {
        int64_t sessions = 0;  // sessions that visited the screen in the period
        bool web = false;      // the screen is a web page (its points are in the page)
        std::vector<HeatPoint> points;
    };
    bool heat(const HeatQuery& query, HeatSums& sums, std::string& error);
    // Changes whenever the application's sessions do (cached heat maps are then stale).
    std::optional<int64_t> generation(const std::string& appKey);

    // The most recent session of the query (in its period when there is one, else of any
    // time) that visited the screen and has what its picture needs: a screen movie, or for a
    // web page, tiles. With the moment the picture is taken.
    struct PictureSource {
        int64_t session = 0;
        std::string documentPath;
        std::string moviePath;  // "" for a web page
        double seconds = 0;
        std::vector<UploadRecord> tiles;  // a web page's, of that session
    };
    std::optional<PictureSource> pictureSource(const HeatQuery& query, bool web);

    std::optional<UploadRecord> upload(int64_t id);
    // Movies and tiles placed in a session.
    std::vector<UploadRecord> itemsOf(int64_t documentId);

  private:
    CollectorIndex& index_;
};

}  // namespace rivlo::collector
