#pragma once

#include "foundation/Error.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace rivlo {

class RVXMLParser;

// Receives the events of an RVXMLParser, on the thread that calls parse().
class RVXMLParserDelegate {
  public:
    virtual ~RVXMLParserDelegate() = default;
    virtual void parserDidStartDocument(RVXMLParser&) {}
    virtual void parserDidEndDocument(RVXMLParser&) {}
    virtual void didStartElement(RVXMLParser&, const std::string& name,
                                 const std::map<std::string, std::string>& attributes) {}
    virtual void didEndElement(RVXMLParser&, const std::string& name) {}
    virtual void foundCharacters(RVXMLParser&, const std::string& text) {}
    virtual void parseErrorOccurred(RVXMLParser&, const Error& error) {}
};

// An event-driven XML parser over bytes in memory (expat). Parsing is started by the receiver
// with parse(); the delegate is held weakly.
class RVXMLParser {
  public:
    explicit RVXMLParser(std::string data);

    void setDelegate(std::weak_ptr<RVXMLParserDelegate> delegate);
    std::shared_ptr<RVXMLParserDelegate> delegate() const;
    // Parses the whole document; false (with parserError()) when it is not well formed or
    // parsing was aborted.
    bool parse();
    // From a delegate callback: stops parsing.
    void abortParsing();
    std::optional<Error> parserError() const;
    const std::string& data() const { return data_; }

  private:
    std::string data_;
    mutable std::mutex mutex_;
    std::weak_ptr<RVXMLParserDelegate> delegate_;
    std::optional<Error> error_;
    bool aborted_ = false;
};

}  // namespace rivlo
