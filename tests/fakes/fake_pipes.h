// A pipe whose clients are scripted: each connection is the list of what
// its reads return (a chunk longer than a read's size stays for the next
// read, as bytes wait in a pipe) and collects what the server wrote.
#pragma once

#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "platform/pipe.h"

namespace vt::fakes {

struct FakeConnection {
    std::deque<std::string> reads;
    bool writesFail = false;
    uint32_t connectError = 0;  // non-zero: the wait for this client fails with it
    std::vector<std::string> writes;
    int readCalls = 0;
    bool disconnected = false;
};

class FakePipes final : public platform::Pipes {
  public:
    std::unique_ptr<platform::PipeEndpoint> CreateServer(const platform::PipeSpec& spec,
                                                         uint32_t& error) override {
        specs.push_back(spec);
        if (createError != 0) {
            error = createError;
            return nullptr;
        }
        return std::make_unique<Endpoint>(*this);
    }

    void AddClient(std::vector<std::string> reads) {
        FakeConnection c;
        c.reads.assign(reads.begin(), reads.end());
        pending.push_back(std::move(c));
    }

    std::vector<platform::PipeSpec> specs;
    uint32_t createError = 0;
    std::deque<FakeConnection> pending;  // clients still to connect
    std::vector<FakeConnection> served;  // in the order they connected

  private:
    class Endpoint final : public platform::PipeEndpoint {
      public:
        explicit Endpoint(FakePipes& owner) : owner_(owner) {}
        bool Connect(uint32_t& error) override {
            if (owner_.pending.empty()) {
                error = 232;  // no client will come: the test is over
                current_ = nullptr;
                return false;
            }
            owner_.served.push_back(std::move(owner_.pending.front()));
            owner_.pending.pop_front();
            current_ = &owner_.served.back();
            if (current_->connectError != 0) {
                error = current_->connectError;
                return false;
            }
            return true;
        }
        bool Read(void* buffer, uint32_t size, uint32_t& read) override {
            read = 0;
            if (current_ == nullptr) {
                return false;
            }
            ++current_->readCalls;
            if (current_->reads.empty()) {
                return false;
            }
            std::string& chunk = current_->reads.front();
            read = static_cast<uint32_t>(std::min<size_t>(size, chunk.size()));
            std::memcpy(buffer, chunk.data(), read);
            chunk.erase(0, read);
            if (chunk.empty()) {
                current_->reads.pop_front();
            }
            return true;
        }
        bool Write(const void* data, uint32_t size) override {
            if (current_ == nullptr || current_->writesFail) {
                return false;
            }
            current_->writes.emplace_back(static_cast<const char*>(data), size);
            return true;
        }
        void Disconnect() override {
            if (current_ != nullptr) {
                current_->disconnected = true;
            }
        }

      private:
        FakePipes& owner_;
        FakeConnection* current_ = nullptr;
    };
};

}  // namespace vt::fakes
