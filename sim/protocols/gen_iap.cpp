// GEN_IAP target: the resident programming routine. With an ISP request configured
// the target starts in its application, which answers only that request (with the
// configured response) and then hands over to the programming routine; the routine
// keeps answering the request, so every later connect of the host works too.
#include <algorithm>

#include "protocol.hpp"
#include "protocols/iap_commands.hpp"
#include "protocols/option_rows.hpp"

namespace {

struct GenIapSettings : IapSettings {
    std::vector<uint8_t> ispRequest;   // the application waits for these bytes
    std::vector<uint8_t> ispResponse;  // ... and answers with these

    bool Check(std::string& error) const override { return CheckIspRequest(ispRequest, ispResponse, error); }
};

class GenIapTarget : public Protocol {
public:
    explicit GenIapTarget(const GenIapSettings& settings)
        : engine_("gen_iap", settings, false), request_(settings.ispRequest), response_(settings.ispResponse),
          inApplication_(!settings.ispRequest.empty()) {}

    void Receive(uint8_t byte, Target& target) override {
        // Inside a frame every byte is frame data, whatever it looks like.
        if (request_.empty() || (!inApplication_ && !engine_.Idle())) {
            Forward(byte, target);
            return;
        }
        held_.push_back(byte);
        if (std::equal(held_.begin(), held_.end(), request_.begin())) {
            if (held_.size() == request_.size()) {
                held_.clear();
                Request(target);
            }
            return;
        }
        // Not the request after all: the first held byte is an ordinary byte; the rest
        // may still start a request.
        std::vector<uint8_t> rest(held_.begin() + 1, held_.end());
        uint8_t first = held_.front();
        held_.clear();
        Forward(first, target);
        for (uint8_t b : rest) Receive(b, target);
    }

private:
    void Request(Target& target) {
        // Refused, the application stays where it is and says nothing.
        if (RefusedSilently(target, "isp", "gen_iap: ISP request")) return;
        target.Note(inApplication_ ? "gen_iap: ISP request, entering the programming routine" : "gen_iap: ISP request");
        inApplication_ = false;
        target.Reply("isp", response_);
    }

    void Forward(uint8_t byte, Target& target) {
        if (inApplication_) return;  // the application ignores everything else
        engine_.Receive(byte, target);
    }

    IapCommandEngine engine_;
    std::vector<uint8_t> request_;
    std::vector<uint8_t> response_;
    std::vector<uint8_t> held_;  // bytes that so far match the beginning of the request
    bool inApplication_;
};

std::vector<ProtocolOption> Options() {
    std::vector<ProtocolOption> rows = IapOptionRows(false);
    auto isp = IspRequestRows<GenIapSettings>("start in the application, which answers only these\nrequest bytes",
                                              "... with these response bytes, then runs the routine");
    rows.insert(rows.end(), isp.begin(), isp.end());
    return rows;
}

}  // namespace

const ProtocolEntry& GenIapProtocol() {
    static const std::vector<ProtocolOption> options = Options();
    static const ProtocolEntry entry = ProtocolEntryFor<GenIapSettings, GenIapTarget>(
        "gen_iap",
        "the generic resident programming routine: 'C' synchronise,\n'I' info, 'W' write frame, 'E' erase all, 'X' start",
        "C I W E X isp", nullptr, options);
    return entry;
}
