// A network printer, a registry and a clock for unit tests of the printer's own status. Time
// passes only when the fake printer makes the caller wait.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "printing/device_query.h"
#include "windows/registry.h"

namespace korba {

class FakeClock {
public:
    std::chrono::steady_clock::time_point now() const;
    void advance(std::chrono::milliseconds by);
    SteadyClock function() { return [this] { return now(); }; }

private:
    mutable std::mutex mutex_;
    std::chrono::steady_clock::time_point now_{};
};

// HKLM as a table: key -> value name -> text or number. Installs itself for its lifetime.
class FakeRegistry : public Registry {
public:
    FakeRegistry();
    ~FakeRegistry() override;
    std::map<std::string, std::map<std::string, std::string>> texts;
    std::map<std::string, std::map<std::string, std::uint32_t>> numbers;
    std::optional<std::string> read_text(const std::string& key, const std::string& value) override;
    std::optional<std::uint32_t> read_number(const std::string& key, const std::string& value) override;
    Result<std::vector<RegistryValue>> list_values(const std::string&) override { return std::vector<RegistryValue>{}; }
};

class FakeDeviceConnector : public DeviceConnector {
public:
    explicit FakeDeviceConnector(FakeClock& clock) : clock_(clock) {}

    // Playback: whether a connection is made, and what the printer sends back, piece by piece,
    // each one `delay` after the last; after the last piece it stays silent.
    bool reachable = true;
    std::deque<std::pair<std::chrono::milliseconds, std::string>> pieces;
    // While set, a connect waits until release() (to hold a query while others arrive).
    bool hold = false;

    // "connect HOST:PORT within MS", "send HEX", "receive MOST within MS", "close".
    std::vector<std::string> log() const;
    int connects() const;
    // Waits until a held connect has begun, then lets it go on.
    void release();

    std::unique_ptr<DeviceLink> connect(const DeviceAddress& address, std::chrono::milliseconds wait) override;

private:
    friend class FakeDeviceLink;
    void record(std::string line);
    std::string next_piece(size_t most, std::chrono::milliseconds wait);

    FakeClock& clock_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> log_;
    int connects_ = 0;
    bool holding_ = false;
};

}  // namespace korba
