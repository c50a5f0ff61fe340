#include "broker/broker_config.h"

#include <charconv>
#include <unistd.h>

std::string BrokerAddress::Text() const {
    const bool v6 = Host.find(':') != std::string::npos;
    return std::string(Tls ? "mqtts://" : "mqtt://") + (v6 ? "[" + Host + "]" : Host) + ":" +
           std::to_string(Port);
}

namespace {

// What an address without "://" most likely meant: "mqtt//host:port" and "mqtt:/host" mistype
// the scheme's "://", "host:port" leaves it out; nothing when neither fits.
std::string SchemeSuggestion(const std::string& url) {
    for (const std::string scheme : {"mqtts", "mqtt"}) {
        if (!url.starts_with(scheme))
            continue;
        const std::size_t rest = url.find_first_not_of(":/", scheme.size());
        const std::string separator = url.substr(scheme.size(), rest - scheme.size());
        if (separator.find('/') != std::string::npos && rest != std::string::npos)
            return ": write " + scheme + "://" + url.substr(rest);
    }
    if (url.find('/') != std::string::npos)
        return {};
    return ": write mqtt://" + url + " or mqtts://" + url;
}

} // namespace

std::optional<BrokerAddress> ParseBrokerUrl(const std::string& url, std::string& error) {
    const std::size_t schemeEnd = url.find("://");
    if (url.empty()) {
        error = "No broker address: write mqtt://host or mqtts://host.";
        return std::nullopt;
    }
    if (schemeEnd == std::string::npos) {
        error = "The broker address \"" + url + "\" names no scheme" + SchemeSuggestion(url) + ".";
        return std::nullopt;
    }
    BrokerAddress address;
    const std::string scheme = url.substr(0, schemeEnd);
    if (scheme == "mqtt")
        address.Tls = false;
    else if (scheme == "mqtts")
        address.Tls = true;
    else {
        error =
            "Unknown scheme \"" + scheme + "://\" in the broker address: use mqtt:// or mqtts://.";
        return std::nullopt;
    }
    std::string rest = url.substr(schemeEnd + 3);
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    if (rest.find('/') != std::string::npos || rest.find('@') != std::string::npos) {
        error = "The broker address \"" + url +
                "\" may hold only a host and a port; the user name and password have fields of "
                "their own.";
        return std::nullopt;
    }
    std::string port;
    if (!rest.empty() && rest.front() == '[') {
        const std::size_t close = rest.find(']');
        if (close == std::string::npos) {
            error = "The broker address \"" + url + "\" opens a \"[\" that it never closes.";
            return std::nullopt;
        }
        address.Host = rest.substr(1, close - 1);
        const std::string after = rest.substr(close + 1);
        if (!after.empty() && after.front() != ':') {
            error = "The broker address \"" + url + "\" has text after its host.";
            return std::nullopt;
        }
        if (!after.empty())
            port = after.substr(1);
        else
            port.clear();
        if (after == ":") {
            error = "The broker address \"" + url + "\" has an empty port.";
            return std::nullopt;
        }
    } else {
        const std::size_t colon = rest.rfind(':');
        address.Host = rest.substr(0, colon);
        if (colon != std::string::npos) {
            port = rest.substr(colon + 1);
            if (port.empty()) {
                error = "The broker address \"" + url + "\" has an empty port.";
                return std::nullopt;
            }
        }
    }
    if (address.Host.empty()) {
        error = "The broker address \"" + url + "\" names no host.";
        return std::nullopt;
    }
    address.Port = address.Tls ? 8883 : 1883;
    if (!port.empty()) {
        int value = 0;
        const auto [end, failed] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (failed != std::errc() || end != port.data() + port.size() || value < 1 ||
            value > 65535) {
            error =
                "The port \"" + port + "\" of the broker address is not a number from 1 to 65535.";
            return std::nullopt;
        }
        address.Port = value;
    }
    return address;
}

std::string LocalHostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == 0)
        return "localhost";
    return name;
}

std::string DefaultTopicPrefix() {
    return "tolvane/" + LocalHostName();
}

std::string DefaultClientId() {
    return "tolvane-" + LocalHostName();
}

std::optional<BrokerConfig> ResolveBrokerConfig(const BrokerSettings& settings,
                                                std::string& error) {
    const auto address = ParseBrokerUrl(settings.Url, error);
    if (!address)
        return std::nullopt;
    BrokerConfig config;
    config.Address = *address;
    config.HostName = LocalHostName();
    config.TopicPrefix = settings.TopicPrefix.empty() ? DefaultTopicPrefix() : settings.TopicPrefix;
    while (config.TopicPrefix.size() > 1 && config.TopicPrefix.back() == '/')
        config.TopicPrefix.pop_back();
    if (config.TopicPrefix.find_first_of("+#") != std::string::npos) {
        error = "The topic prefix \"" + config.TopicPrefix +
                "\" holds \"+\" or \"#\", which only subscribers may use.";
        return std::nullopt;
    }
    config.ClientId = settings.ClientId.empty() ? DefaultClientId() : settings.ClientId;
    config.Username = settings.Username;
    config.Password = settings.Password;
    if (!config.Password.empty() && config.Username.empty()) {
        error = "A password needs a user name.";
        return std::nullopt;
    }
    return config;
}
