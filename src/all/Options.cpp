// rivlo/Options.h: the settings a host starts the library with.

#include "rivlo/Options.h"

#include "all/OptionsData.h"
#include "platform/linux/LinuxSystemFacts.h"

namespace rivlo {

Options::Options() : data_(std::make_unique<Data>(Data::fromEnvironment())) {}

Options::~Options() = default;

Options::Options(const Options& other) : data_(std::make_unique<Data>(*other.data_)) {}

Options& Options::operator=(const Options& other) {
    if (this != &other) *data_ = *other.data_;
    return *this;
}

int Options::setApplicationKey(const std::string& key) {
    data_->applicationKey = key;
    return RIVLO_OK;
}

int Options::setApplicationId(const std::string& id) {
    data_->device.applicationIdentifier = id.empty() ? LinuxSystemFacts::programName() : id;
    return RIVLO_OK;
}

int Options::setDisplayName(const std::string& name) {
    data_->device.bundle.displayName =
        name.empty() ? std::nullopt : std::optional<std::string>(name);
    return RIVLO_OK;
}

int Options::setApplicationVersion(const std::string& version) {
    data_->device.bundle.version =
        version.empty() ? std::nullopt : std::optional<std::string>(version);
    return RIVLO_OK;
}

int Options::setServiceURL(const std::string& url) {
    return data_->setServiceURL("setServiceURL", url);
}

int Options::setCAFile(const std::string& path) {
    return data_->setCAFile("setCAFile", path);
}

int Options::setScreen(double width, double height, double scale) {
    return data_->setScreen("setScreen", width, height, scale);
}

int Options::setIdiom(const std::string& idiom) {
    return data_->setIdiom("setIdiom", idiom);
}

int Options::setFrontCamera(bool useVideoDevice) {
    data_->device.frontCameraFromVideoDevice = useVideoDevice;
    return RIVLO_OK;
}

int Options::setLinuxPlatform(bool install) {
    data_->linuxPlatform = install;
    return RIVLO_OK;
}

int Options::setHeadlessPlatform(bool install) {
    data_->headlessPlatform = install;
    return RIVLO_OK;
}

}  // namespace rivlo
