// A serial device layer that passes everything to the system's but keeps what a
// pseudo-terminal hides: the character format set last and the modem lines.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/serial_device.hpp"

class RecordingDevice : public serialdev::Device {
public:
    std::vector<serialdev::LineSettings> lines;  // every SetLine, in order
    std::vector<std::string> modem;              // "DTR on", "RTS off", ... in order
    serialdev::OpenFailure openFailure;          // Open fails with this when it has a reason

    std::unique_ptr<serialdev::Port> Open(const std::string& path, serialdev::OpenFailure& failure) override {
        if (!openFailure.reason.empty()) {
            failure = openFailure;
            return nullptr;
        }
        std::unique_ptr<serialdev::Port> port = serialdev::System().Open(path, failure);
        return port ? std::make_unique<RecordingPort>(*this, std::move(port)) : nullptr;
    }
    bool Probe(const std::string& path) override { return serialdev::System().Probe(path); }

    // The level a modem line has now ("" before any change).
    std::string Level(const std::string& line) const {
        for (auto it = modem.rbegin(); it != modem.rend(); ++it)
            if (it->rfind(line, 0) == 0) return it->substr(line.size() + 1);
        return "";
    }

private:
    class RecordingPort : public serialdev::Port {
        RecordingDevice& owner_;
        std::unique_ptr<serialdev::Port> sys_;

        bool Modem(const char* line, bool on) {
            owner_.modem.push_back(std::string(line) + (on ? " on" : " off"));
            return true;
        }

    public:
        RecordingPort(RecordingDevice& owner, std::unique_ptr<serialdev::Port> sys) : owner_(owner), sys_(std::move(sys)) {}
        bool CanReadLine() override { return sys_->CanReadLine(); }
        bool SetLine(const serialdev::LineSettings& line) override {
            owner_.lines.push_back(line);
            return sys_->SetLine(line);
        }
        size_t ReadTimed(uint8_t* buf, size_t n, uint32_t intervalMs, uint32_t totalMs) override {
            return sys_->ReadTimed(buf, n, intervalMs, totalMs);
        }
        size_t ReadAvailable(uint8_t* buf, size_t n, uint32_t waitUs) override {
            return sys_->ReadAvailable(buf, n, waitUs);
        }
        long WriteAll(const uint8_t* data, size_t n) override { return sys_->WriteAll(data, n); }
        long WriteGather(const serialdev::Piece* pieces, int count) override { return sys_->WriteGather(pieces, count); }
        size_t InputWaiting() override { return sys_->InputWaiting(); }
        void Flush() override { sys_->Flush(); }
        void FlushInput() override { sys_->FlushInput(); }
        bool SetDtr(bool on) override { return Modem("DTR", on); }
        bool SetRts(bool on) override { return Modem("RTS", on); }
        bool SetBreak(bool on) override { return sys_->SetBreak(on); }
        bool RestoreAndClose() override { return sys_->RestoreAndClose(); }
        long Id() const override { return sys_->Id(); }
        std::string LastError() const override { return sys_->LastError(); }
    };
};
