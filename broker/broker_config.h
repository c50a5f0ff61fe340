#pragma once
// The broker's connection as the [Broker] settings describe it, checked and with its defaults.

#include "settings/settings_groups.h"

#include <optional>
#include <string>

struct BrokerAddress {
    bool Tls = false; // mqtts://, verified against the system's CA certificates
    std::string Host;
    int Port = 0;

    // "mqtt://host:port", as the status line names it.
    std::string Text() const;
    bool operator==(const BrokerAddress&) const = default;
};

// The address a Url names: mqtt://host[:port] or mqtts://host[:port], the port 1883 or 8883 by
// default, an IPv6 host in brackets. Otherwise nothing, and error says what is wrong.
std::optional<BrokerAddress> ParseBrokerUrl(const std::string& url, std::string& error);

struct BrokerConfig {
    BrokerAddress Address;
    std::string HostName; // this PC's, as the payload's host
    std::string TopicPrefix;
    std::string ClientId;
    std::string Username;
    std::string Password;
    bool operator==(const BrokerConfig&) const = default;
};

// This PC's host name, "localhost" if it has none.
std::string LocalHostName();
std::string DefaultTopicPrefix();
std::string DefaultClientId();

// The settings with their defaults filled in; nothing, with error set, when the Url is bad or the
// topic prefix holds an MQTT wildcard.
std::optional<BrokerConfig> ResolveBrokerConfig(const BrokerSettings& settings, std::string& error);
