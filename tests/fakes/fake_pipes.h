// A pipe whose clients are scripted: the test lists what happens (a client
// connects, sends bytes, leaves, a wait for clients fails) and each Wait
// reports the next step. Sent bytes longer than a read's size stay for the
// next read, as bytes wait in a pipe. What the server wrote and whom it
// disconnected is recorded per client.
#pragma once

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/pipe.h"

namespace vt::fakes {

struct FakePipeClient {
    std::vector<std::string> writes;
    bool writesFail = false;
    int disconnects = 0;
};

class FakePipes final : public platform::Pipes {
  public:
    using Kind = platform::PipeActivity::Kind;

    std::unique_ptr<platform::PipeEndpoint> CreateServer(const platform::PipeSpec& spec,
                                                         platform::Event& stop,
                                                         uint32_t& error) override {
        specs.push_back(spec);
        if (!createErrors.empty()) {
            error = createErrors.front();
            createErrors.pop_front();
            return nullptr;
        }
        return std::make_unique<Endpoint>(*this, spec.requestSize, stop);
    }

    void Connect(uint32_t client) { script.push_back({Kind::Connected, client, {}, 0}); }
    void Send(uint32_t client, std::string bytes) {
        script.push_back({Kind::Request, client, std::move(bytes), 0});
    }
    void Leave(uint32_t client) { script.push_back({Kind::Left, client, {}, 0}); }
    void FailConnect(uint32_t error) { script.push_back({Kind::ConnectFailed, 0, {}, error}); }
    // One client's whole visit: connects, sends each chunk, leaves.
    void Visit(uint32_t client, const std::vector<std::string>& chunks) {
        Connect(client);
        for (const std::string& c : chunks) {
            Send(client, c);
        }
        Leave(client);
    }

    std::vector<platform::PipeSpec> specs;
    std::deque<uint32_t> createErrors;  // each creation fails with the next one
    std::map<uint32_t, FakePipeClient> clients;
    // When the script is done: report the stop as if it came (false), or
    // wait for the real stop event (true, for tests on real threads).
    bool waitForStopWhenDone = false;

  private:
    struct Step {
        Kind kind;
        uint32_t client;
        std::string bytes;
        uint32_t error;
    };
    std::deque<Step> script;

    class Endpoint final : public platform::PipeEndpoint {
      public:
        Endpoint(FakePipes& owner, uint32_t requestSize, platform::Event& stop)
            : owner_(owner), requestSize_(requestSize), stop_(stop) {}

        platform::PipeActivity Wait(char* request) override {
            if (stop_.Wait(0) == platform::kWaitObject0) {
                return {};
            }
            if (owner_.script.empty()) {
                if (owner_.waitForStopWhenDone) {
                    stop_.Wait(platform::kInfinite);
                }
                return {};
            }
            Step& step = owner_.script.front();
            platform::PipeActivity activity{step.kind, step.client, 0, step.error};
            if (step.kind == Kind::Request) {
                activity.size =
                    static_cast<uint32_t>(std::min<size_t>(requestSize_, step.bytes.size()));
                std::memcpy(request, step.bytes.data(), activity.size);
                step.bytes.erase(0, activity.size);
                if (!step.bytes.empty()) {
                    return activity;  // the rest waits for the next read
                }
            }
            owner_.script.pop_front();
            return activity;
        }
        bool Write(uint32_t client, const void* data, uint32_t size) override {
            FakePipeClient& c = owner_.clients[client];
            if (c.writesFail) {
                return false;
            }
            c.writes.emplace_back(static_cast<const char*>(data), size);
            return true;
        }
        void Disconnect(uint32_t client) override { ++owner_.clients[client].disconnects; }

      private:
        FakePipes& owner_;
        uint32_t requestSize_;
        platform::Event& stop_;
    };
};

}  // namespace vt::fakes
