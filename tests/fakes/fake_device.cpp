#include "fakes/fake_device.h"

#include <cstdio>

namespace korba {

std::chrono::steady_clock::time_point FakeClock::now() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return now_;
}

void FakeClock::advance(std::chrono::milliseconds by) {
    const std::lock_guard<std::mutex> lock(mutex_);
    now_ += by;
}

FakeRegistry::FakeRegistry() { set_registry(this); }
FakeRegistry::~FakeRegistry() { set_registry(nullptr); }

template <class Table>
auto find_value(const Table& table, const std::string& key, const std::string& value)
    -> std::optional<typename Table::mapped_type::mapped_type> {
    const auto values = table.find(key);
    if (values == table.end()) return std::nullopt;
    const auto found = values->second.find(value);
    if (found == values->second.end()) return std::nullopt;
    return found->second;
}

std::optional<std::string> FakeRegistry::read_text(const std::string& key, const std::string& value) {
    return find_value(texts, key, value);
}

std::optional<std::uint32_t> FakeRegistry::read_number(const std::string& key, const std::string& value) {
    return find_value(numbers, key, value);
}

class FakeDeviceLink final : public DeviceLink {
public:
    explicit FakeDeviceLink(FakeDeviceConnector& connector) : connector_(connector) {}
    ~FakeDeviceLink() override { connector_.record("close"); }
    bool send(std::string_view bytes) override {
        std::string hex;
        for (const char c : bytes) {
            char pair[3];
            std::snprintf(pair, sizeof pair, "%02X", static_cast<unsigned char>(c));
            hex += pair;
        }
        connector_.record("send " + hex);
        return true;
    }
    std::string receive(size_t most, std::chrono::milliseconds wait) override {
        connector_.record("receive " + std::to_string(most) + " within " + std::to_string(wait.count()));
        return connector_.next_piece(most, wait);
    }

private:
    FakeDeviceConnector& connector_;
};

void FakeDeviceConnector::record(std::string line) {
    const std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(std::move(line));
}

std::vector<std::string> FakeDeviceConnector::log() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return log_;
}

int FakeDeviceConnector::connects() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return connects_;
}

void FakeDeviceConnector::release() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return holding_; });
    hold = holding_ = false;
    changed_.notify_all();
}

std::unique_ptr<DeviceLink> FakeDeviceConnector::connect(const DeviceAddress& address,
                                                         std::chrono::milliseconds wait) {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        ++connects_;
        log_.push_back("connect " + address_text(address) + " within " + std::to_string(wait.count()));
        if (hold) {
            holding_ = true;
            changed_.notify_all();
            changed_.wait(lock, [this] { return !hold; });
        }
    }
    if (!reachable) {
        clock_.advance(wait);
        return nullptr;
    }
    return std::make_unique<FakeDeviceLink>(*this);
}

// A piece later than the wait is not there yet: the wait passes in full.
std::string FakeDeviceConnector::next_piece(size_t most, std::chrono::milliseconds wait) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (pieces.empty() || pieces.front().first > wait) {
        if (!pieces.empty()) pieces.front().first -= wait;
        clock_.advance(wait);
        return {};
    }
    clock_.advance(pieces.front().first);
    pieces.front().first = std::chrono::milliseconds{0};
    std::string piece = pieces.front().second.substr(0, most);
    pieces.front().second.erase(0, piece.size());
    if (pieces.front().second.empty()) pieces.pop_front();
    return piece;
}

}  // namespace korba
